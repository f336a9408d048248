#include "volumerenderer.h"

#include "framegeometry.h"
#include "framerenderer.h"
#include "interactionresolution.h"
#include "renderingoptions.h"
#include "renderstate.h"
#include "shadersource.h"
#include "volume.h"

#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QScopeGuard>
#include <QSurfaceFormat>
#include <QWheelEvent>

#include <iostream>

VolumeRenderer::VolumeRenderer(QWidget *parent)
    : QOpenGLWidget(parent), shaderCandidates(defaultFragmentShaderCandidates())
{
    QSurfaceFormat surfaceFormat = QSurfaceFormat::defaultFormat();
    surfaceFormat.setSamples(4);
    setFormat(surfaceFormat);
    settleTimer.setSingleShot(true);
    settleTimer.setInterval(InteractionResolution::settleMilliseconds);
    connect(&settleTimer, &QTimer::timeout, this, &VolumeRenderer::settle);
}

VolumeRenderer::~VolumeRenderer()
{
    // The base class destroys the context after this body: release the GL
    // objects while this object is still whole.
    disconnect(contextConnection);
    releaseGl();
}

QSize VolumeRenderer::sizeHint() const
{
    return QSize(400, 400);
}

QSize VolumeRenderer::minimumSizeHint() const
{
    return QSize(200, 200);
}

bool VolumeRenderer::isGlReady() const
{
    return frameRenderer && frameRenderer->isValid();
}

void VolumeRenderer::reportProblem(const QString &message)
{
    std::cerr << message.toLocal8Bit().constData() << std::endl;
    lastProblem = message;
    emit problems.problemReported(message);
}

void VolumeRenderer::setVolume(const Volume *newVolume)
{
    volume = newVolume;
    volumeShown = false;
    volumeUploadPending = volume != nullptr;
    if (volumeUploadPending && frameRenderer) {
        makeCurrent();
        uploadVolumeNow();
        doneCurrent();
    }
    update();
}

void VolumeRenderer::setLayers(const std::vector<ShownLayer> &newLayers)
{
    layers = newLayers;
    layerUploadPending = true;
    if (frameRenderer) {
        makeCurrent();
        uploadLayersNow();
        doneCurrent();
    }
    update();
}

void VolumeRenderer::uploadLayersNow()
{
    layerUploadPending = false;
    const GlResult result = frameRenderer->uploadLayers(layers);
    if (!result.ok)
        reportProblem(result.message);
}

void VolumeRenderer::uploadVolumeNow()
{
    volumeUploadPending = false;
    const GlResult result = frameRenderer->uploadVolume(*volume);
    volumeShown = result.ok;
    if (!result.ok)
        reportProblem(result.message);
    // The layers' bricks are the new volume's to mark.
    if (!layers.empty())
        uploadLayersNow();
}

void VolumeRenderer::setRenderingOptions(const RenderingOptions *newOptions)
{
    options = newOptions;
    update();
}

void VolumeRenderer::setGradientStops(const QGradientStops &newStops)
{
    stops = newStops;
    table.rebuild(stops, std::cout);
    update();
}

void VolumeRenderer::noteInteraction()
{
    interacting = true;
    settleTimer.start(); // restarts: 200 ms after the last move
}

void VolumeRenderer::settle()
{
    interacting = false;
    if (paintedDivisor > 1)
        update();
}

void VolumeRenderer::updateTransferFunctionTexture()
{
    // A drag in the editor arrives as a stream of these.
    noteInteraction();
    table.copyRgbaBytes(tableBytes.data());
    tableFloats = table.rgbaFloats();
    tableUploadRequested = true;
    tableUploadPending = true;
    if (frameRenderer) {
        makeCurrent();
        uploadTransferTableNow();
        doneCurrent();
    }
    update();
}

void VolumeRenderer::uploadTransferTableNow()
{
    tableUploadPending = false;
    const GlResult result =
        frameRenderer->uploadTransferTable(tableBytes.data(), tableFloats.data());
    if (!result.ok)
        reportProblem(result.message);
}

void VolumeRenderer::setEmptySpaceSkipping(bool on)
{
    skipEmptySpace = on;
    update();
}

void VolumeRenderer::setJitter(bool on)
{
    jitterOn = on;
    update();
}

void VolumeRenderer::setStoredGradients(bool on)
{
    storedGradients = on;
    update();
}

bool VolumeRenderer::gradientsStored() const
{
    return frameRenderer && frameRenderer->gradientsStored();
}

int VolumeRenderer::blockCount() const
{
    return frameRenderer ? frameRenderer->blockCount() : 0;
}

void VolumeRenderer::setViewTransform(const ViewTransform &view)
{
    ViewTransform clamped = view;
    clamped.zoom = clampZoom(view.zoom);
    if (clamped == viewTransformValue)
        return;
    viewTransformValue = clamped;
    emit viewChanges.viewTransformChanged();
    update();
}

void VolumeRenderer::setCropBox(const CropBox &box)
{
    const CropBox normalised = normalisedCropBox(box);
    if (normalised == cropBoxValue)
        return;
    cropBoxValue = normalised;
    emit viewChanges.cropBoxChanged();
    update();
}

void VolumeRenderer::setSliceCut(const SliceCut &cut)
{
    if (cut == sliceCutValue)
        return;
    sliceCutValue = cut;
    update();
}

void VolumeRenderer::setRenderMode(RenderMode mode)
{
    if (mode == renderModeValue)
        return;
    renderModeValue = mode;
    update();
}

void VolumeRenderer::setViewTurn(double degrees)
{
    if (degrees == viewTurn)
        return;
    viewTurn = degrees;
    update();
}

void VolumeRenderer::setXRotation(int angle)
{
    angle = normaliseRotationAngle(angle);
    if (angle == xAngle)
        return;
    xAngle = angle;
    emit xRotationChanged(angle);
    update();
}

void VolumeRenderer::setYRotation(int angle)
{
    angle = normaliseRotationAngle(angle);
    if (angle == yAngle)
        return;
    yAngle = angle;
    emit yRotationChanged(angle);
    update();
}

void VolumeRenderer::setZRotation(int angle)
{
    angle = normaliseRotationAngle(angle);
    if (angle == zAngle)
        return;
    zAngle = angle;
    emit zRotationChanged(angle);
    update();
}

void VolumeRenderer::mousePressEvent(QMouseEvent *event)
{
    lastMouse = event->position().toPoint();
    pickPressed = event->button() == Qt::LeftButton && event->modifiers() & Qt::ShiftModifier;
    if (pickPressed)
        pickAt(event->position());
}

void VolumeRenderer::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        pickPressed = false;
}

void VolumeRenderer::mouseMoveEvent(QMouseEvent *event)
{
    const QPoint position = event->position().toPoint();
    if (pickPressed) {
        lastMouse = position;
        return;
    }
    const int dx = position.x() - lastMouse.x();
    const int dy = position.y() - lastMouse.y();
    if (event->buttons() & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton))
        noteInteraction();
    if (event->buttons() & Qt::LeftButton) {
        setXRotation(xAngle + dy);
        setYRotation(yAngle + dx);
    } else if (event->buttons() & Qt::RightButton) {
        setXRotation(xAngle + dy);
        setZRotation(zAngle + dx);
    } else if (event->buttons() & Qt::MiddleButton) {
        setViewTransform(pannedByPixels(viewTransformValue, QPoint(dx, dy), size()));
    }
    lastMouse = position;
}

void VolumeRenderer::mouseDoubleClickEvent(QMouseEvent *event)
{
    // The second press of the click, as far as dragging is concerned.
    lastMouse = event->position().toPoint();
    resetView();
}

void VolumeRenderer::wheelEvent(QWheelEvent *event)
{
    const int delta = event->angleDelta().y();
    if (delta == 0) {
        event->ignore(); // a sideways scroll: not ours
        return;
    }
    noteInteraction();
    setViewTransform(zoomedAboutCentre(viewTransformValue, wheelZoomFactor(delta)));
}

void VolumeRenderer::pickAt(QPointF position)
{
    if (!canDraw()) {
        emit picks.nothingPicked();
        return;
    }
    RenderState state = renderState(1);
    state.size = framebufferSize();
    makeCurrent();
    const FrameRenderer::Pick pick =
        frameRenderer->pick(state, volume, position * devicePixelRatio());
    doneCurrent();
    if (!pick.ok)
        reportProblem(pick.message);
    else if (!pick.hit)
        emit picks.nothingPicked();
    else
        emit picks.voxelPicked(pick.voxel[0], pick.voxel[1], pick.voxel[2]);
}

std::optional<FrameGeometry> VolumeRenderer::frameGeometry() const
{
    if (!volume)
        return std::nullopt;
    const QSize size = framebufferSize();
    return computeFrameGeometry(renderState(1), size.expandedTo(QSize(1, 1)), *volume);
}

void VolumeRenderer::initializeGL()
{
    QOpenGLContext *ownContext = context();
    std::cerr << "Widget is valid: " << isValid() << std::endl;
    std::cerr << "context " << static_cast<const void *>(QOpenGLContext::currentContext())
              << std::endl;
    std::cerr << "has OpenGL shader: " << QOpenGLShaderProgram::hasOpenGLShaderPrograms()
              << std::endl;
    std::cerr << "context " << static_cast<const void *>(ownContext) << " is valid "
              << (ownContext && ownContext->isValid()) << std::endl;

    // A widget moved to another window gets a new context: the GL objects go
    // with the old one and the uploads are repeated in the new one.
    disconnect(contextConnection);
    contextConnection =
        connect(ownContext, &QOpenGLContext::aboutToBeDestroyed, this, &VolumeRenderer::releaseGl);

    const ShaderSource fragmentShader = loadShaderSource(shaderCandidates);
    shaderOrigin = fragmentShader.origin;
    if (fragmentShader.found && !fragmentShader.problem.isEmpty())
        reportProblem(fragmentShader.problem); // an unreadable candidate was skipped
    frameRenderer = std::make_unique<FrameRenderer>(
        [ownContext](const char *name) {
            return reinterpret_cast<void *>(ownContext->getProcAddress(name));
        },
        fragmentShader);
    if (!frameRenderer->isValid())
        reportProblem(frameRenderer->errorMessage());

    if (volume && volumeUploadPending)
        uploadVolumeNow();
    if (layerUploadPending)
        uploadLayersNow();
    if (tableUploadPending)
        uploadTransferTableNow();
}

void VolumeRenderer::releaseGl()
{
    if (!frameRenderer)
        return;
    makeCurrent();
    frameRenderer.reset();
    doneCurrent();
    volumeUploadPending = volume != nullptr;
    volumeShown = false;
    tableUploadPending = tableUploadRequested;
}

QSize VolumeRenderer::framebufferSize() const
{
    // The size QOpenGLWidget gives its framebuffer: device pixels.
    return size() * devicePixelRatio();
}

void VolumeRenderer::resizeGL(int, int)
{
    // The arguments are in device-independent pixels; the viewport needs device
    // pixels.
    const QSize framebuffer = framebufferSize();
    viewportWidth = framebuffer.width();
    viewportHeight = framebuffer.height();
    context()->functions()->glViewport(0, 0, viewportWidth, viewportHeight);
}

bool VolumeRenderer::canDraw() const
{
    return isGlReady() && volume && options && volumeShown;
}

void VolumeRenderer::paintGL()
{
    // A hidden widget is painted without a resize call: take the size anew.
    const QSize framebuffer = framebufferSize();
    viewportWidth = framebuffer.width();
    viewportHeight = framebuffer.height();
    paintedFramebufferSize = framebuffer;
    if (!frameRenderer) {
        context()->functions()->glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        return;
    }
    const bool drawing = canDraw();
    const FrameRenderer::Frame frame =
        frameRenderer->draw(renderState(drawing ? divisorForNextFrame() : 1),
                            drawing ? volume : nullptr, defaultFramebufferObject());
    if (drawing)
        fullFrameEstimate = frame.milliseconds * frame.divisor * frame.divisor;
    paintedDivisor = drawing ? frame.divisor : 1;

    // Once per distinct problem, not once per frame.
    if (!frame.message.isEmpty() && frame.message != lastFrameProblem)
        reportProblem(frame.message);
    lastFrameProblem = frame.message;
}

RenderState VolumeRenderer::renderState(int divisor) const
{
    RenderState state;
    state.rotation = {xAngle, yAngle, zAngle};
    state.turn = viewTurn;
    state.view = viewTransformValue;
    state.crop = cropBoxValue;
    state.sliceCut = sliceCutValue;
    state.mode = renderModeValue;
    if (options)
        state.options = *options;
    state.jitter = jitterOn;
    state.emptySpaceSkipping = skipEmptySpace;
    state.storedGradients = storedGradients;
    state.divisor = divisor;
    state.size = QSize(viewportWidth, viewportHeight);
    return state;
}

int VolumeRenderer::divisorForNextFrame() const
{
    if (!interacting || fullResolutionOnly)
        return 1;
    return InteractionResolution::divisorFor(fullFrameEstimate, paintedDivisor, frameBudget);
}

QImage VolumeRenderer::grabFrame()
{
    fullResolutionOnly = true;
    const QImage frame = grabFramebuffer();
    fullResolutionOnly = false;
    if (frame.isNull()) {
        reportProblem(QStringLiteral("No OpenGL context: the volume rendering cannot be drawn"));
        return QImage();
    }
    return frame.convertToFormat(QImage::Format_RGB32);
}

bool VolumeRenderer::renderFrameAndWait()
{
    // grabFramebuffer() initialises a widget that was never shown and resizes a
    // hidden widget's framebuffer; it draws a frame on the way.
    fullResolutionOnly = true;
    const auto fullAgain = qScopeGuard([this] { fullResolutionOnly = false; });
    if (!frameRenderer || framebufferSize() != paintedFramebufferSize) {
        if (grabFramebuffer().isNull() || !frameRenderer) {
            reportProblem(
                QStringLiteral("No OpenGL context: the volume rendering cannot be drawn"));
            return false;
        }
    }
    if (!canDraw()) {
        if (!isGlReady())
            return false; // reported at initialisation
        if (!volume || !volumeShown) {
            if (!volume)
                reportProblem(QStringLiteral("No data set to draw"));
            return false; // an upload failure was reported when it happened
        }
        reportProblem(QStringLiteral("No rendering options to draw with"));
        return false;
    }
    // The frame renderer waits for the GPU to finish the frame.
    makeCurrent();
    paintGL();
    doneCurrent();
    return lastFrameProblem.isEmpty();
}
