#include "sliceimage.h"

#include "slicegeometry.h"
#include "volume.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>

QSize sliceImageSize(const Volume &volume, int axis)
{
    switch (axis) {
    case SliceAxisX:
        return QSize(volume.depth, volume.height);
    case SliceAxisY:
        return QSize(volume.width, volume.depth);
    case SliceAxisZ:
        return QSize(volume.width, volume.height);
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
    const int across[] = {2, 0, 0};
    const int down[] = {1, 2, 1};
    const double columnSpacing = volume.spacing[std::size_t(across[axis])];
    const double rowSpacing = volume.spacing[std::size_t(down[axis])];
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
    switch (axis) {
    case SliceAxisX:
        return volume.width;
    case SliceAxisY:
        return volume.height;
    case SliceAxisZ:
        return volume.depth;
    default:
        return 0;
    }
}

QImage makeSliceImage(const Volume &volume, int axis, int slice, const GreyMapping &mapping)
{
    if (slice < 0 || slice >= sliceCount(volume, axis))
        return QImage();
    const QSize size = sliceImageSize(volume, axis);
    const std::size_t expected =
        std::size_t(volume.width) * std::size_t(volume.height) * std::size_t(volume.depth);
    if (size.isEmpty() || volume.data.size() < expected)
        return QImage();

    QImage image(size, QImage::Format_RGB32);
    const std::size_t w = std::size_t(volume.width);
    const std::size_t plane = w * std::size_t(volume.height);
    const float *data = volume.data.data();
    const int columns = size.width();

    if (axis == SliceAxisX) {
        // Neighbouring image columns lie a whole Z plane apart in memory. Walk
        // one plane at a time (image column i = z), down its Y rows, so the
        // reads advance by a constant row stride that the prefetcher follows;
        // blocks of columns keep the written image lines in cache.
        constexpr int columnBlock = 16;
        const std::size_t bytesPerLine = std::size_t(image.bytesPerLine());
        uchar *bits = image.bits();
        for (int i0 = 0; i0 < columns; i0 += columnBlock) {
            const int i1 = std::min(columns, i0 + columnBlock);
            for (int j = 0; j < size.height(); ++j) {
                QRgb *row = reinterpret_cast<QRgb *>(bits + bytesPerLine * std::size_t(j));
                const float *source = data + std::size_t(slice) + w * std::size_t(j);
                for (int i = i0; i < i1; ++i)
                    row[i] = mapping.rgb(source[plane * std::size_t(i)]);
            }
        }
        return image;
    }

    // Along Y and Z an image row is a contiguous run of voxels along X.
    for (int j = 0; j < size.height(); ++j) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(j));
        const float *source = axis == SliceAxisY
                                  ? data + w * std::size_t(slice) + plane * std::size_t(j)
                                  : data + w * std::size_t(j) + plane * std::size_t(slice);
        for (int i = 0; i < columns; ++i)
            row[i] = mapping.rgb(source[i]);
    }
    return image;
}

QImage makePlaneImage(const Volume &volume, const SliceGeometry &geometry, int slice,
                      const GreyMapping &mapping)
{
    const std::size_t expected =
        std::size_t(volume.width) * std::size_t(volume.height) * std::size_t(volume.depth);
    if (slice < 0 || slice >= geometry.sliceCount() || geometry.columns() < 1 ||
        geometry.rows() < 1 || volume.data.size() < expected)
        return QImage();

    const std::array<std::ptrdiff_t, 3> stride{
        {1, std::ptrdiff_t(volume.width), std::ptrdiff_t(volume.width) * volume.height}};
    const std::ptrdiff_t columnStride = stride[std::size_t(geometry.columnAxis())];
    const std::ptrdiff_t rowStride = stride[std::size_t(geometry.rowAxis())];
    const int columns = geometry.columns();
    // Reversed columns are read from the far end backwards.
    const std::ptrdiff_t step = geometry.columnsReversed() ? -columnStride : columnStride;
    const std::ptrdiff_t first = geometry.columnsReversed() ? columnStride * (columns - 1) : 0;
    const float *sliceStart =
        volume.data.data() + stride[std::size_t(geometry.normalAxis())] * slice + first;

    // Every image row is one line of voxels at a constant stride (X rows are
    // contiguous, Y rows a row apart within one Z plane), which the
    // prefetcher follows; no plane is read across Z planes per pixel.
    QImage image(columns, geometry.rows(), QImage::Format_RGB32);
    for (int j = 0; j < geometry.rows(); ++j) {
        QRgb *target = reinterpret_cast<QRgb *>(image.scanLine(j));
        const float *source = sliceStart + rowStride * geometry.voxelOfRow(j);
        if (step == 1) {
            for (int i = 0; i < columns; ++i)
                target[i] = mapping.rgb(source[i]);
        } else {
            for (int i = 0; i < columns; ++i)
                target[i] = mapping.rgb(source[step * i]);
        }
    }
    return image;
}
