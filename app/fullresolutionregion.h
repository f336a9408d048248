#pragma once

#include "viewsettings.h"

#include <array>
#include <cstdint>
#include <string>

struct Volume;

// The part of a volume held at a reduced level (Volume::fullResolution) that
// its crop box shows, in full-resolution voxels, and whether it may be held
// at full resolution.
struct FullResolutionRegion
{
    std::array<int, 3> lower{};
    std::array<int, 3> upper{}; // one past the last voxel
    bool fits = false;
    std::string reason; // why not, with the sizes and what to do
};

// The full-resolution voxels that crop (normalised to the shown volume's box)
// covers: every voxel a reduced voxel inside the crop stands for. It fits when
// its floats fit this machine's memory rule and its 16-bit texture the budget
// (0: defaultLoadLimits()'s).
FullResolutionRegion fullResolutionRegion(const Volume &shown, const CropBox &crop,
                                          std::uint64_t textureBudgetBytes);
