#pragma once

#include <array>
#include <vector>

struct Volume;

// The data set cut into cubic bricks with the range of values that a sample
// inside each brick can take, so that the ray caster can step over bricks that
// the transfer function makes wholly transparent.
//
// Voxel coordinates put voxel i's centre at i (texture coordinate (i + 0.5) / n).
// Along each axis brick b owns the positions [b * brickSize, (b + 1) * brickSize),
// where a trilinear lookup reads voxels b * brickSize to (b + 1) * brickSize; the
// range takes in one voxel more on either side, so that a sample which rounding
// puts just across a brick face is still covered. Positions are clamped to
// [0, n - 1] like the shader's lookups, so the last brick may own less.
struct BrickMap
{
    static constexpr int brickSize = 8;

    // Bricks along x, y and z: (n - 1) / brickSize + 1 for n voxels; 0 when the
    // data set has no voxels.
    std::array<int, 3> counts{};
    // Per brick, x fastest: the least and greatest voxel value read. NaN voxels
    // widen the range to [0, 1], whatever the lookup makes of them.
    std::vector<float> minimum;
    std::vector<float> maximum;
};

// Reads every voxel about 1.4 times. An empty map for a data set whose voxel
// count does not match its data.
BrickMap computeBrickMap(const Volume &volume);

// The transfer-table entries (0..entryCount - 1, inclusive) that a lookup of a
// value in [low, high] may blend: the shader reads value f at entry position
// clamp(f, 0, 1) * (entryCount - 1) with linear filtering, which mixes the
// entries below and above that position. The span allows for the 16-bit storage
// of the volume and the filter's rounding (a sixteenth of an entry either way);
// the values 0 and 1 themselves read entry 0 and the last entry alone.
struct TableEntrySpan
{
    int first = 0;
    int last = 0;
};
TableEntrySpan tableEntrySpan(float low, float high);

// Which bricks hold a sample that the table can make visible.
struct BrickVisibility
{
    // Per brick, x fastest: 255 where some sample may have opacity, 0 where the
    // table gives every sample alpha 0.
    std::vector<unsigned char> flags;
    // Bounding box of the visible bricks in brick indices, [lower, upper) per
    // axis; lower == upper == 0 when no brick is visible.
    std::array<int, 3> lower{};
    std::array<int, 3> upper{};

    bool anyVisible() const { return upper[0] > lower[0]; }
};

// rgbaFloats: the table the shader classifies with, TransferFunctionTable::entryCount
// entries of red, green, blue, alpha in 0..1; an entry is visible where its
// alpha is above 0, however little.
BrickVisibility classifyBricks(const BrickMap &map, const float *rgbaFloats);

// Adds layers to the visible bricks: more holds per brick the bits 2, 4, 8,
// 16 of the layers that show something there; each flag becomes 1 where the
// volume itself may be visible, or'd with those bits, and the box takes in
// the bricks of the layers.
void addLayerBricks(BrickVisibility &visibility, const std::array<int, 3> &counts,
                    const std::vector<unsigned char> &more);
