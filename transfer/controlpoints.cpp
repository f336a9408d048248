#include "controlpoints.h"

#include <QColor>
#include <QLineF>
#include <QPoint>
#include <QPointF>
#include <QRectF>
#include <QSize>
#include <QSizeF>

#include <algorithm>
#include <cmath>
#include <numeric>

namespace ControlPoints {

QPointF clampToLimits(const QPointF &p, const QRectF &limits, uint lockFlags)
{
    const double left = limits.x();
    const double right = limits.x() + limits.width();
    const double top = limits.y();
    const double bottom = limits.y() + limits.height();

    // Locks are looked at before the range: a point locked to the right edge
    // stays there even when dragged past the left edge.
    QPointF clamped = p;
    if (lockFlags & LockLeftEdge)
        clamped.setX(left);
    else if (lockFlags & LockRightEdge)
        clamped.setX(right);
    else if (p.x() < left)
        clamped.setX(left);
    else if (p.x() > right)
        clamped.setX(right);

    if (lockFlags & LockTopEdge)
        clamped.setY(top);
    else if (lockFlags & LockBottomEdge)
        clamped.setY(bottom);
    else if (p.y() < top)
        clamped.setY(top);
    else if (p.y() > bottom)
        clamped.setY(bottom);
    return clamped;
}

int insertionIndex(const QPolygonF &points, const QPointF &pos, SortOrder order)
{
    if (order == Unsorted)
        return 0;
    for (int i = 0; i < points.size(); ++i) {
        const bool greater =
            order == SortByX ? points.at(i).x() > pos.x() : points.at(i).y() > pos.y();
        if (greater)
            return i;
    }
    // Nothing has a greater key: the point goes to the front and the re-sort
    // that follows every insertion carries it to its place.
    return 0;
}

int sortKeepingActive(QPolygonF &points, SortOrder order, int activeIndex, QList<int> *newIndices)
{
    QList<int> oldIndexAt(points.size());
    std::iota(oldIndexAt.begin(), oldIndexAt.end(), 0);
    const bool hasActive = activeIndex >= 0 && activeIndex < points.size();
    const QPointF old = hasActive ? points.at(activeIndex) : QPointF();

    if (order != Unsorted) {
        // Stable: with an unstable sort two points on the same x may swap, and
        // since lock words stay with indices a dragged point could take over
        // the lock of the end point it meets at the edge.
        const auto key = [&](int index) {
            return order == SortByX ? points.at(index).x() : points.at(index).y();
        };
        std::stable_sort(oldIndexAt.begin(), oldIndexAt.end(),
                         [&](int a, int b) { return key(a) < key(b); });
        QPolygonF sorted;
        sorted.reserve(points.size());
        for (int index : std::as_const(oldIndexAt))
            sorted.append(points.at(index));
        points = sorted;
    }

    if (newIndices) {
        newIndices->resize(points.size());
        for (int i = 0; i < oldIndexAt.size(); ++i)
            (*newIndices)[oldIndexAt.at(i)] = i;
    }

    if (order == Unsorted || !hasActive)
        return activeIndex;
    for (int i = 0; i < points.size(); ++i) {
        const QPointF &p = points.at(i);
        if (std::abs(p.x() - old.x()) <= 1e-12 && std::abs(p.y() - old.y()) <= 1e-12)
            return i;
    }
    return activeIndex;
}

int touchTarget(const QPolygonF &points, const QList<int> &drivenIndices, const QPointF &pos,
                double radius)
{
    if (points.size() == 2) {
        const bool first = drivenIndices.contains(0);
        const bool second = drivenIndices.contains(1);
        // A second finger on a two-point strip always takes the free end.
        if (first != second)
            return first ? 1 : 0;
    }

    int best = -1;
    double bestDistance = -1.0;
    for (int i = 0; i < points.size(); ++i) {
        if (drivenIndices.contains(i))
            continue;
        const double d = QLineF(pos, points.at(i)).length();
        if ((bestDistance < 0.0 && d < radius) || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    }
    return best;
}

std::optional<QPolygonF> scaledPoints(const QPolygonF &points, const QList<uint> &locks,
                                      const QSize &oldSize, const QSize &newSize,
                                      const QRectF &limits)
{
    if (oldSize.width() <= 0 || oldSize.height() <= 0)
        return std::nullopt;
    const double sx = double(newSize.width()) / double(oldSize.width());
    const double sy = double(newSize.height()) / double(oldSize.height());

    QPolygonF scaled;
    scaled.reserve(points.size());
    for (int i = 0; i < points.size(); ++i) {
        const QPointF &p = points.at(i);
        const uint lock = i < locks.size() ? locks.at(i) : 0u;
        scaled.append(clampToLimits(QPointF(p.x() * sx, p.y() * sy), limits, lock));
    }
    return scaled;
}

std::optional<QPointF> columnSamplePoint(const QPolygonF &points, int x)
{
    const double column = x;
    for (int i = 1; i < points.size(); ++i) {
        const QPointF &start = points.at(i - 1);
        const QPointF &end = points.at(i);
        if (!(start.x() <= column && column <= end.x()))
            continue;
        // start.x == end.x here means both lie on this column: interpolating
        // would divide zero by zero, so take the end point as for a null segment.
        if (end.x() == start.x())
            return end;
        const double t = (column - start.x()) / (end.x() - start.x());
        return QPointF(column, start.y() + (end.y() - start.y()) * t);
    }
    return std::nullopt;
}

QPoint samplePixel(const QPointF &p, const QSize &imageSize)
{
    // Clamped from above first, so an empty image yields pixel (0, 0) rather
    // than a negative index.
    const double x = std::max(0.0, std::min(p.x(), double(imageSize.width() - 1)));
    const double y = std::max(0.0, std::min(p.y(), double(imageSize.height() - 1)));
    return QPoint(int(x + 0.5), int(y + 0.5));
}

int channelValue(QRgb rgba, ShadeChannel channel)
{
    switch (channel) {
    case RedChannel:
        return qRed(rgba);
    case GreenChannel:
        return qGreen(rgba);
    case BlueChannel:
        return qBlue(rgba);
    case AlphaChannel:
        return qAlpha(rgba);
    }
    return 0;
}

QList<int> mergedSampleColumns(QPolygonF points)
{
    std::sort(points.begin(), points.end(),
              [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
    QList<int> columns;
    for (int i = 0; i < points.size(); ++i) {
        const double truncated = std::trunc(points.at(i).x());
        // Deliberately against the next point's untruncated x: only points
        // on the very same integral x collapse into one stop.
        if (i + 1 < points.size() && truncated == points.at(i + 1).x())
            continue;
        columns.append(int(truncated));
    }
    return columns;
}

StopList stopsFromColumns(const QList<int> &columns, int stripWidth,
                          const std::function<QColor(int column)> &colourAt)
{
    StopList result;
    for (int column : columns) {
        double position = 0.0;
        if (stripWidth > 0)
            position = double(column) / double(stripWidth);
        else if (column != 0)
            position = 2.0; // a zero-width strip has no column right of its edge
        if (position > 1.0) {
            result.complete = false;
            break;
        }
        result.stops.append(QGradientStop(position, colourAt(column)));
    }
    return result;
}

QColor stopColour(QRgb red, QRgb green, QRgb blue, QRgb alpha)
{
    return QColor(qRed(red), qGreen(green), qBlue(blue), qAlpha(alpha));
}

QPolygonF channelPointsFromStops(const QGradientStops &stops, ShadeChannel channel,
                                 const QSizeF &stripSize)
{
    const double width = stripSize.width();
    const double height = stripSize.height();
    QPolygonF points;
    points.reserve(stops.size());
    for (const QGradientStop &stop : stops) {
        const int value = channelValue(stop.second.rgba(), channel);
        points.append(QPointF(stop.first * width, height - value * height / 255.0));
    }
    return points;
}

} // namespace ControlPoints
