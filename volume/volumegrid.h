#pragma once

#include "imagegrid.h"

#include <array>
#include <vector>
#include <optional>

struct Volume;

// The world geometry of a loaded volume (Volume::worldOrigin and its
// neighbours), in the three grids a volume has: the file's own, the slice
// side's full-resolution grid in X, Y, Z order (LPS in a scan), and the grid
// of Volume::data (a reduced level or region of the second for volumes read
// through a store, else the same).

// Voxel counts of the full-resolution grid along X, Y, Z.
std::array<int, 3> fullResolutionSize(const Volume &volume);
ImageGrid fullResolutionGrid(const Volume &volume);
ImageGrid dataGrid(const Volume &volume);
// The file's own grid, with its voxel counts along its stored axes.
ImageGrid fileGrid(const Volume &volume);
std::array<int, 3> fileSize(const Volume &volume);

// A full-resolution voxel named by the file's index, and back (no range
// check).
std::array<int, 3> fileIndexOf(const Volume &volume, const std::array<int, 3> &voxel);
std::array<int, 3> voxelOfFileIndex(const Volume &volume, const std::array<int, 3> &fileIndex);

// The value of a full-resolution voxel in the file's units: from the store
// where there is one (NaN for a sample that is not finite, which a loaded
// volume holds as its minimum), else rebuilt from the normalised value. NaN
// outside the grid.
double fileValueAt(const Volume &volume, const std::array<int, 3> &voxel);

// A colour volume's components at voxel (3 or 4, in file units); empty for
// scalar data and outside the grid.
std::vector<double> coloursAt(const Volume &volume, const std::array<int, 3> &voxel);

// The full-resolution voxel whose centre is nearest a world point (LPS mm);
// none outside the grid or where the grid is singular.
std::optional<std::array<int, 3>> voxelAtWorld(const Volume &volume,
                                               const std::array<double, 3> &world);
