#pragma once

#include "viewsettings.h"

struct ImageGrid;
struct RenderState;
struct Volume;

#include <QPointF>
#include <QSize>
#include <QVector3D>

#include <array>

// The clip-space corners of the quad that covers the viewport, three floats per
// vertex, top right first and then counter-clockwise (front-facing).
constexpr std::array<float, 12> quadVertices = {1.0f,  1.0f,  0.0f, -1.0f, 1.0f,  0.0f,
                                                -1.0f, -1.0f, 0.0f, 1.0f,  -1.0f, 0.0f};

// The view of one frame: what the host hands the fragment shader besides the
// options. Object space is that of the data set (x to the right, y up, z towards
// the viewer when all angles are 0).
struct FrameGeometry
{
    // M = Rx(xRotation) * Ry(yRotation) * Rz(zRotation), right-handed rotations
    // about the object axes, row-major, acting on column vectors.
    std::array<double, 9> rotation{};
    // M (0, 0, -1): unit view direction, into the screen.
    QVector3D n0;
    // 2 M (1 / (zoom s), 0, 0) with s = min(width, height): the view-plane step
    // from one pixel column to the next. The same length as v, so a pixel
    // covers a square of the view plane at any viewport shape.
    QVector3D u;
    // 2 M (0, 1 / (zoom s), 0): the step from one pixel row to the next,
    // upwards.
    QVector3D v;
    // Offsets in pixels of the quad's corners from the point of the viewport
    // that shows the view-plane centre, (x, y) per vertex in the order of
    // quadVertices: (hw - px, hh - py), (-hw - px, hh - py), (-hw - px, -hh - py),
    // (hw - px, -hh - py) with hw = width / 2 and hh = height / 2 in whole pixels
    // and the pan (px, py) = (pan.x s / 2, pan.y s / 2) in pixels.
    std::array<float, 8> quadTexCoords{};
    // Voxel counts (width, height, depth).
    QVector3D volumeResolution;
    // Edge lengths of the data-set box: its physical extents (voxel counts times
    // the spacing) divided by the largest of them (longest side 1); with equal
    // spacing, the voxel counts divided by the largest count. All zero when a
    // count is not positive.
    QVector3D volumeSize;
    // Factors for the central differences along each axis, so that shading's
    // gradient is taken per unit of length: the finest spacing divided by the
    // axis' spacing, (1, 1, 1) with equal spacing.
    QVector3D gradientScale = QVector3D(1.0f, 1.0f, 1.0f);
    // The cropping box in object coordinates: fraction f of an axis lies at
    // (f - 0.5) * volumeSize. The whole box when nothing is cropped.
    QVector3D cropMinimum;
    QVector3D cropMaximum;
    // Where the drawn volume lies in the world: world millimetres (LPS in a
    // scan, volume/imagegrid.h) to its texture coordinates, 0..1 across the
    // box, row-major 4 x 4 (see textureFromWorld()). Object space follows as
    // (t - 0.5) * volumeSize, so another volume with its own grid is placed
    // by composing its own transform with this one's inverse.
    std::array<double, 16> textureFromWorld{
        {1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 0.0, 1.0}};
};

// World millimetres to the texture coordinates of a volume of the given voxel
// counts on the grid: voxel centre i at (i + 0.5) / count. The identity where
// the grid is singular.
std::array<double, 16> textureFromWorld(const ImageGrid &grid, const std::array<int, 3> &counts);

// Derives a frame's view from the three angles (degrees, any integer; only the
// angle modulo 360 matters, computed exactly, so 450 gives the same frame as 90),
// the viewport in device pixels (a side below 1 counts as 1) and the data set's
// voxel counts, the zoom and pan (the zoom clamped, see clampZoom()) and the
// cropping box (normalised, see normalisedCropBox()), cut by the slice cut on
// the side away from the viewer (see cutAtSlice()), and the voxel spacing
// (any unit; a spacing that is not a positive number counts as 1). Zoom 1
// without pan gives the plain view: u and v span [-1, 1] across the viewport's
// shorter side, and more of the view plane along the longer one.
FrameGeometry computeFrameGeometry(int xRotation, int yRotation, int zRotation, QSize viewport,
                                   int volumeWidth, int volumeHeight, int volumeDepth,
                                   const ViewTransform &view = ViewTransform(),
                                   const CropBox &crop = CropBox(),
                                   const SliceCut &sliceCut = SliceCut(),
                                   const std::array<double, 3> &spacing = {{1.0, 1.0, 1.0}});

// The frame of a render state (its rotation, turned by state.turn about the
// view's vertical axis, its view, cropping and slice cut) over a viewport of
// the data set.
FrameGeometry computeFrameGeometry(const RenderState &state, QSize viewport, const Volume &volume);

// A ray of a frame in object space: origin on the view plane, direction n0.
struct FrameRay
{
    QVector3D origin;
    QVector3D direction;
};

// Positions in a frame are in device pixels of its viewport, from the top-left
// corner, y downwards: pixel (column, row) covers [column, column + 1) x
// [row, row + 1) and its fragment lies at its centre (column + 0.5, row + 0.5).

// The ray that the frame casts at a position of the viewport: the quad's
// texture coordinates interpolated there as the rasteriser does, so pan, zoom
// and odd sizes give exactly the frame's rays.
FrameRay frameRayAt(const FrameGeometry &geometry, QSize viewport, QPointF position);

// Where the frame shows an object point: the inverse of frameRayAt() along the
// view plane (every point of a ray lands on the same position). The viewport
// centre for an axis of a single pixel.
QPointF framePositionOf(const FrameGeometry &geometry, QSize viewport, const QVector3D &object);

// Voxel coordinates of an object point (voxel centres at whole numbers, the
// box's faces at -0.5 and count - 0.5) and back, with the geometry's box.
QVector3D voxelPositionOf(const FrameGeometry &geometry, const QVector3D &object);
QVector3D objectPositionOfVoxel(const FrameGeometry &geometry, const QVector3D &voxel);

// The voxel nearest to an object point, clamped into the grid (x, y, z).
std::array<int, 3> nearestVoxel(const FrameGeometry &geometry, const QVector3D &object);
