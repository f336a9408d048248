#include "sliceimage.h"

#include "slicegeometry.h"
#include "slicegrid.h"
#include "volume.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

QSize sliceImageSize(const Volume &volume, int axis)
{
    const std::array<int, 3> size = SliceGrid::of(volume).dimensions;
    switch (axis) {
    case SliceAxisX:
        return QSize(size[2], size[1]);
    case SliceAxisY:
        return QSize(size[0], size[2]);
    case SliceAxisZ:
        return QSize(size[0], size[1]);
    default:
        return QSize();
    }
}

QSize sliceDisplaySize(const Volume &volume, int axis, QSize limit)
{
    const QSize voxels = sliceImageSize(volume, axis);
    if (voxels.isEmpty())
        return QSize();
    // Spacing of the image's columns and rows.
    const std::array<double, 3> spacing = SliceGrid::of(volume).spacing;
    const int across[] = {2, 0, 0};
    const int down[] = {1, 2, 1};
    const double columnSpacing = spacing[std::size_t(across[axis])];
    const double rowSpacing = spacing[std::size_t(down[axis])];
    double width = voxels.width();
    double height = voxels.height();
    if (columnSpacing != rowSpacing && columnSpacing > 0.0 && rowSpacing > 0.0) {
        const double finer = std::min(columnSpacing, rowSpacing);
        width *= columnSpacing / finer;
        height *= rowSpacing / finer;
    }
    const double scale =
        std::min({1.0, std::max(1, limit.width()) / width, std::max(1, limit.height()) / height});
    if (scale == 1.0 && width == voxels.width() && height == voxels.height())
        return voxels;
    return QSize(std::max(1, int(std::lround(width * scale))),
                 std::max(1, int(std::lround(height * scale))));
}

int sliceCount(const Volume &volume, int axis)
{
    if (axis < 0 || axis > 2)
        return 0;
    return SliceGrid::of(volume).dimensions[std::size_t(axis)];
}

namespace {

// The image of a slice, each pixel pixel(the voxel's value in the slice's
// values).
template <typename Pixel>
QImage fillSliceImage(const Volume &volume, int axis, int slice, const Pixel &pixel)
{
    const QSize size = sliceImageSize(volume, axis);
    SliceValues values;
    if (size.isEmpty() || !readSliceValues(volume, axis, slice, values))
        return QImage();

    QImage image(size, QImage::Format_RGB32);
    const float *data = values.first();
    const int columns = size.width();

    if (axis == SliceAxisX) {
        // Image column i is Z, row j is Y. Held whole, neighbouring columns
        // lie a whole Z plane apart in memory: walk one plane at a time (image
        // column i = z), down its Y rows, so the reads advance by a constant
        // row stride that the prefetcher follows; blocks of columns keep the
        // written image lines in cache.
        const std::size_t rowStride = std::size_t(values.stride[1]);
        const std::size_t columnStride = std::size_t(values.stride[2]);
        constexpr int columnBlock = 16;
        const std::size_t bytesPerLine = std::size_t(image.bytesPerLine());
        uchar *bits = image.bits();
        for (int i0 = 0; i0 < columns; i0 += columnBlock) {
            const int i1 = std::min(columns, i0 + columnBlock);
            for (int j = 0; j < size.height(); ++j) {
                QRgb *row = reinterpret_cast<QRgb *>(bits + bytesPerLine * std::size_t(j));
                const float *source = data + rowStride * std::size_t(j);
                for (int i = i0; i < i1; ++i)
                    row[i] = pixel(source + columnStride * std::size_t(i));
            }
        }
        return image;
    }

    // Along Y and Z an image row is a contiguous run of voxels along X.
    const std::size_t rowStride = std::size_t(values.stride[axis == SliceAxisY ? 2 : 1]);
    for (int j = 0; j < size.height(); ++j) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(j));
        const float *source = data + rowStride * std::size_t(j);
        for (int i = 0; i < columns; ++i)
            row[i] = pixel(source + i);
    }
    return image;
}

template <typename Pixel>
QImage fillPlaneImage(const Volume &volume, const SliceGeometry &geometry, int slice,
                      const Pixel &pixel)
{
    SliceValues values;
    if (slice < 0 || slice >= geometry.sliceCount() || geometry.columns() < 1 ||
        geometry.rows() < 1 || !readSliceValues(volume, geometry.normalAxis(), slice, values))
        return QImage();

    const std::ptrdiff_t columnStride = values.stride[std::size_t(geometry.columnAxis())];
    const std::ptrdiff_t rowStride = values.stride[std::size_t(geometry.rowAxis())];
    const int columns = geometry.columns();
    // Reversed columns are read from the far end backwards.
    const std::ptrdiff_t step = geometry.columnsReversed() ? -columnStride : columnStride;
    const std::ptrdiff_t first = geometry.columnsReversed() ? columnStride * (columns - 1) : 0;
    const float *sliceStart = values.first() + first;

    // Every image row is one line of voxels at a constant stride (X rows are
    // contiguous, Y rows a row apart within one Z plane), which the
    // prefetcher follows; no plane is read across Z planes per pixel.
    QImage image(columns, geometry.rows(), QImage::Format_RGB32);
    for (int j = 0; j < geometry.rows(); ++j) {
        QRgb *target = reinterpret_cast<QRgb *>(image.scanLine(j));
        const float *source = sliceStart + rowStride * geometry.voxelOfRow(j);
        if (step == 1) {
            for (int i = 0; i < columns; ++i)
                target[i] = pixel(source + i);
        } else {
            for (int i = 0; i < columns; ++i)
                target[i] = pixel(source + step * i);
        }
    }
    return image;
}

// Calls fill with the pixel maker the volume needs: grey through mapping, or
// for a colour volume its colour as stored, found by the value's place in
// Volume::data (colour volumes are always held whole).
template <typename Fill>
QImage withPixels(const Volume &volume, const GreyMapping &mapping, Fill fill)
{
    if (!volume.colours)
        return fill([&mapping](const float *value) { return mapping.rgb(*value); });
    const VoxelColours &colours = *volume.colours;
    const float *values = volume.data.data();
    const std::size_t components = std::size_t(colours.components);
    const float scale = float(255.0 / colours.fullScale);
    const std::size_t count = volume.data.size();
    return fill([&, values, components, scale, count](const float *value) {
        const std::ptrdiff_t voxel = value - values;
        if (voxel < 0 || std::size_t(voxel) >= count ||
            (std::size_t(voxel) + 1) * components > colours.values.size())
            return qRgb(0, 0, 0);
        const float *rgb = colours.values.data() + std::size_t(voxel) * components;
        const auto level = [scale](float component) {
            return std::isfinite(component)
                       ? int(std::clamp(component * scale, 0.0f, 255.0f) + 0.5f)
                       : 0;
        };
        return qRgb(level(rgb[0]), level(rgb[1]), level(rgb[2]));
    });
}

} // namespace

QImage makeSliceImage(const Volume &volume, int axis, int slice, const GreyMapping &mapping)
{
    return withPixels(volume, mapping, [&](const auto &pixel) {
        return fillSliceImage(volume, axis, slice, pixel);
    });
}

QImage makePlaneImage(const Volume &volume, const SliceGeometry &geometry, int slice,
                      const GreyMapping &mapping)
{
    return withPixels(volume, mapping, [&](const auto &pixel) {
        return fillPlaneImage(volume, geometry, slice, pixel);
    });
}
