#include "headlessframe.h"

#include "eglcontext.h"
#include "framebuffertexture.h"
#include "framegeometry.h"
#include "framerenderer.h"
#include "shadersource.h"

#include <QOpenGLContext>

#include <iostream>
#include <vector>

namespace {

// A thread holds one window system's context at a time: a Qt (GLX) context
// left current would keep EGL's from being made current. Qt makes its own
// current again before it draws.
void releaseQtContext()
{
    if (QOpenGLContext *current = QOpenGLContext::currentContext())
        current->doneCurrent();
}

std::unique_ptr<EglContext> makeContext()
{
    releaseQtContext();
    return std::make_unique<EglContext>();
}

} // namespace

HeadlessFrame::HeadlessFrame(const QSize &size) : context(makeContext())
{
    state.size = size;
    if (!context->isValid())
        return;
    frameRenderer = std::make_unique<FrameRenderer>(
        context->resolver(), loadShaderSource(defaultFragmentShaderCandidates()));
    target = std::make_unique<FramebufferTexture>(frameRenderer->functions());
}

HeadlessFrame::~HeadlessFrame()
{
    // The GL objects go while their context is current, before it, and never
    // while a context of Qt's is current: there the same names are other
    // objects. Without any current context their deletion does nothing.
    releaseQtContext();
    context->makeCurrent();
    target.reset();
    frameRenderer.reset();
}

bool HeadlessFrame::isValid() const
{
    return context->isValid() && frameRenderer->isValid() && target->isSupported();
}

QString HeadlessFrame::errorMessage() const
{
    if (!context->isValid())
        return context->errorMessage();
    if (!frameRenderer->isValid())
        return frameRenderer->errorMessage();
    if (!target->isSupported())
        return QStringLiteral("This GL implementation has no framebuffer objects");
    return QString();
}

void HeadlessFrame::setMaximumTextureSide(int side)
{
    if (!isValid())
        return;
    makeCurrent();
    frameRenderer->setMaximumTextureSide(side);
}

int HeadlessFrame::blockCount() const
{
    return frameRenderer && volumeShown ? frameRenderer->blockCount() : 0;
}

void HeadlessFrame::setVolume(const Volume *newVolume)
{
    // A new data set starts afresh; its own upload problem stays for the frame.
    problems.clear();
    volume = newVolume;
    volumeShown = false;
    if (!volume || !isValid())
        return;
    makeCurrent();
    const GlResult result = frameRenderer->uploadVolume(*volume);
    volumeShown = result.ok;
    if (!result.ok)
        problems << result.message;
}

void HeadlessFrame::setLayers(const std::vector<ShownLayer> &layers)
{
    if (!isValid())
        return;
    makeCurrent();
    const GlResult result = frameRenderer->uploadLayers(layers);
    if (!result.ok)
        problems << result.message;
}

void HeadlessFrame::setGradientStops(const QGradientStops &stops)
{
    // The window's probe line, as every table rebuild writes it.
    table.rebuild(stops, std::cout);
    if (!isValid())
        return;
    std::vector<unsigned char> bytes(4 * TransferFunctionTable::entryCount);
    table.copyRgbaBytes(bytes.data());
    makeCurrent();
    const GlResult result =
        frameRenderer->uploadTransferTable(bytes.data(), table.rgbaFloats().data());
    if (!result.ok)
        problems << result.message;
}

void HeadlessFrame::setRotation(int xRotation, int yRotation, int zRotation)
{
    state.rotation = {normaliseRotationAngle(xRotation), normaliseRotationAngle(yRotation),
                      normaliseRotationAngle(zRotation)};
}

void HeadlessFrame::setViewTransform(const ViewTransform &view)
{
    state.view = view;
    state.view.zoom = clampZoom(view.zoom);
}

void HeadlessFrame::setCropBox(const CropBox &box)
{
    state.crop = normalisedCropBox(box);
}

bool HeadlessFrame::gradientsStored() const
{
    return isValid() && frameRenderer->gradientsStored();
}

void HeadlessFrame::makeCurrent()
{
    releaseQtContext();
    context->makeCurrent();
}

OffscreenResult HeadlessFrame::draw(bool readBack)
{
    OffscreenResult result;
    if (!isValid()) {
        result.message = errorMessage();
        problems.clear();
        return result;
    }
    if (!volume)
        problems << QStringLiteral("No data set to draw");
    else if (!volumeShown && problems.isEmpty())
        problems << QStringLiteral("No data set shown");
    makeCurrent();
    const QSize size = state.size.expandedTo(QSize(1, 1));
    if (problems.isEmpty() && !target->resize(size))
        problems << QStringLiteral("No framebuffer of %1 x %2 pixels")
                        .arg(size.width())
                        .arg(size.height());
    if (problems.isEmpty()) {
        RenderState frameState = state;
        frameState.size = size;
        frameState.divisor = 1;
        const FrameRenderer::Frame frame =
            frameRenderer->draw(frameState, volume, target->framebuffer());
        if (!frame.ok)
            problems << frame.message;
        else if (readBack)
            result.image = target->read();
    }
    result.ok = problems.isEmpty();
    result.message = problems.join(QStringLiteral("; "));
    if (!result.ok)
        result.image = QImage();
    problems.clear();
    return result;
}

FrameRenderer::Pick HeadlessFrame::pick(QPointF position)
{
    if (!isValid()) {
        FrameRenderer::Pick failed;
        failed.message = errorMessage();
        return failed;
    }
    context->makeCurrent();
    return frameRenderer->pick(state, volumeShown ? volume : nullptr, position);
}

OffscreenResult HeadlessFrame::grab()
{
    return draw(true);
}

OffscreenResult HeadlessFrame::renderAndFinish()
{
    return draw(false);
}

std::unique_ptr<BatchFrame> makeHeadlessFrame(const QSize &size, QString *why)
{
    auto frame = std::make_unique<HeadlessFrame>(size);
    if (!frame->isValid()) {
        if (why)
            *why = frame->errorMessage();
        return nullptr;
    }
    return frame;
}
