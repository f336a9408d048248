#include "transferfunctioncontroller.h"

#include "datarange.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "automatictransferfunction.h"
#include "gradienteditor.h"
#include "transferfunctionhistory.h"
#include "transferfunctionpresets.h"
#include "transferfunctiontable.h"
#include "viewersession.h"
#include "volume.h"

#include <QAction>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <iostream>

TransferFunctionController::TransferFunctionController(WindowContext &windowContext,
                                                       QVBoxLayout *transferLayout, QObject *parent)
    : QObject(parent), context(windowContext)
{
    // The data values at the strips' left and right ends, under the editor:
    // where the histogram and the function sit in the data's own units.
    auto *row = new QWidget(context.ui->transferFunctionGroupBox);
    row->setObjectName("dataRangeRow");
    auto *rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    dataRangeLabels[0] = new QLabel(row);
    dataRangeLabels[0]->setObjectName("dataRangeMinimumLabel");
    dataRangeLabels[1] = new QLabel(row);
    dataRangeLabels[1]->setObjectName("dataRangeMaximumLabel");
    dataRangeLabels[1]->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel *label : dataRangeLabels)
        rowLayout->addWidget(label);
    row->hide();
    transferLayout->addWidget(row);
    // Spare height goes below the labels, not between them and the strips.
    transferLayout->addStretch(1);

    addMenu();
    addAutomaticOffer();
    connect(context.session, &ViewerSession::transferFunctionChanged, this,
            &TransferFunctionController::showFunction);
    connect(context.session, &ViewerSession::volumeChanged, this,
            &TransferFunctionController::showDataRange);
}

void TransferFunctionController::addMenu()
{
    QMenu *menu = context.window->menuBar()->addMenu(tr("Transferfunktion"));
    menu->setObjectName("menuTransferfunktion");
    QAction *load = menu->addAction(tr("Transferfunktion laden..."));
    load->setObjectName("actionTransferfunktion_laden");
    connect(load, &QAction::triggered, this, [this] {
        const QString fileName = context.dialogs->openTransferFunctionFileName(context.window);
        if (fileName.isEmpty())
            return;
        context.rememberFolder("transferFunction", fileName);
        loadFile(fileName);
    });
    QAction *save = menu->addAction(tr("Transferfunktion speichern..."));
    save->setObjectName("actionTransferfunktion_speichern");
    connect(save, &QAction::triggered, this,
            [this] { askToSave(TransferFunctionFile::Format::Kelvara); });
    QAction *exportMap = menu->addAction(tr("Als ParaView-Farbtabelle exportieren..."));
    exportMap->setObjectName("actionParaView_Farbtabelle_exportieren");
    connect(exportMap, &QAction::triggered, this,
            [this] { askToSave(TransferFunctionFile::Format::ParaView); });

    QMenu *presets = menu->addMenu(tr("Vorlage anwenden"));
    presets->setObjectName("menuVorlage_anwenden");
    // The function from the data first, apart from the fixed presets.
    QAction *automatic = presets->addAction(tr("Automatisch"));
    automatic->setObjectName("actionVorlage_auto");
    connect(automatic, &QAction::triggered, this, [this] { applyAutomatic(); });
    presets->addSeparator();
    for (const TransferFunctionPreset &preset : transferFunctionPresets()) {
        QAction *apply = presets->addAction(tr(preset.menuText.toUtf8().constData()));
        apply->setObjectName("actionVorlage_" + QString(preset.name).replace('-', '_'));
        const TransferFunction function = preset.function;
        connect(apply, &QAction::triggered, this, [this, function] { this->apply(function); });
    }

    menu->addSeparator();
    QAction *undoAction = menu->addAction(tr("Rückgängig"));
    undoAction->setObjectName("actionRueckgaengig");
    undoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(undoAction, &QAction::triggered, this, [this] { undo(); });
    QAction *redoAction = menu->addAction(tr("Wiederholen"));
    redoAction->setObjectName("actionWiederholen");
    redoAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
    connect(redoAction, &QAction::triggered, this, [this] { redo(); });
}

void TransferFunctionController::addAutomaticOffer()
{
    automaticOfferButton = new QPushButton(tr("Show with automatic transfer function"));
    automaticOfferButton->setObjectName("automaticOfferButton");
    automaticOfferButton->setToolTip(
        tr("Transparent below the background, a ramp up to the brightest values"));
    automaticOfferButton->setFlat(true);
    context.window->statusBar()->addPermanentWidget(automaticOfferButton);
    automaticOfferButton->hide();
    connect(automaticOfferButton, &QPushButton::clicked, this, [this] { applyAutomatic(); });
}

void TransferFunctionController::askToSave(TransferFunctionFile::Format format)
{
    QString fileName = context.dialogs->saveTransferFunctionFileName(
        context.window, format == TransferFunctionFile::Format::ParaView);
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(".json"))
        fileName += ".json";
    context.rememberFolder("transferFunction", fileName);
    saveFile(fileName, format);
}

void TransferFunctionController::apply(const TransferFunction &function)
{
    context.session->setTransferFunction(function);
    startupDefaultInUse = false;
    markLoaded();
    updateAutomaticOffer();
}

bool TransferFunctionController::loadFile(const QString &fileName)
{
    const TransferFunctionFile::ReadResult read =
        TransferFunctionFile::readFile(fileName, dataRangeOf(context.session->volume()));
    if (!read.ok) {
        context.showMessage(tr("Could not load transfer function %1: %2")
                                .arg(QFileInfo(fileName).fileName(), read.reason));
        return false;
    }
    apply(read.function);
    context.showMessage(tr("Transfer function %1 loaded").arg(QFileInfo(fileName).fileName()));
    return true;
}

bool TransferFunctionController::saveFile(const QString &fileName,
                                          TransferFunctionFile::Format format)
{
    QString reason;
    if (!TransferFunctionFile::writeFile(fileName, context.session->transferFunction(), format,
                                         dataRangeOf(context.session->volume()), &reason)) {
        context.showMessage(tr("Could not save transfer function %1: %2")
                                .arg(QFileInfo(fileName).fileName(), reason));
        return false;
    }
    context.showMessage(tr("Transfer function saved to %1").arg(QFileInfo(fileName).fileName()));
    if (format == TransferFunctionFile::Format::Kelvara)
        loadedFunction = context.session->transferFunction();
    return true;
}

void TransferFunctionController::setDefault()
{
    // The strips place the ramp's stops as they always did; their function
    // is the session's from then on.
    context.editor->setGradientStops(blackToWhiteStops());
    context.session->setTransferFunction(context.editor->transferFunction());
    markLoaded();
    startupDefaultInUse = true;
    applyStartupFunction();
    // Undo starts at the first function the user sees, never at the ramp
    // beneath it.
    context.session->resetTransferFunctionHistory();
}

void TransferFunctionController::applyStartupFunction()
{
    // The command line's function replaces the default once it is in place,
    // else the one the user had last time.
    if (startupFunction.isEmpty()) {
        if (remembered) {
            apply(*remembered);
            remembered.reset();
        }
        updateAutomaticOffer();
        return;
    }
    remembered.reset();
    const Volume *volume = context.session->volume();
    const TransferFunctionFile::ReadResult read =
        presetOrFile(startupFunction, dataRangeOf(volume), volume ? &histogram : nullptr);
    startupFunction.clear();
    if (!read.ok) {
        const QString message = tr("Could not load transfer function %1").arg(read.reason);
        std::cerr << "+ " << message.toStdString() << std::endl;
        context.showMessage(message);
        return;
    }
    apply(read.function);
}

void TransferFunctionController::takeEditorFunction()
{
    // The function itself, never the strips' sampling of it in pixels, so the
    // window draws what batch mode draws, at any size of the strips.
    context.session->setTransferFunction(context.editor->transferFunction());
    if (!stripDragging)
        recordStep();
}

void TransferFunctionController::showFunction()
{
    if (context.editor->transferFunction() != context.session->transferFunction())
        context.editor->setTransferFunction(context.session->transferFunction());
}

void TransferFunctionController::markLoaded()
{
    loadedFunction = context.session->transferFunction();
    recordStep();
}

void TransferFunctionController::recordStep()
{
    if (!context.session->recordTransferFunctionStep())
        return;
    // Anything but the start-up ramp itself ends the offer of the automatic
    // function: the user has chosen.
    if (startupDefaultInUse && !sameFunction(context.session->transferFunction(), loadedFunction)) {
        startupDefaultInUse = false;
        updateAutomaticOffer();
    }
}

bool TransferFunctionController::changed() const
{
    return !sameFunction(context.session->transferFunction(), loadedFunction);
}

bool TransferFunctionController::confirmQuit()
{
    if (!changed())
        return true;
    switch (context.dialogs->askToSaveTransferFunction(context.window)) {
    case WindowDialogs::UnsavedChoice::Cancel:
        return false;
    case WindowDialogs::UnsavedChoice::Discard:
        return true;
    case WindowDialogs::UnsavedChoice::Save:
        break;
    }
    QString fileName = context.dialogs->saveTransferFunctionFileName(context.window, false);
    if (fileName.isEmpty())
        return false;
    if (!fileName.endsWith(".json"))
        fileName += ".json";
    context.rememberFolder("transferFunction", fileName);
    return saveFile(fileName, TransferFunctionFile::Format::Kelvara);
}

void TransferFunctionController::undo()
{
    context.session->undoTransferFunction();
}

void TransferFunctionController::redo()
{
    context.session->redoTransferFunction();
}

bool TransferFunctionController::applyAutomatic()
{
    const Volume *volume = context.session->volume();
    const std::optional<AutomaticRamp> ramp = volume ? automaticRamp(histogram) : std::nullopt;
    if (!ramp) {
        context.showMessage(tr("The automatic transfer function needs a loaded data set"));
        return false;
    }
    apply(automaticTransferFunction(*ramp));
    const DataRange range = dataRangeOf(volume);
    const auto units = [&range](double x) {
        return QString::number(range.minimum + x * (range.maximum - range.minimum), 'g', 6);
    };
    context.showMessage(tr("Automatic transfer function: transparent below %1, full at %2")
                            .arg(units(ramp->start), units(ramp->end)));
    return true;
}

void TransferFunctionController::updateAutomaticOffer()
{
    // Only scans: a DAT file's start-up ramp is what the user expects there.
    const Volume *volume = context.session->volume();
    automaticOfferButton->setVisible(startupDefaultInUse && volume && volume->patientFrame);
}

void TransferFunctionController::showDataRange(bool keepPlace)
{
    const Volume *volume = context.session->volume();
    if (!volume)
        return;
    const DataRange range = dataRangeOf(volume);
    dataRangeLabels[0]->setText(QString::number(range.minimum, 'g', 6));
    dataRangeLabels[1]->setText(QString::number(range.maximum, 'g', 6));
    dataRangeLabels[0]->parentWidget()->show();
    // A reduced level stands for the file well enough here; a histogram of the
    // full resolution would read the whole file again.
    histogram = Histogram::of(volume->data.data(), volume->data.size());
    context.editor->setHistogram(histogram);
    if (keepPlace)
        return;
    updateAutomaticOffer();
    // Undo stays with this data set: it stops at the function shown now.
    context.session->resetTransferFunctionHistory();
}
