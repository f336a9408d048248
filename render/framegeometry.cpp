#include "framegeometry.h"

#include "renderstate.h"
#include "imagegrid.h"
#include "volume.h"
#include "volumegrid.h"

#include <algorithm>
#include <cmath>

namespace {

struct SinCos
{
    double sine;
    double cosine;
};

// Exact for multiples of 90 degrees, so axis-aligned views carry no rounding
// residue (a cos(90) of 6e-17 would tilt n0 off the axis).
SinCos sinCosDegrees(int degrees)
{
    int reduced = degrees % 360;
    if (reduced < 0)
        reduced += 360;
    switch (reduced) {
    case 0:
        return {0.0, 1.0};
    case 90:
        return {1.0, 0.0};
    case 180:
        return {0.0, -1.0};
    case 270:
        return {-1.0, 0.0};
    default:
        break;
    }
    const double radians = double(reduced) * (M_PI / 180.0);
    return {std::sin(radians), std::cos(radians)};
}

using Matrix3 = std::array<double, 9>;

Matrix3 multiply(const Matrix3 &a, const Matrix3 &b)
{
    Matrix3 product{};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            for (int k = 0; k < 3; ++k)
                product[3 * row + column] += a[3 * row + k] * b[3 * k + column];
    return product;
}

QVector3D column(const Matrix3 &m, int index, double scale)
{
    return QVector3D(float(m[index] * scale), float(m[3 + index] * scale),
                     float(m[6 + index] * scale));
}

Matrix3 rotationY(SinCos y)
{
    return {y.cosine, 0.0, y.sine, 0.0, 1.0, 0.0, -y.sine, 0.0, y.cosine};
}

// The frame with M turned by turnDegrees about the view's vertical axis.
FrameGeometry frameGeometry(int xRotation, int yRotation, int zRotation, double turnDegrees,
                            QSize viewport, int volumeWidth, int volumeHeight, int volumeDepth,
                            const ViewTransform &view, const CropBox &crop,
                            const SliceCut &sliceCut, const std::array<double, 3> &spacing)
{
    const SinCos x = sinCosDegrees(xRotation);
    const SinCos y = sinCosDegrees(yRotation);
    const SinCos z = sinCosDegrees(zRotation);
    const Matrix3 rx = {1.0, 0.0, 0.0, 0.0, x.cosine, -x.sine, 0.0, x.sine, x.cosine};
    const Matrix3 rz = {z.cosine, -z.sine, 0.0, z.sine, z.cosine, 0.0, 0.0, 0.0, 1.0};

    FrameGeometry geometry;
    geometry.rotation = multiply(multiply(rx, rotationY(y)), rz);
    // A view turning about its own vertical axis: M Ry(turn) keeps v and turns
    // u and n0 about it. Whole angles stay exact (see sinCosDegrees).
    if (turnDegrees != 0.0) {
        const double whole = std::round(turnDegrees);
        const double radians = turnDegrees * (M_PI / 180.0);
        const SinCos turn = whole == turnDegrees && std::abs(whole) < 1.0e9
                                ? sinCosDegrees(int(whole))
                                : SinCos{std::sin(radians), std::cos(radians)};
        geometry.rotation = multiply(geometry.rotation, rotationY(turn));
    }

    const int width = std::max(1, viewport.width());
    const int height = std::max(1, viewport.height());
    geometry.n0 = column(geometry.rotation, 2, -1.0);
    // One step length across and up: the view square fits the shorter side and
    // the longer side shows more of the view plane, so the data keep their
    // proportions at any viewport shape. Zoom 1 divides by exactly 1: the
    // plain view's steps to the last bit.
    const double zoom = clampZoom(view.zoom);
    const int shorter = std::min(width, height);
    geometry.u = column(geometry.rotation, 0, 2.0 / shorter / zoom);
    geometry.v = column(geometry.rotation, 1, 2.0 / shorter / zoom);

    // Panning shifts the pixel offsets rather than the view plane, so that the
    // pan is in screen units whatever the zoom and rotation.
    const float panX = float(view.pan.x() * shorter / 2.0);
    const float panY = float(view.pan.y() * shorter / 2.0);
    const float hw = float(width / 2);
    const float hh = float(height / 2);
    geometry.quadTexCoords = {hw - panX,  hh - panY,  -hw - panX, hh - panY,
                              -hw - panX, -hh - panY, hw - panX,  -hh - panY};

    geometry.volumeResolution =
        QVector3D(float(volumeWidth), float(volumeHeight), float(volumeDepth));
    std::array<double, 3> voxelSize = spacing;
    for (double &length : voxelSize)
        if (!(length > 0.0) || !std::isfinite(length))
            length = 1.0;
    const bool equalSpacing = voxelSize[0] == voxelSize[1] && voxelSize[1] == voxelSize[2];
    if (volumeWidth > 0 && volumeHeight > 0 && volumeDepth > 0) {
        if (equalSpacing) {
            const float longest = float(std::max({volumeWidth, volumeHeight, volumeDepth}));
            geometry.volumeSize = geometry.volumeResolution / longest;
        } else {
            const double extent[] = {volumeWidth * voxelSize[0], volumeHeight * voxelSize[1],
                                     volumeDepth * voxelSize[2]};
            const double longest = std::max({extent[0], extent[1], extent[2]});
            const double finest = std::min({voxelSize[0], voxelSize[1], voxelSize[2]});
            for (int axis = 0; axis < 3; ++axis) {
                geometry.volumeSize[axis] = float(extent[axis] / longest);
                geometry.gradientScale[axis] = float(finest / voxelSize[std::size_t(axis)]);
            }
        }
    }
    const CropBox box = cutAtSlice(crop, sliceCut, geometry.n0);
    for (int axis = 0; axis < 3; ++axis) {
        const double size = geometry.volumeSize[axis];
        geometry.cropMinimum[axis] = float((box.lower[axis] - 0.5) * size);
        geometry.cropMaximum[axis] = float((box.upper[axis] - 0.5) * size);
    }
    return geometry;
}

} // namespace

FrameGeometry computeFrameGeometry(int xRotation, int yRotation, int zRotation, QSize viewport,
                                   int volumeWidth, int volumeHeight, int volumeDepth,
                                   const ViewTransform &view, const CropBox &crop,
                                   const SliceCut &sliceCut, const std::array<double, 3> &spacing)
{
    return frameGeometry(xRotation, yRotation, zRotation, 0.0, viewport, volumeWidth, volumeHeight,
                         volumeDepth, view, crop, sliceCut, spacing);
}

FrameGeometry computeFrameGeometry(const RenderState &state, QSize viewport, const Volume &volume)
{
    FrameGeometry geometry = frameGeometry(
        state.rotation[0], state.rotation[1], state.rotation[2], state.turn, viewport, volume.width,
        volume.height, volume.depth, state.view, state.crop, state.sliceCut, volume.spacing);
    geometry.textureFromWorld =
        textureFromWorld(dataGrid(volume), {{volume.width, volume.height, volume.depth}});
    return geometry;
}

std::array<double, 16> textureFromWorld(const ImageGrid &grid, const std::array<int, 3> &counts)
{
    std::array<double, 16> result{
        {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0}};
    // Columns of the index-from-world map, from the images of the origin and
    // the three unit points.
    const std::optional<std::array<double, 3>> base = grid.indexOf({{0.0, 0.0, 0.0}});
    if (!base)
        return result;
    for (std::size_t column = 0; column < 3; ++column) {
        std::array<double, 3> unit{};
        unit[column] = 1.0;
        const std::array<double, 3> index = *grid.indexOf(unit);
        for (std::size_t row = 0; row < 3; ++row)
            result[4 * row + column] = (index[row] - (*base)[row]) / std::max(counts[row], 1);
    }
    for (std::size_t row = 0; row < 3; ++row)
        result[4 * row + 3] = ((*base)[row] + 0.5) / std::max(counts[row], 1);
    return result;
}

namespace {

// The quad's texture coordinates at its left, right, bottom and top edges.
struct QuadSpan
{
    double left, right, bottom, top;
};

QuadSpan quadSpan(const FrameGeometry &geometry)
{
    const std::array<float, 8> &corners = geometry.quadTexCoords;
    return {corners[2], corners[0], corners[5], corners[1]};
}

} // namespace

FrameRay frameRayAt(const FrameGeometry &geometry, QSize viewport, QPointF position)
{
    const int width = std::max(1, viewport.width());
    const int height = std::max(1, viewport.height());
    const QuadSpan span = quadSpan(geometry);
    // GL's window y runs upwards.
    const double tx = span.left + position.x() * (span.right - span.left) / width;
    const double ty = span.bottom + (height - position.y()) * (span.top - span.bottom) / height;
    return {float(tx) * geometry.u + float(ty) * geometry.v, geometry.n0};
}

QPointF framePositionOf(const FrameGeometry &geometry, QSize viewport, const QVector3D &object)
{
    const int width = std::max(1, viewport.width());
    const int height = std::max(1, viewport.height());
    const QuadSpan span = quadSpan(geometry);
    // u and v are orthogonal: the texture coordinates are the projections.
    const double tx = QVector3D::dotProduct(object, geometry.u) / geometry.u.lengthSquared();
    const double ty = QVector3D::dotProduct(object, geometry.v) / geometry.v.lengthSquared();
    const double x =
        span.right != span.left ? (tx - span.left) * width / (span.right - span.left) : width / 2.0;
    const double up = span.top != span.bottom
                          ? (ty - span.bottom) * height / (span.top - span.bottom)
                          : height / 2.0;
    return QPointF(x, height - up);
}

QVector3D voxelPositionOf(const FrameGeometry &geometry, const QVector3D &object)
{
    QVector3D voxel;
    for (int axis = 0; axis < 3; ++axis) {
        const float size = geometry.volumeSize[axis];
        const float fraction = size > 0.0f ? object[axis] / size + 0.5f : 0.5f;
        voxel[axis] = fraction * geometry.volumeResolution[axis] - 0.5f;
    }
    return voxel;
}

QVector3D objectPositionOfVoxel(const FrameGeometry &geometry, const QVector3D &voxel)
{
    QVector3D object;
    for (int axis = 0; axis < 3; ++axis) {
        const float resolution = geometry.volumeResolution[axis];
        if (resolution > 0.0f)
            object[axis] = ((voxel[axis] + 0.5f) / resolution - 0.5f) * geometry.volumeSize[axis];
    }
    return object;
}

std::array<int, 3> nearestVoxel(const FrameGeometry &geometry, const QVector3D &object)
{
    const QVector3D voxel = voxelPositionOf(geometry, object);
    std::array<int, 3> index{};
    for (int axis = 0; axis < 3; ++axis) {
        const int last = std::max(0, int(geometry.volumeResolution[axis]) - 1);
        const double rounded = std::round(double(voxel[axis]));
        index[std::size_t(axis)] =
            std::isfinite(rounded) ? int(std::clamp(rounded, 0.0, double(last))) : 0;
    }
    return index;
}
