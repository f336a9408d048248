#include "cursoroverlay.h"

#include "framegeometry.h"
#include "volumerenderer.h"

#include <QEvent>
#include <QLineF>
#include <QPainter>
#include <QPen>

CursorOverlay::CursorOverlay(VolumeRenderer *covered) : RendererOverlay(covered, "cursorOverlay") {}

void CursorOverlay::setCursorVoxel(const std::optional<VoxelIndex> &newVoxel,
                                   const SliceGrid &newGrid)
{
    if (newVoxel == voxel && newGrid == grid)
        return;
    voxel = newVoxel;
    grid = newGrid;
    update();
}

void CursorOverlay::paintEvent(QPaintEvent *)
{
    const std::optional<FrameGeometry> geometry = renderer->frameGeometry();
    if (!voxel || !geometry)
        return;
    // The frame's positions are device pixels; the painter's are not.
    const double ratio = renderer->devicePixelRatio();
    const QSize viewport = renderer->size() * ratio;
    const QVector3D centre = objectPositionOfVoxel(*geometry, grid.dataPositionOf(*voxel));
    const QColor colours[] = {QColor(255, 80, 80), QColor(80, 230, 80), QColor(90, 150, 255)};
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int axis = 0; axis < 3; ++axis) {
        QVector3D reach;
        reach[axis] = float(halfLength);
        const QLineF line(framePositionOf(*geometry, viewport, centre - reach) / ratio,
                          framePositionOf(*geometry, viewport, centre + reach) / ratio);
        // A dark edge keeps the line visible over bright tissue.
        painter.setPen(QPen(QColor(0, 0, 0, 160), 3.5));
        painter.drawLine(line);
        painter.setPen(QPen(colours[axis], 1.5));
        painter.drawLine(line);
    }
}
