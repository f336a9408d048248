#include "layertextures.h"

#include "framegeometry.h"
#include "volume.h"
#include "volumegrid.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <optional>

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

int octahedralCode(const std::array<double, 3> &direction, int bitsPerAxis)
{
    const double length = std::abs(direction[0]) + std::abs(direction[1]) + std::abs(direction[2]);
    double u = 0.0;
    double v = 0.0;
    if (length > 0.0) {
        u = direction[0] / length;
        v = direction[1] / length;
        if (direction[2] < 0.0) {
            const double folded = 1.0 - std::abs(v);
            v = (1.0 - std::abs(u)) * (direction[1] < 0.0 ? -1.0 : 1.0);
            u = folded * (direction[0] < 0.0 ? -1.0 : 1.0);
        }
    }
    const int cells = 1 << bitsPerAxis;
    const auto cell = [cells](double t) {
        return std::clamp(int(std::floor((t + 1.0) / 2.0 * cells)), 0, cells - 1);
    };
    return cell(u) + cells * cell(v);
}

std::array<double, 3> octahedralDirection(int code, int bitsPerAxis)
{
    const int cells = 1 << bitsPerAxis;
    const double u = ((code % cells) + 0.5) / cells * 2.0 - 1.0;
    const double v = ((code / cells) + 0.5) / cells * 2.0 - 1.0;
    std::array<double, 3> d{{u, v, 1.0 - std::abs(u) - std::abs(v)}};
    if (d[2] < 0.0) {
        const double x = (1.0 - std::abs(v)) * (u < 0.0 ? -1.0 : 1.0);
        d[1] = (1.0 - std::abs(u)) * (v < 0.0 ? -1.0 : 1.0);
        d[0] = x;
    }
    const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
    for (double &c : d)
        c /= length;
    return d;
}

bool LayerTexels::shows(std::size_t voxel) const
{
    if (labels) {
        const int index =
            labelTexels[2 * voxel] + (indexBits == 8 ? 0 : 256 * (labelTexels[2 * voxel + 1] & 3));
        return index > 0;
    }
    const float value = imageTexels[4 * voxel + 3] / 65535.0f;
    // A linear lookup between this voxel and a neighbour may show what
    // neither does alone only where one of them lies in a shown span; the
    // margins of showsAbove and showsBelow take in that entry.
    return value >= showsAbove || value <= showsBelow;
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
    LayerAppearance shown = appearance;
    shown.visible = true; // a hidden layer is not drawn at all
    const double minimum = layer.valueRange.minimum;
    const double span = layer.valueRange.maximum - minimum;
    const std::array<std::size_t, 3> stride{
        {1, std::size_t(layer.width), std::size_t(layer.width) * std::size_t(layer.height)}};
    // Calls visit(voxel, neighbour below, neighbour above) along each axis,
    // the neighbours held at the grid's faces.
    const auto forEachVoxel = [&](auto visit) {
        std::size_t voxel = 0;
        for (int k = 0; k < layer.depth; ++k)
            for (int j = 0; j < layer.height; ++j)
                for (int i = 0; i < layer.width; ++i, ++voxel) {
                    const int at[3] = {i, j, k};
                    std::array<std::size_t, 3> below{};
                    std::array<std::size_t, 3> above{};
                    for (std::size_t a = 0; a < 3; ++a) {
                        below[a] = at[a] > 0 ? voxel - stride[a] : voxel;
                        above[a] = at[a] + 1 < texels.size[a] ? voxel + stride[a] : voxel;
                    }
                    visit(voxel, below, above);
                }
    };

    if (!texels.labels) {
        const auto normalised = [&](std::size_t i) {
            const float value = layer.data[i];
            return std::isfinite(value) ? std::clamp(value, 0.0f, 1.0f) : 0.0f;
        };
        texels.imageTexels.resize(4 * count);
        forEachVoxel([&](std::size_t voxel, const std::array<std::size_t, 3> &below,
                         const std::array<std::size_t, 3> &above) {
            for (std::size_t a = 0; a < 3; ++a) {
                const float difference = normalised(above[a]) - normalised(below[a]);
                texels.imageTexels[4 * voxel + a] =
                    std::uint16_t(std::lround((difference + 1.0f) * 0.5f * 65535.0f));
            }
            texels.imageTexels[4 * voxel + 3] =
                std::uint16_t(std::lround(normalised(voxel) * 65535.0f));
        });
        constexpr int entries = LayerTexels::imageTableEntries;
        texels.tableWidth = entries;
        texels.tableRows = 1;
        texels.table.assign(std::size_t(4 * entries), 0.0f);
        // The value 0 splits the entries into a negative side and a positive
        // one; each side shows from its far end inwards.
        const int split = span > 0.0 ? int(std::ceil(-minimum / span * (entries - 1))) : 0;
        int lowestPositive = entries;
        int highestNegative = -1;
        for (int entry = 0; entry < entries; ++entry) {
            putEntry(texels.table, std::size_t(entry),
                     shown.colourOf(minimum + span * entry / (entries - 1)));
            if (texels.table[std::size_t(4 * entry + 3)] <= 0.0f)
                continue;
            if (entry >= split)
                lowestPositive = std::min(lowestPositive, entry);
            else
                highestNegative = std::max(highestNegative, entry);
        }
        // A lookup blends the entry next to a shown one.
        texels.showsAbove =
            lowestPositive >= entries ? 2.0f : float(lowestPositive - 1) / float(entries - 1);
        texels.showsBelow =
            highestNegative < 0 ? -1.0f : float(highestNegative + 1) / float(entries - 1);
        return texels;
    }

    // The labels the map holds and shows get the indices 1, 2, ...
    const std::vector<int> held = heldLabels(layer);
    std::vector<std::uint16_t> indexOf(std::size_t(LabelTables::maximumValue) + 1, 0);
    std::vector<QRgb> colours{qRgba(0, 0, 0, 0)};
    for (const int label : held) {
        const QRgb colour = shown.colourOf(label);
        if (qAlpha(colour) == 0 || int(colours.size()) > LayerTexels::maximumLabelsShown)
            continue;
        indexOf[std::size_t(label)] = std::uint16_t(colours.size());
        colours.push_back(colour);
    }
    texels.tableWidth = LayerTexels::labelTableWidth;
    texels.tableRows =
        int((colours.size() + LayerTexels::labelTableWidth - 1) / LayerTexels::labelTableWidth);
    texels.table.assign(std::size_t(4 * texels.tableWidth * texels.tableRows), 0.0f);
    for (std::size_t index = 0; index < colours.size(); ++index)
        putEntry(texels.table, index, colours[index]);
    texels.indexBits = colours.size() <= 256 ? 8 : 10;
    const int codeBits = texels.indexBits == 8 ? 4 : 3; // per axis of the code
    std::vector<std::uint16_t> index(count);
    for (std::size_t i = 0; i < count; ++i) {
        const double label = std::round(minimum + double(layer.data[i]) * span);
        index[i] = label >= 0.0 && label <= LabelTables::maximumValue ? indexOf[std::size_t(label)]
                                                                      : std::uint16_t(0);
    }
    texels.labelTexels.resize(2 * count);
    forEachVoxel([&](std::size_t voxel, const std::array<std::size_t, 3> &below,
                     const std::array<std::size_t, 3> &above) {
        const std::uint16_t own = index[voxel];
        // The gradient of "holds this voxel's label": it points inwards, so
        // the boundary's outward normal is its opposite, as for the volume.
        std::array<double, 3> gradient{};
        for (std::size_t a = 0; a < 3; ++a)
            gradient[a] = double(index[above[a]] == own) - double(index[below[a]] == own);
        const int code = octahedralCode(gradient, codeBits);
        if (texels.indexBits == 8) {
            texels.labelTexels[2 * voxel] = std::uint8_t(own);
            texels.labelTexels[2 * voxel + 1] = std::uint8_t(code);
        } else {
            texels.labelTexels[2 * voxel] = std::uint8_t(own & 255);
            texels.labelTexels[2 * voxel + 1] = std::uint8_t((own >> 8) | (code << 2));
        }
    });
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

void markLayerBricks(const ImageGrid &baseGrid, const ImageGrid &layerGrid,
                     const LayerTexels &texels, const std::array<int, 3> &counts, int brickSize,
                     unsigned char bit, std::vector<unsigned char> &flags)
{
    const std::size_t brickCount =
        std::size_t(counts[0]) * std::size_t(counts[1]) * std::size_t(counts[2]);
    if (flags.size() != brickCount || texels.size[0] == 0)
        return;
    // Base data index of a layer data index: offset + columns * index.
    const ImageGrid &from = layerGrid;
    const ImageGrid &to = baseGrid;
    const std::optional<std::array<double, 3>> origin = to.indexOf(from.worldOf({0.0, 0.0, 0.0}));
    if (!origin)
        return;
    std::array<std::array<double, 3>, 3> columns{};
    std::array<double, 3> reach{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        std::array<double, 3> unit{};
        unit[axis] = 1.0;
        const std::array<double, 3> moved = *to.indexOf(from.worldOf(unit));
        for (std::size_t i = 0; i < 3; ++i) {
            columns[axis][i] = moved[i] - (*origin)[i];
            // Half a layer voxel each way, and a whole one more where lookups
            // blend neighbours.
            reach[i] += std::abs(columns[axis][i]) * (texels.labels ? 0.5 : 1.5);
        }
    }
    for (double &r : reach)
        r += 1.0;

    const std::array<int, 3> &size = texels.size;
    std::size_t voxel = 0;
    for (int k = 0; k < size[2]; ++k)
        for (int j = 0; j < size[1]; ++j)
            for (int i = 0; i < size[0]; ++i, ++voxel) {
                if (!texels.shows(voxel))
                    continue;
                std::array<int, 3> first{};
                std::array<int, 3> last{};
                bool inside = true;
                for (std::size_t a = 0; a < 3; ++a) {
                    const double centre =
                        (*origin)[a] + columns[0][a] * i + columns[1][a] * j + columns[2][a] * k;
                    first[a] = std::max(0, int(std::floor((centre - reach[a]) / brickSize)));
                    last[a] =
                        std::min(counts[a] - 1, int(std::floor((centre + reach[a]) / brickSize)));
                    inside = inside && first[a] <= last[a];
                }
                if (!inside)
                    continue;
                for (int bz = first[2]; bz <= last[2]; ++bz)
                    for (int by = first[1]; by <= last[1]; ++by)
                        for (int bx = first[0]; bx <= last[0]; ++bx)
                            flags[std::size_t(bx) + std::size_t(counts[0]) *
                                                        (std::size_t(by) + std::size_t(counts[1]) *
                                                                               std::size_t(bz))] |=
                                bit;
            }
}
