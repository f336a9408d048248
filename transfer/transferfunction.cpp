#include "transferfunction.h"

#include <QColor>

#include <algorithm>
#include <cmath>

namespace {

// A stop colour's channel in 0..1 from its 16 bits: a byte-valued colour gives
// exactly byte / 255 (65535 = 255 * 257).
double channelOf(QRgba64 colour, ShadeChannel channel)
{
    switch (channel) {
    case RedChannel:
        return colour.red() / 65535.0;
    case GreenChannel:
        return colour.green() / 65535.0;
    case BlueChannel:
        return colour.blue() / 65535.0;
    case AlphaChannel:
        break;
    }
    return colour.alpha() / 65535.0;
}

} // namespace

TransferFunction TransferFunction::fromStops(const QGradientStops &stops)
{
    TransferFunction function;
    for (ShadeChannel c : {RedChannel, GreenChannel, BlueChannel, AlphaChannel}) {
        ChannelPoints &channel = function.channel(c);
        for (const QGradientStop &stop : stops)
            channel.points.append(QPointF(stop.first, channelOf(stop.second.rgba64(), c)));
        channel.locks = QList<uint>(channel.points.size(), 0u);
        // As on the strips: a single point ends up locked right only.
        if (!channel.locks.isEmpty()) {
            channel.locks.first() = ControlPoints::LockLeftEdge;
            channel.locks.last() = ControlPoints::LockRightEdge;
        }
    }
    return function;
}

std::pair<double, double> channelValueAt(const ChannelPoints &channel, double x)
{
    const QPolygonF &p = channel.points;
    if (p.isEmpty() || x < p.first().x() || x > p.last().x())
        return {0.0, 0.0};
    const auto byX = [](const QPointF &point, double value) { return point.x() < value; };
    const auto first = std::lower_bound(p.begin(), p.end(), x, byX);
    const auto past =
        std::upper_bound(p.begin(), p.end(), x,
                         [](double value, const QPointF &point) { return value < point.x(); });
    if (first != past)
        return {first->y(), (past - 1)->y()};
    // Strictly between two points: first is the right one, first - 1 the left.
    const QPointF &a = *(first - 1);
    const QPointF &b = *first;
    const double y = a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x());
    return {y, y};
}

QGradientStops TransferFunction::toStops() const
{
    QList<double> xs;
    for (const ChannelPoints &channel : channels)
        for (const QPointF &p : channel.points)
            xs.append(p.x());
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());

    // QColor keeps 16 bits a channel: faint opacities survive, and byte
    // values (b / 255) come out as exactly the colour QColor(b, ...) makes.
    const auto level = [](double value) {
        return quint16(std::lround(std::clamp(value, 0.0, 1.0) * 65535.0));
    };
    QGradientStops stops;
    for (double x : std::as_const(xs)) {
        std::array<std::pair<double, double>, 4> values;
        bool jumps = false;
        for (std::size_t c = 0; c < channels.size(); ++c) {
            values[c] = channelValueAt(channels[c], x);
            jumps = jumps || level(values[c].first) != level(values[c].second);
        }
        const auto colour = [&](bool right) {
            const auto v = [&](std::size_t c) {
                return level(right ? values[c].second : values[c].first);
            };
            return QColor(QRgba64::fromRgba64(v(0), v(1), v(2), v(3)));
        };
        stops.append({x, colour(false)});
        if (jumps)
            stops.append({x, colour(true)});
    }
    return stops;
}
