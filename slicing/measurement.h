#pragma once

#include <QPointF>
#include <QString>

#include <array>
#include <vector>

// A measurement a reader makes on the views: a distance between two points
// or the angle at the second of three, the points in world millimetres (LPS
// in a scan, the volume's own x, y, z otherwise), so that it belongs to the
// place measured, not to a view.
struct Measurement
{
    enum class Kind
    {
        Distance,
        Angle
    };

    Kind kind = Kind::Distance;
    std::vector<std::array<double, 3>> points; // 2 for a distance, 3 for an angle

    // Whether the points fit the kind.
    bool isComplete() const { return points.size() == (kind == Kind::Distance ? 2u : 3u); }
    // The distance in mm, or the angle in degrees (0..180); 0 while
    // incomplete or where an arm of the angle has no length.
    double value() const;
    // "12.3 mm" or "45.0°".
    QString text() const;

    bool operator==(const Measurement &other) const
    {
        return kind == other.kind && points == other.points;
    }
};

class QPainter;

// Draws a measurement whose points lie at the given widget positions (as
// many as it has, or fewer while it is being made): its lines with a dark
// edge, and its value beside its second point once complete.
void drawMeasurement(QPainter &painter, const Measurement &measurement,
                     const std::vector<QPointF> &points);
