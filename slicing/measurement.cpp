#include "measurement.h"

#include <QPainter>
#include <QPen>

#include <cmath>

namespace {

std::array<double, 3> between(const std::array<double, 3> &from, const std::array<double, 3> &to)
{
    return {{to[0] - from[0], to[1] - from[1], to[2] - from[2]}};
}

double length(const std::array<double, 3> &v)
{
    return std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
}

} // namespace

double Measurement::value() const
{
    if (!isComplete())
        return 0.0;
    if (kind == Kind::Distance)
        return length(between(points[0], points[1]));
    const std::array<double, 3> a = between(points[1], points[0]);
    const std::array<double, 3> b = between(points[1], points[2]);
    const double lengths = length(a) * length(b);
    if (!(lengths > 0.0))
        return 0.0;
    const double cosine = (a[0] * b[0] + a[1] * b[1] + a[2] * b[2]) / lengths;
    return std::acos(std::fmax(-1.0, std::fmin(1.0, cosine))) * 180.0 / M_PI;
}

QString Measurement::text() const
{
    return kind == Kind::Distance ? QString("%1 mm").arg(value(), 0, 'f', 1)
                                  : QString("%1°").arg(value(), 0, 'f', 1);
}

void drawMeasurement(QPainter &painter, const Measurement &measurement,
                     const std::vector<QPointF> &points)
{
    const QColor colour(255, 220, 40);
    // A dark edge keeps the line visible over bright tissue.
    for (const auto &[width, pen] :
         {std::pair(3.5, QColor(0, 0, 0, 160)), std::pair(1.5, colour)}) {
        painter.setPen(QPen(pen, width));
        for (std::size_t i = 1; i < points.size(); ++i)
            painter.drawLine(points[i - 1], points[i]);
    }
    painter.setPen(QPen(colour, 1.5));
    for (const QPointF &point : points)
        painter.drawEllipse(point, 2.5, 2.5);
    if (!measurement.isComplete() || points.size() < 2)
        return;
    // Beside the end of a distance, the vertex of an angle.
    const QPointF at = points[1] + QPointF(6.0, -6.0);
    painter.setPen(Qt::black);
    painter.drawText(at + QPointF(1.0, 1.0), measurement.text());
    painter.setPen(colour);
    painter.drawText(at, measurement.text());
}
