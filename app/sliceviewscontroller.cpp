#include "sliceviewscontroller.h"

#include "cursoroverlay.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"
#include "windowlevelmenu.h"

#include "layerslice.h"
#include "orthogonalsliceview.h"
#include "slicegrid.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "viewersession.h"
#include "volume.h"
#include "volumegrid.h"
#include "volumerenderer.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QScreen>

SliceViewsController::SliceViewsController(WindowContext &windowContext, QObject *parent)
    : QObject(parent), context(windowContext)
{
    addCheckBoxes();
    addViews();
    ViewerSession *session = context.session;
    SliceSession *slices = session->slices();
    connect(session, &ViewerSession::volumeChanged, this, &SliceViewsController::showVolume);
    connect(session, &ViewerSession::layoutChanged, this,
            [this] { setFourViewLayout(context.session->scene().fourViews); });
    connect(slices, &SliceSession::layersChanged, this, &SliceViewsController::showSessionReadout);
    connect(slices, &SliceSession::cursorChanged, this, [this] {
        showSessionReadout();
        showCursorInRendering();
        followCursorInLeftView();
    });
    connect(slices, &SliceSession::windowLevelChanged, this, [this] {
        // The single slice view takes the same window; the full range gives
        // its own picture exactly.
        context.ui->slicingView->greyMapping = context.session->slices()->greyMapping();
        context.ui->slicingView->update();
        showSessionReadout();
    });

    // Beside "Ansicht", before the transfer function's menu.
    auto *windowMenu = new WindowLevelMenu(slices, context.window->menuBar());
    const QMenu *transferMenu = context.menu("menuTransferfunktion");
    context.window->menuBar()->insertMenu(transferMenu ? transferMenu->menuAction() : nullptr,
                                          windowMenu);

    PickReporter *picks = context.renderer->pickReporter();
    connect(picks, &PickReporter::voxelPicked, this, [this](int x, int y, int z) {
        // The pick is a voxel of the data drawn, perhaps a reduced level or a
        // region: the cursor goes to where it lies in the world.
        if (const Volume *shown = context.session->volume())
            context.session->slices()->setCursorAtWorld(
                dataGrid(*shown).worldOf({{double(x), double(y), double(z)}}));
    });
    connect(picks, &PickReporter::nothingPicked, this, [this] {
        context.showMessage(tr("Nothing picked: the rendering does not reach half opacity there"));
    });
}

void SliceViewsController::addCheckBoxes()
{
    MainWindowUi *ui = context.ui;
    // Below the axis box: the cut belongs with the slice it follows.
    sliceCutCheckBox = new QCheckBox(tr("Cut rendering at slice"), ui->groupBox);
    sliceCutCheckBox->setObjectName("sliceCutCheckBox");
    sliceCutCheckBox->setToolTip(
        tr("Cut the rendering open at the slice shown, keeping the side away from you"));
    ui->verticalLayout_3->addWidget(sliceCutCheckBox);
    connect(sliceCutCheckBox, &QCheckBox::toggled, this, [this](bool on) {
        context.session->setSliceCutAxis(on ? context.ui->slicingComboBox->currentIndex() : -1);
    });
    connect(context.session, &ViewerSession::sliceCutChanged, this,
            [this] { sliceCutCheckBox->setChecked(context.session->scene().sliceCutAxis >= 0); });

    cursorOverlay = new CursorOverlay(context.renderer);
    // Below the slice cut, which it moves.
    cursorMarkerCheckBox = new QCheckBox(tr("Show cursor in rendering"), ui->groupBox);
    cursorMarkerCheckBox->setObjectName("cursorMarkerCheckBox");
    cursorMarkerCheckBox->setChecked(true);
    cursorMarkerCheckBox->setToolTip(
        tr("Mark the slice cursor in the rendering with short X (red), Y (green) and Z (blue) "
           "lines; Shift+click on the rendering moves the cursor there"));
    ui->verticalLayout_3->addWidget(cursorMarkerCheckBox);
    connect(cursorMarkerCheckBox, &QCheckBox::toggled, this, [this] { showCursorInRendering(); });
}

void SliceViewsController::addViews()
{
    MainWindowUi *ui = context.ui;
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
        auto *view =
            new OrthogonalSliceView(places[i].plane, context.session->slices(), ui->centralWidget);
        view->setObjectName(places[i].objectName);
        view->hide();
        fourViewLayout->addWidget(view, places[i].row, places[i].column);
        connect(view, &OrthogonalSliceView::hovered, this, [this, view](const VoxelIndex &voxel) {
            lastHovered = view;
            if (const Volume *volume = context.session->volume())
                showReadout(voxelReadout(*volume, voxel), voxel);
        });
        connect(view, &OrthogonalSliceView::hoverLeft, this,
                &SliceViewsController::showSessionReadout);
        views[i] = view;
    }
    for (int i = 0; i < 2; ++i) {
        fourViewLayout->setRowStretch(i, 1);
        fourViewLayout->setColumnStretch(i, 1);
    }

    readoutLabel = new QLabel(context.window);
    readoutLabel->setObjectName("cursorReadoutLabel");
    readoutLabel->setToolTip(
        tr("Voxel under the mouse in a slice view (else the cursor): index, position in mm "
           "from the first voxel (LPS for scans) and value in the file's units"));
    context.window->statusBar()->addPermanentWidget(readoutLabel);

    if (QMenu *viewMenu = context.menu("menuAnsicht")) {
        viewMenu->addSeparator();
        QAction *fourViews = viewMenu->addAction(tr("Vier Ansichten"));
        fourViews->setObjectName("actionVier_Ansichten");
        fourViews->setCheckable(true);
        fourViews->setShortcut(QKeySequence(tr("Ctrl+4")));
        fourViews->setToolTip(tr("Axial, coronal and sagittal slices beside the rendering"));
        connect(fourViews, &QAction::toggled, context.session, &ViewerSession::setFourViews);
        connect(context.session, &ViewerSession::layoutChanged, fourViews,
                [this, fourViews] { fourViews->setChecked(context.session->scene().fourViews); });
    }
}

void SliceViewsController::setFourViewLayout(bool on)
{
    MainWindowUi *ui = context.ui;
    if (ui->groupBox->isHidden() == on)
        return;
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
    for (OrthogonalSliceView *view : views)
        view->setVisible(on);
    // Hiding the focused view would hand focus on down the chain, to a
    // spin box that the arrow keys would then change.
    if (on)
        views[0]->setFocus(Qt::OtherFocusReason);
    else
        ui->slicingView->setFocus(Qt::OtherFocusReason);
}

void SliceViewsController::showVolume(bool keepPlace)
{
    MainWindowUi *ui = context.ui;
    SliceSession *slices = context.session->slices();
    const Volume *volume = context.session->volume();
    const VoxelIndex cursor = slices->cursor();
    const WindowLevel window = slices->windowLevel();
    const bool inverted = slices->isInvertedGrey();
    const int slice = ui->slicingScrollBar->value();
    // The view only reads the volume; its member has always been non-const.
    ui->slicingView->volume = const_cast<Volume *>(volume);
    if (!keepPlace) {
        ui->slicingView->axis = 0;
        ui->slicingView->slice = 0;
    }
    ui->slicingView->repaint();
    nameAxes();
    updateSlicingRange();
    const int middleSlice = ui->slicingScrollBar->value();
    if (keepPlace)
        ui->slicingScrollBar->setValue(slice);
    updateSlicingView();
    slices->setVolume(volume);
    if (keepPlace) {
        slices->setCursor(cursor);
        slices->setWindowLevel(window);
        slices->setInvertedGrey(inverted);
        // Another volume of a series under the same cursor: a new value.
        showSessionReadout();
    } else {
        // The left view opens at its middle slice, and the cursor with it
        // (the session put it at the centre voxel, a half slice lower).
        ui->slicingScrollBar->setValue(middleSlice);
        moveCursorToLeftSlice();
    }
    ui->slicingView->greyMapping = slices->greyMapping();
    showCursorInRendering();
}

void SliceViewsController::nameAxes()
{
    // A scan's axes are its anatomical planes; a DAT file's are plain axes.
    const Volume *volume = context.session->volume();
    const bool scan = volume && volume->patientFrame;
    const char *const names[2][3] = {
        {QT_TR_NOOP("X axis"), QT_TR_NOOP("Y axis"), QT_TR_NOOP("Z axis")},
        {QT_TR_NOOP("Sagittal (X)"), QT_TR_NOOP("Koronal (Y)"), QT_TR_NOOP("Axial (Z)")}};
    for (int axis = 0; axis < 3; ++axis)
        context.ui->slicingComboBox->setItemText(
            axis, QCoreApplication::translate("MainWindow", names[scan ? 1 : 0][axis]));
}

void SliceViewsController::sliceChanged()
{
    updateSlicingView();
    moveCursorToLeftSlice();
}

void SliceViewsController::axisChanged()
{
    // The other axis starts at its middle slice, and the cursor with it.
    updateSlicingRange();
    updateSlicingView();
    const int axis = context.ui->slicingComboBox->currentIndex();
    context.session->setSliceAxis(axis);
    if (context.session->scene().sliceCutAxis >= 0)
        context.session->setSliceCutAxis(axis);
}

void SliceViewsController::updateSlicingView()
{
    SlicingView *view = context.ui->slicingView;
    view->axis = context.ui->slicingComboBox->currentIndex();
    view->slice = context.ui->slicingScrollBar->value();
    if (const Volume *volume = context.session->volume()) {
        // The slice view must never push the window beyond the screen.
        const QScreen *shown = context.window->screen();
        const QSize limit = shown ? shown->availableSize() / 2 : QSize(1024, 1024);
        const QSize size = sliceDisplaySize(*volume, view->axis, limit);
        if (size.isValid()) {
            view->setMinimumSize(size);
            view->setMaximumSize(size);
        }
    }
    view->repaint();
}

void SliceViewsController::updateSlicingRange()
{
    const Volume *volume = context.session->volume();
    const int axis = context.ui->slicingComboBox->currentIndex();
    if (!volume || axis < 0 || axis > 2)
        return;
    // An axis without slices (depth 0) keeps the range 0..0 rather than the
    // inverted range 0..-1, which would drag the minimum below zero.
    context.ui->slicingScrollBar->setMaximum(std::max(sliceCount(*volume, axis) - 1, 0));
    // The middle slice shows the subject; slice 0 of a scan is mostly air.
    context.ui->slicingScrollBar->setValue(sliceCount(*volume, axis) / 2);
}

void SliceViewsController::followCursorInLeftView()
{
    // The scroll bar follows, and with it the view and the slice cut.
    const SliceSession *slices = context.session->slices();
    if (context.session->volume() && slices->volume() == context.session->volume())
        context.ui->slicingScrollBar->setValue(
            slices->cursor()[std::size_t(context.ui->slicingComboBox->currentIndex())]);
}

void SliceViewsController::moveCursorToLeftSlice()
{
    SliceSession *slices = context.session->slices();
    if (!context.session->volume() || slices->volume() != context.session->volume())
        return;
    VoxelIndex cursor = slices->cursor();
    cursor[std::size_t(context.ui->slicingComboBox->currentIndex())] =
        context.ui->slicingScrollBar->value();
    slices->setCursor(cursor);
}

void SliceViewsController::showCursorInRendering()
{
    const Volume *volume = context.session->slices()->volume();
    const bool shown = cursorMarkerCheckBox->isChecked() && volume;
    cursorOverlay->setCursorVoxel(
        shown ? std::optional<VoxelIndex>(context.session->slices()->cursor()) : std::nullopt,
        shown ? SliceGrid::of(*volume) : SliceGrid());
}

void SliceViewsController::showSessionReadout()
{
    if (const Volume *volume = context.session->volume())
        showReadout(
            tr("Cursor: %1").arg(voxelReadout(*volume, context.session->slices()->cursor())),
            context.session->slices()->cursor());
}

void SliceViewsController::showReadout(const QString &voxelText, const std::array<int, 3> &voxel)
{
    const SliceSession *slices = context.session->slices();
    QString text = voxelText.isEmpty() || !slices->volume()
                       ? voxelText
                       : voxelText + "  " + windowLevelText(slices->windowLevel());
    if (!voxelText.isEmpty() && slices->volume() && !slices->layers().empty())
        text += "  |  " + layerReadout(*slices->volume(), voxel, slices->layers());
    readoutLabel->setText(text);
}

QWidget *SliceViewsController::sliceViewForPicture() const
{
    if (lastHovered && lastHovered->isVisible())
        return lastHovered;
    for (OrthogonalSliceView *view : views)
        if (view && view->isVisible())
            return view;
    return context.ui->slicingView;
}

void SliceViewsController::detach()
{
    context.ui->slicingView->volume = nullptr;
    context.session->slices()->setVolume(nullptr);
}
