#pragma once

#include "scene.h"
#include "transferfunctionhistory.h"

#include <QObject>

#include <memory>

class SliceSession;
struct Volume;

// Owns the scene of one window, its volume and the undo history of its
// transfer function, and signals each change: the renderer, the slice views,
// the strips, the readout and the settings follow these signals rather than
// each other. The cursor and the slice window live in the slice session
// (object name "sliceSession"), which the slice views observe; scene() reads
// them from there.
class ViewerSession : public QObject
{
    Q_OBJECT

public:
    explicit ViewerSession(QObject *parent = nullptr);
    ~ViewerSession() override;

    // The scene as it stands, with the slice session's cursor and window.
    Scene scene() const;
    SliceSession *slices() const { return sliceSession; }

    // The shown volume (a region at full resolution while one is shown);
    // null before the first load.
    const Volume *volume() const { return shownVolume.get(); }
    // The reduced level that a shown region stands in for, else null.
    const Volume *reducedVolume() const { return reduced.get(); }

    // A newly loaded data set from file replaces the shown one (and any
    // region): volumeChanged(false) goes out while the old one still exists,
    // so that every view lets go of it before it is freed.
    void showVolume(std::unique_ptr<Volume> loaded, const QString &file);
    // Shows a region of the reduced level in its place, uncropped; the crop
    // comes back with showReducedLevel().
    void showRegion(std::unique_ptr<Volume> region);
    // Back to the reduced level after a region; false when none is shown.
    bool showReducedLevel();
    // Another volume of the shown series (4D image) in place of the shown
    // one: the same grid, so the cursor, window, slice and camera stay.
    void showFrame(std::unique_ptr<Volume> frame);
    // Shows volume frame of the shown series (0-based) through showFrame();
    // false where there is no such volume, or (outOfMemory) its memory cannot
    // be had.
    bool showSeriesFrame(int frame, bool &outOfMemory);

    const TransferFunction &transferFunction() const { return stored.layer().transferFunction; }
    void setTransferFunction(const TransferFunction &function);
    // Records the current function as an undo step; false when it is the step
    // recorded last.
    bool recordTransferFunctionStep();
    // Undo starts afresh at the current function (after a load, at start-up).
    void resetTransferFunctionHistory();
    bool undoTransferFunction();
    bool redoTransferFunction();

    void setRenderingOptions(const RenderingOptions &options);
    void setRenderMode(RenderMode mode);
    void setJitter(bool on);
    void setCamera(const SceneCamera &camera);
    void setCrop(const CropBox &crop);
    // -1 for no cut.
    void setSliceCutAxis(int axis);
    void setFourViews(bool on);
    void setSliceAxis(int axis);

    // The layers over the base (overlays and label maps): layer 1 is the
    // lowest. A new base volume from a file drops them all.
    int layerCount() const { return int(stored.layers.size()); }
    const Volume *layerVolume(int layer) const;
    const LayerAppearance &layerAppearance(int layer) const;
    // Adds a layer on top; returns its index.
    int addLayer(std::unique_ptr<Volume> volume, const QString &file,
                 const LayerAppearance &appearance);
    void removeLayer(int layer);
    // Moves a layer up (towards the top, by > 0) or down among the layers
    // over the base; false where it cannot move.
    bool moveLayer(int layer, int by);
    void setLayerAppearance(int layer, const LayerAppearance &appearance);
    // The layers over the base as the views show them, the lowest first.
    std::vector<ShownLayer> shownLayers() const;

signals:
    // keepPlace: the same data as before (a region or its level), so the
    // cursor, window and slice stay.
    void volumeChanged(bool keepPlace);
    void transferFunctionChanged();
    void renderingChanged(); // options, mode, jitter
    void cameraChanged();
    void cropChanged();
    void sliceCutChanged(); // the cut axis (the cursor moves the cut too)
    void cursorChanged();
    void layoutChanged();
    // A layer over the base came, went, moved or changed its appearance.
    void layersChanged();
    void measurementsChanged();

private:
    void replaceShownVolume(std::unique_ptr<Volume> next, bool keepPlace);
    void showLayersInSlices();
    void dropLayers();

    Scene stored; // all but the cursor and the window
    SliceSession *sliceSession = nullptr;
    std::unique_ptr<Volume> shownVolume;
    std::unique_ptr<Volume> reduced;
    // The volumes of stored.layers[1...], in their order.
    std::vector<std::unique_ptr<Volume>> layerVolumes;
    CropBox reducedCrop;
    TransferFunctionHistory history;
};
