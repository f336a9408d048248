#pragma once

#include "renderingoptions.h"
#include "viewsettings.h"

#include <QGradient>
#include <QImage>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class VolumeRenderer;
struct Volume;

// Result of one offscreen frame. ok is false when no picture of the data set
// could be drawn (no GL context, shader failure, refused upload, GL error);
// message then says why.
struct OffscreenResult
{
    bool ok = false;
    QString message;
    QImage image; // Format_RGB32; null unless ok and an image was asked for
};

// Renders frames without a window, for the command line and benchmarks: a
// VolumeRenderer that is never shown, the same renderer and shader as on
// screen. Needs a QApplication on a platform with OpenGL (xcb, Xvfb).
//
// A benchmark sets the volume and stops once, then for each frame calls
// setRotation() and renderAndFinish() under its timer; grab() reads a frame back.
class OffscreenFrame
{
public:
    // size: the widget's size. A widget that is never shown has no window and
    // in practice a device pixel ratio of 1, so the image has exactly this many
    // pixels; the image's own size is authoritative.
    explicit OffscreenFrame(const QSize &size);
    ~OffscreenFrame();

    OffscreenFrame(const OffscreenFrame &) = delete;
    OffscreenFrame &operator=(const OffscreenFrame &) = delete;

    void setSize(const QSize &size);
    // Not owned: must outlive the frames drawn from it.
    void setVolume(const Volume *volume);
    // Copied.
    void setRenderingOptions(const RenderingOptions &options);
    // Rebuilds and uploads the transfer-function table.
    void setGradientStops(const QGradientStops &stops);
    // Degrees, normalised like the renderer's setters.
    void setRotation(int xRotation, int yRotation, int zRotation);
    // Zoom, pan, cropping and mode, as on the renderer.
    void setViewTransform(const ViewTransform &view);
    void setCropBox(const CropBox &box);
    void setRenderMode(RenderMode mode);

    // Draws one frame and reads it back.
    OffscreenResult grab();
    // Draws one frame and waits for the GPU to finish it; no read-back.
    OffscreenResult renderAndFinish();

    VolumeRenderer &renderer() { return *widget; }

private:
    OffscreenResult check(bool drawn);

    RenderingOptions options;
    QStringList problems; // reported since the last frame; outlives the widget
    std::unique_ptr<VolumeRenderer> widget;
};
