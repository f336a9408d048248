#include "brickmap.h"

#include "transferfunctiontable.h"
#include "volume.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

namespace {

constexpr int brickSize = BrickMap::brickSize;

int brickCount(int voxels)
{
    return voxels > 0 ? (voxels - 1) / brickSize + 1 : 0;
}

// The voxels that brick b's range takes in along an axis of n voxels: those
// its samples read and one more on either side.
int firstVoxel(int brick)
{
    return std::max(0, brick * brickSize - 1);
}

int lastVoxel(int brick, int voxels)
{
    return std::min(voxels - 1, brick * brickSize + brickSize + 1);
}

struct Range
{
    float low = std::numeric_limits<float>::infinity();
    float high = -std::numeric_limits<float>::infinity();

    void add(float value)
    {
        if (std::isnan(value)) {
            // The texture holds something in 0..1 for it; which value is up to the
            // implementation.
            add(0.0f);
            add(1.0f);
            return;
        }
        low = std::min(low, value);
        high = std::max(high, value);
    }
    void add(const Range &other)
    {
        low = std::min(low, other.low);
        high = std::max(high, other.high);
    }
};

} // namespace

BrickMap computeBrickMap(const Volume &volume)
{
    BrickMap map;
    const int width = volume.width;
    const int height = volume.height;
    const int depth = volume.depth;
    if (width < 1 || height < 1 || depth < 1 ||
        std::uint64_t(width) * std::uint64_t(height) * std::uint64_t(depth) != volume.data.size())
        return map;

    const int countX = brickCount(width);
    const int countY = brickCount(height);
    const int countZ = brickCount(depth);
    map.counts = {countX, countY, countZ};

    // Separable: along x for every row of a slice, then along y within the
    // slice, then the slice into the layers of bricks that read it. Every voxel
    // is read about (brickSize + 3) / brickSize times instead of that cubed, and
    // no more than one slice of partial ranges is held.
    std::vector<Range> rows(std::size_t(countX) * height);
    std::vector<Range> slice(std::size_t(countX) * countY);
    std::vector<Range> bricks(slice.size() * countZ);
    for (int z = 0; z < depth; ++z) {
        for (int y = 0; y < height; ++y) {
            const float *row = volume.data.data() + (std::size_t(z) * height + y) * width;
            for (int bx = 0; bx < countX; ++bx) {
                Range range;
                for (int x = firstVoxel(bx); x <= lastVoxel(bx, width); ++x)
                    range.add(row[x]);
                rows[std::size_t(y) * countX + bx] = range;
            }
        }
        for (int by = 0; by < countY; ++by) {
            for (int bx = 0; bx < countX; ++bx) {
                Range range;
                for (int y = firstVoxel(by); y <= lastVoxel(by, height); ++y)
                    range.add(rows[std::size_t(y) * countX + bx]);
                slice[std::size_t(by) * countX + bx] = range;
            }
        }
        // The slice belongs to its own layer and, within a voxel of a face, to
        // the neighbouring one.
        for (int bz = std::max(0, z / brickSize - 1); bz <= std::min(countZ - 1, z / brickSize + 1);
             ++bz) {
            if (z < firstVoxel(bz) || z > lastVoxel(bz, depth))
                continue;
            Range *layer = bricks.data() + std::size_t(bz) * slice.size();
            for (std::size_t i = 0; i < slice.size(); ++i)
                layer[i].add(slice[i]);
        }
    }

    map.minimum.resize(bricks.size());
    map.maximum.resize(bricks.size());
    for (std::size_t i = 0; i < bricks.size(); ++i) {
        map.minimum[i] = bricks[i].low;
        map.maximum[i] = bricks[i].high;
    }
    return map;
}

TableEntrySpan tableEntrySpan(float low, float high)
{
    constexpr int lastEntry = TransferFunctionTable::entryCount - 1;
    constexpr double slack = 1.0 / 16.0;
    // NaN bounds (not produced by computeBrickMap) count as the whole table.
    const double lowPosition =
        std::isnan(low) ? 0.0 : std::clamp(double(low), 0.0, 1.0) * lastEntry;
    const double highPosition =
        std::isnan(high) ? double(lastEntry) : std::clamp(double(high), 0.0, 1.0) * lastEntry;
    TableEntrySpan span;
    span.first = std::clamp(int(std::floor(lowPosition - slack)), 0, lastEntry);
    span.last = std::clamp(int(std::floor(highPosition + slack)) + 1, 0, lastEntry);
    // The ends are exact: 0 is stored and filtered as exactly 0 and read at the
    // centre of entry 0, which the filter takes alone (likewise 1 and the last
    // entry). A ramp's first entries are faintly opaque in the float table, and
    // empty background must stay skippable beside them.
    if (highPosition <= 0.0)
        span.last = 0;
    if (lowPosition >= lastEntry)
        span.first = lastEntry;
    return span;
}

void addLayerBricks(BrickVisibility &visibility, const std::array<int, 3> &counts,
                    const std::vector<unsigned char> &more)
{
    if (more.size() != visibility.flags.size())
        return;
    std::array<int, 3> lower = visibility.anyVisible() ? visibility.lower : counts;
    std::array<int, 3> upper = visibility.anyVisible() ? visibility.upper : std::array<int, 3>{};
    std::size_t index = 0;
    for (int bz = 0; bz < counts[2]; ++bz)
        for (int by = 0; by < counts[1]; ++by)
            for (int bx = 0; bx < counts[0]; ++bx, ++index) {
                visibility.flags[index] =
                    (visibility.flags[index] != 0 ? 1 : 0) | (more[index] & 0x1e);
                if (!more[index])
                    continue;
                const int brick[3] = {bx, by, bz};
                for (int axis = 0; axis < 3; ++axis) {
                    lower[std::size_t(axis)] = std::min(lower[std::size_t(axis)], brick[axis]);
                    upper[std::size_t(axis)] = std::max(upper[std::size_t(axis)], brick[axis] + 1);
                }
            }
    if (upper[0] > 0) {
        visibility.lower = lower;
        visibility.upper = upper;
    }
}

BrickVisibility classifyBricks(const BrickMap &map, const float *rgbaFloats)
{
    constexpr int entries = TransferFunctionTable::entryCount;
    // visibleBefore[i]: entries with alpha > 0 among the first i, so that any
    // span is answered with one subtraction.
    std::array<int, entries + 1> visibleBefore{};
    for (int i = 0; i < entries; ++i)
        visibleBefore[i + 1] = visibleBefore[i] + (rgbaFloats[4 * i + 3] > 0.0f ? 1 : 0);

    BrickVisibility visibility;
    visibility.flags.assign(map.minimum.size(), 0);
    std::array<int, 3> lower = map.counts;
    std::array<int, 3> upper{};
    std::size_t index = 0;
    for (int bz = 0; bz < map.counts[2]; ++bz) {
        for (int by = 0; by < map.counts[1]; ++by) {
            for (int bx = 0; bx < map.counts[0]; ++bx, ++index) {
                const TableEntrySpan span = tableEntrySpan(map.minimum[index], map.maximum[index]);
                if (visibleBefore[span.last + 1] == visibleBefore[span.first])
                    continue;
                visibility.flags[index] = 255;
                const int brick[3] = {bx, by, bz};
                for (int axis = 0; axis < 3; ++axis) {
                    lower[axis] = std::min(lower[axis], brick[axis]);
                    upper[axis] = std::max(upper[axis], brick[axis] + 1);
                }
            }
        }
    }
    if (upper[0] > 0) {
        visibility.lower = lower;
        visibility.upper = upper;
    }
    return visibility;
}
