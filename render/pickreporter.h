#pragma once

#include <QObject>

// Carries the outcome of a Shift+click on the rendering (see
// VolumeRenderer::pickAt()) to whoever moves the cursor. An object of its own
// for the same reason as ProblemReporter: the renderer's own signals and
// slots stay as callers that go through the meta-object by index expect them.
class PickReporter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    // The voxel (x, y, z, within the grid) nearest to where the ray's
    // accumulated opacity first reached one half.
    void voxelPicked(int x, int y, int z);
    // The ray never reached half opacity, or nothing was shown to pick.
    void nothingPicked();
};
