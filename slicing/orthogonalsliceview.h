#pragma once

#include "slicegeometry.h"
#include "sliceviewport.h"
#include "windowlevel.h"

#include <QImage>
#include <QPoint>
#include <QPointer>
#include <QWidget>

class SliceSession;

// One plane (axial, coronal or sagittal) of the session's volume, laid out
// by SliceGeometry and placed by a SliceViewport, with the session's window,
// the cursor's crosshair, the edge labels and the slice's index and position.
// The slice shown is the cursor's along the plane's normal.
//
// Mouse: left click or drag sets the cursor, middle drag pans, right drag
// sets the window (horizontal) and level (vertical), double click fits,
// wheel steps slices, Ctrl+wheel zooms about the cursor. Keys: Up/Right and
// Down/Left step one slice, Page Up/Page Down ten. The session is observed,
// not owned.
//
// Measuring: the ruler (key M, or the menu of a right click) measures the
// distance of a left drag, the angle tool the angle at the second of three
// left clicks; Escape goes back to the cursor. Every measurement of the
// session whose points lie on the slice shown (within half a slice) is drawn
// with its value.
class OrthogonalSliceView : public QWidget
{
    Q_OBJECT

public:
    OrthogonalSliceView(SlicePlane plane, SliceSession *session, QWidget *parent = nullptr);

    SlicePlane plane() const { return slicePlane; }
    SliceGeometry geometry() const;
    // The index of the slice shown along the plane's normal; -1 without a
    // volume.
    int slice() const;
    const SliceViewport &viewport() const { return view; }
    // Where the slice image lies in the widget.
    QRectF imageRect() const;
    // The voxel under a widget position (on the slice shown); none outside
    // the image or without a volume.
    bool voxelAtWidgetPosition(const QPointF &position, VoxelIndex *voxel) const;
    // The widget position of the cursor's crosshair.
    QPointF cursorWidgetPosition() const;

    // Back to zoom 1, no pan.
    void fit();

    enum class Tool
    {
        Cursor,
        Ruler,
        Angle
    };
    Tool tool() const { return activeTool; }
    void setTool(Tool tool);
    // The world position (mm, see SliceSession::cursorWorld()) of a widget
    // position on the slice shown, not rounded to a voxel; none outside the
    // image.
    bool worldAtWidgetPosition(const QPointF &position, std::array<double, 3> *world) const;

signals:
    // The voxel under the mouse pointer, while it moves over the image.
    void hovered(const VoxelIndex &voxel);
    // The pointer left the view (or the image).
    void hoverLeft();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void contextMenuEvent(QContextMenuEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    void setCursorAt(const QPointF &position);
    void drawMeasurements(QPainter &painter) const;
    // Where a world point lies in the widget; false where it is not on the
    // slice shown.
    bool widgetPositionOfWorld(const std::array<double, 3> &world, QPointF *position) const;
    void showToolMenu(const QPoint &globalPosition);
    void stepSlices(int steps);
    // The slice image for the session's state, rebuilt only when that changed.
    const QImage &currentImage();

    SlicePlane slicePlane;
    QPointer<SliceSession> session;
    SliceViewport view;

    enum class Drag
    {
        None,
        Cursor,
        Pan,
        Window,
        Measure
    };
    Tool activeTool = Tool::Cursor;
    // The points of the measurement being made, and where the pointer is.
    std::vector<std::array<double, 3>> pendingPoints;
    QPointF pointerPosition;
    Drag drag = Drag::None;
    QPoint dragStart;
    SliceViewport viewAtDragStart;
    WindowLevel windowAtDragStart;
    int wheelRemainder = 0; // eighths of a degree not yet turned into a step

    QImage image;
    bool imageStale = true;
    int imageSlice = -1;
};
