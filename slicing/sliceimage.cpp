#include "sliceimage.h"

#include "volume.h"

#include <cstddef>

namespace {

inline QRgb grey(float v)
{
    const unsigned g = unsigned(int(255.0 * double(v))) & 0xffu;
    return 0xff000000u | (g << 16) | (g << 8) | g;
}

} // namespace

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

QImage makeSliceImage(const Volume &volume, int axis, int slice)
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

    // Each row is written through its scan line; the source stride depends on
    // which volume axis runs along the image row.
    for (int j = 0; j < size.height(); ++j) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(j));
        const float *source = nullptr;
        std::size_t stride = 1;
        switch (axis) {
        case SliceAxisX: // row j is y = j, columns run along z
            source = data + std::size_t(slice) + w * std::size_t(j);
            stride = plane;
            break;
        case SliceAxisY: // row j is z = j, columns run along x
            source = data + w * std::size_t(slice) + plane * std::size_t(j);
            break;
        default: // row j is y = j, columns run along x
            source = data + w * std::size_t(j) + plane * std::size_t(slice);
            break;
        }
        if (stride == 1) {
            for (int i = 0; i < columns; ++i)
                row[i] = grey(source[i]);
        } else {
            for (int i = 0; i < columns; ++i)
                row[i] = grey(source[std::size_t(i) * stride]);
        }
    }
    return image;
}
