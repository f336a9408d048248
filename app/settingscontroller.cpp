#include "settingscontroller.h"

#include "loadcontroller.h"
#include "recentfiles.h"
#include "transferfunctioncontroller.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "transferfunctionfile.h"
#include "viewersession.h"
#include "volume.h"

#include <QAction>
#include <QDir>
#include <QScreen>

SettingsController::SettingsController(WindowContext &windowContext, LoadController &loadController,
                                       TransferFunctionController &transferController,
                                       QObject *parent)
    : QObject(parent), context(windowContext), loads(loadController),
      transferFunctions(transferController)
{
    recentFilesMenu = new QMenu(tr("Zuletzt geöffnet"), context.window);
    recentFilesMenu->setObjectName("menuZuletzt_geoeffnet");
    context.ui->menuDatei->insertMenu(context.ui->actionBild_speichern, recentFilesMenu);
    rebuildRecentFilesMenu();

    connect(context.session, &ViewerSession::renderingChanged, this,
            &SettingsController::writeOptions);
    connect(context.session, &ViewerSession::transferFunctionChanged, this,
            &SettingsController::writeTransferFunction);
    connect(context.session, &ViewerSession::volumeChanged, this, [this](bool keepPlace) {
        if (!keepPlace)
            rememberRecentFile(context.session->scene().layer().file);
    });
    // The user's own switch while a scan is shown is how scans open from
    // then on.
    if (auto *fourViews = context.window->findChild<QAction *>("actionVier_Ansichten"))
        connect(fourViews, &QAction::triggered, this, [this](bool on) {
            const Volume *volume = context.session->volume();
            if (!volume || !volume->patientFrame)
                return;
            scansInFourViews = on;
            context.remember("layout/fourViewsForScans", on);
        });
}

void SettingsController::restore()
{
    QSettings *settings = context.settings.get();
    if (!settings)
        return;
    // Nothing stored (the first run) changes nothing.
    scansInFourViews = settings->value("layout/fourViewsForScans", true).toBool();
    if (settings->contains("window/geometry")) {
        context.window->restoreGeometry(settings->value("window/geometry").toByteArray());
        fitIntoScreen();
    }
    if (settings->contains("window/state"))
        context.window->restoreState(settings->value("window/state").toByteArray());

    RenderingOptions options = context.session->scene().options;
    QColor *colors[] = {&options.light, &options.ambient, &options.diffuse, &options.specular};
    const char *const colorKeys[] = {"options/light", "options/ambient", "options/diffuse",
                                     "options/specular"};
    for (int i = 0; i < 4; ++i) {
        const QColor color(settings->value(colorKeys[i]).toString());
        if (color.isValid())
            *colors[i] = color;
    }
    const auto restoreNumber = [settings](const char *key, auto &field) {
        bool ok = false;
        const double value = settings->value(key).toDouble(&ok);
        if (ok)
            field = std::remove_reference_t<decltype(field)>(value);
    };
    restoreNumber("options/k1", options.k1);
    restoreNumber("options/k2", options.k2);
    restoreNumber("options/exponent", options.exponent);
    restoreNumber("options/samples", options.samples);
    // Both read before either goes to the session, whose change writes both.
    const bool mip = settings->value("options/mode").toString() == "mip";
    context.session->setRenderingOptions(options);
    if (mip)
        context.session->setRenderMode(RenderMode::MaximumIntensity);
    // The restored values, as the controls hold them, go straight back.
    writeOptions();

    for (const char *dialog : {"volume", "dicom", "image", "transferFunction"}) {
        const QString folder = settings->value(QString("folders/") + dialog).toString();
        if (!folder.isEmpty())
            context.dialogs->setStartFolder(dialog, folder);
    }
    recentFileList =
        settings->value("recentFiles").toStringList().mid(0, RecentFiles::maximumCount);
    bool budgetOk = false;
    const int budget = settings->value("render/textureBudgetMiB").toInt(&budgetOk);
    if (budgetOk && budget > 0)
        loads.setTextureBudgetMiB(budget);
    rebuildRecentFilesMenu();

    const QByteArray function = settings->value("transferFunction/last").toByteArray();
    if (!function.isEmpty()) {
        const TransferFunctionFile::ReadResult read =
            TransferFunctionFile::parse(function, DataRange{});
        if (read.ok)
            transferFunctions.setRememberedFunction(read.function);
    }
}

void SettingsController::saveWindowState()
{
    context.remember("window/geometry", context.window->saveGeometry());
    context.remember("window/state", context.window->saveState());
    if (context.settings)
        context.settings->sync();
}

void SettingsController::fitIntoScreen()
{
    // A size saved on a larger screen (or grown by an old build) never
    // leaves this one's available area.
    QMainWindow *window = context.window;
    const QScreen *shown = window->screen();
    if (!shown || window->isMaximized() || window->isFullScreen())
        return;
    const QRect available = shown->availableGeometry();
    QRect frame = window->frameGeometry();
    const QSize margins = frame.size() - window->size();
    const QSize fitted = window->size().boundedTo(available.size() - margins);
    if (fitted != window->size())
        window->resize(fitted);
    frame = window->frameGeometry();
    QPoint corner = frame.topLeft();
    corner.setX(std::clamp(corner.x(), available.left(),
                           std::max(available.left(), available.right() - frame.width() + 1)));
    corner.setY(std::clamp(corner.y(), available.top(),
                           std::max(available.top(), available.bottom() - frame.height() + 1)));
    if (corner != frame.topLeft())
        window->move(corner);
}

void SettingsController::writeOptions()
{
    if (!context.settings)
        return;
    const Scene scene = context.session->scene();
    const RenderingOptions &options = scene.options;
    context.remember("options/light", options.light.name());
    context.remember("options/ambient", options.ambient.name());
    context.remember("options/diffuse", options.diffuse.name());
    context.remember("options/specular", options.specular.name());
    context.remember("options/k1", QString::number(options.k1));
    context.remember("options/k2", QString::number(options.k2));
    context.remember("options/exponent", QString::number(options.exponent));
    context.remember("options/samples", options.samples);
    context.remember("options/mode",
                     scene.mode == RenderMode::MaximumIntensity ? "mip" : "composite");
}

void SettingsController::writeTransferFunction()
{
    if (context.settings)
        context.remember("transferFunction/last",
                         TransferFunctionFile::toKelvaraJson(context.session->transferFunction()));
}

void SettingsController::rememberRecentFile(const QString &fileName)
{
    setRecentFiles(RecentFiles::withFile(recentFileList, fileName));
}

void SettingsController::setRecentFiles(const QStringList &files)
{
    recentFileList = files;
    context.remember("recentFiles", recentFileList);
    rebuildRecentFilesMenu();
}

void SettingsController::rebuildRecentFilesMenu()
{
    recentFilesMenu->clear();
    bool anyMissing = false;
    for (const QString &file : std::as_const(recentFileList)) {
        QAction *open = recentFilesMenu->addAction(QDir::toNativeSeparators(file));
        // A file that went away stays listed, greyed, until removed below.
        const bool exists = QFileInfo::exists(file);
        open->setEnabled(exists);
        anyMissing = anyMissing || !exists;
        connect(open, &QAction::triggered, this, [this, file] { loads.startLoad(file); });
    }
    recentFilesMenu->setEnabled(!recentFileList.isEmpty());
    if (recentFileList.isEmpty())
        return;
    recentFilesMenu->addSeparator();
    QAction *removeMissing = recentFilesMenu->addAction(tr("Fehlende entfernen"));
    removeMissing->setObjectName("actionFehlende_entfernen");
    removeMissing->setEnabled(anyMissing);
    connect(removeMissing, &QAction::triggered, this,
            [this] { setRecentFiles(RecentFiles::withoutMissing(recentFileList)); });
    QAction *clear = recentFilesMenu->addAction(tr("Liste leeren"));
    clear->setObjectName("actionListe_leeren");
    connect(clear, &QAction::triggered, this, [this] { setRecentFiles({}); });
}
