#include "layertextures.h"

#include "framegeometry.h"
#include "volume.h"
#include "volumegrid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace {

void putEntry(std::vector<float> &table, std::size_t entry, QRgb colour)
{
    table[4 * entry + 0] = float(qRed(colour)) / 255.0f;
    table[4 * entry + 1] = float(qGreen(colour)) / 255.0f;
    table[4 * entry + 2] = float(qBlue(colour)) / 255.0f;
    table[4 * entry + 3] = float(qAlpha(colour)) / 255.0f;
}

// The labels the map holds, ascending: the texels' indices stand for them.
std::vector<int> heldLabels(const Volume &layer)
{
    std::vector<bool> present(std::size_t(LabelTables::maximumValue) + 1, false);
    const double minimum = layer.valueRange.minimum;
    const double span = layer.valueRange.maximum - minimum;
    for (const float value : layer.data) {
        const double label = std::round(minimum + double(value) * span);
        if (label >= 0.0 && label <= LabelTables::maximumValue)
            present[std::size_t(label)] = true;
    }
    std::vector<int> labels;
    for (std::size_t label = 0; label < present.size(); ++label)
        if (present[label])
            labels.push_back(int(label));
    return labels;
}

} // namespace

void fillLayerTable(const Volume &layer, const LayerAppearance &appearance, LayerTexels &texels)
{
    LayerAppearance shown = appearance;
    shown.visible = true; // a hidden layer is not drawn at all
    const double minimum = layer.valueRange.minimum;
    const double span = layer.valueRange.maximum - minimum;
    if (!texels.labels) {
        texels.tableWidth = LayerTexels::imageTableEntries;
        texels.tableRows = 1;
        texels.table.assign(std::size_t(4 * LayerTexels::imageTableEntries), 0.0f);
        for (int entry = 0; entry < LayerTexels::imageTableEntries; ++entry)
            putEntry(texels.table, std::size_t(entry),
                     shown.colourOf(minimum + span * entry / (LayerTexels::imageTableEntries - 1)));
        return;
    }
    const std::vector<int> labels = heldLabels(layer);
    texels.tableWidth = LayerTexels::labelTableWidth;
    texels.tableRows =
        int((labels.size() + LayerTexels::labelTableWidth - 1) / LayerTexels::labelTableWidth);
    texels.tableRows = std::max(texels.tableRows, 1);
    texels.table.assign(std::size_t(4 * texels.tableWidth * texels.tableRows), 0.0f);
    for (std::size_t index = 0; index < labels.size(); ++index)
        putEntry(texels.table, index, shown.colourOf(labels[index]));
}

LayerTexels layerTexels(const Volume &layer, const LayerAppearance &appearance)
{
    LayerTexels texels;
    const std::size_t count =
        std::size_t(layer.width) * std::size_t(layer.height) * std::size_t(layer.depth);
    if (count == 0 || count != layer.data.size())
        return texels;
    texels.size = {layer.width, layer.height, layer.depth};
    texels.labels = appearance.kind == LayerKind::Labels;
    if (!texels.labels) {
        texels.wideValues.resize(count);
        for (std::size_t i = 0; i < count; ++i) {
            const float value = layer.data[i];
            texels.wideValues[i] = std::uint16_t(
                std::isfinite(value) ? std::lround(std::clamp(value, 0.0f, 1.0f) * 65535.0f) : 0);
        }
    } else {
        const std::vector<int> labels = heldLabels(layer);
        std::vector<std::uint16_t> indexOf(std::size_t(LabelTables::maximumValue) + 1, 0);
        for (std::size_t index = 0; index < labels.size(); ++index)
            indexOf[std::size_t(labels[index])] = std::uint16_t(index);
        texels.indexBytes = labels.size() <= 256 ? 1 : 2;
        const double minimum = layer.valueRange.minimum;
        const double span = layer.valueRange.maximum - minimum;
        const auto indexAt = [&](std::size_t i) {
            const double label = std::round(minimum + double(layer.data[i]) * span);
            return label >= 0.0 && label <= LabelTables::maximumValue ? indexOf[std::size_t(label)]
                                                                      : std::uint16_t(0);
        };
        if (texels.indexBytes == 1) {
            texels.narrowValues.resize(count);
            for (std::size_t i = 0; i < count; ++i)
                texels.narrowValues[i] = std::uint8_t(indexAt(i));
        } else {
            texels.wideValues.resize(count);
            for (std::size_t i = 0; i < count; ++i)
                texels.wideValues[i] = indexAt(i);
        }
    }
    fillLayerTable(layer, appearance, texels);
    return texels;
}

LayerPlacement layerPlacement(const FrameGeometry &geometry,
                              const std::array<double, 16> &layerTextureFromWorld)
{
    // The frame's texture coordinates of an object point: s = x / size + 0.5;
    // world = B^-1 s with B the frame's textureFromWorld (affine).
    const std::array<double, 16> &b = geometry.textureFromWorld;
    const double a00 = b[0], a01 = b[1], a02 = b[2], a10 = b[4], a11 = b[5], a12 = b[6], a20 = b[8],
                 a21 = b[9], a22 = b[10];
    const double det = a00 * (a11 * a22 - a12 * a21) - a01 * (a10 * a22 - a12 * a20) +
                       a02 * (a10 * a21 - a11 * a20);
    LayerPlacement placement;
    if (!(std::abs(det) > 0.0))
        return placement;
    const std::array<double, 9> inverse{
        {(a11 * a22 - a12 * a21) / det, (a02 * a21 - a01 * a22) / det,
         (a01 * a12 - a02 * a11) / det, (a12 * a20 - a10 * a22) / det,
         (a00 * a22 - a02 * a20) / det, (a02 * a10 - a00 * a12) / det,
         (a10 * a21 - a11 * a20) / det, (a01 * a20 - a00 * a21) / det,
         (a00 * a11 - a01 * a10) / det}};
    const auto layerTexture = [&](const std::array<double, 3> &object) {
        std::array<double, 3> s{};
        for (std::size_t i = 0; i < 3; ++i) {
            const double size = geometry.volumeSize[int(i)];
            s[i] = (size > 0.0f ? object[i] / size : 0.0) + 0.5 - b[4 * i + 3];
        }
        std::array<double, 3> world{};
        for (std::size_t i = 0; i < 3; ++i)
            world[i] =
                inverse[3 * i] * s[0] + inverse[3 * i + 1] * s[1] + inverse[3 * i + 2] * s[2];
        const std::array<double, 16> &l = layerTextureFromWorld;
        QVector3D t;
        for (std::size_t i = 0; i < 3; ++i)
            t[int(i)] = float(l[4 * i] * world[0] + l[4 * i + 1] * world[1] +
                              l[4 * i + 2] * world[2] + l[4 * i + 3]);
        return t;
    };
    placement.origin = layerTexture({0.0, 0.0, 0.0});
    placement.axisX = layerTexture({1.0, 0.0, 0.0}) - placement.origin;
    placement.axisY = layerTexture({0.0, 1.0, 0.0}) - placement.origin;
    placement.axisZ = layerTexture({0.0, 0.0, 1.0}) - placement.origin;
    return placement;
}
