#pragma once

#include "orientation.h"

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <vector>

// Where a grid of voxels lies in the world. Voxel indices are continuous,
// with voxel centres at whole numbers; world positions are millimetres in LPS
// (x towards the patient's left, y posterior, z superior), the frame ITK and
// DICOM use. A DAT file has no patient frame: its grid is the identity, in a
// frame that is only named X, Y, Z.
//
// world = origin + direction * diag(spacing) * index. The direction's columns
// are unit vectors but need not be orthogonal (a NIfTI sform may shear).
struct ImageGrid
{
    std::array<double, 3> origin{{0.0, 0.0, 0.0}};  // centre of voxel (0, 0, 0)
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}}; // mm between centres along i, j, k
    DirectionMatrix direction{{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0}};

    std::array<double, 3> worldOf(const std::array<double, 3> &index) const;
    // The continuous index of a world point; none where the matrix is
    // singular.
    std::optional<std::array<double, 3>> indexOf(const std::array<double, 3> &world) const;
    // Voxel index (i, j, k, 1) to world (LPS), row-major 4 x 4.
    std::array<double, 16> matrix() const;

    // The same voxels indexed in the order a reorientation shows them: shown
    // index j runs along stored axis sourceAxis[j], against it where flipped.
    // storedSize is the grid's voxel count along its own axes.
    ImageGrid turned(const Reorientation &reorientation,
                     const std::array<std::size_t, 3> &storedSize) const;
    // The grid of a reduced level or region: coarse voxel v stands for the
    // voxels first + v * 2^level on, 2^level of them along each axis, and lies
    // at their centre.
    ImageGrid coarsened(int level, const std::array<int, 3> &first) const;

    bool operator==(const ImageGrid &other) const;
    bool operator!=(const ImageGrid &other) const { return !(*this == other); }
};

// LPS and RAS differ in the sign of x and y; the same turn goes both ways.
std::array<double, 3> swapLpsRas(const std::array<double, 3> &point);
// Voxel index to RAS millimetres, row-major 4 x 4: NIfTI's and nibabel's
// affine.
std::array<double, 16> rasMatrixOf(const ImageGrid &grid);

// The patient letter each stored axis runs towards ("RAS": i to the right,
// j anterior, k superior), from the nearest patient axes of the direction
// (LPS columns).
std::string orientationCode(const DirectionMatrix &direction);

// A scan's geometry as its header gives it, checked, and the LPS-ordered grid
// it is shown in (orientation.h): the file's own grid, the turn of its axes
// and the shown grid at full resolution.
struct ScanPlacement
{
    ImageGrid file;
    Reorientation reorientation;
    ImageGrid shown;
};

// Checks a header's geometry: a direction matrix that is not finite or whose
// axes are zero or parallel becomes the identity, a spacing that is not a
// positive finite number 1 mm, an origin that is not finite 0, each with a
// warning; an oblique scan is told as such. Warnings are appended.
ScanPlacement placeScan(const std::array<std::size_t, 3> &storedSize,
                        const std::array<double, 3> &spacing, const DirectionMatrix &direction,
                        const std::array<double, 3> &origin, std::vector<std::string> &warnings);
