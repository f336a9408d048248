#pragma once

#include "layerappearance.h"

#include <QVector3D>

#include <array>
#include <cstdint>
#include <vector>

struct FrameGeometry;
struct Volume;

// What the ray caster holds of a layer over the base volume: its values as
// texels and a classification table, so that a ray sample reads one texel
// and one table entry.
//
// Images: the normalised values in 16 bits, read with linear filtering, and
// a table of imageTableEntries RGBA entries over them (entry e holds the
// appearance's colour of the value at e / (imageTableEntries - 1) of the
// file range).
// Label maps: each voxel the index of its label among those the map holds
// (8 bits where there are at most 256, else 16), read nearest (a label is
// never blended with its neighbour), and a table of one entry per index in
// rows of labelTableWidth entries.
// Table entries are RGBA floats, alpha the opacity of a hundredth of the box
// as for the base's transfer function: the layer's opacity times a label's
// own alpha; hidden labels and values below an image's range have alpha 0.
struct LayerTexels
{
    static constexpr int imageTableEntries = 1024;
    static constexpr int labelTableWidth = 256;

    bool labels = false;
    std::array<int, 3> size{};
    // Images: one per voxel, normalised 0..65535. Labels: the index, in one
    // byte (indexBytes 1) or two.
    std::vector<std::uint16_t> wideValues;
    std::vector<std::uint8_t> narrowValues;
    int indexBytes = 2;
    int tableWidth = 0;
    int tableRows = 0;
    std::vector<float> table; // tableWidth * tableRows RGBA entries
};

// The texels and table of a layer; empty (size 0) for a volume whose data
// does not match its size.
LayerTexels layerTexels(const Volume &layer, const LayerAppearance &appearance);
// Only the table, for an appearance change of the same layer.
void fillLayerTable(const Volume &layer, const LayerAppearance &appearance, LayerTexels &texels);

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
