#include "layerslice.h"

#include "layerappearance.h"
#include "layersampler.h"
#include "slicegeometry.h"
#include "volume.h"

#include <QStringList>

#include <array>
#include <cmath>
#include <cstddef>

namespace {

QRgb over(QRgb below, QRgb colour)
{
    const int alpha = qAlpha(colour);
    if (alpha == 0)
        return below;
    const auto mix = [alpha](int low, int high) {
        return (low * (255 - alpha) + high * alpha + 127) / 255;
    };
    return qRgb(mix(qRed(below), qRed(colour)), mix(qGreen(below), qGreen(colour)),
                mix(qBlue(below), qBlue(colour)));
}

// Calls visit(i, j, layer index) for every pixel, the layer index moving by
// one column step along a row.
template <typename Visit>
void forEachPixel(const QImage &image, const SliceGeometry &geometry, int slice,
                  const LayerSampler &sampler, Visit visit)
{
    std::array<double, 3> columnStep = sampler.layerStepOf(geometry.columnAxis());
    if (geometry.columnsReversed())
        for (double &step : columnStep)
            step = -step;
    for (int j = 0; j < image.height(); ++j) {
        std::array<double, 3> base{};
        base[std::size_t(geometry.columnAxis())] = geometry.voxelOfColumn(0);
        base[std::size_t(geometry.rowAxis())] = geometry.voxelOfRow(j);
        base[std::size_t(geometry.normalAxis())] = slice;
        const std::array<double, 3> start = sampler.layerIndexOf(base);
        for (int i = 0; i < image.width(); ++i) {
            const std::array<double, 3> index{{start[0] + columnStep[0] * i,
                                               start[1] + columnStep[1] * i,
                                               start[2] + columnStep[2] * i}};
            visit(i, j, index);
        }
    }
}

void blendImage(QImage &image, const SliceGeometry &geometry, int slice,
                const LayerSampler &sampler, const LayerAppearance &appearance)
{
    forEachPixel(image, geometry, slice, sampler,
                 [&](int i, int j, const std::array<double, 3> &index) {
                     QRgb *pixel = reinterpret_cast<QRgb *>(image.scanLine(j)) + i;
                     *pixel = over(*pixel, appearance.colourOf(sampler.valueAtLayerIndex(index)));
                 });
}

void blendLabels(QImage &image, const SliceGeometry &geometry, int slice,
                 const LayerSampler &sampler, const LayerAppearance &appearance)
{
    const int width = image.width();
    // The label of each pixel; -1 outside the map.
    std::vector<int> labels(std::size_t(width) * std::size_t(image.height()), -1);
    forEachPixel(image, geometry, slice, sampler,
                 [&](int i, int j, const std::array<double, 3> &index) {
                     const double value = sampler.valueAtLayerIndex(index);
                     if (std::isfinite(value))
                         labels[std::size_t(j) * std::size_t(width) + std::size_t(i)] =
                             int(std::lround(value));
                 });
    for (int j = 0; j < image.height(); ++j) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(j));
        const int *line = labels.data() + std::size_t(j) * std::size_t(width);
        for (int i = 0; i < width; ++i) {
            const int label = line[i];
            if (label < 0)
                continue;
            if (appearance.outline) {
                const bool boundary = (i > 0 && line[i - 1] != label) ||
                                      (i + 1 < width && line[i + 1] != label) ||
                                      (j > 0 && line[i - width] != label) ||
                                      (j + 1 < image.height() && line[i + width] != label);
                if (!boundary)
                    continue;
            }
            row[i] = over(row[i], appearance.colourOf(label));
        }
    }
}

} // namespace

QString layerReadout(const Volume &base, const std::array<int, 3> &voxel,
                     const std::vector<ShownLayer> &layers)
{
    QStringList parts;
    for (const ShownLayer &layer : layers) {
        if (!layer.volume || !layer.appearance)
            continue;
        const LayerSampler sampler(base, *layer.volume, LayerSampler::Interpolation::Nearest);
        const double value =
            sampler.valueAt({double(voxel[0]), double(voxel[1]), double(voxel[2])});
        QString text = layer.name + QStringLiteral(": ");
        if (!std::isfinite(value)) {
            text += QStringLiteral("outside");
        } else if (layer.appearance->kind == LayerKind::Labels) {
            const int label = int(std::lround(value));
            text += QString::number(label);
            const Label *named = layer.appearance->labels.find(label);
            if (named && !named->name.isEmpty())
                text += QLatin1Char(' ') + named->name;
        } else {
            text += QString::number(value, 'g', 6);
        }
        parts << text;
    }
    return parts.join(QStringLiteral("  "));
}

void blendLayers(QImage &image, const Volume &base, const SliceGeometry &geometry, int slice,
                 const std::vector<ShownLayer> &layers)
{
    if (image.isNull() || image.width() != geometry.columns() || image.height() != geometry.rows())
        return;
    for (const ShownLayer &layer : layers) {
        if (!layer.volume || !layer.appearance || !layer.appearance->visible ||
            layer.appearance->opacity <= 0.0)
            continue;
        const bool labels = layer.appearance->kind == LayerKind::Labels;
        const LayerSampler sampler(base, *layer.volume,
                                   labels ? LayerSampler::Interpolation::Nearest
                                          : LayerSampler::Interpolation::Linear);
        if (!sampler.isValid())
            continue;
        if (labels)
            blendLabels(image, geometry, slice, sampler, *layer.appearance);
        else
            blendImage(image, geometry, slice, sampler, *layer.appearance);
    }
}
