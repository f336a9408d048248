#pragma once

#include "batchframe.h"

#include <QGradient>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class VolumeRenderer;
struct Volume;

// Frames of a VolumeRenderer that is never shown: the GL of the display
// (xcb, Xvfb) through Qt. Needs a QApplication on a platform with OpenGL.
class OffscreenFrame : public BatchFrame
{
public:
    // size: the widget's size. A widget that is never shown has no window and
    // in practice a device pixel ratio of 1, so the image has exactly this many
    // pixels; the image's own size is authoritative.
    explicit OffscreenFrame(const QSize &size);
    ~OffscreenFrame() override;

    OffscreenFrame(const OffscreenFrame &) = delete;
    OffscreenFrame &operator=(const OffscreenFrame &) = delete;

    void setSize(const QSize &size) override;
    void setVolume(const Volume *volume) override;
    void setLayers(const std::vector<ShownLayer> &layers) override;
    void setRenderingOptions(const RenderingOptions &options) override;
    void setGradientStops(const QGradientStops &stops) override;
    void setRotation(int xRotation, int yRotation, int zRotation) override;
    void setTurn(double degrees) override;
    void setViewTransform(const ViewTransform &view) override;
    void setCropBox(const CropBox &box) override;
    void setSliceCut(const SliceCut &cut) override;
    void setRenderMode(RenderMode mode) override;
    void setJitter(bool on) override;
    void setEmptySpaceSkipping(bool on) override;
    void setStoredGradients(bool on) override;
    bool gradientsStored() const override;

    OffscreenResult grab() override;
    OffscreenResult renderAndFinish() override;
    void makeCurrent() override;

    VolumeRenderer &renderer() { return *widget; }

private:
    OffscreenResult check(bool drawn);

    RenderingOptions options;
    QStringList problems; // reported since the last frame; outlives the widget
    std::unique_ptr<VolumeRenderer> widget;
};
