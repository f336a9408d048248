#include "framerenderer.h"

#include "framegeometry.h"
#include "reducedframe.h"
#include "renderstate.h"
#include "shadersource.h"
#include "volume.h"

#include <QElapsedTimer>

FrameRenderer::FrameRenderer(const GlFunctions::Resolver &resolve,
                             const ShaderSource &fragmentShader)
{
    QString missing;
    if (!gl.load(resolve, &missing)) {
        loadProblem = QStringLiteral("This GL implementation lacks %1: the volume rendering "
                                     "cannot be drawn")
                          .arg(missing);
        return;
    }
    rayCaster = std::make_unique<RayCaster>(gl, fragmentShader);
    // Without it every frame is drawn at full resolution.
    reducedFrame = std::make_unique<ReducedFrame>(gl);
}

FrameRenderer::~FrameRenderer() = default;

bool FrameRenderer::isValid() const
{
    return rayCaster && rayCaster->isValid();
}

QString FrameRenderer::errorMessage() const
{
    return rayCaster ? rayCaster->errorMessage() : loadProblem;
}

GlResult FrameRenderer::uploadVolume(const Volume &volume)
{
    if (!rayCaster)
        return {false, loadProblem};
    return rayCaster->uploadVolume(volume);
}

GlResult FrameRenderer::uploadTransferTable(const unsigned char *rgbaBytes, const float *rgbaFloats)
{
    if (!rayCaster)
        return {false, loadProblem};
    return rayCaster->uploadTransferTable(rgbaBytes, rgbaFloats);
}

bool FrameRenderer::gradientsStored() const
{
    return rayCaster && rayCaster->gradientsStored();
}

FrameRenderer::Frame FrameRenderer::draw(const RenderState &state, const Volume *volume,
                                         GLuint target)
{
    Frame frame;
    if (!rayCaster) {
        frame.message = loadProblem;
        return frame;
    }
    const QSize size = state.size.expandedTo(QSize(1, 1));
    gl.glBindFramebuffer(GL_FRAMEBUFFER, target);
    gl.glViewport(0, 0, size.width(), size.height());
    gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    if (!volume) {
        frame.message = rayCaster->takeGlErrors("a frame");
        frame.ok = frame.message.isEmpty();
        return frame;
    }

    QElapsedTimer timer;
    timer.start();
    int divisor = state.divisor > 1 ? state.divisor : 1;
    const QSize drawn = divisor > 1 ? (size / divisor).expandedTo(QSize(1, 1)) : size;
    if (divisor > 1 && !(reducedFrame->isValid() && reducedFrame->begin(drawn))) {
        divisor = 1; // full resolution after all
        gl.glBindFramebuffer(GL_FRAMEBUFFER, target);
        gl.glViewport(0, 0, size.width(), size.height());
    }
    const FrameGeometry geometry = computeFrameGeometry(state, divisor > 1 ? drawn : size, *volume);
    QString problems = rayCaster->drawFrame(geometry, state).message;
    if (divisor > 1)
        reducedFrame->present(target, size);
    // Waiting here costs nothing a compositor or a read-back would not wait for
    // anyway, and tells how long the frame really took.
    gl.glFinish();
    frame.milliseconds = double(timer.nsecsElapsed()) / 1.0e6;
    frame.divisor = divisor;

    const QString errors = rayCaster->takeGlErrors("a frame");
    if (!errors.isEmpty())
        problems = problems.isEmpty() ? errors : problems + QStringLiteral("; ") + errors;
    frame.message = problems;
    frame.ok = problems.isEmpty();
    return frame;
}
