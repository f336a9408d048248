#include "offscreenframe.h"

#include "volumerenderer.h"

#include <QCoreApplication>
#include <QResizeEvent>

OffscreenFrame::OffscreenFrame(const QSize &size) : widget(std::make_unique<VolumeRenderer>())
{
    widget->resize(size);
    widget->setRenderingOptions(&options);
    QObject::connect(widget->problemReporter(), &ProblemReporter::problemReported,
                     [this](const QString &message) { problems << message; });
}

OffscreenFrame::~OffscreenFrame() = default;

void OffscreenFrame::setSize(const QSize &size)
{
    const QSize oldSize = widget->size();
    widget->resize(size);
    // A hidden widget gets no resize event until shown; the framebuffer follows
    // at the next frame (VolumeRenderer::grabFrame/renderFrameAndWait), the event
    // only keeps resizeGL() in step.
    QResizeEvent event(size, oldSize);
    QCoreApplication::sendEvent(widget.get(), &event);
}

void OffscreenFrame::setVolume(const Volume *volume)
{
    // A new data set starts afresh; its own upload problem stays for the frame.
    problems.clear();
    widget->setVolume(volume);
}

void OffscreenFrame::setLayers(const std::vector<ShownLayer> &layers)
{
    widget->setLayers(layers);
}

void OffscreenFrame::setRenderingOptions(const RenderingOptions &newOptions)
{
    options = newOptions;
    widget->setRenderingOptions(&options);
}

void OffscreenFrame::setGradientStops(const QGradientStops &stops)
{
    widget->setGradientStops(stops);
    widget->updateTransferFunctionTexture();
}

void OffscreenFrame::setRotation(int xRotation, int yRotation, int zRotation)
{
    widget->setXRotation(xRotation);
    widget->setYRotation(yRotation);
    widget->setZRotation(zRotation);
}

void OffscreenFrame::setTurn(double degrees)
{
    widget->setViewTurn(degrees);
}

void OffscreenFrame::setViewTransform(const ViewTransform &view)
{
    widget->setViewTransform(view);
}

void OffscreenFrame::setCropBox(const CropBox &box)
{
    widget->setCropBox(box);
}

void OffscreenFrame::setSliceCut(const SliceCut &cut)
{
    widget->setSliceCut(cut);
}

void OffscreenFrame::setRenderMode(RenderMode mode)
{
    widget->setRenderMode(mode);
}

void OffscreenFrame::setJitter(bool on)
{
    widget->setJitter(on);
}

void OffscreenFrame::setEmptySpaceSkipping(bool on)
{
    widget->setEmptySpaceSkipping(on);
}

void OffscreenFrame::setStoredGradients(bool on)
{
    widget->setStoredGradients(on);
}

bool OffscreenFrame::gradientsStored() const
{
    return widget->gradientsStored();
}

void OffscreenFrame::makeCurrent()
{
    widget->makeCurrent();
}

OffscreenResult OffscreenFrame::check(bool drawn)
{
    // Problems reported since the last frame (a refused upload, a shader that
    // failed at initialisation, GL errors of this frame) fail this frame; a state
    // that stays bad fails every later frame too.
    if (problems.isEmpty()) {
        const QString last = widget->lastError();
        if (!widget->isGlReady())
            problems << (last.isEmpty() ? QStringLiteral("OpenGL is not ready") : last);
        else if (!widget->isVolumeShown())
            problems << (last.isEmpty() ? QStringLiteral("No data set shown")
                                        : QStringLiteral("No data set shown (%1)").arg(last));
        else if (!drawn)
            problems << (last.isEmpty() ? QStringLiteral("The frame was not drawn") : last);
    }
    OffscreenResult result;
    result.ok = problems.isEmpty();
    result.message = problems.join(QStringLiteral("; "));
    problems.clear();
    return result;
}

OffscreenResult OffscreenFrame::grab()
{
    const QImage image = widget->grabFrame();
    const bool drawn = !image.isNull() && widget->isGlReady();
    OffscreenResult result = check(drawn);
    if (result.ok)
        result.image = image;
    return result;
}

OffscreenResult OffscreenFrame::renderAndFinish()
{
    return check(widget->renderFrameAndWait());
}
