#include "slicesession.h"

#include "slicegrid.h"
#include "volume.h"
#include "volumegrid.h"

#include <algorithm>
#include <cmath>

SliceSession::SliceSession(QObject *parent) : QObject(parent) {}

void SliceSession::setVolume(const Volume *volume)
{
    shownVolume = volume;
    emit volumeChanged();
    const VoxelIndex centre = volume ? centreVoxel(*volume) : VoxelIndex{{0, 0, 0}};
    if (centre != cursorVoxel) {
        cursorVoxel = centre;
        emit cursorChanged();
    }
    const WindowLevel full = fullRangeWindow(volume ? volume->valueRange : Volume::ValueRange());
    const bool inverted = volume && volume->invertedGrey;
    if (full != window || inverted != invertedGrey) {
        window = full;
        invertedGrey = inverted;
        emit windowLevelChanged();
    }
}

std::array<double, 3> SliceSession::cursorWorld() const
{
    const ImageGrid grid = shownVolume ? fullResolutionGrid(*shownVolume) : ImageGrid();
    return grid.worldOf({{double(cursorVoxel[0]), double(cursorVoxel[1]), double(cursorVoxel[2])}});
}

void SliceSession::setCursorAtWorld(const std::array<double, 3> &world)
{
    if (!shownVolume)
        return;
    const std::optional<std::array<double, 3>> index =
        fullResolutionGrid(*shownVolume).indexOf(world);
    if (!index)
        return;
    VoxelIndex voxel{};
    for (std::size_t axis = 0; axis < 3; ++axis)
        voxel[axis] = int(std::clamp(std::floor((*index)[axis] + 0.5), -1.0, 65536.0));
    setCursor(voxel);
}

void SliceSession::setCursor(const VoxelIndex &voxel)
{
    if (!shownVolume)
        return;
    const std::array<int, 3> size = SliceGrid::of(*shownVolume).dimensions;
    VoxelIndex clamped{};
    for (std::size_t axis = 0; axis < 3; ++axis)
        clamped[axis] = std::clamp(voxel[axis], 0, std::max(size[axis] - 1, 0));
    if (clamped == cursorVoxel)
        return;
    cursorVoxel = clamped;
    emit cursorChanged();
}

void SliceSession::stepCursor(int axis, int steps)
{
    if (axis < 0 || axis > 2)
        return;
    VoxelIndex moved = cursorVoxel;
    moved[std::size_t(axis)] += steps;
    setCursor(moved);
}

void SliceSession::setWindowLevel(const WindowLevel &windowLevel)
{
    const Volume::ValueRange range = shownVolume ? shownVolume->valueRange : Volume::ValueRange();
    if (!std::isfinite(windowLevel.window) || !std::isfinite(windowLevel.level))
        return;
    WindowLevel kept = windowLevel;
    kept.window = std::max(kept.window, minimumWindow(range));
    if (kept == window)
        return;
    window = kept;
    emit windowLevelChanged();
}

void SliceSession::applyPreset(WindowPreset preset)
{
    if (shownVolume)
        setWindowLevel(presetWindow(preset, *shownVolume));
}

GreyMapping SliceSession::greyMapping() const
{
    return GreyMapping::of(window, shownVolume ? shownVolume->valueRange : Volume::ValueRange(),
                           invertedGrey);
}

void SliceSession::setInvertedGrey(bool on)
{
    if (on == invertedGrey)
        return;
    invertedGrey = on;
    emit windowLevelChanged();
}

void SliceSession::setLayers(const std::vector<ShownLayer> &layers)
{
    shownLayers = layers;
    emit layersChanged();
}

void SliceSession::setMeasurements(const std::vector<Measurement> &measurements)
{
    if (measurements == measured)
        return;
    measured = measurements;
    emit measurementsChanged();
}

void SliceSession::addMeasurement(const Measurement &measurement)
{
    if (!measurement.isComplete())
        return;
    measured.push_back(measurement);
    emit measurementsChanged();
}

void SliceSession::removeMeasurement(int index)
{
    if (index < 0 || index >= int(measured.size()))
        return;
    measured.erase(measured.begin() + index);
    emit measurementsChanged();
}
