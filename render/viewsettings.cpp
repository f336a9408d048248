#include "viewsettings.h"

#include <algorithm>
#include <cmath>

int normaliseRotationAngle(int angle)
{
    // Closed form of "add 5760 while negative, subtract 5760 while above 5760".
    if (angle < 0) {
        angle %= maximumRotationAngle;
        if (angle < 0)
            angle += maximumRotationAngle;
    } else if (angle > maximumRotationAngle) {
        angle = (angle - 1) % maximumRotationAngle + 1;
    }
    return angle;
}

double clampZoom(double zoom)
{
    if (std::isnan(zoom))
        return 1.0;
    return std::clamp(zoom, minimumZoom, maximumZoom);
}

ViewTransform zoomedAboutCentre(const ViewTransform &view, double factor)
{
    ViewTransform zoomed;
    zoomed.zoom = clampZoom(view.zoom * factor);
    const double reached = zoomed.zoom / clampZoom(view.zoom);
    zoomed.pan = view.pan * reached;
    return zoomed;
}

double wheelZoomFactor(int angleDelta)
{
    return std::pow(2.0, double(angleDelta) / (120.0 * 4.0));
}

ViewTransform pannedByPixels(const ViewTransform &view, QPoint delta, QSize widgetSize)
{
    // View units: the shorter side spans 2, as it does in the frame geometry.
    const int shorter = std::max(1, std::min(widgetSize.width(), widgetSize.height()));
    ViewTransform panned = view;
    panned.pan += QPointF(2.0 * delta.x() / shorter, -2.0 * delta.y() / shorter);
    return panned;
}

CropBox normalisedCropBox(const CropBox &box)
{
    CropBox normalised;
    for (int axis = 0; axis < 3; ++axis) {
        const double lower = box.lower[axis];
        const double upper = box.upper[axis];
        normalised.lower[axis] = std::isnan(lower) ? 0.0 : std::clamp(lower, 0.0, 1.0);
        normalised.upper[axis] = std::isnan(upper) ? 1.0 : std::clamp(upper, 0.0, 1.0);
        normalised.upper[axis] = std::max(normalised.upper[axis], normalised.lower[axis]);
    }
    return normalised;
}

SliceCut sliceCutAt(int axis, int slice, int sliceCount)
{
    SliceCut cut;
    if (axis < 0 || axis > 2 || sliceCount < 1)
        return cut;
    cut.axis = axis;
    cut.position = (std::clamp(slice, 0, sliceCount - 1) + 0.5) / sliceCount;
    return cut;
}

CropBox cutAtSlice(const CropBox &box, const SliceCut &cut, const QVector3D &viewDirection)
{
    CropBox result = normalisedCropBox(box);
    if (cut.isOff())
        return result;
    // Looking towards +axis the viewer is on the lower side: the upper side is far.
    if (viewDirection[cut.axis] > 0.0f)
        result.lower[cut.axis] = std::max(result.lower[cut.axis], cut.position);
    else
        result.upper[cut.axis] = std::min(result.upper[cut.axis], cut.position);
    return normalisedCropBox(result);
}
