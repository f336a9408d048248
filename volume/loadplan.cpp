#include "loadplan.h"

#include "memorylimit.h"
#include "scanlayout.h"

#include <unistd.h>

#include <cstdio>

namespace {

// Two of the planned sizes: what the full or reduced volume holds.
struct Footprint
{
    std::array<std::uint64_t, 3> size{};
    std::uint64_t count = 0;
    std::uint64_t hostBytes = 0;
    std::uint64_t textureBytes = 0;
};

// The volume at level (ceil(n / 2^level) voxels per axis); sampleBytes lie
// beside each float while reading.
Footprint footprint(const ScanLayout &layout, int level, std::uint64_t sampleBytes)
{
    Footprint result;
    result.count = 1;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const std::uint64_t step = std::uint64_t(1) << level;
        result.size[axis] = (layout.size[axis] + step - 1) / step;
        result.count *= result.size[axis];
    }
    // Axes are at most 65535 voxels, so no product here overflows 64 bits.
    result.hostBytes = result.count * (sizeof(float) + sampleBytes);
    result.textureBytes = result.count * 2;
    return result;
}

bool fits(const Footprint &volume, const LoadLimits &limits)
{
    return volume.count <= UINT32_MAX && volume.hostBytes <= limits.hostBytes &&
           volume.textureBytes <= limits.gpuBudgetBytes;
}

bool fitsOneTexture(const Footprint &volume, const LoadLimits &limits)
{
    for (std::uint64_t side : volume.size)
        if (side > std::uint64_t(limits.maxTextureSide))
            return false;
    return volume.textureBytes <= limits.maxTextureBytes;
}

std::string gibibytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f GiB", double(bytes) / double(1ull << 30));
    return text;
}

std::string sizeText(const std::array<std::uint64_t, 3> &size)
{
    return std::to_string(size[0]) + " x " + std::to_string(size[1]) + " x " +
           std::to_string(size[2]);
}

// Which limit the full volume breaks, with the sizes.
std::string exceeded(const Footprint &full, const LoadLimits &limits)
{
    std::string text = "The " + sizeText(full.size) + " voxels need " + gibibytes(full.hostBytes) +
                       " of memory while loading and " + gibibytes(full.textureBytes) +
                       " as 16-bit textures; this machine allows " + gibibytes(limits.hostBytes) +
                       " and " + gibibytes(limits.gpuBudgetBytes);
    if (full.count > UINT32_MAX)
        text += ", and a volume holds fewer than 2^32 voxels";
    return text;
}

} // namespace

LoadLimits defaultLoadLimits()
{
    LoadLimits limits;
    limits.hostBytes = loadableDataBytes();
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    limits.gpuBudgetBytes = pages > 0 && pageSize > 0
                                ? std::uint64_t(pages) * std::uint64_t(pageSize) / 4
                                : std::uint64_t(1) << 30; // unknown machine: 1 GiB
    limits.maxTextureSide = 2048;
    limits.maxTextureBytes = std::uint64_t(1) << 30;
    return limits;
}

LoadPlan planVolumeLoad(const ScanLayout &layout, const LoadLimits &limits)
{
    LoadPlan plan;
    // The DAT reader widens its samples in place; the scan readers hold both.
    const std::uint64_t besideBytes =
        layout.format == VolumeFormat::Dat ? 0 : sampleSize(layout.type);
    const Footprint full = footprint(layout, 0, besideBytes);
    if (fits(full, limits)) {
        plan.textureBlocks = !fitsOneTexture(full, limits);
        plan.path = plan.textureBlocks ? LoadPlan::Path::Blocks : LoadPlan::Path::Single;
        plan.size = full.size;
        plan.hostBytes = full.hostBytes;
        return plan;
    }
    if (layout.storage != ScanLayout::Storage::Raw) {
        plan.reason =
            exceeded(full, limits) +
            (layout.storage == ScanLayout::Storage::Compressed
                 ? ". Its samples are compressed, and only uncompressed samples can be read at a "
                   "reduced resolution: decompress the file first (or save it uncompressed)."
                 : ". Its samples are stored as text, DICOM slices or half floats, and only "
                   "samples stored as they are shown can be read at a reduced resolution: "
                   "convert it to an uncompressed NIfTI or NRRD file first.");
        return plan;
    }
    // 16 halvings bring the largest axis (65535) down to one voxel.
    for (int level = 1; level <= 16; ++level) {
        const Footprint reduced = footprint(layout, level, 0);
        if (!fits(reduced, limits))
            continue;
        plan.path = LoadPlan::Path::Level;
        plan.level = level;
        plan.size = reduced.size;
        plan.hostBytes = reduced.hostBytes;
        plan.textureBlocks = !fitsOneTexture(reduced, limits);
        plan.note = "Shown at 1/" + std::to_string(1u << level) + " resolution in 3D (" +
                    sizeText(reduced.size) + " averages of " + std::to_string(1u << level) +
                    "^3 voxels): " + exceeded(full, limits) + ".";
        return plan;
    }
    plan.reason = exceeded(full, limits) + ", and not even a single averaged voxel fits.";
    return plan;
}
