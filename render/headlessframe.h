#pragma once

#include "batchframe.h"
#include "framerenderer.h"
#include "renderstate.h"
#include "transferfunctiontable.h"

#include <QStringList>

#include <array>
#include <memory>

class EglContext;
class FramebufferTexture;

// Frames through Mesa's surfaceless EGL into a framebuffer object: no display,
// no window system, no QGuiApplication (a QCoreApplication, for the folder of
// the executable where the shader is looked for). The same frame renderer and
// shader as the window's, so the same picture.
//
// The context is current on the creating thread after construction and after
// every call.
class HeadlessFrame : public BatchFrame
{
public:
    // See isValid().
    explicit HeadlessFrame(const QSize &size);
    ~HeadlessFrame() override;

    HeadlessFrame(const HeadlessFrame &) = delete;
    HeadlessFrame &operator=(const HeadlessFrame &) = delete;

    // False when no context could be made or the program could not be built;
    // errorMessage() says why.
    bool isValid() const;
    QString errorMessage() const;

    void setSize(const QSize &size) override { state.size = size; }
    void setVolume(const Volume *volume) override;
    void setLayers(const std::vector<ShownLayer> &layers) override;
    void setRenderingOptions(const RenderingOptions &options) override { state.options = options; }
    void setGradientStops(const QGradientStops &stops) override;
    void setRotation(int xRotation, int yRotation, int zRotation) override;
    void setTurn(double degrees) override { state.turn = degrees; }
    void setViewTransform(const ViewTransform &view) override;
    void setCropBox(const CropBox &box) override;
    void setSliceCut(const SliceCut &cut) override { state.sliceCut = cut; }
    void setRenderMode(RenderMode mode) override { state.mode = mode; }
    void setJitter(bool on) override { state.jitter = on; }
    void setEmptySpaceSkipping(bool on) override { state.emptySpaceSkipping = on; }
    void setStoredGradients(bool on) override { state.storedGradients = on; }
    bool gradientsStored() const override;

    OffscreenResult grab() override;
    OffscreenResult renderAndFinish() override;
    void makeCurrent() override;

    // See RayCaster::setMaximumTextureSide(): for the next setVolume().
    void setMaximumTextureSide(int side);
    // Textures the shown volume is held in (see RayCaster::blockCount()).
    int blockCount() const;

    // Where the next frame's ray at position (device pixels from the top-left
    // corner) reaches half opacity; see FrameRenderer::pick().
    FrameRenderer::Pick pick(QPointF position);

private:
    OffscreenResult draw(bool readBack);

    RenderState state;
    TransferFunctionTable table;
    std::unique_ptr<EglContext> context;
    std::unique_ptr<FrameRenderer> frameRenderer;
    std::unique_ptr<FramebufferTexture> target;
    const Volume *volume = nullptr;
    bool volumeShown = false;
    QStringList problems; // since the last frame
};
