#pragma once

#include "layerappearance.h"

#include <QVector3D>

#include <array>
#include <cstdint>
#include <vector>

struct FrameGeometry;
struct ImageGrid;
struct Volume;

// What the ray caster holds of a layer over the base volume: its texels and
// a classification table, so that a ray sample reads one texel and one table
// entry, the texel carrying the layer's own gradient for shading.
//
// Images: RGBA 16 bits per channel, read with linear filtering: alpha the
// normalised value, red, green and blue its central differences along the
// layer's axes (d stored as (d + 1) / 2). A table of imageTableEntries RGBA
// entries over the values (entry e holds the appearance's colour of the
// value at e / (imageTableEntries - 1) of the file range). Values below
// showsAbove and above showsBelow (normalised, each with an entry's margin)
// show nothing.
// Label maps: two bytes per voxel, read nearest (a label is never blended
// with its neighbour): the index of the voxel's label among the labels shown
// (1, 2, ...; 0 for the background, hidden labels and labels of opacity 0)
// and the direction of its label's boundary there (where the voxel's label
// ends among its six neighbours), as an octahedral code. With at most 255
// labels shown, luminance holds the index and alpha an 8-bit code
// (indexBits 8); with more, the index takes 10 bits (luminance and alpha's
// low two bits) and the code 6 (indexBits 10); beyond 1023 labels shown, the
// rest are not drawn. A table of one entry per index in rows of
// labelTableWidth entries.
// Table entries are RGBA floats, alpha the opacity of a hundredth of the box
// as for the base's transfer function: the layer's opacity times a label's
// own alpha.
struct LayerTexels
{
    static constexpr int imageTableEntries = 1024;
    static constexpr int labelTableWidth = 256;
    static constexpr int maximumLabelsShown = 1023;

    bool labels = false;
    std::array<int, 3> size{};
    // Images: four channels per voxel (red, green, blue, alpha). Labels: two
    // bytes per voxel (luminance, alpha).
    std::vector<std::uint16_t> imageTexels;
    std::vector<std::uint8_t> labelTexels;
    int indexBits = 8;
    int tableWidth = 0;
    int tableRows = 0;
    std::vector<float> table; // tableWidth * tableRows RGBA entries
    float showsAbove = 0.0f;
    float showsBelow = -1.0f;

    // Whether the voxel (in x-fastest order) shows something.
    bool shows(std::size_t voxel) const;
};

// An octahedral code of a direction (bits per axis of the code's square: 4
// for 8-bit codes, 3 for 6-bit ones) and back; (0, 0, 1) for a zero
// direction.
int octahedralCode(const std::array<double, 3> &direction, int bitsPerAxis);
std::array<double, 3> octahedralDirection(int code, int bitsPerAxis);

// The texels and table of a layer; empty (size 0) for a volume whose data
// does not match its size.
LayerTexels layerTexels(const Volume &layer, const LayerAppearance &appearance);

// Where a layer's texture lies in the frame's object space:
// t = origin + x.x * axisX + x.y * axisY + x.z * axisZ for an object point x,
// from the frame's and the layer's world-to-texture transforms.
struct LayerPlacement
{
    QVector3D origin;
    QVector3D axisX;
    QVector3D axisY;
    QVector3D axisZ;
};
LayerPlacement layerPlacement(const FrameGeometry &geometry,
                              const std::array<double, 16> &layerTextureFromWorld);

// Sets bit in the flags (one per brick of brickSize voxels of the base's data
// grid, counts of them, x fastest), the bricks that a visible voxel of the
// layer may reach: the voxel's own extent, for an image with the neighbour
// a linear lookup blends in, and a base voxel more. Rays must not step over
// those bricks although the base's own values there are transparent.
void markLayerBricks(const ImageGrid &baseGrid, const ImageGrid &layerGrid,
                     const LayerTexels &texels, const std::array<int, 3> &counts, int brickSize,
                     unsigned char bit, std::vector<unsigned char> &flags);
