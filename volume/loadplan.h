#pragma once

#include <array>
#include <cstdint>
#include <string>

struct ScanLayout;

// How a volume is to be loaded, decided from its header (scanlayout.h) before
// a sample is read. Plain arithmetic: no GL, no Qt.

// What this machine allows a load. All sizes in bytes.
struct LoadLimits
{
    // Host memory a load may hold: the float volume plus, while reading, the
    // file's samples beside it (the rule of scanMemoryProblem()).
    std::uint64_t hostBytes = 0;
    // Texture memory the shown volume may take, at 2 bytes per voxel (16-bit).
    std::uint64_t gpuBudgetBytes = 0;
    // The largest 3D texture: texels per side and bytes.
    int maxTextureSide = 0;
    std::uint64_t maxTextureBytes = 0;
};

// This machine's limits with no GL context yet: hostBytes from
// loadableDataBytes(); a quarter of the physical memory as texture budget,
// since the GPU's own memory cannot be asked without a context, and with a
// software rasteriser or an integrated GPU the textures come out of the same
// memory as the floats (which may take half of it); 2048 texels per side and
// 1 GiB per texture, which every GL 3 implementation we met allows (llvmpipe:
// 2048 and about 1.75 GiB). A context's probe (proxy textures) replaces the
// texture limits once one exists.
LoadLimits defaultLoadLimits();

struct LoadPlan
{
    enum class Path
    {
        Single, // full resolution as floats, one 16-bit 3D texture
        Blocks, // full resolution as floats, several textures
        Level,  // a reduced level mapped from the raw file (2 x 2 x 2 averages, level times)
        Refuse  // cannot be shown here: reason says why and what to do
    };
    Path path = Path::Refuse;
    // The rendering's voxels are 2^level stored voxels apart (0: full resolution).
    int level = 0;
    // Voxels of the shown volume along the stored axes: ceil(n / 2^level).
    std::array<std::uint64_t, 3> size{{0, 0, 0}};
    // The shown volume does not fit one texture and is drawn in blocks
    // (always so for Blocks; possible at a reduced level as well).
    bool textureBlocks = false;
    // Host memory the chosen path holds at its peak (0 when refused).
    std::uint64_t hostBytes = 0;
    std::string reason; // Refuse: which limit, the sizes in GiB, the way forward
    std::string note;   // for the user, e.g. "shown at 1/2 resolution in 3D"
};

// The plan for layout under limits: full resolution when its floats (with the
// samples beside them while reading; DAT reads in place, without them) fit
// hostBytes, its 16-bit texture fits gpuBudgetBytes and it holds fewer than 2^32
// voxels (the volume's count); Single when every side and the texture bytes
// fit one texture, else Blocks. Otherwise, for Raw storage only, the smallest
// level k >= 1 whose reduced volume fits as floats (read from the mapped
// file: no samples beside) and as 16-bit textures; compressed and other
// storage is refused. Every limit is inclusive.
LoadPlan planVolumeLoad(const ScanLayout &layout, const LoadLimits &limits);
