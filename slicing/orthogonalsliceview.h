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
    void leaveEvent(QEvent *event) override;

private:
    void setCursorAt(const QPointF &position);
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
        Window
    };
    Drag drag = Drag::None;
    QPoint dragStart;
    SliceViewport viewAtDragStart;
    WindowLevel windowAtDragStart;
    int wheelRemainder = 0; // eighths of a degree not yet turned into a step

    QImage image;
    bool imageStale = true;
    int imageSlice = -1;
};
