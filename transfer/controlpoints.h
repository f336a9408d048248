#pragma once

#include <QGradient>
#include <QList>
#include <QPolygonF>
#include <QRgb>

#include <functional>
#include <optional>

class QColor;
class QPoint;
class QPointF;
class QRectF;
class QSize;
class QSizeF;

// The channel one strip of the transfer-function editor edits.
enum ShadeChannel
{
    RedChannel = 0,
    GreenChannel = 1,
    BlueChannel = 2,
    AlphaChannel = 3
};

// Control-point arithmetic of the transfer-function editor, kept apart from the
// widgets so that it can be checked without events. Points are in the pixel
// coordinates of one strip: origin top-left, y downwards, limits including the
// right and bottom edges.
namespace ControlPoints {

// Order kept among the points of one editor.
enum SortOrder
{
    Unsorted = 0,
    SortByX = 1,
    SortByY = 2
};

// Bits of a point's lock word; a word of 0 means free (and deletable).
enum LockFlag : uint
{
    LockLeftEdge = 1,
    LockRightEdge = 2,
    LockTopEdge = 4,
    LockBottomEdge = 8
};

// p moved into limits (edges included, so a point on an edge stays). A lock
// flag pins its coordinate to that edge whatever p says, even beyond the
// opposite edge; left wins over right and top over bottom.
QPointF clampToLimits(const QPointF &p, const QRectF &limits, uint lockFlags);

// Where a point added at pos goes: before the first point with a strictly
// greater key (x or y); 0 when none has one, and always 0 for Unsorted.
int insertionIndex(const QPolygonF &points, const QPointF &pos, SortOrder order);

// Sorts points ascending by x or y (no-op for Unsorted) and returns the index
// the point formerly at activeIndex has now: the first point equal to it within
// 1e-12, or activeIndex unchanged when none matches. -1 stays -1.
// The sort is stable: points of equal key keep their order, so a strip's end
// point stays at its (locked) index when another point reaches the same edge.
// newIndices, when given, receives for every old index the index its point has
// now (identity for Unsorted).
int sortKeepingActive(QPolygonF &points, SortOrder order, int activeIndex,
                      QList<int> *newIndices = nullptr);

// The point a new finger at pos takes, or -1. With exactly two points and one
// of them driven, the finger takes the other regardless of distance; otherwise
// the nearest undriven point closer than radius (lower index on ties).
int touchTarget(const QPolygonF &points, const QList<int> &drivenIndices, const QPointF &pos,
                double radius);

// The points after the widget went from oldSize to newSize: each coordinate is
// scaled by the size ratio and clamped into limits with its point's lock word
// (locks[i]; missing words count as 0). An old size without a positive width
// and height (a first show reports -1 x -1) gives no ratio: nullopt.
std::optional<QPolygonF> scaledPoints(const QPolygonF &points, const QList<uint> &locks,
                                      const QSize &oldSize, const QSize &newSize,
                                      const QRectF &limits);

// Where a strip samples column x on the polyline through points (in index
// order): the first segment with x1 <= x <= x2, linearly interpolated. A
// segment that has no extent in x (null, or vertical) gives its end point.
// nullopt with fewer than two points or when no segment spans x.
std::optional<QPointF> columnSamplePoint(const QPolygonF &points, int x);

// The pixel of an image of imageSize that a sample point falls on: clamped into
// the image, then rounded half up.
QPoint samplePixel(const QPointF &p, const QSize &imageSize);

// The byte (0..255) of an 0xAARRGGBB value that a channel stands for.
int channelValue(QRgb rgba, ShadeChannel channel);

// The columns at which merged control points are sampled: the points sorted by
// x, each truncated toward zero; a point is skipped when its truncated x equals
// the next point's untruncated x (so 10.0 and 10.0 give one column, 10.5 and
// 10.5 two).
QList<int> mergedSampleColumns(QPolygonF points);

// Stops built from sample columns, position = column / stripWidth.
struct StopList
{
    QGradientStops stops; // the stops before the first column beyond the width
    bool complete = true; // false when a column lay beyond the width
};

// colourAt gives the stop colour of a column. A strip of zero width has only
// its left edge: column 0 maps to position 0, every other column lies beyond
// the width (no division by zero, no NaN positions).
StopList stopsFromColumns(const QList<int> &columns, int stripWidth,
                          const std::function<QColor(int column)> &colourAt);

// The stop colour from the samples of the four strips: the red byte of red,
// green of green, blue of blue and alpha of alpha.
QColor stopColour(QRgb red, QRgb green, QRgb blue, QRgb alpha);

// One strip's control points for a stop list: (position * width,
// height - value * height / 255) per stop, value the channel's byte of the
// stop's non-premultiplied colour.
QPolygonF channelPointsFromStops(const QGradientStops &stops, ShadeChannel channel,
                                 const QSizeF &stripSize);

} // namespace ControlPoints
