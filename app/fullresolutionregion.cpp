#include "fullresolutionregion.h"

#include "loadplan.h"
#include "mappedscan.h"
#include "memorylimit.h"
#include "volume.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

std::string gibibytes(double bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f GiB", bytes / double(std::uint64_t(1) << 30));
    return text;
}

} // namespace

FullResolutionRegion fullResolutionRegion(const Volume &shown, const CropBox &crop,
                                          std::uint64_t textureBudgetBytes)
{
    FullResolutionRegion region;
    if (!shown.fullResolution) {
        region.reason = "The volume is already shown at full resolution.";
        return region;
    }
    const CropBox box = normalisedCropBox(crop);
    const std::array<int, 3> full = shown.fullResolution->size();
    const std::array<int, 3> counts{{shown.width, shown.height, shown.depth}};
    const double edge = std::ldexp(1.0, shown.level);
    std::uint64_t voxels = 1;
    for (int axis = 0; axis < 3; ++axis) {
        const double reduced = double(counts[axis]);
        const int lower = shown.origin[axis] + int(std::floor(box.lower[axis] * reduced) * edge);
        const int upper = shown.origin[axis] + int(std::ceil(box.upper[axis] * reduced) * edge);
        region.lower[axis] = std::clamp(lower, 0, full[axis] - 1);
        region.upper[axis] = std::clamp(upper, region.lower[axis] + 1, full[axis]);
        voxels *= std::uint64_t(region.upper[axis] - region.lower[axis]);
    }
    const std::uint64_t budget =
        textureBudgetBytes > 0 ? textureBudgetBytes : defaultLoadLimits().gpuBudgetBytes;
    const std::uint64_t floatBytes = voxels * sizeof(float);
    const std::uint64_t textureBytes = voxels * 2;
    region.fits = floatBytes <= loadableDataBytes() && textureBytes <= budget;
    if (!region.fits) {
        region.reason = "The cropped part (" + std::to_string(region.upper[0] - region.lower[0]) +
                        " x " + std::to_string(region.upper[1] - region.lower[1]) + " x " +
                        std::to_string(region.upper[2] - region.lower[2]) + " voxels) needs " +
                        gibibytes(double(floatBytes)) + " of memory and " +
                        gibibytes(double(textureBytes)) + " of textures at full resolution; " +
                        gibibytes(double(loadableDataBytes())) + " and " +
                        gibibytes(double(budget)) + " are allowed: crop it further first.";
    }
    return region;
}
