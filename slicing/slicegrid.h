#pragma once

#include <QVector3D>

#include <array>
#include <cstddef>
#include <vector>

struct Volume;

// The grid the slice side shows and how Volume::data lies in it. For a volume
// held whole both are the same grid. For one read through a store
// (Volume::fullResolution) the slice side shows the file's full-resolution grid
// while data holds a reduced level or a region of it for the 3D view: data's
// voxel v covers the full-resolution voxels origin + v * 2^level up to
// 2^level of them per axis (a reduced level covers ceil(n / 2^level) of them,
// a little more than the full extent; a region only a part of it).
//
// Voxel indices are along X, Y, Z (LPS in a scan); positions in data's voxel
// coordinates have voxel centres at whole numbers.
struct SliceGrid
{
    std::array<int, 3> dimensions{{1, 1, 1}};       // full-resolution voxel counts
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}}; // full-resolution voxel size in mm
    std::array<int, 3> dataDimensions{{1, 1, 1}};   // Volume::data's voxel counts
    int level = 0;                                  // data voxels span 2^level voxels
    std::array<int, 3> origin{{0, 0, 0}};           // full voxel of data voxel (0, 0, 0)

    static SliceGrid of(const Volume &volume);

    // The full-resolution voxel that data's voxel stands for: the centre of
    // its cube, origin + (v + 0.5) * 2^level, rounded down and clamped into the
    // full grid (the last coarse voxel may reach beyond it).
    std::array<int, 3> fullVoxelOf(const std::array<int, 3> &dataVoxel) const;
    // Where a full-resolution voxel's centre lies in data's voxel coordinates;
    // outside data's grid for a voxel outside a region.
    QVector3D dataPositionOf(const std::array<int, 3> &fullVoxel) const;
    // The centre of full-resolution slice `slice` (clamped into the grid)
    // along axis 0..2 as a fraction of data's extent along it: 0 at data's
    // lower face, 1 at its upper face, clamped to 0..1 (a plane beyond a
    // region keeps all of it on one side, none on the other). For a volume
    // held whole this is (slice + 0.5) / n exactly.
    double dataFractionOf(int axis, int slice) const;

    bool operator==(const SliceGrid &other) const;
    bool operator!=(const SliceGrid &other) const { return !(*this == other); }
};

// The normalised values (0..1) of one slice, read from Volume::data or from
// the store: the voxel of the slice with in-plane indices (a, b) along LPS
// axes (p, q) is first()[a * stride[p] + b * stride[q]]. Values held in
// Volume::data are not copied; the volume must outlive the object then.
struct SliceValues
{
    std::vector<float> read;                // the slice as read from the store
    const float *held = nullptr;            // the slice within Volume::data
    std::array<std::ptrdiff_t, 3> stride{}; // per axis; the normal's is unused

    const float *first() const { return held ? held : read.data(); }
};

// The slice's values, or false (values untouched) for an axis or slice outside
// the grid, data shorter than its size says or a store that cannot read it.
[[nodiscard]] bool readSliceValues(const Volume &volume, int axis, int slice, SliceValues &values);
