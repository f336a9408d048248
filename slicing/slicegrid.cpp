#include "slicegrid.h"

#include "mappedscan.h"
#include "volume.h"

#include <algorithm>
#include <cmath>

SliceGrid SliceGrid::of(const Volume &volume)
{
    SliceGrid grid;
    grid.dataDimensions = {{volume.width, volume.height, volume.depth}};
    if (!volume.fullResolution) {
        grid.dimensions = grid.dataDimensions;
        grid.spacing = volume.spacing;
        return grid;
    }
    grid.dimensions = volume.fullResolution->size();
    grid.spacing = volume.fullResolution->spacing();
    grid.level = volume.level;
    grid.origin = volume.origin;
    return grid;
}

std::array<int, 3> SliceGrid::fullVoxelOf(const std::array<int, 3> &dataVoxel) const
{
    const double edge = std::ldexp(1.0, level);
    std::array<int, 3> voxel{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const double centre = origin[axis] + (dataVoxel[axis] + 0.5) * edge;
        voxel[axis] = int(std::clamp(std::floor(centre), 0.0, double(dimensions[axis] - 1)));
    }
    return voxel;
}

QVector3D SliceGrid::dataPositionOf(const std::array<int, 3> &fullVoxel) const
{
    const double edge = std::ldexp(1.0, level);
    QVector3D position;
    for (int axis = 0; axis < 3; ++axis)
        position[axis] =
            float((fullVoxel[std::size_t(axis)] + 0.5 - origin[std::size_t(axis)]) / edge - 0.5);
    return position;
}

double SliceGrid::dataFractionOf(int axis, int slice) const
{
    const std::size_t a = std::size_t(axis);
    const int clamped = std::clamp(slice, 0, std::max(dimensions[a] - 1, 0));
    const double coarse = (clamped + 0.5 - origin[a]) / std::ldexp(1.0, level);
    return std::clamp(coarse / dataDimensions[a], 0.0, 1.0);
}

bool SliceGrid::operator==(const SliceGrid &other) const
{
    return dimensions == other.dimensions && spacing == other.spacing &&
           dataDimensions == other.dataDimensions && level == other.level && origin == other.origin;
}

bool readSliceValues(const Volume &volume, int axis, int slice, SliceValues &values)
{
    if (axis < 0 || axis > 2)
        return false;
    if (volume.fullResolution) {
        SliceValues read;
        if (!volume.fullResolution->normalisedSlice(axis, slice, read.read))
            return false;
        // The store lays a slice out with the lower-numbered remaining axis
        // fastest.
        const std::array<int, 3> size = volume.fullResolution->size();
        const int fast = axis == 0 ? 1 : 0;
        const int slow = axis == 2 ? 1 : 2;
        read.stride[std::size_t(fast)] = 1;
        read.stride[std::size_t(slow)] = size[std::size_t(fast)];
        values = std::move(read);
        return true;
    }
    const std::array<int, 3> size{{volume.width, volume.height, volume.depth}};
    const std::size_t expected =
        std::size_t(volume.width) * std::size_t(volume.height) * std::size_t(volume.depth);
    if (slice < 0 || slice >= size[std::size_t(axis)] || volume.data.size() < expected)
        return false;
    values.read.clear();
    values.stride = {{1, std::ptrdiff_t(volume.width),
                      std::ptrdiff_t(volume.width) * std::ptrdiff_t(volume.height)}};
    values.held = volume.data.data() + values.stride[std::size_t(axis)] * slice;
    return true;
}
