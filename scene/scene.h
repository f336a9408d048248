#pragma once

#include "layerappearance.h"
#include "measurement.h"
#include "renderingoptions.h"
#include "renderstate.h"
#include "transferfunction.h"
#include "viewsettings.h"
#include "windowlevel.h"

#include <QString>

#include <array>
#include <optional>
#include <vector>

class BatchFrame;
class VolumeRenderer;
struct Volume;

// One volume of the scene and how it is shown: the file it came from, and
// for the base layer (the first) its transfer function and the slice views'
// window in the file's units, for the layers over it (overlays and label
// maps, each on its own grid) their appearance.
struct SceneLayer
{
    QString file; // the file or DICOM folder; empty before the first load
    TransferFunction transferFunction;
    std::optional<WindowLevel> windowLevel; // none: the slice views' full range
    LayerAppearance appearance;             // the layers over the base

    bool operator==(const SceneLayer &other) const
    {
        return file == other.file && transferFunction == other.transferFunction &&
               windowLevel == other.windowLevel && appearance == other.appearance;
    }
};

// Where the rendering is seen from: the rotation about X, Y and Z in whole
// degrees (the renderer's angles, folded into 0..5760), zoom and pan.
struct SceneCamera
{
    std::array<int, 3> rotation = {0, 0, 0};
    ViewTransform view;

    bool operator==(const SceneCamera &other) const
    {
        return rotation == other.rotation && view == other.view;
    }
};

// Everything a picture and a session depend on, as a plain value: the window
// shows one, batch mode renders one, and two equal scenes give one picture.
struct Scene
{
    // The base layer first, which the transfer function classifies and whose
    // box bounds the rendering; then the layers over it, the lowest first.
    std::vector<SceneLayer> layers = {SceneLayer()};
    RenderingOptions options;
    RenderMode mode = RenderMode::Composite;
    bool jitter = true;
    SceneCamera camera;
    // Fractions of the rendered volume's box, whose corners are the centres of
    // its outer voxels.
    CropBox crop;
    // The rendering is cut open at the cursor's slice across this axis (0 X,
    // 1 Y, 2 Z of the shown volume); -1: not cut.
    int sliceCutAxis = -1;
    // The slice cursor in LPS millimetres; none before a volume is shown.
    std::optional<std::array<double, 3>> cursor;
    bool fourViews = false; // the three slice views beside the rendering
    int sliceAxis = 0;      // the axis of the window's single slice view
    // Rulers and angles, in world millimetres.
    std::vector<Measurement> measurements;
    // The volume of the base's series shown (0-based; 0 for a 3D image).
    int frame = 0;

    const SceneLayer &layer() const { return layers.front(); }
    SceneLayer &layer() { return layers.front(); }
};

// The cut of the rendering through the centre of the cursor's slice along the
// scene's cut axis, in fractions of volume's box; off without a cursor, a
// volume or a cut axis.
SliceCut sliceCutOf(const Scene &scene, const Volume *volume);

// What the frame renderer draws for the scene over volume. The frame keeps
// its own size, turn, resolution divisor and speed-ups.
RenderState renderStateOf(const Scene &scene, const Volume *volume);

// Hands the scene's picture over volume to a frame: the window's renderer and
// batch mode's frames take it through this one path. The renderer keeps its
// pointer to the window's options record (set by the window).
void showScene(const Scene &scene, const Volume *volume, VolumeRenderer &renderer);
void showScene(const Scene &scene, const Volume *volume, BatchFrame &frame);
