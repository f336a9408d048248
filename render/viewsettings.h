#pragma once

#include <QPointF>
#include <QSize>
#include <QVector3D>

#include <array>

// Rotation angles are whole degrees kept within 0..5760 (sixteen turns); 5760
// itself is a stored value, not folded to 0.
constexpr int maximumRotationAngle = 5760;

// Folds any angle into 0..5760: negative angles are raised by whole multiples of
// 5760 until they are not negative, angles above 5760 lowered until they are at
// most 5760. -1 gives 5759, 5761 gives 1, 11520 gives 5760, -5760 gives 0.
int normaliseRotationAngle(int angle);

// Zoom and pan of the view plane. The picture of a view-plane point q (the
// square [-1, 1] x [-1, 1] at zoom 1) lands at zoom * q + pan, in view units:
// the viewport spans 2 in each direction, x to the right, y upwards. Zoom 1
// without pan is the plain view.
struct ViewTransform
{
    double zoom = 1.0;
    QPointF pan;

    bool operator==(const ViewTransform &other) const
    {
        return zoom == other.zoom && pan == other.pan;
    }
};

constexpr double minimumZoom = 0.25;
constexpr double maximumZoom = 16.0;

// The zoom clamped to minimumZoom..maximumZoom; a zoom that is not a number
// gives 1.
double clampZoom(double zoom);

// The view zoomed by factor about the viewport centre: the point shown at the
// centre stays there, so the pan scales with the zoom actually reached.
ViewTransform zoomedAboutCentre(const ViewTransform &view, double factor);

// The zoom factor of one wheel event: angleDelta in eighths of a degree as Qt
// reports it (120 per notch); each notch zooms by 2^(1/4), a turn upwards
// (away from the user) comes closer.
double wheelZoomFactor(int angleDelta);

// The view moved by a mouse drag of delta widget pixels (y downwards) over a
// widget of the given size, so that the picture follows the pointer.
ViewTransform pannedByPixels(const ViewTransform &view, QPoint delta, QSize widgetSize);

// The part of the data set that the rendering shows: lower and upper bounds as
// fractions of each axis (X, Y, Z), 0 at the first voxel's outer face and 1 at
// the last voxel's. The full box is 0..1 on every axis.
struct CropBox
{
    std::array<double, 3> lower = {0.0, 0.0, 0.0};
    std::array<double, 3> upper = {1.0, 1.0, 1.0};

    bool operator==(const CropBox &other) const
    {
        return lower == other.lower && upper == other.upper;
    }
    bool isFull() const { return *this == CropBox(); }
};

// The box with every bound clamped to 0..1 (a bound that is not a number
// becomes its axis' default) and each upper bound raised to its lower bound, so
// that an inverted axis keeps nothing rather than everything.
CropBox normalisedCropBox(const CropBox &box);

// A cut through the data set at one slice: the plane at fraction position of
// axis (0 X, 1 Y, 2 Z). Which side stays depends on the view (see
// cutAtSlice()). An axis outside 0..2 means no cut.
struct SliceCut
{
    int axis = -1;
    double position = 0.0;

    bool isOff() const { return axis < 0 || axis > 2; }
    bool operator==(const SliceCut &other) const
    {
        return (isOff() && other.isOff()) || (axis == other.axis && position == other.position);
    }
};

// The cut at the centre of slice `slice` of `sliceCount` along `axis`, the
// slice clamped to the range; the cut face then shows exactly the slice's
// values. No cut for an axis out of range or no slices.
SliceCut sliceCutAt(int axis, int slice, int sliceCount);

// The box cut by the slice cut, keeping the far side, away from a viewer who
// looks along viewDirection (object coordinates): the cut face turns towards
// the viewer whatever the rotation. Seen edge-on, the lower side stays, as it
// does in the starting view along -z. The result is normalised.
CropBox cutAtSlice(const CropBox &box, const SliceCut &cut, const QVector3D &viewDirection);

// How samples along a ray make a pixel.
enum class RenderMode
{
    // Front-to-back compositing of shaded samples with depth cueing.
    Composite,
    // The highest value along the ray, shown as its table colour times its
    // opacity: no lighting, no depth cueing.
    MaximumIntensity
};
