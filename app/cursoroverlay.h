#pragma once

#include "rendereroverlay.h"
#include "slicegeometry.h"
#include "slicegrid.h"

#include <optional>

class QEvent;
class QObject;
class QPaintEvent;
class VolumeRenderer;

// The slice cursor drawn over the rendering: three short lines through the
// cursor voxel along the data set's X (red), Y (green) and Z (blue) axes,
// projected with the geometry of the renderer's frame, over the renderer.
class CursorOverlay : public RendererOverlay
{
    Q_OBJECT

public:
    explicit CursorOverlay(VolumeRenderer *renderer);

    // The voxel to mark (x, y, z) in the slice views' grid, or none, and how
    // the rendered data lies in that grid (a reduced level or region of a
    // store; the default: the same grid). Repaints when either changes.
    void setCursorVoxel(const std::optional<VoxelIndex> &voxel,
                        const SliceGrid &grid = SliceGrid());
    const std::optional<VoxelIndex> &cursorVoxel() const { return voxel; }

    // Half the length of each line in object units (the longest side of the
    // data set is 1).
    static constexpr double halfLength = 0.08;

protected:
    bool hasContent() const override { return voxel.has_value(); }
    void paintEvent(QPaintEvent *event) override;

private:
    std::optional<VoxelIndex> voxel;
    SliceGrid grid;
};
