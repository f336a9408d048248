#include "layersampler.h"

#include "imagegrid.h"
#include "volume.h"
#include "volumegrid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

LayerSampler::LayerSampler(const Volume &base, const Volume &layerVolume, Interpolation reading)
    : layer(layerVolume), interpolation(reading)
{
    const ImageGrid from = fullResolutionGrid(base);
    const ImageGrid to = dataGrid(layerVolume);
    const std::optional<std::array<double, 3>> origin = to.indexOf(from.worldOf({0.0, 0.0, 0.0}));
    if (!origin)
        return;
    offset = *origin;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        std::array<double, 3> step{};
        step[axis] = 1.0;
        const std::optional<std::array<double, 3>> moved = to.indexOf(from.worldOf(step));
        if (!moved)
            return;
        for (std::size_t i = 0; i < 3; ++i)
            columns[axis][i] = (*moved)[i] - offset[i];
    }
    valid = layerVolume.data.size() == std::size_t(layerVolume.width) *
                                           std::size_t(layerVolume.height) *
                                           std::size_t(layerVolume.depth);
}

std::array<double, 3> LayerSampler::layerIndexOf(const std::array<double, 3> &baseIndex) const
{
    std::array<double, 3> index = offset;
    for (std::size_t axis = 0; axis < 3; ++axis)
        for (std::size_t i = 0; i < 3; ++i)
            index[i] += columns[axis][i] * baseIndex[axis];
    return index;
}

std::array<double, 3> LayerSampler::layerStepOf(int baseAxis) const
{
    return columns[std::size_t(std::clamp(baseAxis, 0, 2))];
}

std::optional<std::array<int, 3>>
LayerSampler::layerVoxelAt(const std::array<double, 3> &baseIndex) const
{
    if (!valid)
        return std::nullopt;
    const std::array<double, 3> index = layerIndexOf(baseIndex);
    const std::array<int, 3> size{{layer.width, layer.height, layer.depth}};
    std::array<int, 3> voxel{};
    for (std::size_t i = 0; i < 3; ++i) {
        // Half a voxel either side of the outer centres belongs to the grid.
        const double nearest = std::floor(index[i] + 0.5);
        if (!(nearest >= 0.0 && nearest < double(size[i])))
            return std::nullopt;
        voxel[i] = int(nearest);
    }
    return voxel;
}

double LayerSampler::valueAtLayerIndex(const std::array<double, 3> &index) const
{
    constexpr double outside = std::numeric_limits<double>::quiet_NaN();
    if (!valid)
        return outside;
    const std::array<int, 3> size{{layer.width, layer.height, layer.depth}};
    const auto at = [&](int x, int y, int z) {
        return double(layer.data[std::size_t(x) +
                                 std::size_t(size[0]) *
                                     (std::size_t(y) + std::size_t(size[1]) * std::size_t(z))]);
    };
    const Volume::ValueRange &range = layer.valueRange;
    const auto fileValue = [&range](double normalised) {
        return range.minimum + normalised * (range.maximum - range.minimum);
    };
    for (std::size_t i = 0; i < 3; ++i)
        if (!(index[i] >= -0.5 && index[i] < double(size[i]) - 0.5))
            return outside;
    if (interpolation == Interpolation::Nearest)
        return fileValue(at(int(std::floor(index[0] + 0.5)), int(std::floor(index[1] + 0.5)),
                            int(std::floor(index[2] + 0.5))));

    // Trilinear between the eight centres around the point, held at the
    // outer centres within the outer half voxels.
    std::array<int, 3> low{};
    std::array<int, 3> high{};
    std::array<double, 3> weight{};
    for (std::size_t i = 0; i < 3; ++i) {
        const double held = std::clamp(index[i], 0.0, double(size[i] - 1));
        low[i] = int(std::floor(held));
        high[i] = std::min(low[i] + 1, size[i] - 1);
        weight[i] = held - double(low[i]);
    }
    const auto lerp = [](double a, double b, double t) { return a + (b - a) * t; };
    const double z0 =
        lerp(lerp(at(low[0], low[1], low[2]), at(high[0], low[1], low[2]), weight[0]),
             lerp(at(low[0], high[1], low[2]), at(high[0], high[1], low[2]), weight[0]), weight[1]);
    const double z1 = lerp(
        lerp(at(low[0], low[1], high[2]), at(high[0], low[1], high[2]), weight[0]),
        lerp(at(low[0], high[1], high[2]), at(high[0], high[1], high[2]), weight[0]), weight[1]);
    return fileValue(lerp(z0, z1, weight[2]));
}

bool layerMeetsBase(const Volume &base, const Volume &layer)
{
    const ImageGrid baseGrid = fullResolutionGrid(base);
    const ImageGrid layerGrid = fullResolutionGrid(layer);
    const std::array<int, 3> baseSize = fullResolutionSize(base);
    const std::array<int, 3> layerSize = fullResolutionSize(layer);
    std::array<double, 3> lower{{std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::infinity(),
                                 std::numeric_limits<double>::infinity()}};
    std::array<double, 3> upper{{-lower[0], -lower[1], -lower[2]}};
    for (int corner = 0; corner < 8; ++corner) {
        std::array<double, 3> index{};
        for (std::size_t i = 0; i < 3; ++i)
            index[i] = (corner >> i) & 1 ? double(layerSize[i]) - 0.5 : -0.5;
        const std::optional<std::array<double, 3>> inBase =
            baseGrid.indexOf(layerGrid.worldOf(index));
        if (!inBase)
            return false;
        for (std::size_t i = 0; i < 3; ++i) {
            lower[i] = std::min(lower[i], (*inBase)[i]);
            upper[i] = std::max(upper[i], (*inBase)[i]);
        }
    }
    for (std::size_t i = 0; i < 3; ++i)
        if (upper[i] <= -0.5 || lower[i] >= double(baseSize[i]) - 0.5)
            return false;
    return true;
}
