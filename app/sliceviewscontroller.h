#pragma once

#include <QCoreApplication>
#include <QObject>

#include <array>

class CursorOverlay;
class OrthogonalSliceView;
class QCheckBox;
class QGridLayout;
class QLabel;
struct WindowContext;

// The slice side of the window: the single slice view on the left (axis box
// and scroll bar), the three linked views of the four-view layout, the
// cursor readout, the cursor in the rendering and the cut of the rendering
// at the cursor's slice. The left view and the session's cursor move
// together along the view's axis; the scroll bar is the one writer of both.
class SliceViewsController : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    SliceViewsController(WindowContext &context, QObject *parent);

    // The left view after its scroll bar or axis box changed.
    void sliceChanged();
    void axisChanged();
    // The single view's slice and its size (never beyond half the screen).
    void updateSlicingView();
    // The scroll bar's range for the axis, at its middle slice.
    void updateSlicingRange();
    // Lets go of the volume before the window goes.
    void detach();
    // The slice view a picture of "the slice view" shows: the one of the four
    // views the pointer was over last, else the first shown, else the single
    // view on the left.
    QWidget *sliceViewForPicture() const;

private:
    void addViews();
    void addCheckBoxes();
    void showVolume(bool keepPlace);
    void setFourViewLayout(bool on);
    void followCursorInLeftView();
    void moveCursorToLeftSlice();
    void showCursorInRendering();
    void showReadout(const QString &voxelText, const std::array<int, 3> &voxel);
    void showSessionReadout();
    void nameAxes();

    WindowContext &context;
    std::array<OrthogonalSliceView *, 3> views{}; // axial, coronal, sagittal
    OrthogonalSliceView *lastHovered = nullptr;
    QGridLayout *fourViewLayout = nullptr;
    QLabel *readoutLabel = nullptr;
    QCheckBox *sliceCutCheckBox = nullptr;
    QCheckBox *cursorMarkerCheckBox = nullptr;
    CursorOverlay *cursorOverlay = nullptr;
};
