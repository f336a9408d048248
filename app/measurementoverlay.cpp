#include "measurementoverlay.h"

#include "framegeometry.h"
#include "volumerenderer.h"

#include <QEvent>
#include <QPainter>
#include <QPen>

MeasurementOverlay::MeasurementOverlay(VolumeRenderer *covered)
    : RendererOverlay(covered, "measurementOverlay")
{
}

void MeasurementOverlay::setMeasurements(const std::vector<Measurement> &measurements,
                                         const ImageGrid &grid)
{
    shown = measurements;
    dataGrid = grid;
    update();
}

void MeasurementOverlay::paintEvent(QPaintEvent *)
{
    const std::optional<FrameGeometry> geometry = renderer->frameGeometry();
    if (shown.empty() || !geometry)
        return;
    const double ratio = renderer->devicePixelRatio();
    const QSize viewport = renderer->size() * ratio;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (const Measurement &measurement : shown) {
        std::vector<QPointF> points;
        for (const std::array<double, 3> &world : measurement.points) {
            const std::optional<std::array<double, 3>> voxel = dataGrid.indexOf(world);
            if (!voxel)
                break;
            const QVector3D object = objectPositionOfVoxel(
                *geometry, QVector3D(float((*voxel)[0]), float((*voxel)[1]), float((*voxel)[2])));
            points.push_back(framePositionOf(*geometry, viewport, object) / ratio);
        }
        if (points.size() == measurement.points.size())
            drawMeasurement(painter, measurement, points);
    }
}
