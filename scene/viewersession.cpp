#include "viewersession.h"

#include "framegeometry.h"
#include "layerslice.h"
#include "slicesession.h"
#include "volume.h"
#include "volumeseries.h"

#include <QFileInfo>

#include <algorithm>
#include <sstream>

ViewerSession::ViewerSession(QObject *parent) : QObject(parent)
{
    sliceSession = new SliceSession(this);
    sliceSession->setObjectName("sliceSession");
    connect(sliceSession, &SliceSession::cursorChanged, this, &ViewerSession::cursorChanged);
    connect(sliceSession, &SliceSession::measurementsChanged, this,
            &ViewerSession::measurementsChanged);
}

ViewerSession::~ViewerSession()
{
    // The slice session keeps plain pointers to the volumes; without a
    // volume it reads no layer either.
    sliceSession->setVolume(nullptr);
}

Scene ViewerSession::scene() const
{
    Scene scene = stored;
    if (sliceSession->volume()) {
        scene.cursor = sliceSession->cursorWorld();
        scene.layer().windowLevel = sliceSession->windowLevel();
    }
    scene.measurements = sliceSession->measurements();
    scene.frame = shownVolume ? shownVolume->frame : 0;
    return scene;
}

void ViewerSession::replaceShownVolume(std::unique_ptr<Volume> next, bool keepPlace)
{
    const std::unique_ptr<Volume> previous = std::move(shownVolume);
    shownVolume = std::move(next);
    emit volumeChanged(keepPlace);
}

void ViewerSession::showVolume(std::unique_ptr<Volume> loaded, const QString &file)
{
    const std::unique_ptr<Volume> previousReduced = std::move(reduced);
    dropLayers();
    stored.layer().file = file;
    replaceShownVolume(std::move(loaded), false);
}

void ViewerSession::showRegion(std::unique_ptr<Volume> region)
{
    reducedCrop = stored.crop;
    reduced = std::move(shownVolume);
    shownVolume = std::move(region);
    emit volumeChanged(true);
    setCrop(CropBox());
}

bool ViewerSession::showReducedLevel()
{
    if (!reduced)
        return false;
    replaceShownVolume(std::move(reduced), true);
    setCrop(reducedCrop);
    return true;
}

void ViewerSession::showFrame(std::unique_ptr<Volume> frame)
{
    replaceShownVolume(std::move(frame), true);
}

bool ViewerSession::showSeriesFrame(int frame, bool &outOfMemory)
{
    outOfMemory = false;
    if (!shownVolume || !shownVolume->series || frame < 0 ||
        frame >= shownVolume->series->frameCount())
        return false;
    if (frame == shownVolume->frame)
        return true;
    const std::shared_ptr<VolumeSeries> series = shownVolume->series;
    auto next = std::make_unique<Volume>();
    std::vector<std::string> warnings;
    std::ostringstream progress;
    if (!series->frameVolume(frame, *next, warnings, progress)) {
        outOfMemory = true;
        return false;
    }
    showFrame(std::move(next));
    return true;
}

void ViewerSession::setTransferFunction(const TransferFunction &function)
{
    if (function == stored.layer().transferFunction)
        return;
    stored.layer().transferFunction = function;
    emit transferFunctionChanged();
}

bool ViewerSession::recordTransferFunctionStep()
{
    return history.record(transferFunction());
}

void ViewerSession::resetTransferFunctionHistory()
{
    history.reset(transferFunction());
}

bool ViewerSession::undoTransferFunction()
{
    const std::optional<TransferFunction> previous = history.undo();
    if (previous)
        setTransferFunction(*previous);
    return bool(previous);
}

bool ViewerSession::redoTransferFunction()
{
    const std::optional<TransferFunction> next = history.redo();
    if (next)
        setTransferFunction(*next);
    return bool(next);
}

namespace {

// Sets field to value and tells through signal when it changes.
template <typename Value>
void change(ViewerSession *session, Value &field, const Value &value,
            void (ViewerSession::*signal)())
{
    if (field == value)
        return;
    field = value;
    emit(session->*signal)();
}

} // namespace

void ViewerSession::setRenderingOptions(const RenderingOptions &options)
{
    change(this, stored.options, options, &ViewerSession::renderingChanged);
}

void ViewerSession::setRenderMode(RenderMode mode)
{
    change(this, stored.mode, mode, &ViewerSession::renderingChanged);
}

void ViewerSession::setJitter(bool on)
{
    change(this, stored.jitter, on, &ViewerSession::renderingChanged);
}

void ViewerSession::setCamera(const SceneCamera &camera)
{
    // As the renderer holds them: angles in 0..359, zoom within its limits.
    SceneCamera normalised = camera;
    for (int &angle : normalised.rotation)
        angle = normaliseRotationAngle(angle);
    normalised.view.zoom = clampZoom(camera.view.zoom);
    change(this, stored.camera, normalised, &ViewerSession::cameraChanged);
}

void ViewerSession::setCrop(const CropBox &crop)
{
    change(this, stored.crop, normalisedCropBox(crop), &ViewerSession::cropChanged);
}

void ViewerSession::setSliceCutAxis(int axis)
{
    change(this, stored.sliceCutAxis, axis >= 0 && axis <= 2 ? axis : -1,
           &ViewerSession::sliceCutChanged);
}

void ViewerSession::setFourViews(bool on)
{
    change(this, stored.fourViews, on, &ViewerSession::layoutChanged);
}

void ViewerSession::setSliceAxis(int axis)
{
    change(this, stored.sliceAxis, axis, &ViewerSession::layoutChanged);
}

const Volume *ViewerSession::layerVolume(int layer) const
{
    if (layer == 0)
        return shownVolume.get();
    if (layer < 1 || layer > int(layerVolumes.size()))
        return nullptr;
    return layerVolumes[std::size_t(layer - 1)].get();
}

const LayerAppearance &ViewerSession::layerAppearance(int layer) const
{
    return stored.layers[std::size_t(std::clamp(layer, 0, layerCount() - 1))].appearance;
}

int ViewerSession::addLayer(std::unique_ptr<Volume> volume, const QString &file,
                            const LayerAppearance &appearance)
{
    SceneLayer layer;
    layer.file = file;
    layer.appearance = appearance;
    stored.layers.push_back(layer);
    layerVolumes.push_back(std::move(volume));
    showLayersInSlices();
    emit layersChanged();
    return layerCount() - 1;
}

void ViewerSession::removeLayer(int layer)
{
    if (layer < 1 || layer >= layerCount())
        return;
    // The views let go of the volume before it is freed.
    std::unique_ptr<Volume> removed = std::move(layerVolumes[std::size_t(layer - 1)]);
    layerVolumes.erase(layerVolumes.begin() + (layer - 1));
    stored.layers.erase(stored.layers.begin() + layer);
    showLayersInSlices();
    emit layersChanged();
}

bool ViewerSession::moveLayer(int layer, int by)
{
    const int target = layer + by;
    if (layer < 1 || layer >= layerCount() || target < 1 || target >= layerCount() || by == 0)
        return false;
    std::swap(stored.layers[std::size_t(layer)], stored.layers[std::size_t(target)]);
    std::swap(layerVolumes[std::size_t(layer - 1)], layerVolumes[std::size_t(target - 1)]);
    showLayersInSlices();
    emit layersChanged();
    return true;
}

void ViewerSession::setLayerAppearance(int layer, const LayerAppearance &appearance)
{
    if (layer < 1 || layer >= layerCount() ||
        stored.layers[std::size_t(layer)].appearance == appearance)
        return;
    stored.layers[std::size_t(layer)].appearance = appearance;
    showLayersInSlices();
    emit layersChanged();
}

std::vector<ShownLayer> ViewerSession::shownLayers() const
{
    std::vector<ShownLayer> shown;
    for (int layer = 1; layer < layerCount(); ++layer)
        shown.push_back({layerVolumes[std::size_t(layer - 1)].get(),
                         &stored.layers[std::size_t(layer)].appearance,
                         QFileInfo(stored.layers[std::size_t(layer)].file).fileName()});
    return shown;
}

void ViewerSession::showLayersInSlices()
{
    sliceSession->setLayers(shownLayers());
}

void ViewerSession::dropLayers()
{
    if (layerCount() == 1)
        return;
    // The views let go of the volumes before they are freed.
    const std::vector<std::unique_ptr<Volume>> dropped = std::move(layerVolumes);
    layerVolumes.clear();
    stored.layers.resize(1);
    showLayersInSlices();
    emit layersChanged();
}
