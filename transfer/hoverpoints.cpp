#include "hoverpoints.h"

#include <QCoreApplication>
#include <QEvent>
#include <QEventPoint>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QResizeEvent>
#include <QTouchEvent>
#include <QWidget>

HoverPoints::HoverPoints(QWidget *widget, MarkerShape markerShape)
    : QObject(widget), watchedWidget(widget), shape(markerShape),
      markerPen(QBrush(QColor(255, 255, 255, 191)), 1.0, Qt::SolidLine, Qt::SquareCap,
                Qt::BevelJoin),
      markerBrush(QColor(191, 191, 191, 127), Qt::SolidPattern),
      linkPen(QBrush(QColor(255, 255, 255, 127)), 2.0, Qt::SolidLine, Qt::SquareCap, Qt::BevelJoin)
{
    widget->installEventFilter(this);
    widget->setAttribute(Qt::WA_AcceptTouchEvents, true);
    connect(this, &HoverPoints::pointsChanged, widget, qOverload<>(&QWidget::update));
}

void HoverPoints::setControlPoints(const QPolygonF &newPoints)
{
    if (newPoints.size() != points.size())
        touchAssignments.clear();
    // The dragged index would otherwise point at another point or past the end.
    activeIndex = -1;

    const QRectF limits = effectiveLimits();
    points.clear();
    points.reserve(newPoints.size());
    for (const QPointF &p : newPoints)
        points.append(ControlPoints::clampToLimits(p, limits, 0));
    locks.clear();
    locks.resize(points.size(), 0u);
    // Points set while the widget has no area replace what it had before.
    forgetCollapse();
}

void HoverPoints::setLockFlags(int index, uint flags)
{
    if (index >= 0 && index < locks.size())
        locks[index] = flags;
}

QRectF HoverPoints::effectiveLimits() const
{
    if (limitRect.width() > 0 && limitRect.height() > 0)
        return limitRect;
    return QRectF(0, 0, watchedWidget->width(), watchedWidget->height());
}

void HoverPoints::setEnabled(bool value)
{
    if (value == enabled)
        return;
    enabled = value;
    watchedWidget->update();
}

void HoverPoints::setDisabled(bool disabled)
{
    setEnabled(!disabled);
}

namespace {

// Pixels (Qt's Manhattan length) a hand moves the pointer while it clicks or
// double-clicks on a point without meaning to drag it. Qt's drag distance is
// far too large for strips a few dozen pixels high.
constexpr double clickTremor = 3.0;

} // namespace

bool HoverPoints::eventFilter(QObject *object, QEvent *event)
{
    if (object != watchedWidget || !enabled || forwardingPaint)
        return false;

    switch (event->type()) {
    case QEvent::MouseButtonPress:
        return mousePress(static_cast<QMouseEvent *>(event));

    case QEvent::MouseMove:
        // While fingers drive points the mouse (often synthesised from those
        // very fingers) must not move anything.
        if (!touchAssignments.isEmpty())
            return true;
        if (activeIndex < 0)
            return false;
        if (pressPosition) {
            const QPointF position = static_cast<QMouseEvent *>(event)->position();
            if ((position - *pressPosition).manhattanLength() < clickTremor)
                return false;
            pressPosition.reset();
        }
        moveControlPoint(activeIndex, static_cast<QMouseEvent *>(event)->position(), true);
        return false;

    case QEvent::MouseButtonRelease:
        if (!touchAssignments.isEmpty())
            return true;
        activeIndex = -1;
        return false;

    case QEvent::Resize: {
        const auto *resize = static_cast<QResizeEvent *>(event);
        this->resize(resize->oldSize(), resize->size());
        return false;
    }

    case QEvent::Paint:
        // The widget paints itself first; the markers go on top.
        forwardingPaint = true;
        QCoreApplication::sendEvent(watchedWidget, event);
        forwardingPaint = false;
        drawOverlay();
        return true;

    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
        touchUpdate(static_cast<QTouchEvent *>(event));
        if (touchAssignments.isEmpty()) {
            event->ignore();
            return false;
        }
        return true;

    case QEvent::TouchEnd: {
        // The last finger's release arrives here: it still moves its point, and
        // no finger is left on the screen, so no assignment may outlive it
        // (a stale one would swallow every later mouse event).
        const bool driving = !touchAssignments.isEmpty();
        touchUpdate(static_cast<QTouchEvent *>(event));
        touchAssignments.clear();
        if (!driving) {
            event->ignore();
            return false;
        }
        return true;
    }

    case QEvent::TouchCancel:
        touchAssignments.clear();
        return false;

    default:
        return false;
    }
}

bool HoverPoints::mousePress(QMouseEvent *event)
{
    if (!touchAssignments.isEmpty())
        return true;

    const QPointF clickPos = event->position();
    const int index = pointAt(clickPos);

    if (event->button() == Qt::LeftButton) {
        if (index >= 0) {
            // Selected only: the point follows later moves, it does not jump.
            activeIndex = index;
            pressPosition = clickPos;
            return true;
        }
        if (!addRemoveAllowed)
            return false;
        const int pos = ControlPoints::insertionIndex(points, clickPos, sortOrder);
        points.insert(pos, clickPos);
        locks.insert(pos, 0u);
        forgetCollapse();
        activeIndex = pos;
        pressPosition.reset();
        resortAndNotify();
        return true;
    }

    if (event->button() == Qt::RightButton) {
        if (index < 0 || !addRemoveAllowed)
            return false;
        if (locks.at(index) == 0) {
            points.remove(index);
            locks.remove(index);
            forgetCollapse();
            // A drag in progress would now designate another point, or none.
            activeIndex = -1;
        }
        resortAndNotify();
        return true;
    }

    return false;
}

void HoverPoints::resize(const QSize &oldSize, const QSize &newSize)
{
    const auto hasArea = [](const QSize &size) { return size.width() > 0 && size.height() > 0; };
    QPolygonF from = points;
    QSize fromSize = oldSize;
    if (!hasArea(oldSize) && hasArea(newSize) && !sizeBeforeCollapse.isEmpty() &&
        pointsBeforeCollapse.size() == points.size()) {
        from = pointsBeforeCollapse;
        fromSize = sizeBeforeCollapse;
    }
    if (hasArea(oldSize) && !hasArea(newSize) && sizeBeforeCollapse.isEmpty()) {
        pointsBeforeCollapse = points;
        sizeBeforeCollapse = oldSize;
    } else if (hasArea(newSize)) {
        forgetCollapse();
    }

    const std::optional<QPolygonF> scaled =
        ControlPoints::scaledPoints(from, locks, fromSize, newSize, effectiveLimits());
    if (!scaled)
        return;
    points = *scaled;
    resortAndNotify();
}

void HoverPoints::forgetCollapse()
{
    pointsBeforeCollapse.clear();
    sizeBeforeCollapse = QSize();
}

void HoverPoints::touchUpdate(QTouchEvent *event)
{
    const double markerExtent = qMax(markerSize.width(), markerSize.height());
    for (const QEventPoint &touchPoint : event->points()) {
        const int id = touchPoint.id();
        switch (touchPoint.state()) {
        case QEventPoint::Pressed: {
            const int target = ControlPoints::touchTarget(
                points, touchAssignments.values(), touchPoint.position(), 12.0 * markerExtent);
            if (target >= 0) {
                touchAssignments.insert(id, target);
                moveControlPoint(target, touchPoint.position(), true);
            }
            break;
        }
        case QEventPoint::Updated: {
            const int index = touchAssignments.value(id, -1);
            if (index >= 0 && index < points.size())
                moveControlPoint(index, touchPoint.position(), true);
            break;
        }
        case QEventPoint::Released: {
            const auto it = touchAssignments.constFind(id);
            if (it == touchAssignments.constEnd())
                break;
            const int index = it.value();
            if (index >= 0 && index < points.size())
                moveControlPoint(index, touchPoint.position(), true);
            touchAssignments.remove(id);
            break;
        }
        default:
            break;
        }
    }
}

QRectF HoverPoints::markerRect(const QPointF &p) const
{
    const double w = markerSize.width();
    const double h = markerSize.height();
    return QRectF(p + QPointF(-0.5 * w, -0.5 * h), markerSize);
}

int HoverPoints::pointAt(const QPointF &pos) const
{
    for (int i = 0; i < points.size(); ++i) {
        QPainterPath outline;
        if (shape == EllipseMarker)
            outline.addEllipse(markerRect(points.at(i)));
        else
            outline.addRect(markerRect(points.at(i)));
        if (outline.contains(pos))
            return i;
    }
    return -1;
}

void HoverPoints::moveControlPoint(int index, const QPointF &pos, bool notify)
{
    points[index] = ControlPoints::clampToLimits(pos, effectiveLimits(), locks.value(index, 0u));
    if (notify)
        resortAndNotify();
}

void HoverPoints::resortAndNotify()
{
    // Only the points move: lock words stay with their indices, so the locked
    // ends of a strip stay locked whichever point is at an end. Fingers follow
    // their points to the new indices, as the mouse's dragged point does.
    QList<int> newIndices;
    activeIndex = ControlPoints::sortKeepingActive(points, sortOrder, activeIndex, &newIndices);
    for (auto it = touchAssignments.begin(); it != touchAssignments.end(); ++it)
        if (it.value() >= 0 && it.value() < newIndices.size())
            it.value() = newIndices.at(it.value());
    emit pointsChanged(points);
}

void HoverPoints::drawOverlay()
{
    QPainter painter(watchedWidget);
    painter.setRenderHint(QPainter::Antialiasing);

    if (linkPen.style() != Qt::NoPen && linkStyle != NoLink && !points.isEmpty()) {
        painter.setPen(linkPen);
        painter.setBrush(Qt::NoBrush);
        if (linkStyle == CurvedLink) {
            // Each segment leaves and enters its end points horizontally.
            QPainterPath path(points.at(0));
            for (int i = 1; i < points.size(); ++i) {
                const QPointF &from = points.at(i - 1);
                const QPointF &to = points.at(i);
                const double mx = from.x() + (to.x() - from.x()) * 0.5;
                path.cubicTo(QPointF(mx, from.y()), QPointF(mx, to.y()), to);
            }
            painter.drawPath(path);
        } else {
            painter.drawPolyline(points);
        }
    }

    painter.setPen(markerPen);
    painter.setBrush(markerBrush);
    for (const QPointF &p : std::as_const(points)) {
        if (shape == EllipseMarker)
            painter.drawEllipse(markerRect(p));
        else
            painter.drawRect(markerRect(p));
    }
}
