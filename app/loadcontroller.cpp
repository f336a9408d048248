#include "loadcontroller.h"

#include "scenefile.h"

#include "backgroundload.h"
#include "filenamebytes.h"
#include "fullresolutionregion.h"
#include "loadstatus.h"
#include "statusmessages.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "loadplan.h"
#include "mappedscan.h"
#include "viewersession.h"
#include "volume.h"
#include "volumerenderer.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QProgressBar>
#include <QPushButton>

namespace {

QString shownName(const QString &fileName)
{
    return QFileInfo(QDir::cleanPath(fileName)).fileName();
}

} // namespace

LoadController::LoadController(WindowContext &windowContext, QObject *parent)
    : QObject(parent), context(windowContext)
{
    // Beside the file command: a DICOM series is a folder, which a file
    // dialog cannot pick; so are numbered 2D images (microscopy, micro-CT).
    addFolderCommand(tr("DICOM-Ordner laden..."), "actionDicomOrdner_laden", QString(), "dicom",
                     &WindowDialogs::openDicomFolder);
    addFolderCommand(tr("Bildstapel laden..."), "actionBildstapel_laden",
                     tr("Load a folder of numbered TIFF, PNG, JPEG or BMP slices"), "stack",
                     &WindowDialogs::openImageStackFolder);
    addBackgroundLoadControls();
    addLargeVolumeControls();
    connect(context.session, &ViewerSession::volumeChanged, this, [this] {
        const Volume *volume = context.session->volume();
        fullResolutionRegionAction->setEnabled(volume && volume->fullResolution);
        fullResolutionRegionAction->setChecked(context.session->reducedVolume() != nullptr);
    });
}

void LoadController::askForVolumeFile()
{
    const QString fileName = context.dialogs->openVolumeFileName(context.window);
    if (fileName.isEmpty())
        return;
    context.rememberFolder("volume", fileName);
    startLoad(fileName);
}

bool LoadController::loadFile(const QString &fileName)
{
    if (SceneFile::isSceneFileName(fileName) && openScene)
        return openScene(fileName);
    // The newest request wins over one still reading in the background.
    loader->cancel();
    // Read into a fresh record so that a failed load leaves the current data
    // set untouched; the file name is encoded the way the file system expects.
    auto loaded = std::make_unique<Volume>();
    const VolumeReadResult result =
        loadVolumeFile(fileNameBytes(fileName).toStdString(), *loaded,
                       std::uint64_t(std::max(textureBudgetMiB, 0)) << 20, spacingOf(fileName));
    return applyLoadedVolume(fileName, std::move(loaded), result);
}

void LoadController::startLoad(const QString &fileName)
{
    if (SceneFile::isSceneFileName(fileName) && openScene) {
        openScene(fileName);
        return;
    }
    const std::optional<std::array<double, 3>> spacing = spacingOf(fileName);
    if (spacing != spacingApplied) {
        loader->setSpacing(spacing);
        spacingApplied = spacing;
    }
    loader->start(fileName);
}

void LoadController::setSpacingFor(const QString &fileName, const std::array<double, 3> &spacing)
{
    spacingFile = fileName;
    spacingGiven = spacing;
}

bool LoadController::applyLoadedVolume(const QString &fileName, std::unique_ptr<Volume> loaded,
                                       const VolumeReadResult &result)
{
    // Shown first, so that a problem the renderer reports with this data set
    // (too large for the graphics card, say) replaces it.
    const QString status = loadStatusText(shownName(fileName), *loaded, result);
    context.showMessage(status);
    if (!result.ok)
        return false;
    // Every view lets go of the old data set before it is freed.
    context.session->showVolume(std::move(loaded), fileName);
    context.window->setWindowTitle(tr("%1 - Kelvara 1").arg(shownName(fileName)));
    context.messages->setDataSetLine(status);
    // A DICOM series is a folder: its dialogs start beside it, like a file's.
    context.dialogs->setDataSetFolder(QFileInfo(QDir::cleanPath(fileName)).absolutePath());
    return true;
}

void LoadController::addFolderCommand(const QString &text, const char *name, const QString &toolTip,
                                      const char *folderKey,
                                      QString (WindowDialogs::*askForFolder)(QWidget *))
{
    auto *command = new QAction(text, context.window);
    command->setObjectName(name);
    command->setToolTip(toolTip);
    context.ui->menuDatei->insertAction(context.ui->actionBild_speichern, command);
    connect(command, &QAction::triggered, this, [this, folderKey, askForFolder] {
        const QString folder = ((*context.dialogs).*askForFolder)(context.window);
        if (folder.isEmpty())
            return;
        context.rememberFolder(folderKey, folder, true);
        startLoad(folder);
    });
}

void LoadController::addBackgroundLoadControls()
{
    QStatusBar *bar = context.window->statusBar();
    loader = new BackgroundLoad(context.window);
    loader->setObjectName("backgroundLoad");
    progressBar = new QProgressBar(bar);
    progressBar->setObjectName("loadProgressBar");
    progressBar->setMaximumWidth(160);
    cancelButton = new QPushButton(tr("Cancel"), bar);
    cancelButton->setObjectName("cancelLoadButton");
    cancelButton->setToolTip(tr("Stop loading; the current data set stays"));
    bar->addPermanentWidget(progressBar);
    bar->addPermanentWidget(cancelButton);
    progressBar->hide();
    cancelButton->hide();
    connect(cancelButton, &QPushButton::clicked, loader, &BackgroundLoad::cancel);

    connect(loader, &BackgroundLoad::started, this, [this](const QString &fileName) {
        context.showMessage(tr("Loading %1 ...").arg(shownName(fileName)));
        showLoadBusy(true);
    });
    connect(loader, &BackgroundLoad::progressChanged, this, [this](int percent) {
        // Reading the file has no steps of its own: the bar runs busy until
        // the data is prepared.
        progressBar->setRange(0, percent < 0 ? 0 : 100);
        progressBar->setValue(std::max(percent, 0));
    });
    connect(loader, &BackgroundLoad::cancelled, this, [this](const QString &fileName) {
        context.showMessage(tr("Loading %1 cancelled").arg(shownName(fileName)));
        showLoadBusy(loader->isBusy());
    });
    connect(loader, &BackgroundLoad::finished, this, [this] {
        showLoadBusy(false);
        BackgroundLoad::Outcome outcome = loader->takeOutcome();
        applyLoadedVolume(outcome.fileName, std::move(outcome.volume), outcome.result);
    });
}

void LoadController::showLoadBusy(bool busy)
{
    progressBar->setVisible(busy);
    cancelButton->setVisible(busy);
    // The window still answers: the busy cursor keeps its arrow.
    if (busy)
        context.window->setCursor(Qt::BusyCursor);
    else
        context.window->unsetCursor();
}

void LoadController::addLargeVolumeControls()
{
    QMenu *viewMenu = context.menu("menuAnsicht");
    fullResolutionRegionAction = viewMenu->addAction(tr("Ausschnitt in voller Auflösung"));
    fullResolutionRegionAction->setObjectName("actionAusschnitt_in_voller_Aufloesung");
    fullResolutionRegionAction->setCheckable(true);
    fullResolutionRegionAction->setEnabled(false);
    fullResolutionRegionAction->setToolTip(
        tr("Show the cropped part of a volume held at reduced resolution at full resolution"));
    connect(fullResolutionRegionAction, &QAction::triggered, this,
            [this](bool on) { showFullResolutionRegion(on); });
    QAction *budget = viewMenu->addAction(tr("Speicherbudget für 3D..."));
    budget->setObjectName("actionSpeicherbudget_fuer_3D");
    connect(budget, &QAction::triggered, this, [this] {
        const int chosen = context.dialogs->askTextureBudgetMiB(
            context.window, textureBudgetMiB > 0 ? textureBudgetMiB
                                                 : int(defaultLoadLimits().gpuBudgetBytes >> 20));
        if (chosen >= 0)
            setTextureBudgetMiB(chosen);
    });
}

void LoadController::setTextureBudgetMiB(int mebibytes)
{
    textureBudgetMiB = std::max(mebibytes, 0);
    loader->setTextureBudget(std::uint64_t(textureBudgetMiB) << 20);
    context.remember("render/textureBudgetMiB", textureBudgetMiB);
}

void LoadController::showFullResolutionRegion(bool on)
{
    ViewerSession *session = context.session;
    const auto keepState = [this] {
        fullResolutionRegionAction->setChecked(context.session->reducedVolume() != nullptr);
    };
    if (!on) {
        if (session->showReducedLevel())
            context.showMessage(
                tr("3D view at 1/%1 resolution again").arg(1 << session->volume()->level));
        keepState();
        return;
    }
    const Volume *volume = session->volume();
    if (!volume || !volume->fullResolution || session->reducedVolume()) {
        keepState();
        return;
    }
    const FullResolutionRegion region = fullResolutionRegion(
        *volume, session->scene().crop, std::uint64_t(std::max(textureBudgetMiB, 0)) << 20);
    if (!region.fits) {
        context.showMessage(QString::fromStdString(region.reason));
        keepState();
        return;
    }
    auto shown = std::make_unique<Volume>();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ScanReadResult built =
        volume->fullResolution->buildRegion(region.lower, region.upper, *shown);
    QApplication::restoreOverrideCursor();
    if (!built.ok) {
        context.showMessage(QString::fromStdString(built.reason));
        keepState();
        return;
    }
    shown->fullResolution = volume->fullResolution;
    shown->origin = region.lower;
    session->showRegion(std::move(shown));
    context.showMessage(tr("3D view: voxels %1..%2, %3..%4, %5..%6 at full resolution")
                            .arg(region.lower[0])
                            .arg(region.upper[0] - 1)
                            .arg(region.lower[1])
                            .arg(region.upper[1] - 1)
                            .arg(region.lower[2])
                            .arg(region.upper[2] - 1));
    keepState();
}
