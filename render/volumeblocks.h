#pragma once

#include <array>
#include <functional>
#include <vector>

// A volume too large for one 3D texture is drawn as several: a grid of blocks
// along the three axes. Voxel coordinates put voxel i's centre at i. Block b
// owns the positions [ownLower, ownUpper) along each axis (the last block up
// to and including the last voxel), and its texture holds the voxels
// textureStart .. textureStart + textureSize - 1: one voxel more below and two
// more above what it owns (within the volume), so that a trilinear lookup at
// any owned position, and the lookups one voxel either way that gradients
// take, read only voxels of this one texture. A ray's samples are then each
// taken in exactly one block, from the same voxels with the same weights as
// from a single texture: no seams.
struct VolumeBlock
{
    std::array<int, 3> index{};        // position in the grid of blocks
    std::array<int, 3> ownLower{};     // first voxel position owned
    std::array<int, 3> ownUpper{};     // one past the last (the volume's size for the last)
    std::array<int, 3> textureStart{}; // first voxel in the texture
    std::array<int, 3> textureSize{};  // voxels in the texture
};

// Whether the implementation can hold a texture of this many voxels per side.
using TextureFits = std::function<bool(int width, int height, int depth)>;

// The blocks of a volume of size voxels: one block for the whole volume when
// fits accepts it, else the fewest blocks found by splitting the axis whose
// blocks are longest, again and again, until fits accepts a block's texture.
// Blocks are cut at multiples of alignment voxels (the empty-space bricks'
// size), so a brick never straddles two blocks. Empty when even blocks of
// alignment voxels per side do not fit, or size has no voxels.
std::vector<VolumeBlock> layOutBlocks(const std::array<int, 3> &size, int alignment,
                                      const TextureFits &fits);
