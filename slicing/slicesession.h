#pragma once

#include "layerslice.h"
#include "measurement.h"
#include "slicegeometry.h"
#include "windowlevel.h"

#include <QObject>

#include <array>

struct Volume;

// What the slice views share and observe: the volume shown, one cursor (a
// voxel index of the slice side's grid, SliceGrid: full resolution for a
// volume read through a store; the same point in every plane) and the grey
// window. The
// volume is not owned; its owner sets another (or none) before freeing it.
class SliceSession : public QObject
{
    Q_OBJECT

public:
    explicit SliceSession(QObject *parent = nullptr);

    // Shows a volume (or none): the cursor goes to its centre voxel and the
    // window to its full range. Emits volumeChanged() and then the cursor
    // and window signals.
    void setVolume(const Volume *volume);
    const Volume *volume() const { return shownVolume; }

    VoxelIndex cursor() const { return cursorVoxel; }
    // The world position of the cursor voxel's centre in mm (LPS in a scan,
    // see volume/imagegrid.h).
    std::array<double, 3> cursorWorld() const;
    // Moves the cursor to the voxel whose centre is nearest a world point
    // (clamped into the grid); emits cursorChanged() when it moved.
    void setCursorAtWorld(const std::array<double, 3> &world);
    // Moves the cursor, clamped into the grid; emits cursorChanged() when it
    // moved. Without a volume the cursor stays at (0, 0, 0).
    void setCursor(const VoxelIndex &voxel);
    // Moves the cursor along one axis by steps voxels (clamped).
    void stepCursor(int axis, int steps);

    WindowLevel windowLevel() const { return window; }
    // Takes the window (its width kept at least minimumWindow()); emits
    // windowLevelChanged() when it changed.
    void setWindowLevel(const WindowLevel &windowLevel);
    // The preset's window for the volume shown; nothing without a volume.
    void applyPreset(WindowPreset preset);
    // The mapping for the current window over the volume's range.
    GreyMapping greyMapping() const;
    // Whether high values are shown dark; each volume starts as its data asks
    // (Volume::invertedGrey). Emits windowLevelChanged() when it changes.
    bool isInvertedGrey() const { return invertedGrey; }
    void setInvertedGrey(bool on);

    // The layers blended over the volume (not owned; their owner sets
    // others, or none, before freeing them). Emits layersChanged().
    void setLayers(const std::vector<ShownLayer> &layers);
    const std::vector<ShownLayer> &layers() const { return shownLayers; }

    // The measurements, drawn in every view where their points lie. Emit
    // measurementsChanged().
    const std::vector<Measurement> &measurements() const { return measured; }
    void setMeasurements(const std::vector<Measurement> &measurements);
    void addMeasurement(const Measurement &measurement);
    void removeMeasurement(int index);

signals:
    void volumeChanged();
    void cursorChanged();
    void windowLevelChanged();
    void layersChanged();
    void measurementsChanged();

private:
    const Volume *shownVolume = nullptr;
    VoxelIndex cursorVoxel{{0, 0, 0}};
    WindowLevel window;
    bool invertedGrey = false;
    std::vector<ShownLayer> shownLayers;
    std::vector<Measurement> measured;
};
