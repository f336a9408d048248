#include "volumeblocks.h"

#include <algorithm>

namespace {

// The owned length of the blocks when an axis of n voxels is cut into count
// parts: a multiple of alignment, at least one.
int ownedLength(int n, int count, int alignment)
{
    const int length = (n + count - 1) / count;
    return std::max(alignment, (length + alignment - 1) / alignment * alignment);
}

// Voxels a block texture needs for an owned length (one more below, two more
// above), within an axis of n voxels.
int textureLength(int owned, int n)
{
    return std::min(owned + 3, n);
}

} // namespace

std::vector<VolumeBlock> layOutBlocks(const std::array<int, 3> &size, int alignment,
                                      const TextureFits &fits)
{
    std::vector<VolumeBlock> blocks;
    if (size[0] <= 0 || size[1] <= 0 || size[2] <= 0 || alignment <= 0)
        return blocks;
    if (fits(size[0], size[1], size[2])) {
        VolumeBlock whole;
        whole.ownUpper = size;
        whole.textureSize = size;
        blocks.push_back(whole);
        return blocks;
    }

    std::array<int, 3> counts{{1, 1, 1}};
    std::array<int, 3> owned{};
    for (;;) {
        std::array<int, 3> texture{};
        for (int axis = 0; axis < 3; ++axis) {
            owned[axis] = ownedLength(size[axis], counts[axis], alignment);
            texture[axis] = textureLength(owned[axis], size[axis]);
        }
        if (counts != std::array<int, 3>{{1, 1, 1}} && fits(texture[0], texture[1], texture[2]))
            break;
        // Split the axis with the longest blocks that can still be split.
        int longest = -1;
        for (int axis = 0; axis < 3; ++axis) {
            if (owned[axis] > alignment && (longest < 0 || texture[axis] > texture[longest]))
                longest = axis;
        }
        if (longest < 0)
            return blocks;
        // The next count that actually shortens the blocks.
        const int before = owned[longest];
        while (ownedLength(size[longest], counts[longest], alignment) == before)
            ++counts[longest];
    }

    std::array<int, 3> grid{};
    for (int axis = 0; axis < 3; ++axis)
        grid[axis] = (size[axis] + owned[axis] - 1) / owned[axis];
    for (int z = 0; z < grid[2]; ++z) {
        for (int y = 0; y < grid[1]; ++y) {
            for (int x = 0; x < grid[0]; ++x) {
                VolumeBlock block;
                block.index = {{x, y, z}};
                for (int axis = 0; axis < 3; ++axis) {
                    block.ownLower[axis] = block.index[axis] * owned[axis];
                    block.ownUpper[axis] = std::min(block.ownLower[axis] + owned[axis], size[axis]);
                    block.textureStart[axis] = std::max(block.ownLower[axis] - 1, 0);
                    block.textureSize[axis] =
                        std::min(block.ownUpper[axis] + 2, size[axis]) - block.textureStart[axis];
                }
                blocks.push_back(block);
            }
        }
    }
    return blocks;
}
