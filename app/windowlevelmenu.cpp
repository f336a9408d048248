#include "windowlevelmenu.h"

#include "slicesession.h"
#include "volume.h"

#include <QAction>
#include <QActionGroup>
#include <QSignalBlocker>

namespace {

bool isCtPreset(const QAction *action)
{
    return WindowPreset(action->data().toInt()) >= WindowPreset::CtBrain;
}

} // namespace

WindowLevelMenu::WindowLevelMenu(SliceSession *observed, QWidget *parent)
    : QMenu(tr("Fensterung"), parent), session(observed), entries(new QActionGroup(this))
{
    setObjectName("menuFensterung");
    const struct
    {
        const char *text;
        const char *objectName;
        WindowPreset preset;
    } presets[] = {
        {QT_TR_NOOP("Voller Bereich"), "actionFensterung_voller_Bereich", WindowPreset::FullRange},
        {QT_TR_NOOP("Automatisch (1.-99. Perzentil)"), "actionFensterung_automatisch",
         WindowPreset::Automatic},
        {QT_TR_NOOP("CT Gehirn (80/40)"), "actionFensterung_CT_Gehirn", WindowPreset::CtBrain},
        {QT_TR_NOOP("CT Weichteil (400/40)"), "actionFensterung_CT_Weichteil",
         WindowPreset::CtSoftTissue},
        {QT_TR_NOOP("CT Lunge (1500/-600)"), "actionFensterung_CT_Lunge", WindowPreset::CtLung},
        {QT_TR_NOOP("CT Knochen (2000/300)"), "actionFensterung_CT_Knochen", WindowPreset::CtBone}};
    entries->setExclusionPolicy(QActionGroup::ExclusionPolicy::ExclusiveOptional);
    for (const auto &entry : presets) {
        QAction *action = addAction(tr(entry.text));
        action->setObjectName(entry.objectName);
        action->setCheckable(true);
        action->setData(int(entry.preset));
        entries->addAction(action);
    }
    // Through the group: a menu cuts every connection of an action it loses,
    // and orderForVolume() takes the entries out and puts them back.
    connect(entries, &QActionGroup::triggered, this, [this](QAction *action) {
        if (!session->volume())
            return;
        const WindowPreset preset = WindowPreset(action->data().toInt());
        session->setWindowLevel(presetWindow(preset, *session->volume()));
        applied = {preset, session->windowLevel()};
        showActiveEntry();
    });
    // High values dark, as MONOCHROME1 data starts (values stay the file's).
    separator = new QAction(this);
    separator->setSeparator(true);
    invert = new QAction(tr("Invertiert"), this);
    invert->setObjectName("actionFensterung_invertiert");
    invert->setCheckable(true);
    connect(invert, &QAction::toggled, session, &SliceSession::setInvertedGrey);
    addAction(separator);
    addAction(invert);
    invert->setEnabled(false);
    connect(session, &SliceSession::windowLevelChanged, this, &WindowLevelMenu::showActiveEntry);
    connect(session, &SliceSession::volumeChanged, this, &WindowLevelMenu::orderForVolume);
}

void WindowLevelMenu::orderForVolume()
{
    applied.reset();
    // Hounsfield windows come first for CT, last for other data (MR).
    const bool ct = session->volume() && looksLikeCt(*session->volume());
    const QList<QAction *> all = entries->actions();
    for (QAction *action : all)
        removeAction(action);
    for (const bool ctEntries : {ct, !ct})
        for (QAction *action : all)
            if (isCtPreset(action) == ctEntries)
                addAction(action);
    for (QAction *action : {separator, invert}) {
        removeAction(action);
        addAction(action);
    }
    showActiveEntry();
}

void WindowLevelMenu::showActiveEntry()
{
    const Volume *shown = session->volume();
    const WindowLevel current = session->windowLevel();
    invert->setEnabled(shown != nullptr);
    {
        const QSignalBlocker blocker(invert);
        invert->setChecked(session->isInvertedGrey());
    }
    for (QAction *action : entries->actions()) {
        const WindowPreset preset = WindowPreset(action->data().toInt());
        action->setChecked(
            shown && (preset == WindowPreset::FullRange
                          ? current == fullRangeWindow(shown->valueRange)
                          : applied && applied->first == preset && applied->second == current));
    }
}
