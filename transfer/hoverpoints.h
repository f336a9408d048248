#pragma once

#include "controlpoints.h"

#include <QBrush>
#include <QHash>
#include <QList>
#include <QObject>
#include <QPen>
#include <QPolygonF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <optional>

class QEvent;
class QMouseEvent;
class QTouchEvent;
class QWidget;

// Makes any widget an editor of a small list of control points: it filters the
// widget's mouse, touch, resize and paint events, draws the points (and links
// between them) over the widget's own painting, lets the user drag, add (left
// press on empty space) and remove (right press) points, keeps them inside the
// limits and rescales them with the widget. Points are in the widget's pixel
// coordinates. A Qt child of the widget, destroyed with it.
class HoverPoints : public QObject
{
    Q_OBJECT

public:
    enum MarkerShape
    {
        EllipseMarker = 0,
        RectMarker = 1
    };
    enum LinkStyle
    {
        NoLink = 0,
        StraightLink = 1,
        CurvedLink = 2
    };

    using SortOrder = ControlPoints::SortOrder;
    static constexpr SortOrder Unsorted = ControlPoints::Unsorted;
    static constexpr SortOrder SortByX = ControlPoints::SortByX;
    static constexpr SortOrder SortByY = ControlPoints::SortByY;

    static constexpr uint LockLeftEdge = ControlPoints::LockLeftEdge;
    static constexpr uint LockRightEdge = ControlPoints::LockRightEdge;
    static constexpr uint LockTopEdge = ControlPoints::LockTopEdge;
    static constexpr uint LockBottomEdge = ControlPoints::LockBottomEdge;

    HoverPoints(QWidget *widget, MarkerShape shape);

    QPolygonF controlPoints() const { return points; }

    // Replaces the points (each clamped into the limits, none locked) and
    // clears every lock word. Emits nothing and ends a drag in progress; the
    // caller repaints.
    void setControlPoints(const QPolygonF &newPoints);

    // The lock word (LockFlag bits) of an existing index; it acts at the next
    // move of that index. Indices without a point are ignored.
    void setLockFlags(int index, uint flags);
    uint lockFlags(int index) const { return locks.value(index, 0u); }

    void setSortOrder(SortOrder order) { sortOrder = order; }
    void setLinkStyle(LinkStyle style) { linkStyle = style; }
    void setMarkerSize(const QSizeF &size) { markerSize = size; }
    void setAddRemoveAllowed(bool allowed) { addRemoveAllowed = allowed; }
    // A rectangle without positive width and height means "the widget's rect".
    void setLimitRect(const QRectF &rect) { limitRect = rect; }

    bool isEnabled() const { return enabled; }
    // Index of the point the mouse drags; -1 when none.
    int activePointIndex() const { return activeIndex; }

    // limitRect when it has a positive width and height, else (0, 0, W, H) of
    // the widget: the right and bottom edges (x = W, y = H) are inside.
    QRectF effectiveLimits() const;

    bool eventFilter(QObject *object, QEvent *event) override;

public slots:
    // Turning the editor off lets every event through and hides the markers;
    // either change repaints the widget, an unchanged value does nothing.
    void setEnabled(bool enabled);
    void setDisabled(bool disabled);

signals:
    // The whole point list after a change by mouse, touch or resize.
    void pointsChanged(const QPolygonF &points);

private:
    bool mousePress(QMouseEvent *event);
    void touchUpdate(QTouchEvent *event);
    int pointAt(const QPointF &pos) const;
    QRectF markerRect(const QPointF &p) const;
    void moveControlPoint(int index, const QPointF &pos, bool notify);
    void resortAndNotify();
    void resize(const QSize &oldSize, const QSize &newSize);
    void forgetCollapse();
    void drawOverlay();

    QWidget *watchedWidget;
    QPolygonF points;
    QRectF limitRect;
    MarkerShape shape;
    SortOrder sortOrder = Unsorted;
    LinkStyle linkStyle = CurvedLink;
    QList<uint> locks; // one word per point, by index (not by point)
    QSizeF markerSize{11.0, 11.0};
    int activeIndex = -1;
    // Where the mouse took hold of a point that has not moved yet: a pointer
    // that trembles less than the drag distance (a click, a double click)
    // leaves the point where it is.
    std::optional<QPointF> pressPosition;
    bool addRemoveAllowed = true;
    bool enabled = true;
    QHash<int, int> touchAssignments; // touch-point id -> point index
    QPen markerPen;
    QBrush markerBrush;
    QPen linkPen;
    // The points and size from just before the widget was squeezed to no
    // area: scaling them to zero put every point on the origin, so growing
    // again starts from these instead. Empty while the widget has an area.
    QPolygonF pointsBeforeCollapse;
    QSize sizeBeforeCollapse;
    // Set while the widget paints itself inside our paint handling, so the
    // nested paint event is passed through instead of filtered again.
    bool forwardingPaint = false;
};
