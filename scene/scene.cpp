#include "scene.h"

#include "batchframe.h"
#include "slicegrid.h"
#include "sliceimage.h"
#include "volume.h"
#include "volumegrid.h"
#include "volumerenderer.h"

#include <algorithm>
#include <cmath>

SliceCut sliceCutOf(const Scene &scene, const Volume *volume)
{
    const int axis = scene.sliceCutAxis;
    if (!volume || !scene.cursor || axis < 0 || axis > 2 || sliceCount(*volume, axis) < 1)
        return SliceCut();
    // The nearest slice, also for a cursor beyond the grid (clamped there).
    const std::optional<std::array<double, 3>> index =
        fullResolutionGrid(*volume).indexOf(*scene.cursor);
    if (!index)
        return SliceCut();
    const int slice = int(std::clamp(std::floor((*index)[std::size_t(axis)] + 0.5), 0.0,
                                     double(sliceCount(*volume, axis) - 1)));
    SliceCut cut;
    cut.axis = axis;
    cut.position = SliceGrid::of(*volume).dataFractionOf(axis, slice);
    return cut;
}

RenderState renderStateOf(const Scene &scene, const Volume *volume)
{
    RenderState state;
    state.rotation = scene.camera.rotation;
    state.view = scene.camera.view;
    state.crop = scene.crop;
    state.sliceCut = sliceCutOf(scene, volume);
    state.mode = scene.mode;
    state.options = scene.options;
    state.jitter = scene.jitter;
    return state;
}

void showScene(const Scene &scene, const Volume *volume, VolumeRenderer &renderer)
{
    const RenderState state = renderStateOf(scene, volume);
    renderer.setGradientStops(scene.layer().transferFunction.toStops());
    renderer.updateTransferFunctionTexture();
    renderer.setXRotation(state.rotation[0]);
    renderer.setYRotation(state.rotation[1]);
    renderer.setZRotation(state.rotation[2]);
    renderer.setViewTransform(state.view);
    renderer.setCropBox(state.crop);
    renderer.setSliceCut(state.sliceCut);
    renderer.setRenderMode(state.mode);
    renderer.setJitter(state.jitter);
}

void showScene(const Scene &scene, const Volume *volume, BatchFrame &frame)
{
    const RenderState state = renderStateOf(scene, volume);
    frame.setGradientStops(scene.layer().transferFunction.toStops());
    frame.setRotation(state.rotation[0], state.rotation[1], state.rotation[2]);
    frame.setViewTransform(state.view);
    frame.setCropBox(state.crop);
    frame.setSliceCut(state.sliceCut);
    frame.setRenderMode(state.mode);
    frame.setJitter(state.jitter);
    frame.setRenderingOptions(state.options);
}
