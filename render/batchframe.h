#pragma once

#include "layerappearance.h"
#include "renderingoptions.h"
#include "viewsettings.h"

#include <QGradient>
#include <QImage>
#include <QSize>
#include <QString>

#include <memory>

struct Volume;

// Result of one frame drawn away from the screen. ok is false when no picture
// of the data set could be drawn (no GL context, shader failure, refused
// upload, GL error); message then says why.
struct OffscreenResult
{
    bool ok = false;
    QString message;
    QImage image; // Format_RGB32; null unless ok and an image was asked for
};

// Frames drawn without a window, for the command line, benchmarks and tests,
// with the same renderer and shader as on screen. Two ways to a GL context:
// HeadlessFrame (EGL, no display at all) and OffscreenFrame (a hidden widget,
// which needs a QApplication on a platform with OpenGL).
//
// A benchmark sets the volume and stops once, then for each frame calls
// setRotation() and renderAndFinish() under its timer; grab() reads a frame back.
class BatchFrame
{
public:
    virtual ~BatchFrame() = default;

    // Frames of this many pixels.
    virtual void setSize(const QSize &size) = 0;
    // Not owned: must outlive the frames drawn from it.
    virtual void setVolume(const Volume *volume) = 0;
    // The layers over the volume (see RayCaster::uploadLayers()); neither
    // their volumes nor appearances are owned, and they must outlive the
    // frames. Set again after each change of them and after each
    // setVolume().
    virtual void setLayers(const std::vector<ShownLayer> &layers) = 0;
    virtual void setRenderingOptions(const RenderingOptions &options) = 0;
    // Rebuilds and uploads the transfer-function table.
    virtual void setGradientStops(const QGradientStops &stops) = 0;
    // Degrees, normalised like the renderer's setters.
    virtual void setRotation(int xRotation, int yRotation, int zRotation) = 0;
    // Degrees about the view's vertical axis after the rotation (turntables).
    virtual void setTurn(double degrees) = 0;
    virtual void setViewTransform(const ViewTransform &view) = 0;
    virtual void setCropBox(const CropBox &box) = 0;
    virtual void setSliceCut(const SliceCut &cut) = 0;
    virtual void setRenderMode(RenderMode mode) = 0;
    virtual void setJitter(bool on) = 0;
    virtual void setEmptySpaceSkipping(bool on) = 0;
    virtual void setStoredGradients(bool on) = 0;
    // Whether the volume's gradients are stored (see RayCaster::uploadVolume).
    virtual bool gradientsStored() const = 0;

    // Draws one frame and reads it back.
    virtual OffscreenResult grab() = 0;
    // Draws one frame and waits for the GPU to finish it; no read-back.
    virtual OffscreenResult renderAndFinish() = 0;
    // Makes the frame's GL context current (for GL queries of benchmarks).
    virtual void makeCurrent() = 0;
};

// How a frame without a window reaches OpenGL.
enum class FrameBackend
{
    Auto, // EGL where it works, else the display's GL through a hidden widget
    Egl,  // Mesa's surfaceless EGL: no display needed
    Glx   // a hidden widget on the display (needs a QApplication)
};

// A frame through EGL of the given size, or null with the reason.
std::unique_ptr<BatchFrame> makeHeadlessFrame(const QSize &size, QString *why);
