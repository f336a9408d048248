#pragma once

#include <array>
#include <optional>

struct Volume;

// Reads a layer (an overlay or label map on its own grid) at the voxels of a
// base volume's full-resolution grid, through the world geometry of both: no
// file is resampled, every position is placed by the two grids. The volumes
// are not owned and must outlive the sampler.
class LayerSampler
{
public:
    enum class Interpolation
    {
        Nearest, // label maps: a label is never blended with its neighbour
        Linear
    };

    // False from isValid() where a grid is singular: nothing is then read.
    LayerSampler(const Volume &base, const Volume &layer, Interpolation interpolation);

    bool isValid() const { return valid; }
    // The layer's continuous data index (voxel centres at whole numbers) of
    // a continuous base index.
    std::array<double, 3> layerIndexOf(const std::array<double, 3> &baseIndex) const;
    // How layerIndexOf() moves for one step along base axis 0..2.
    std::array<double, 3> layerStepOf(int baseAxis) const;

    // The layer's value in its file's units at a layer index; NaN outside
    // its grid (beyond half a voxel past its outer centres).
    double valueAtLayerIndex(const std::array<double, 3> &layerIndex) const;
    double valueAt(const std::array<double, 3> &baseIndex) const
    {
        return valueAtLayerIndex(layerIndexOf(baseIndex));
    }
    // The layer voxel nearest a base index, none outside.
    std::optional<std::array<int, 3>> layerVoxelAt(const std::array<double, 3> &baseIndex) const;

private:
    const Volume &layer;
    Interpolation interpolation;
    bool valid = false;
    // layer index = offset + columns[axis] * base index[axis]
    std::array<double, 3> offset{};
    std::array<std::array<double, 3>, 3> columns{};
};

// Whether the layer's world box (its voxels' outer faces) meets the base's,
// judged in the base's grid.
bool layerMeetsBase(const Volume &base, const Volume &layer);
