// libFuzzer target for the transfer-function file parser (ours and ParaView's
// colour maps). A refused input must come with a reason; an accepted one must
// hold only what the editor can show (finite values in 0..1, x not decreasing,
// a lock word per point, no more points than the limit allows) and must come
// back unchanged from our own file form. Any violation traps.

#include "transferfunctionfile.h"

#include <QByteArray>

#include <cmath>
#include <cstddef>
#include <cstdint>

namespace {

void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

void checkFunction(const TransferFunction &function)
{
    for (const ChannelPoints &channel : function.channels) {
        require(channel.points.size() == channel.locks.size());
        // A ParaView map gains at most its two end points.
        require(channel.points.size() <= TransferFunctionFile::maximumPointsPerChannel + 2);
        double previous = 0.0;
        for (const QPointF &p : channel.points) {
            require(std::isfinite(p.x()) && std::isfinite(p.y()));
            require(p.x() >= 0.0 && p.x() <= 1.0 && p.y() >= 0.0 && p.y() <= 1.0);
            require(p.x() >= previous);
            previous = p.x();
        }
        for (uint locks : channel.locks)
            require(locks <= 15);
    }
    for (const QGradientStop &stop : function.toStops())
        require(stop.first >= 0.0 && stop.first <= 1.0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    // A range that is not 0..1, so that data units and fractions differ.
    const DataRange range{-1024.0, 3071.0};
    const TransferFunctionFile::ReadResult result = TransferFunctionFile::parse(bytes, range);
    if (!result.ok) {
        require(!result.reason.isEmpty());
        return 0;
    }
    require(result.reason.isEmpty());
    checkFunction(result.function);

    const TransferFunctionFile::ReadResult again =
        TransferFunctionFile::parse(TransferFunctionFile::toKelvaraJson(result.function), range);
    require(again.ok && again.function == result.function);
    // The ParaView form of an accepted function must be readable too.
    const TransferFunctionFile::ReadResult exported = TransferFunctionFile::parse(
        TransferFunctionFile::toParaViewJson(result.function, range), range);
    require(exported.ok);
    checkFunction(exported.function);
    return 0;
}
