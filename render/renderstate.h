#pragma once

#include "renderingoptions.h"
#include "viewsettings.h"

#include <QSize>

#include <array>

// Everything one frame depends on besides the GL objects (volume and transfer
// table): the window and batch mode alike build one and hand it to a
// FrameRenderer. A new render setting is a field here, a row of the uniform
// table (raycaster.cpp) and the shader's line that reads it.
struct RenderState
{
    // Degrees about X, Y and Z, any integer (see computeFrameGeometry()).
    std::array<int, 3> rotation = {0, 0, 0};
    // Degrees, any real number: the view turned about its own vertical axis
    // after the rotation, as for the frames of a turntable.
    double turn = 0.0;
    ViewTransform view;
    CropBox crop;
    SliceCut sliceCut;
    RenderMode mode = RenderMode::Composite;
    RenderingOptions options;
    // Per-pixel first-sample offsets (see the shader); off, samples lie at step
    // midpoints.
    bool jitter = true;
    // Whether rays step over bricks the table makes transparent; the picture is
    // the same either way.
    bool emptySpaceSkipping = true;
    // Whether frames read stored gradients where the volume has them.
    bool storedGradients = true;
    // 1 draws at full resolution; 2 or 4 draw at that fraction of each side and
    // scale the picture up over the framebuffer.
    int divisor = 1;
    // The framebuffer's size in pixels.
    QSize size = QSize(400, 400);
};
