#include "mainwindow.h"

#include "backgroundload.h"
#include "colorlabel.h"
#include "controlstable.h"
#include "cursoroverlay.h"
#include "datarange.h"
#include "eventhook.h"
#include "filenamebytes.h"
#include "fullresolutionregion.h"
#include "orientationoverlay.h"
#include "recentfiles.h"
#include "scrollbarkeys.h"
#include "statusmessages.h"
#include "ui_mainwindow.h"
#include "windowdialogs.h"
#include "windowlevelmenu.h"

#include "automatictransferfunction.h"
#include "gradienteditor.h"
#include "histogram.h"
#include "hoverpoints.h"
#include "loadplan.h"
#include "loadstatus.h"
#include "mappedscan.h"
#include "orthogonalsliceview.h"
#include "patientorientation.h"
#include "shadewidget.h"
#include "slicegrid.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "transferfunctionpresets.h"
#include "transferfunctiontable.h"
#include "volume.h"
#include "volumefile.h"
#include "volumegrid.h"
#include "volumerenderer.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QDropEvent>
#include <QMimeData>
#include <QMouseEvent>
#include <QLineF>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QSettings>
#include <QStatusBar>
#include <QUrl>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QKeySequence>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRadioButton>
#include <QScreen>
#include <QStatusBar>
#include <QVBoxLayout>

#include <iostream>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()),
      dialogs(std::make_unique<WindowDialogs>())
{
    ui->setupUi(this);
    setWindowTitle(QCoreApplication::translate("MainWindow", "Kelvara 1"));

    gradientEditor = new GradientEditor(ui->transferFunctionGroupBox);
    auto *transferLayout = new QVBoxLayout(ui->transferFunctionGroupBox);
    transferLayout->addWidget(gradientEditor);
    addDataRangeLabels(transferLayout);

    volumeRenderer = new VolumeRenderer(ui->rendererGroupBox);
    ui->renderingLayout->addWidget(volumeRenderer);
    volumeRenderer->setRenderingOptions(&renderingOptions);
    connect(volumeRenderer->problemReporter(), &ProblemReporter::problemReported, this,
            [this](const QString &message) { statusBar()->showMessage(message); });
    orientationOverlay = new OrientationOverlay(volumeRenderer);
    for (auto rotationChanged :
         {&VolumeRenderer::xRotationChanged, &VolumeRenderer::yRotationChanged,
          &VolumeRenderer::zRotationChanged})
        connect(volumeRenderer, rotationChanged, this, [this] { updateOrientationLetters(); });

    const QColor colors[] = {renderingOptions.light, renderingOptions.ambient,
                             renderingOptions.diffuse, renderingOptions.specular};
    const int rows[] = {0, 0, 1, 2};
    const int columns[] = {1, 3, 3, 3};
    for (int i = 0; i < 4; ++i) {
        colorLabels[i] = new ColorLabel(ui->optionsGroupBox);
        colorLabels[i]->setColor(colors[i]);
        colorLabels[i]->setColorPicker([this](const QColor &initial, QWidget *dialogParent) {
            return dialogs->pickColor(initial, dialogParent);
        });
        ui->optionsGridLayout->addWidget(colorLabels[i], rows[i], columns[i]);
    }

    // Every spin box starts at the value in effect, so that finishing an edit of
    // one field never silently changes another.
    ui->exponentSpinBox->setValue(renderingOptions.exponent);
    ui->k1SpinBox->setValue(renderingOptions.k1);
    ui->k2SpinBox->setValue(renderingOptions.k2);
    ui->samplesSpinBox->setValue(renderingOptions.samples);
    connect(ui->samplesSpinBox, &QSpinBox::editingFinished, this,
            &MainWindow::updateRenderingOptions);
    for (QDoubleSpinBox *spinBox : {ui->k1SpinBox, ui->k2SpinBox, ui->exponentSpinBox})
        connect(spinBox, &QDoubleSpinBox::editingFinished, this,
                &MainWindow::updateRenderingOptions);
    for (ColorLabel *label : colorLabels)
        connect(label, &ColorLabel::editingFinished, this, &MainWindow::updateRenderingOptions);

    connect(gradientEditor, &GradientEditor::gradientStopsChanged, this,
            &MainWindow::updateTransferFunction);

    ui->slicingScrollBar->setMinimum(0);
    addDicomFolderAction();
    addViewControls();
    addTransferFunctionMenu();
    addKeptWorkControls();
    addSliceViews();
    addRenderingCursor();
    addKeyboardAndToolTips();
    addBackgroundLoadControls();
    updateTransferFunction();
}

// ---- Linked slice views, window/level, keyboard -------------------------

void MainWindow::addSliceViews()
{
    sliceSession = new SliceSession(this);
    sliceSession->setObjectName("sliceSession");

    // A grid on the central widget beside the window's own layouts, so that
    // the rendering moves into it without changing its parent (which would
    // replace its GL context).
    fourViewLayout = new QGridLayout();
    fourViewLayout->setObjectName("fourViewLayout");
    fourViewLayout->setSpacing(4);
    ui->horizontalLayout->insertLayout(1, fourViewLayout, 0);
    ui->horizontalLayout->setStretchFactor(ui->verticalLayout_2, 1);
    const struct
    {
        SlicePlane plane;
        const char *objectName;
        int row;
        int column;
    } places[] = {{SlicePlane::Axial, "axialSliceView", 0, 0},
                  {SlicePlane::Coronal, "coronalSliceView", 0, 1},
                  {SlicePlane::Sagittal, "sagittalSliceView", 1, 0}};
    for (std::size_t i = 0; i < 3; ++i) {
        auto *view = new OrthogonalSliceView(places[i].plane, sliceSession, ui->centralWidget);
        view->setObjectName(places[i].objectName);
        view->hide();
        fourViewLayout->addWidget(view, places[i].row, places[i].column);
        connect(view, &OrthogonalSliceView::hovered, this, [this](const VoxelIndex &voxel) {
            if (volume)
                showCursorReadout(voxelReadout(*volume, voxel));
        });
        connect(view, &OrthogonalSliceView::hoverLeft, this, &MainWindow::showSessionCursorReadout);
        sliceViews[i] = view;
    }
    for (int i = 0; i < 2; ++i) {
        fourViewLayout->setRowStretch(i, 1);
        fourViewLayout->setColumnStretch(i, 1);
    }
    connect(sliceSession, &SliceSession::cursorChanged, this,
            &MainWindow::showSessionCursorReadout);
    // The single slice view takes the same window; the full range gives
    // its own picture exactly.
    connect(sliceSession, &SliceSession::windowLevelChanged, this, [this] {
        ui->slicingView->greyMapping = sliceSession->greyMapping();
        ui->slicingView->update();
    });

    cursorReadoutLabel = new QLabel(this);
    cursorReadoutLabel->setObjectName("cursorReadoutLabel");
    cursorReadoutLabel->setToolTip(
        tr("Voxel under the mouse in a slice view (else the cursor): index, position in mm "
           "from the first voxel (LPS for scans) and value in the file's units"));
    statusBar()->addPermanentWidget(cursorReadoutLabel);

    QMenu *viewMenu = menuBar()->findChild<QMenu *>("menuAnsicht");
    if (viewMenu) {
        viewMenu->addSeparator();
        QAction *fourViews = viewMenu->addAction(tr("Vier Ansichten"));
        fourViews->setObjectName("actionVier_Ansichten");
        fourViews->setCheckable(true);
        fourViews->setShortcut(QKeySequence(tr("Ctrl+4")));
        fourViews->setToolTip(tr("Axial, coronal and sagittal slices beside the rendering"));
        connect(fourViews, &QAction::toggled, this, [this](bool on) { setFourViewLayout(on); });
        // The user's own switch while a scan is shown is how scans open from
        // then on.
        connect(fourViews, &QAction::triggered, this, [this](bool on) {
            if (!volume || !volume->patientFrame)
                return;
            fourViewsForScans = on;
            if (settings)
                settings->setValue("layout/fourViewsForScans", on);
        });
    }
    addWindowLevelMenu();
}

void MainWindow::addWindowLevelMenu()
{
    // Beside "Ansicht", before the transfer function's menu.
    auto *menu = new WindowLevelMenu(sliceSession, menuBar());
    const QMenu *transferMenu = menuBar()->findChild<QMenu *>("menuTransferfunktion");
    menuBar()->insertMenu(transferMenu ? transferMenu->menuAction() : nullptr, menu);
    // The readout gives the window too.
    connect(sliceSession, &SliceSession::windowLevelChanged, this,
            &MainWindow::showSessionCursorReadout);
}

void MainWindow::setFourViewLayout(bool on)
{
    ui->groupBox->setVisible(!on);
    if (on) {
        ui->verticalLayout_2->removeWidget(ui->rendererGroupBox);
        fourViewLayout->addWidget(ui->rendererGroupBox, 1, 1);
    } else {
        fourViewLayout->removeWidget(ui->rendererGroupBox);
        ui->verticalLayout_2->addWidget(ui->rendererGroupBox);
    }
    // The width goes to the layout that holds the rendering; the other one
    // is empty (and would keep half of it).
    ui->horizontalLayout->setStretchFactor(fourViewLayout, on ? 1 : 0);
    ui->horizontalLayout->setStretchFactor(ui->verticalLayout_2, on ? 0 : 1);
    for (OrthogonalSliceView *view : sliceViews)
        view->setVisible(on);
    // Hiding the focused view would hand focus on down the chain, to a
    // spin box that the arrow keys would then change.
    if (on)
        sliceViews[0]->setFocus(Qt::OtherFocusReason);
    else
        ui->slicingView->setFocus(Qt::OtherFocusReason);
}

void MainWindow::showSessionCursorReadout()
{
    if (volume)
        showCursorReadout(tr("Cursor: %1").arg(voxelReadout(*volume, sliceSession->cursor())));
}

void MainWindow::showCursorReadout(const QString &voxelText)
{
    const QString text = voxelText.isEmpty() || !sliceSession->volume()
                             ? voxelText
                             : voxelText + "  " + windowLevelText(sliceSession->windowLevel());
    cursorReadoutLabel->setText(text);
}

void MainWindow::addKeyboardAndToolTips()
{
    ui->actionDatensatz_laden->setShortcut(QKeySequence(tr("Ctrl+O")));
    ui->actionBild_speichern->setShortcut(QKeySequence(tr("Ctrl+S")));
    ui->actionBeenden->setShortcut(QKeySequence(tr("Ctrl+Q")));

    // Views take focus on click; the single slice view's keys move its
    // scroll bar, so the window's own slots run as they would for a drag.
    ui->slicingView->setFocusPolicy(Qt::ClickFocus);
    ui->slicingView->installEventFilter(new ScrollBarKeys(ui->slicingScrollBar, this));
    volumeRenderer->setFocusPolicy(Qt::ClickFocus);
    // Start with the slice view focused: the first control in the tab chain
    // is a spin box that arrow keys would change unseen.
    ui->slicingView->setFocus(Qt::OtherFocusReason);

    ui->slicingView->setToolTip(tr("Slice along the chosen axis; click it, then use the arrow or "
                                   "Page Up/Page Down keys to move through slices"));
    ui->slicingScrollBar->setToolTip(tr("Slice shown"));
    ui->slicingComboBox->setToolTip(tr("Axis perpendicular to the slice"));
    ui->samplesSpinBox->setToolTip(tr("Samples along each ray"));
    ui->k1SpinBox->setToolTip(tr("Depth cueing: how fast far samples darken"));
    ui->k2SpinBox->setToolTip(tr("Depth cueing: second coefficient of the fall-off"));
    ui->exponentSpinBox->setToolTip(tr("Specular exponent: higher gives smaller highlights"));
    const char *colourTips[] = {QT_TR_NOOP("Light colour (click to choose)"),
                                QT_TR_NOOP("Ambient colour (click to choose)"),
                                QT_TR_NOOP("Diffuse colour (click to choose)"),
                                QT_TR_NOOP("Specular colour (click to choose)")};
    for (std::size_t i = 0; i < colorLabels.size(); ++i)
        colorLabels[i]->setToolTip(tr(colourTips[i]));
    compositeRadioButton->setToolTip(tr("Composite rendering through the transfer function"));
    gradientEditor->setToolTip(tr("Transfer function: drag the points of the red, green, blue "
                                  "and alpha strips"));
    volumeRenderer->setToolTip(tr("Volume rendering: drag to rotate"));
    for (QAction *action : {ui->actionDatensatz_laden, ui->actionBild_speichern, ui->actionBeenden})
        action->setToolTip(action->text().remove("..."));
}

// ---- end of slice views ------------------------------------------------

// ---- The cursor in the rendering ----------------------------------------

void MainWindow::addRenderingCursor()
{
    cursorOverlay = new CursorOverlay(volumeRenderer);
    // Below the slice cut, which it moves.
    cursorMarkerCheckBox = new QCheckBox(tr("Show cursor in rendering"), ui->groupBox);
    cursorMarkerCheckBox->setObjectName("cursorMarkerCheckBox");
    cursorMarkerCheckBox->setChecked(true);
    cursorMarkerCheckBox->setToolTip(
        tr("Mark the slice cursor in the rendering with short X (red), Y (green) and Z (blue) "
           "lines; Shift+click on the rendering moves the cursor there"));
    ui->verticalLayout_3->addWidget(cursorMarkerCheckBox);
    connect(cursorMarkerCheckBox, &QCheckBox::toggled, this, [this] { showCursorInRendering(); });
    connect(sliceSession, &SliceSession::volumeChanged, this, [this] { showCursorInRendering(); });
    connect(sliceSession, &SliceSession::cursorChanged, this, [this] {
        showCursorInRendering();
        followCursorInLeftView();
    });

    PickReporter *picks = volumeRenderer->pickReporter();
    connect(picks, &PickReporter::voxelPicked, this, [this](int x, int y, int z) {
        // The pick is a voxel of the data drawn, perhaps a reduced level or a
        // region: the cursor goes to where it lies in the world.
        if (const Volume *shown = sliceSession->volume())
            sliceSession->setCursorAtWorld(
                dataGrid(*shown).worldOf({{double(x), double(y), double(z)}}));
    });
    connect(picks, &PickReporter::nothingPicked, this, [this] {
        statusBar()->showMessage(
            tr("Nothing picked: the rendering does not reach half opacity there"));
    });
}

namespace {

// The cut through the centre of slice `slice` of the slice views (full
// resolution) along axis, placed in the box of the data the rendering draws.
SliceCut sliceCutThrough(const Volume &volume, int axis, int slice)
{
    if (axis < 0 || axis > 2 || sliceCount(volume, axis) < 1)
        return SliceCut();
    SliceCut cut;
    cut.axis = axis;
    cut.position = SliceGrid::of(volume).dataFractionOf(axis, slice);
    return cut;
}

} // namespace

void MainWindow::showCursorInRendering()
{
    const bool shown = cursorMarkerCheckBox->isChecked() && sliceSession->volume();
    cursorOverlay->setCursorVoxel(shown ? std::optional<VoxelIndex>(sliceSession->cursor())
                                        : std::nullopt,
                                  shown ? SliceGrid::of(*sliceSession->volume()) : SliceGrid());
}

void MainWindow::followCursorInLeftView()
{
    // The scroll bar follows, and with it the view and the slice cut, which
    // have no other writer.
    if (volume && sliceSession->volume() == volume.get())
        ui->slicingScrollBar->setValue(
            sliceSession->cursor()[std::size_t(ui->slicingComboBox->currentIndex())]);
}

void MainWindow::moveCursorToLeftSlice()
{
    if (!volume || sliceSession->volume() != volume.get())
        return;
    VoxelIndex cursor = sliceSession->cursor();
    cursor[std::size_t(ui->slicingComboBox->currentIndex())] = ui->slicingScrollBar->value();
    sliceSession->setCursor(cursor);
}

// ---- end of the cursor in the rendering ---------------------------------

void MainWindow::addViewControls()
{
    // Below the axis box: the cut belongs with the slice it follows.
    sliceCutCheckBox = new QCheckBox(tr("Cut rendering at slice"), ui->groupBox);
    sliceCutCheckBox->setObjectName("sliceCutCheckBox");
    sliceCutCheckBox->setToolTip(
        tr("Cut the rendering open at the slice shown, keeping the side away from you"));
    ui->verticalLayout_3->addWidget(sliceCutCheckBox);
    connect(sliceCutCheckBox, &QCheckBox::toggled, this, [this] { updateSliceCut(); });

    // A new row under the four rows of colours and coefficients.
    auto *modeLabel = new QLabel(tr("Mode"), ui->optionsGroupBox);
    modeLabel->setObjectName("renderModeLabel");
    auto *modeButtons = new QWidget(ui->optionsGroupBox);
    modeButtons->setObjectName("renderModeButtons");
    auto *modeLayout = new QHBoxLayout(modeButtons);
    modeLayout->setContentsMargins(0, 0, 0, 0);
    compositeRadioButton = new QRadioButton(tr("Composite"), modeButtons);
    compositeRadioButton->setObjectName("compositeRadioButton");
    compositeRadioButton->setChecked(true);
    mipRadioButton = new QRadioButton(tr("MIP"), modeButtons);
    mipRadioButton->setObjectName("mipRadioButton");
    mipRadioButton->setToolTip(tr("Maximum intensity projection"));
    modeLayout->addWidget(compositeRadioButton);
    modeLayout->addWidget(mipRadioButton);
    modeLayout->addStretch();
    auto *modeGroup = new QButtonGroup(modeButtons);
    modeGroup->addButton(compositeRadioButton);
    modeGroup->addButton(mipRadioButton);
    ui->optionsGridLayout->addWidget(modeLabel, 4, 0);
    ui->optionsGridLayout->addWidget(modeButtons, 4, 1, 1, 3);
    connect(mipRadioButton, &QRadioButton::toggled, this, [this](bool on) {
        volumeRenderer->setRenderMode(on ? RenderMode::MaximumIntensity : RenderMode::Composite);
    });

    QMenu *viewMenu = menuBar()->addMenu(tr("Ansicht"));
    viewMenu->setObjectName("menuAnsicht");
    QAction *resetView = viewMenu->addAction(tr("Ansicht zurücksetzen"));
    resetView->setObjectName("actionAnsicht_zuruecksetzen");
    connect(resetView, &QAction::triggered, this, [this] { volumeRenderer->resetView(); });
    QAction *resetCrop = viewMenu->addAction(tr("Zuschnitt aufheben"));
    resetCrop->setObjectName("actionZuschnitt_aufheben");
    connect(resetCrop, &QAction::triggered, this, [this] {
        sliceCutCheckBox->setChecked(false);
        volumeRenderer->setSliceCut(SliceCut());
        volumeRenderer->setCropBox(CropBox());
    });
    addLargeVolumeControls(viewMenu);
    addStandardViews(viewMenu);
}

void MainWindow::addLargeVolumeControls(QMenu *viewMenu)
{
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
        const int chosen = dialogs->askTextureBudgetMiB(
            this, textureBudgetMiB > 0 ? textureBudgetMiB
                                       : int(defaultLoadLimits().gpuBudgetBytes >> 20));
        if (chosen >= 0)
            setTextureBudgetMiB(chosen);
    });
}

void MainWindow::setTextureBudgetMiB(int mebibytes)
{
    textureBudgetMiB = std::max(mebibytes, 0);
    loader->setTextureBudget(std::uint64_t(textureBudgetMiB) << 20);
    if (settings)
        settings->setValue("render/textureBudgetMiB", textureBudgetMiB);
}

void MainWindow::showFullResolutionRegion(bool on)
{
    const auto keepState = [this] { fullResolutionRegionAction->setChecked(bool(reducedVolume)); };
    if (!on) {
        if (reducedVolume) {
            std::unique_ptr<Volume> region = std::move(volume);
            volume = std::move(reducedVolume);
            showVolumeInViews(true);
            volumeRenderer->setCropBox(reducedCropBox);
            statusBar()->showMessage(
                tr("3D view at 1/%1 resolution again").arg(1 << volume->level));
        }
        keepState();
        return;
    }
    if (!volume || !volume->fullResolution || reducedVolume) {
        keepState();
        return;
    }
    const FullResolutionRegion region =
        fullResolutionRegion(*volume, volumeRenderer->cropBox(),
                             std::uint64_t(textureBudgetMiB > 0 ? textureBudgetMiB : 0) << 20);
    if (!region.fits) {
        statusBar()->showMessage(QString::fromStdString(region.reason));
        keepState();
        return;
    }
    auto shown = std::make_unique<Volume>();
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const ScanReadResult built =
        volume->fullResolution->buildRegion(region.lower, region.upper, *shown);
    QApplication::restoreOverrideCursor();
    if (!built.ok) {
        statusBar()->showMessage(QString::fromStdString(built.reason));
        keepState();
        return;
    }
    shown->fullResolution = volume->fullResolution;
    shown->origin = region.lower;
    reducedCropBox = volumeRenderer->cropBox();
    reducedVolume = std::move(volume);
    volume = std::move(shown);
    showVolumeInViews(true);
    volumeRenderer->setCropBox(CropBox());
    statusBar()->showMessage(tr("3D view: voxels %1..%2, %3..%4, %5..%6 at full resolution")
                                 .arg(region.lower[0])
                                 .arg(region.upper[0] - 1)
                                 .arg(region.lower[1])
                                 .arg(region.upper[1] - 1)
                                 .arg(region.lower[2])
                                 .arg(region.upper[2] - 1));
    keepState();
}

void MainWindow::showVolumeInViews(bool keepSlicePlace)
{
    const VoxelIndex cursor = sliceSession->cursor();
    const WindowLevel window = sliceSession->windowLevel();
    const int slice = ui->slicingScrollBar->value();
    ui->slicingView->volume = volume.get();
    if (!keepSlicePlace) {
        ui->slicingView->axis = 0;
        ui->slicingView->slice = 0;
    }
    ui->slicingView->repaint();
    updateSlicingRange();
    const int middleSlice = ui->slicingScrollBar->value();
    if (keepSlicePlace)
        ui->slicingScrollBar->setValue(slice);
    updateSlicingView();
    updateSliceCut();
    volumeRenderer->setVolume(volume.get());
    updateOrientationLetters();
    updateDataRange();
    sliceSession->setVolume(volume.get());
    if (keepSlicePlace) {
        sliceSession->setCursor(cursor);
        sliceSession->setWindowLevel(window);
    } else {
        // The left view opens at its middle slice, and the cursor with it
        // (the session put it at the centre voxel, a half slice lower).
        ui->slicingScrollBar->setValue(middleSlice);
        moveCursorToLeftSlice();
    }
    ui->slicingView->greyMapping = sliceSession->greyMapping();
    fullResolutionRegionAction->setEnabled(volume && volume->fullResolution);
}

void MainWindow::addStandardViews(QMenu *viewMenu)
{
    viewMenu->addSeparator();
    const struct
    {
        const char *text;
        const char *objectName;
        PatientSide side;
    } views[] = {{QT_TR_NOOP("Von vorne"), "actionAnsicht_von_vorne", PatientSide::Anterior},
                 {QT_TR_NOOP("Von hinten"), "actionAnsicht_von_hinten", PatientSide::Posterior},
                 {QT_TR_NOOP("Von links"), "actionAnsicht_von_links", PatientSide::Left},
                 {QT_TR_NOOP("Von rechts"), "actionAnsicht_von_rechts", PatientSide::Right},
                 {QT_TR_NOOP("Von oben"), "actionAnsicht_von_oben", PatientSide::Superior},
                 {QT_TR_NOOP("Von unten"), "actionAnsicht_von_unten", PatientSide::Inferior}};
    for (const auto &view : views) {
        QAction *action = viewMenu->addAction(tr(view.text));
        action->setObjectName(view.objectName);
        const std::array<int, 3> angles = rotationViewingFrom(view.side);
        connect(action, &QAction::triggered, this, [this, angles] {
            volumeRenderer->setXRotation(angles[0]);
            volumeRenderer->setYRotation(angles[1]);
            volumeRenderer->setZRotation(angles[2]);
        });
    }
}

void MainWindow::showScanReadyToRead()
{
    // Scans are read in their three planes, and seen from the front with
    // superior up; DAT files keep the window's own layout and view.
    if (auto *fourViews = findChild<QAction *>("actionVier_Ansichten"))
        fourViews->setChecked(fourViewsForScans);
    if (auto *front = findChild<QAction *>("actionAnsicht_von_vorne"))
        front->trigger();
}

void MainWindow::updateOrientationLetters()
{
    orientationOverlay->setLetters(volume && volume->patientFrame
                                       ? orientationLetters(volumeRenderer->xRotation(),
                                                            volumeRenderer->yRotation(),
                                                            volumeRenderer->zRotation())
                                       : OrientationLetters());
}

void MainWindow::addDataRangeLabels(QVBoxLayout *transferLayout)
{
    // The data values at the strips' left and right ends, under the editor:
    // where the histogram and the function sit in the data's own units.
    auto *row = new QWidget(ui->transferFunctionGroupBox);
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
}

void MainWindow::updateDataRange()
{
    const DataRange range = dataRangeOf(volume.get());
    dataRangeLabels[0]->setText(QString::number(range.minimum, 'g', 6));
    dataRangeLabels[1]->setText(QString::number(range.maximum, 'g', 6));
    dataRangeLabels[0]->parentWidget()->show();
    // A reduced level stands for the file well enough here; a histogram of the
    // full resolution would read the whole file again.
    volumeHistogram = Histogram::of(volume->data.data(), volume->data.size());
    gradientEditor->setHistogram(volumeHistogram);
}

void MainWindow::addTransferFunctionMenu()
{
    QMenu *menu = menuBar()->addMenu(tr("Transferfunktion"));
    menu->setObjectName("menuTransferfunktion");
    QAction *load = menu->addAction(tr("Transferfunktion laden..."));
    load->setObjectName("actionTransferfunktion_laden");
    connect(load, &QAction::triggered, this, [this] {
        const QString fileName = dialogs->openTransferFunctionFileName(this);
        if (fileName.isEmpty())
            return;
        rememberFolder("transferFunction", fileName);
        loadTransferFunctionFile(fileName);
    });
    QAction *save = menu->addAction(tr("Transferfunktion speichern..."));
    save->setObjectName("actionTransferfunktion_speichern");
    connect(save, &QAction::triggered, this,
            [this] { askToSaveTransferFunction(TransferFunctionFile::Format::Kelvara); });
    QAction *exportMap = menu->addAction(tr("Als ParaView-Farbtabelle exportieren..."));
    exportMap->setObjectName("actionParaView_Farbtabelle_exportieren");
    connect(exportMap, &QAction::triggered, this,
            [this] { askToSaveTransferFunction(TransferFunctionFile::Format::ParaView); });

    QMenu *presets = menu->addMenu(tr("Vorlage anwenden"));
    presets->setObjectName("menuVorlage_anwenden");
    for (const TransferFunctionPreset &preset : transferFunctionPresets()) {
        QAction *apply = presets->addAction(tr(preset.menuText.toUtf8().constData()));
        apply->setObjectName("actionVorlage_" + QString(preset.name).replace('-', '_'));
        const TransferFunction function = preset.function;
        connect(apply, &QAction::triggered, this,
                [this, function] { applyTransferFunction(function); });
    }
}

void MainWindow::askToSaveTransferFunction(TransferFunctionFile::Format format)
{
    QString fileName = dialogs->saveTransferFunctionFileName(
        this, format == TransferFunctionFile::Format::ParaView);
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(".json"))
        fileName += ".json";
    rememberFolder("transferFunction", fileName);
    saveTransferFunctionFile(fileName, format);
}

void MainWindow::applyTransferFunction(const TransferFunction &function)
{
    showTransferFunction(function);
    startupDefaultInUse = false;
    markTransferFunctionLoaded();
    updateAutomaticOffer();
}

bool MainWindow::loadTransferFunctionFile(const QString &fileName)
{
    const TransferFunctionFile::ReadResult read =
        TransferFunctionFile::readFile(fileName, dataRangeOf(volume.get()));
    if (!read.ok) {
        statusBar()->showMessage(tr("Could not load transfer function %1: %2")
                                     .arg(QFileInfo(fileName).fileName(), read.reason));
        return false;
    }
    applyTransferFunction(read.function);
    statusBar()->showMessage(tr("Transfer function %1 loaded").arg(QFileInfo(fileName).fileName()));
    return true;
}

bool MainWindow::saveTransferFunctionFile(const QString &fileName,
                                          TransferFunctionFile::Format format)
{
    QString reason;
    if (!TransferFunctionFile::writeFile(fileName, gradientEditor->transferFunction(), format,
                                         dataRangeOf(volume.get()), &reason)) {
        statusBar()->showMessage(tr("Could not save transfer function %1: %2")
                                     .arg(QFileInfo(fileName).fileName(), reason));
        return false;
    }
    statusBar()->showMessage(
        tr("Transfer function saved to %1").arg(QFileInfo(fileName).fileName()));
    if (format == TransferFunctionFile::Format::Kelvara)
        loadedFunction = gradientEditor->transferFunction();
    return true;
}

void MainWindow::setStartupTransferFunction(const QString &nameOrFile)
{
    startupTransferFunction = nameOrFile;
}

void MainWindow::updateSliceCut()
{
    if (!sliceCutCheckBox->isChecked() || !volume) {
        volumeRenderer->setSliceCut(SliceCut());
        return;
    }
    const int axis = ui->slicingComboBox->currentIndex();
    volumeRenderer->setSliceCut(sliceCutThrough(*volume, axis, ui->slicingScrollBar->value()));
}

MainWindow::~MainWindow()
{
    // The hooks call back into this window: they go first, before the widget
    // destructors below send their children's last events through them.
    qDeleteAll(findChildren<EventHook *>());
    // The views keep plain pointers to the volume and the options: detach them
    // before those go.
    ui->slicingView->volume = nullptr;
    sliceSession->setVolume(nullptr);
    volumeRenderer->setVolume(nullptr);
    volumeRenderer->setRenderingOptions(nullptr);
}

void MainWindow::setDialogs(std::unique_ptr<WindowDialogs> replacement)
{
    if (replacement)
        dialogs = std::move(replacement);
}

bool MainWindow::loadFile(const QString &fileName)
{
    // The newest request wins over one still reading in the background.
    loader->cancel();
    // Read into a fresh record so that a failed load leaves the current data
    // set untouched; the file name is encoded the way the file system expects.
    auto loaded = std::make_unique<Volume>();
    const VolumeReadResult result =
        loadVolumeFile(fileNameBytes(fileName).toStdString(), *loaded,
                       std::uint64_t(std::max(textureBudgetMiB, 0)) << 20);
    return applyLoadedVolume(fileName, std::move(loaded), result);
}

void MainWindow::startLoad(const QString &fileName)
{
    loader->start(fileName);
}

bool MainWindow::applyLoadedVolume(const QString &fileName, std::unique_ptr<Volume> loaded,
                                   const VolumeReadResult &result)
{
    // Shown first, so that a problem the renderer reports with this data set
    // (too large for the graphics card, say) replaces it.
    statusBar()->showMessage(
        loadStatusText(QFileInfo(QDir::cleanPath(fileName)).fileName(), *loaded, result));
    if (!result.ok)
        return false;

    // Hand the new data set to every view before the old one is freed.
    std::unique_ptr<Volume> previous = std::move(volume);
    std::unique_ptr<Volume> previousReduced = std::move(reducedVolume);
    volume = std::move(loaded);
    fullResolutionRegionAction->setChecked(false);
    showVolumeInViews(false);
    previous.reset();
    previousReduced.reset();

    // Kept work: the file in the title, its line kept, the list of recent files.
    setWindowTitle(tr("%1 - Kelvara 1").arg(QFileInfo(QDir::cleanPath(fileName)).fileName()));
    statusMessages->setDataSetLine(
        loadStatusText(QFileInfo(QDir::cleanPath(fileName)).fileName(), *volume, result));
    rememberRecentFile(fileName);
    // A DICOM series is a folder: its dialogs start beside it, like a file's.
    dialogs->setDataSetFolder(QFileInfo(QDir::cleanPath(fileName)).absolutePath());
    updateAutomaticOffer();
    if (volume->patientFrame)
        showScanReadyToRead();
    // Undo stays with this data set: it stops at the function shown now.
    history.reset(gradientEditor->transferFunction());
    return true;
}

void MainWindow::addBackgroundLoadControls()
{
    loader = new BackgroundLoad(this);
    loader->setObjectName("backgroundLoad");
    loadProgressBar = new QProgressBar(statusBar());
    loadProgressBar->setObjectName("loadProgressBar");
    loadProgressBar->setMaximumWidth(160);
    cancelLoadButton = new QPushButton(tr("Cancel"), statusBar());
    cancelLoadButton->setObjectName("cancelLoadButton");
    cancelLoadButton->setToolTip(tr("Stop loading; the current data set stays"));
    statusBar()->addPermanentWidget(loadProgressBar);
    statusBar()->addPermanentWidget(cancelLoadButton);
    loadProgressBar->hide();
    cancelLoadButton->hide();
    connect(cancelLoadButton, &QPushButton::clicked, loader, &BackgroundLoad::cancel);

    connect(loader, &BackgroundLoad::started, this, [this](const QString &fileName) {
        statusBar()->showMessage(
            tr("Loading %1 ...").arg(QFileInfo(QDir::cleanPath(fileName)).fileName()));
        showLoadBusy(true);
    });
    connect(loader, &BackgroundLoad::progressChanged, this, [this](int percent) {
        // Reading the file has no steps of its own: the bar runs busy until
        // the data is prepared.
        loadProgressBar->setRange(0, percent < 0 ? 0 : 100);
        loadProgressBar->setValue(std::max(percent, 0));
    });
    connect(loader, &BackgroundLoad::cancelled, this, [this](const QString &fileName) {
        statusBar()->showMessage(
            tr("Loading %1 cancelled").arg(QFileInfo(QDir::cleanPath(fileName)).fileName()));
        showLoadBusy(loader->isBusy());
    });
    connect(loader, &BackgroundLoad::finished, this, [this] {
        showLoadBusy(false);
        BackgroundLoad::Outcome outcome = loader->takeOutcome();
        applyLoadedVolume(outcome.fileName, std::move(outcome.volume), outcome.result);
    });
}

void MainWindow::showLoadBusy(bool busy)
{
    loadProgressBar->setVisible(busy);
    cancelLoadButton->setVisible(busy);
    // The window still answers: the busy cursor keeps its arrow.
    if (busy)
        setCursor(Qt::BusyCursor);
    else
        unsetCursor();
}

void MainWindow::setDefault()
{
    // The renderer gets the stops as they are, not the strips' sampling of them.
    const QGradientStops stops = blackToWhiteStops();
    gradientEditor->setGradientStops(stops);
    volumeRenderer->setGradientStops(stops);
    volumeRenderer->updateTransferFunctionTexture();
    markTransferFunctionLoaded();
    startupDefaultInUse = true;
    applyStartupTransferFunction();
    // Undo starts at the first function the user sees, never at the ramp
    // beneath it.
    history.reset(gradientEditor->transferFunction());
}

void MainWindow::applyStartupTransferFunction()
{
    // The command line's function replaces the default once it is in place,
    // else the one the user had last time.
    if (startupTransferFunction.isEmpty()) {
        if (rememberedFunction) {
            applyTransferFunction(*rememberedFunction);
            rememberedFunction.reset();
        }
        updateAutomaticOffer();
        return;
    }
    rememberedFunction.reset();
    const TransferFunctionFile::ReadResult read = presetOrFile(
        startupTransferFunction, dataRangeOf(volume.get()), volume ? &volumeHistogram : nullptr);
    startupTransferFunction.clear();
    if (!read.ok) {
        const QString message = tr("Could not load transfer function %1").arg(read.reason);
        std::cerr << "+ " << message.toStdString() << std::endl;
        statusBar()->showMessage(message);
        return;
    }
    applyTransferFunction(read.function);
}

void MainWindow::updateTransferFunction()
{
    // The function itself, never the strips' sampling of it in pixels, so the
    // window draws what batch mode draws, at any size of the strips.
    volumeRenderer->setGradientStops(gradientEditor->transferFunction().toStops());
    volumeRenderer->updateTransferFunctionTexture();
    // A drag becomes one undo step when the button is released.
    if (!stripMouseDown)
        recordTransferFunctionStep();
}

void MainWindow::updateRenderingOptions()
{
    renderingOptions.light = colorLabels[0]->color();
    renderingOptions.ambient = colorLabels[1]->color();
    renderingOptions.diffuse = colorLabels[2]->color();
    renderingOptions.specular = colorLabels[3]->color();
    renderingOptions.k1 = float(ui->k1SpinBox->value());
    renderingOptions.k2 = float(ui->k2SpinBox->value());
    renderingOptions.exponent = float(ui->exponentSpinBox->value());
    renderingOptions.samples = ui->samplesSpinBox->value();
    volumeRenderer->setRenderingOptions(&renderingOptions);
    writeOptionSettings();
}

void MainWindow::on_actionBild_speichern_triggered()
{
    QString fileName = dialogs->saveImageFileName(this);
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(".png"))
        fileName += ".png";
    const QImage image = volumeRenderer->grabFrame();
    if (image.isNull() || !image.save(fileName, "PNG")) {
        dialogs->warnImageNotSaved(this);
        return;
    }
    rememberFolder("image", fileName);
    statusBar()->showMessage(
        tr("Image saved to %1")
            .arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath())));
}

void MainWindow::on_slicingScrollBar_valueChanged(int)
{
    updateSlicingView();
    updateSliceCut();
    moveCursorToLeftSlice();
}

void MainWindow::on_slicingComboBox_currentIndexChanged(int)
{
    // The other axis starts at its middle slice, and the cursor with it.
    updateSlicingRange();
    updateSlicingView();
    updateSliceCut();
}

void MainWindow::on_actionBeenden_triggered()
{
    if (!confirmQuit())
        return;
    quitConfirmed = true;
    if (settings) {
        settings->setValue("window/geometry", saveGeometry());
        settings->setValue("window/state", saveState());
    }
    QCoreApplication::quit();
}

void MainWindow::addDicomFolderAction()
{
    // Beside the file command: a DICOM series is a folder, which a file
    // dialog cannot pick.
    auto *action = new QAction(tr("DICOM-Ordner laden..."), this);
    action->setObjectName("actionDicomOrdner_laden");
    ui->menuDatei->insertAction(ui->actionBild_speichern, action);
    connect(action, &QAction::triggered, this, [this] {
        const QString folder = dialogs->openDicomFolder(this);
        if (folder.isEmpty())
            return;
        rememberFolder("dicom", folder, true);
        startLoad(folder);
    });
}

void MainWindow::on_actionDatensatz_laden_triggered()
{
    const QString fileName = dialogs->openVolumeFileName(this);
    if (fileName.isEmpty())
        return;
    rememberFolder("volume", fileName);
    startLoad(fileName);
}

void MainWindow::updateSlicingView()
{
    SlicingView *view = ui->slicingView;
    view->axis = ui->slicingComboBox->currentIndex();
    view->slice = ui->slicingScrollBar->value();
    if (volume) {
        // The slice view must never push the window beyond the screen.
        const QScreen *shown = screen();
        const QSize limit = shown ? shown->availableSize() / 2 : QSize(1024, 1024);
        const QSize size = sliceDisplaySize(*volume, view->axis, limit);
        if (size.isValid()) {
            view->setMinimumSize(size);
            view->setMaximumSize(size);
        }
    }
    view->repaint();
}

void MainWindow::updateSlicingRange()
{
    if (!volume)
        return;
    const int axis = ui->slicingComboBox->currentIndex();
    if (axis < 0 || axis > 2)
        return;
    // An axis without slices (depth 0) keeps the range 0..0 rather than the
    // inverted range 0..-1, which would drag the minimum below zero.
    ui->slicingScrollBar->setMaximum(std::max(sliceCount(*volume, axis) - 1, 0));
    // The middle slice shows the subject; slice 0 of a scan is mostly air.
    ui->slicingScrollBar->setValue(sliceCount(*volume, axis) / 2);
}

// ---- Kept work: settings, the quit question, undo, recent files, help ----

void MainWindow::addKeptWorkControls()
{
    // The data set's line stays beside the transient messages.
    dataSetLabel = new QLabel(statusBar());
    dataSetLabel->setObjectName("dataSetLabel");
    statusBar()->addPermanentWidget(dataSetLabel);
    statusMessages = new StatusMessages(statusBar(), dataSetLabel);
    if (QMenu *viewMenu = menuBar()->findChild<QMenu *>("menuAnsicht")) {
        QAction *log = viewMenu->addAction(tr("Meldungen..."));
        log->setObjectName("actionMeldungen");
        log->setToolTip(tr("Every message of the status bar, whole"));
        connect(log, &QAction::triggered, this, [this] {
            dialogs->showText(this, tr("Meldungen"),
                              statusMessages->log().isEmpty() ? tr("No messages yet.")
                                                              : statusMessages->log().join('\n'));
        });
    }
    automaticOfferButton = new QPushButton(tr("Show with automatic transfer function"));
    automaticOfferButton->setObjectName("automaticOfferButton");
    automaticOfferButton->setToolTip(
        tr("Transparent below the background, a ramp up to the brightest values"));
    automaticOfferButton->setFlat(true);
    statusBar()->addPermanentWidget(automaticOfferButton);
    automaticOfferButton->hide();
    connect(automaticOfferButton, &QPushButton::clicked, this,
            [this] { applyAutomaticTransferFunction(); });

    ui->actionBeenden->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    recentFilesMenu = new QMenu(tr("Zuletzt geöffnet"), this);
    recentFilesMenu->setObjectName("menuZuletzt_geoeffnet");
    ui->menuDatei->insertMenu(ui->actionBild_speichern, recentFilesMenu);
    rebuildRecentFilesMenu();

    // Beside the presets: the function from the data, and undo.
    if (auto *presets = findChild<QMenu *>("menuVorlage_anwenden")) {
        QAction *automatic = new QAction(tr("Automatisch"), presets);
        automatic->setObjectName("actionVorlage_auto");
        presets->insertAction(presets->actions().value(0), automatic);
        presets->insertSeparator(presets->actions().value(1));
        connect(automatic, &QAction::triggered, this, [this] { applyAutomaticTransferFunction(); });
    }
    if (auto *menu = findChild<QMenu *>("menuTransferfunktion")) {
        menu->addSeparator();
        QAction *undo = menu->addAction(tr("Rückgängig"));
        undo->setObjectName("actionRueckgaengig");
        undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
        connect(undo, &QAction::triggered, this, [this] { undoTransferFunction(); });
        QAction *redo = menu->addAction(tr("Wiederholen"));
        redo->setObjectName("actionWiederholen");
        redo->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z));
        connect(redo, &QAction::triggered, this, [this] { redoTransferFunction(); });
    }

    const QList<ShadeWidget *> strips = {gradientEditor->redStrip(), gradientEditor->greenStrip(),
                                         gradientEditor->blueStrip(), gradientEditor->alphaStrip()};
    for (int channel = 0; channel < strips.size(); ++channel) {
        ShadeWidget *strip = strips[channel];
        strip->setMouseTracking(true);
        new EventHook(strip, [this, strip, channel](QEvent *event) {
            return handleStripEvent(strip, channel, event);
        });
    }

    setAcceptDrops(true);
    new EventHook(this, [this](QEvent *event) { return handleWindowEvent(event); });
    addHelpMenu();
    makeLeftColumnScrollable();
}

void MainWindow::makeLeftColumnScrollable()
{
    // The generated grid of slices, options and editor moves into a widget
    // inside a scroll area at the same place; widgets and names stay.
    auto *column = new QWidget;
    column->setObjectName("leftColumn");
    const int index = ui->horizontalLayout->indexOf(ui->gridLayout_3);
    ui->horizontalLayout->removeItem(ui->gridLayout_3);
    ui->gridLayout_3->setParent(nullptr);
    column->setLayout(ui->gridLayout_3);
    auto *scrollArea = new QScrollArea(ui->centralWidget);
    scrollArea->setObjectName("leftColumnScrollArea");
    scrollArea->setWidget(column);
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    ui->horizontalLayout->insertWidget(index, scrollArea);
    // As wide as the column wants, so that only the height scrolls, and no
    // wider: the renderer group takes the rest of the width.
    const auto fitWidth = [scrollArea, column] {
        scrollArea->setFixedWidth(column->minimumSizeHint().width() +
                                  scrollArea->verticalScrollBar()->sizeHint().width());
    };
    fitWidth();
    new EventHook(column, [fitWidth](QEvent *event) {
        if (event->type() == QEvent::LayoutRequest)
            fitWidth();
        return false;
    });
}

void MainWindow::addHelpMenu()
{
    QMenu *help = menuBar()->addMenu(tr("Hilfe"));
    help->setObjectName("menuHilfe");
    QAction *controls = help->addAction(tr("Bedienung"));
    controls->setObjectName("actionBedienung");
    controls->setShortcut(QKeySequence(Qt::Key_F1));
    connect(controls, &QAction::triggered, this,
            [this] { dialogs->showText(this, tr("Bedienung"), controlsHelpText()); });
    QAction *about = help->addAction(tr("Über Kelvara"));
    about->setObjectName("actionUeber_Kelvara");
    connect(about, &QAction::triggered, this, [this] {
        dialogs->showText(this, tr("Über Kelvara"),
                          tr("Kelvara %1\nA viewer for 3D scalar volumes (DAT, NIfTI, NRRD, "
                             "MetaImage, DICOM) with slices and GPU ray casting.")
                              .arg(QCoreApplication::applicationVersion()));
    });
}

bool MainWindow::handleWindowEvent(QEvent *event)
{
    switch (event->type()) {
    case QEvent::Close:
        if (!confirmQuit()) {
            event->ignore();
            return true;
        }
        quitConfirmed = true;
        if (settings) {
            settings->setValue("window/geometry", saveGeometry());
            settings->setValue("window/state", saveState());
            settings->sync();
        }
        return false;
    case QEvent::DragEnter: {
        auto *drag = static_cast<QDragEnterEvent *>(event);
        const QList<QUrl> urls = drag->mimeData()->urls();
        if (!urls.isEmpty() && urls.first().isLocalFile())
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QList<QUrl> urls = drop->mimeData()->urls();
        if (urls.isEmpty() || !urls.first().isLocalFile())
            return true;
        drop->acceptProposedAction();
        const QString path = localFileText(urls.first());
        if (path.endsWith(".json", Qt::CaseInsensitive))
            loadTransferFunctionFile(path);
        else
            startLoad(path);
        return true;
    }
    default:
        return false;
    }
}

bool MainWindow::transferFunctionChanged() const
{
    return !sameFunction(gradientEditor->transferFunction(), loadedFunction);
}

bool MainWindow::confirmQuit()
{
    if (quitConfirmed || !transferFunctionChanged())
        return true;
    switch (dialogs->askToSaveTransferFunction(this)) {
    case WindowDialogs::UnsavedChoice::Cancel:
        return false;
    case WindowDialogs::UnsavedChoice::Discard:
        return true;
    case WindowDialogs::UnsavedChoice::Save:
        break;
    }
    QString fileName = dialogs->saveTransferFunctionFileName(this, false);
    if (fileName.isEmpty())
        return false;
    if (!fileName.endsWith(".json"))
        fileName += ".json";
    rememberFolder("transferFunction", fileName);
    return saveTransferFunctionFile(fileName, TransferFunctionFile::Format::Kelvara);
}

void MainWindow::showTransferFunction(const TransferFunction &function)
{
    gradientEditor->setTransferFunction(function);
    volumeRenderer->setGradientStops(function.toStops());
    volumeRenderer->updateTransferFunctionTexture();
}

void MainWindow::markTransferFunctionLoaded()
{
    loadedFunction = gradientEditor->transferFunction();
    recordTransferFunctionStep();
}

void MainWindow::recordTransferFunctionStep()
{
    const TransferFunction current = gradientEditor->transferFunction();
    if (!history.record(current))
        return;
    // Anything but the start-up ramp itself ends the offer of the automatic
    // function: the user has chosen.
    if (startupDefaultInUse && !sameFunction(current, loadedFunction)) {
        startupDefaultInUse = false;
        updateAutomaticOffer();
    }
    writeTransferFunctionSetting();
}

void MainWindow::undoTransferFunction()
{
    if (const std::optional<TransferFunction> previous = history.undo()) {
        showTransferFunction(*previous);
        writeTransferFunctionSetting();
    }
}

void MainWindow::redoTransferFunction()
{
    if (const std::optional<TransferFunction> next = history.redo()) {
        showTransferFunction(*next);
        writeTransferFunctionSetting();
    }
}

bool MainWindow::applyAutomaticTransferFunction()
{
    const std::optional<AutomaticRamp> ramp =
        volume ? automaticRamp(volumeHistogram) : std::nullopt;
    if (!ramp) {
        statusBar()->showMessage(tr("The automatic transfer function needs a loaded data set"));
        return false;
    }
    applyTransferFunction(automaticTransferFunction(*ramp));
    const DataRange range = dataRangeOf(volume.get());
    const auto units = [&range](double x) {
        return QString::number(range.minimum + x * (range.maximum - range.minimum), 'g', 6);
    };
    statusBar()->showMessage(tr("Automatic transfer function: transparent below %1, full at %2")
                                 .arg(units(ramp->start), units(ramp->end)));
    return true;
}

void MainWindow::updateAutomaticOffer()
{
    // Only scans: a DAT file's start-up ramp is what the user expects there.
    automaticOfferButton->setVisible(startupDefaultInUse && volume && volume->patientFrame);
}

bool MainWindow::handleStripEvent(ShadeWidget *strip, int channel, QEvent *event)
{
    const auto pointAt = [strip](const QPointF &position) {
        const QPolygonF points = strip->pointEditor()->controlPoints();
        int nearest = -1;
        double best = 8.0; // pixels: a little more than a point's radius
        for (int i = 0; i < points.size(); ++i) {
            const double distance = QLineF(points[i], position).length();
            if (distance <= best) {
                best = distance;
                nearest = i;
            }
        }
        return nearest;
    };
    static const char *const channelNames[] = {QT_TR_NOOP("Red"), QT_TR_NOOP("Green"),
                                               QT_TR_NOOP("Blue"), QT_TR_NOOP("Opacity")};
    const DataRange range = dataRangeOf(volume.get());
    const auto valuesOf = [&](int index) {
        const ChannelPoints points = gradientEditor->transferFunction().channels[channel];
        const QPointF p = points.points.value(index);
        return WindowDialogs::PointValues{range.minimum + p.x() * (range.maximum - range.minimum),
                                          p.y()};
    };

    switch (event->type()) {
    case QEvent::MouseButtonPress:
        stripMouseDown = true;
        return false;
    case QEvent::MouseButtonRelease:
        stripMouseDown = false;
        recordTransferFunctionStep();
        return false;
    case QEvent::MouseMove: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const int index = pointAt(mouse->position());
        if (index >= 0) {
            const WindowDialogs::PointValues values = valuesOf(index);
            statusBar()->showMessage(tr("%1 point: data value %2, channel value %3")
                                         .arg(tr(channelNames[channel]))
                                         .arg(values.dataValue, 0, 'g', 6)
                                         .arg(values.channelValue, 0, 'f', 3));
        }
        return false;
    }
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const int index = pointAt(mouse->position());
        if (index < 0 || mouse->button() != Qt::LeftButton)
            return false;
        const std::optional<WindowDialogs::PointValues> typed = dialogs->editPoint(
            this, tr(channelNames[channel]), valuesOf(index), range.minimum, range.maximum);
        stripMouseDown = false;
        if (!typed)
            return true;
        TransferFunction function = gradientEditor->transferFunction();
        ChannelPoints &points = function.channels[channel];
        const double span = range.maximum - range.minimum;
        double x = span > 0 ? (typed->dataValue - range.minimum) / span : 0.0;
        // Points keep their order and edge locks: x stays between its
        // neighbours, and an end point stays at its end.
        const uint locks = points.locks.value(index);
        const double left = index > 0 ? points.points[index - 1].x() : 0.0;
        const double right = index + 1 < points.points.size() ? points.points[index + 1].x() : 1.0;
        x = std::clamp(x, left, right);
        if (locks & ControlPoints::LockLeftEdge)
            x = 0.0;
        if (locks & ControlPoints::LockRightEdge)
            x = 1.0;
        points.points[index] = QPointF(x, std::clamp(typed->channelValue, 0.0, 1.0));
        showTransferFunction(function);
        recordTransferFunctionStep();
        return true;
    }
    default:
        return false;
    }
}

void MainWindow::rememberFolder(const QString &dialog, const QString &path, bool isFolder)
{
    const QString folder =
        isFolder ? QFileInfo(path).absoluteFilePath() : QFileInfo(path).absolutePath();
    dialogs->setStartFolder(dialog, folder);
    if (settings)
        settings->setValue("folders/" + dialog, folder);
}

void MainWindow::rememberRecentFile(const QString &fileName)
{
    recentFileList = RecentFiles::withFile(recentFileList, fileName);
    if (settings)
        settings->setValue("recentFiles", recentFileList);
    rebuildRecentFilesMenu();
}

void MainWindow::rebuildRecentFilesMenu()
{
    recentFilesMenu->clear();
    bool anyMissing = false;
    for (const QString &file : recentFileList) {
        QAction *open = recentFilesMenu->addAction(QDir::toNativeSeparators(file));
        // A file that went away stays listed, greyed, until removed below.
        const bool exists = QFileInfo::exists(file);
        open->setEnabled(exists);
        anyMissing = anyMissing || !exists;
        connect(open, &QAction::triggered, this, [this, file] { startLoad(file); });
    }
    recentFilesMenu->setEnabled(!recentFileList.isEmpty());
    if (recentFileList.isEmpty())
        return;
    recentFilesMenu->addSeparator();
    QAction *removeMissing = recentFilesMenu->addAction(tr("Fehlende entfernen"));
    removeMissing->setObjectName("actionFehlende_entfernen");
    removeMissing->setEnabled(anyMissing);
    connect(removeMissing, &QAction::triggered, this, [this] {
        recentFileList = RecentFiles::withoutMissing(recentFileList);
        if (settings)
            settings->setValue("recentFiles", recentFileList);
        rebuildRecentFilesMenu();
    });
    QAction *clear = recentFilesMenu->addAction(tr("Liste leeren"));
    clear->setObjectName("actionListe_leeren");
    connect(clear, &QAction::triggered, this, [this] {
        recentFileList.clear();
        if (settings)
            settings->setValue("recentFiles", recentFileList);
        rebuildRecentFilesMenu();
    });
}

void MainWindow::useSettings(std::unique_ptr<QSettings> store)
{
    settings = std::move(store);
    if (settings)
        restoreSettings();
}

void MainWindow::restoreSettings()
{
    // Nothing stored (the first run) changes nothing.
    fourViewsForScans = settings->value("layout/fourViewsForScans", true).toBool();
    if (settings->contains("window/geometry")) {
        restoreGeometry(settings->value("window/geometry").toByteArray());
        fitIntoScreen();
    }
    if (settings->contains("window/state"))
        restoreState(settings->value("window/state").toByteArray());

    const char *const colorKeys[] = {"options/light", "options/ambient", "options/diffuse",
                                     "options/specular"};
    for (int i = 0; i < 4; ++i) {
        const QColor color(settings->value(colorKeys[i]).toString());
        if (color.isValid())
            colorLabels[i]->setColor(color);
    }
    const auto restoreNumber = [this](const char *key, auto *spinBox) {
        bool ok = false;
        const double value = settings->value(key).toDouble(&ok);
        if (ok)
            spinBox->setValue(value);
    };
    restoreNumber("options/k1", ui->k1SpinBox);
    restoreNumber("options/k2", ui->k2SpinBox);
    restoreNumber("options/exponent", ui->exponentSpinBox);
    restoreNumber("options/samples", ui->samplesSpinBox);
    if (settings->value("options/mode").toString() == "mip")
        mipRadioButton->setChecked(true);
    // Applies the restored values and writes them straight back.
    updateRenderingOptions();

    for (const char *dialog : {"volume", "dicom", "image", "transferFunction"}) {
        const QString folder = settings->value(QString("folders/") + dialog).toString();
        if (!folder.isEmpty())
            dialogs->setStartFolder(dialog, folder);
    }
    recentFileList =
        settings->value("recentFiles").toStringList().mid(0, RecentFiles::maximumCount);
    bool budgetOk = false;
    const int budget = settings->value("render/textureBudgetMiB").toInt(&budgetOk);
    if (budgetOk && budget > 0)
        setTextureBudgetMiB(budget);
    rebuildRecentFilesMenu();

    const QByteArray function = settings->value("transferFunction/last").toByteArray();
    if (!function.isEmpty()) {
        const TransferFunctionFile::ReadResult read =
            TransferFunctionFile::parse(function, DataRange{});
        if (read.ok)
            rememberedFunction = read.function;
    }
    connect(mipRadioButton, &QRadioButton::toggled, this, [this] { writeOptionSettings(); });
}

void MainWindow::fitIntoScreen()
{
    // A size saved on a larger screen (or grown by an old build) never
    // leaves this one's available area.
    const QScreen *shown = screen();
    if (!shown || isMaximized() || isFullScreen())
        return;
    const QRect available = shown->availableGeometry();
    QRect frame = frameGeometry();
    const QSize margins = frame.size() - size();
    const QSize fitted = size().boundedTo(available.size() - margins);
    if (fitted != size())
        resize(fitted);
    frame = frameGeometry();
    QPoint corner = frame.topLeft();
    corner.setX(std::clamp(corner.x(), available.left(),
                           std::max(available.left(), available.right() - frame.width() + 1)));
    corner.setY(std::clamp(corner.y(), available.top(),
                           std::max(available.top(), available.bottom() - frame.height() + 1)));
    if (corner != frame.topLeft())
        move(corner);
}

void MainWindow::writeOptionSettings()
{
    if (!settings)
        return;
    settings->setValue("options/light", renderingOptions.light.name());
    settings->setValue("options/ambient", renderingOptions.ambient.name());
    settings->setValue("options/diffuse", renderingOptions.diffuse.name());
    settings->setValue("options/specular", renderingOptions.specular.name());
    settings->setValue("options/k1", ui->k1SpinBox->value());
    settings->setValue("options/k2", ui->k2SpinBox->value());
    settings->setValue("options/exponent", ui->exponentSpinBox->value());
    settings->setValue("options/samples", ui->samplesSpinBox->value());
    settings->setValue("options/mode", mipRadioButton->isChecked() ? "mip" : "composite");
}

void MainWindow::writeTransferFunctionSetting()
{
    if (settings)
        settings->setValue("transferFunction/last",
                           TransferFunctionFile::toKelvaraJson(gradientEditor->transferFunction()));
}
// ---- end of kept work ----
