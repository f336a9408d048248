#include "volumegrid.h"

#include "mappedscan.h"
#include "volume.h"

#include <cmath>
#include <limits>

std::array<int, 3> fullResolutionSize(const Volume &volume)
{
    if (volume.fullResolution)
        return volume.fullResolution->size();
    return {{volume.width, volume.height, volume.depth}};
}

ImageGrid fullResolutionGrid(const Volume &volume)
{
    ImageGrid grid;
    grid.origin = volume.worldOrigin;
    grid.direction = volume.worldDirection;
    grid.spacing = volume.fullResolution ? volume.fullResolution->spacing() : volume.spacing;
    return grid;
}

ImageGrid dataGrid(const Volume &volume)
{
    if (!volume.fullResolution)
        return fullResolutionGrid(volume);
    return fullResolutionGrid(volume).coarsened(volume.level, volume.origin);
}

std::array<int, 3> fileSize(const Volume &volume)
{
    const std::array<int, 3> shown = fullResolutionSize(volume);
    std::array<int, 3> stored{};
    for (std::size_t axis = 0; axis < 3; ++axis)
        stored[std::size_t(volume.fileAxes.sourceAxis[axis])] = shown[axis];
    return stored;
}

ImageGrid fileGrid(const Volume &volume)
{
    // The shown grid turned back: stored axis sourceAxis[j] runs along shown
    // axis j, against it where flipped.
    const ImageGrid shown = fullResolutionGrid(volume);
    const std::array<int, 3> size = fullResolutionSize(volume);
    ImageGrid file;
    std::array<double, 3> firstVoxel{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const std::size_t stored = std::size_t(volume.fileAxes.sourceAxis[axis]);
        const bool flipped = volume.fileAxes.flipped[axis];
        if (flipped)
            firstVoxel[axis] = double(size[axis]) - 1.0;
        file.spacing[stored] = shown.spacing[axis];
        for (std::size_t row = 0; row < 3; ++row)
            file.direction[3 * row + stored] =
                flipped ? -shown.direction[3 * row + axis] : shown.direction[3 * row + axis];
    }
    file.origin = shown.worldOf(firstVoxel);
    return file;
}

std::array<int, 3> fileIndexOf(const Volume &volume, const std::array<int, 3> &voxel)
{
    const std::array<int, 3> size = fullResolutionSize(volume);
    std::array<int, 3> stored{};
    for (std::size_t axis = 0; axis < 3; ++axis)
        stored[std::size_t(volume.fileAxes.sourceAxis[axis])] =
            volume.fileAxes.flipped[axis] ? size[axis] - 1 - voxel[axis] : voxel[axis];
    return stored;
}

std::array<int, 3> voxelOfFileIndex(const Volume &volume, const std::array<int, 3> &fileIndex)
{
    const std::array<int, 3> size = fullResolutionSize(volume);
    std::array<int, 3> voxel{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const int stored = fileIndex[std::size_t(volume.fileAxes.sourceAxis[axis])];
        voxel[axis] = volume.fileAxes.flipped[axis] ? size[axis] - 1 - stored : stored;
    }
    return voxel;
}

std::optional<std::array<int, 3>> voxelAtWorld(const Volume &volume,
                                               const std::array<double, 3> &world)
{
    const std::optional<std::array<double, 3>> index = fullResolutionGrid(volume).indexOf(world);
    if (!index)
        return std::nullopt;
    const std::array<int, 3> size = fullResolutionSize(volume);
    std::array<int, 3> voxel{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        // The nearest centre; a point halfway between two takes the upper.
        const double nearest = std::floor((*index)[axis] + 0.5);
        if (!(nearest >= 0.0 && nearest < double(size[axis])))
            return std::nullopt;
        voxel[axis] = int(nearest);
    }
    return voxel;
}

double fileValueAt(const Volume &volume, const std::array<int, 3> &voxel)
{
    const std::array<int, 3> size = fullResolutionSize(volume);
    for (std::size_t axis = 0; axis < 3; ++axis)
        if (voxel[axis] < 0 || voxel[axis] >= size[axis])
            return std::numeric_limits<double>::quiet_NaN();
    if (volume.fullResolution)
        return volume.fullResolution->fileValue(voxel[0], voxel[1], voxel[2]);
    const std::size_t index =
        std::size_t(voxel[0]) +
        std::size_t(volume.width) * (std::size_t(voxel[1]) + std::size_t(volume.height) * voxel[2]);
    if (index >= volume.data.size())
        return std::numeric_limits<double>::quiet_NaN();
    const double value =
        volume.valueRange.minimum +
        double(volume.data[index]) * (volume.valueRange.maximum - volume.valueRange.minimum);
    if (volume.sampleStep == 0.0 || !std::isfinite(volume.sampleStep))
        return value;
    // The float holds about seven digits: the nearest value the file can hold.
    return volume.sampleOffset +
           std::round((value - volume.sampleOffset) / volume.sampleStep) * volume.sampleStep;
}

std::vector<double> coloursAt(const Volume &volume, const std::array<int, 3> &voxel)
{
    if (!volume.colours)
        return {};
    const int size[3] = {volume.width, volume.height, volume.depth};
    for (std::size_t axis = 0; axis < 3; ++axis)
        if (voxel[axis] < 0 || voxel[axis] >= size[axis])
            return {};
    const std::size_t components = std::size_t(volume.colours->components);
    const std::size_t index =
        std::size_t(voxel[0]) +
        std::size_t(volume.width) * (std::size_t(voxel[1]) + std::size_t(volume.height) * voxel[2]);
    if ((index + 1) * components > volume.colours->values.size())
        return {};
    const float *first = volume.colours->values.data() + index * components;
    return std::vector<double>(first, first + components);
}
