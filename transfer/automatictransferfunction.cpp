#include "automatictransferfunction.h"

#include "histogram.h"

#include <algorithm>

namespace {

// low up to start, a line to high at end, high up to 1; no two points on one x.
ChannelPoints ramp(double start, double end, double low, double high)
{
    ChannelPoints channel;
    channel.points.append(QPointF(0, low));
    if (start > 0)
        channel.points.append(QPointF(start, low));
    channel.points.append(QPointF(end, high));
    if (end < 1)
        channel.points.append(QPointF(1, high));
    channel.locks = QList<uint>(channel.points.size(), 0u);
    channel.locks.first() = ControlPoints::LockLeftEdge;
    channel.locks.last() = ControlPoints::LockRightEdge;
    return channel;
}

} // namespace

std::optional<AutomaticRamp> automaticRamp(const Histogram &histogram)
{
    const int bins = histogram.binCount();
    quint64 total = 0;
    int peak = 0;
    for (int bin = 0; bin < bins; ++bin) {
        total += histogram.count(bin);
        if (histogram.count(bin) > histogram.count(peak))
            peak = bin;
    }
    if (total == 0)
        return std::nullopt;

    int start = peak + 1;
    while (start < bins && histogram.count(start) * 10 > histogram.count(peak))
        ++start;

    // The first bin whose cumulative count reaches 99 % of all values.
    int percentile = 0;
    quint64 cumulative = 0;
    for (; percentile < bins; ++percentile) {
        cumulative += histogram.count(percentile);
        if (cumulative * 100 >= total * 99)
            break;
    }
    // The ramp ends at the upper edge of that bin; a background that covers
    // the percentile (almost empty data) still gets a ramp of one bin.
    int end = std::max(percentile + 1, start + 1);
    if (end > bins) {
        end = bins;
        start = std::min(start, bins - 1);
    }
    return AutomaticRamp{double(start) / bins, double(end) / bins};
}

TransferFunction automaticTransferFunction(const AutomaticRamp &automatic)
{
    const double start = automatic.start;
    const double end = automatic.end;
    TransferFunction function;
    function.channel(RedChannel) = ramp(start, end, 0.45, 1.0);
    function.channel(GreenChannel) = ramp(start, end, 0.25, 0.95);
    function.channel(BlueChannel) = ramp(start, end, 0.15, 0.88);
    function.channel(AlphaChannel) = ramp(start, end, 0.0, 1.0);
    return function;
}
