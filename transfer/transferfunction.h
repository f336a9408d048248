#pragma once

#include "controlpoints.h"

#include <QGradient>
#include <QList>
#include <QPolygonF>

#include <array>
#include <utility>

// The control points of one channel of a transfer function, in ascending x,
// with one lock word (ControlPoints::LockFlag bits) per point.
struct ChannelPoints
{
    QPolygonF points;
    QList<uint> locks;

    bool operator==(const ChannelPoints &other) const
    {
        return points == other.points && locks == other.locks;
    }
    bool operator!=(const ChannelPoints &other) const { return !(*this == other); }
};

// A transfer function as its four channels' control points, free of any
// widget: x is the data value and y the channel value, both normalised to 0..1
// (x = 0 the lowest value of the data's range, y = 1 full red, green, blue or
// opacity). Between two points a channel is linear; outside its first and last
// point it is 0, as a strip of the editor samples it. The editor maps these
// coordinates to the pixels of its strips; files keep them as they are.
struct TransferFunction
{
    std::array<ChannelPoints, 4> channels; // indexed by ShadeChannel

    ChannelPoints &channel(ShadeChannel c) { return channels[std::size_t(c)]; }
    const ChannelPoints &channel(ShadeChannel c) const { return channels[std::size_t(c)]; }

    bool operator==(const TransferFunction &other) const { return channels == other.channels; }
    bool operator!=(const TransferFunction &other) const { return !(*this == other); }

    // One point per stop on every channel (the stop's 16-bit value / 65535,
    // byte / 255 for colours given in bytes), the first
    // locked to the left edge and the last to the right edge, as the editor
    // places stops on its strips.
    static TransferFunction fromStops(const QGradientStops &stops);

    // Stops at every x where some channel has a point, each channel's value
    // there rounded to 16 bits (QColor's own precision). Where a channel jumps (two points on one
    // x) two stops at that x give the jump. Empty when no channel has a point.
    QGradientStops toStops() const;
};

// A channel's values just left and just right of x (equal unless the channel
// jumps at x); 0 outside its points. The points must be in ascending x.
std::pair<double, double> channelValueAt(const ChannelPoints &channel, double x);
