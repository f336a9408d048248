#include "framerenderer.h"

#include "framebuffertexture.h"
#include "framegeometry.h"
#include "reducedframe.h"
#include "renderstate.h"
#include "shadersource.h"
#include "volume.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cmath>

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

GlResult FrameRenderer::uploadLayers(const std::vector<ShownLayer> &layers)
{
    if (!rayCaster)
        return {false, loadProblem};
    return rayCaster->uploadLayers(layers);
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

void FrameRenderer::setMaximumTextureSide(int side)
{
    if (rayCaster)
        rayCaster->setMaximumTextureSide(side);
}

int FrameRenderer::blockCount() const
{
    return rayCaster ? rayCaster->blockCount() : 0;
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

FrameRenderer::Pick FrameRenderer::pick(const RenderState &state, const Volume *volume,
                                        QPointF position)
{
    Pick pick;
    if (!rayCaster) {
        pick.message = loadProblem;
        return pick;
    }
    const QSize size = state.size.expandedTo(QSize(1, 1));
    const int column = int(std::floor(position.x()));
    const int row = int(std::floor(position.y()));
    if (!volume || column < 0 || row < 0 || column >= size.width() || row >= size.height()) {
        pick.ok = true;
        return pick;
    }
    if (!pickTarget)
        pickTarget = std::make_unique<FramebufferTexture>(gl, true);
    if (!pickTarget->resize(QSize(1, 1))) {
        rayCaster->takeGlErrors("the picking buffer");
        pick.message = QStringLiteral("This GL implementation has no float framebuffer: the "
                                      "rendering cannot be picked");
        return pick;
    }

    RenderState pickState = state;
    pickState.size = size;
    pickState.divisor = 1;
    pickState.mode = RenderMode::Composite;
    // Opacity is corrected for the step, so more samples find the same half
    // opaque point, only closer: two per voxel of the longest side keep the
    // step under a voxel along any ray (at most 4096, the shader's limit).
    const int longest = std::max({volume->width, volume->height, volume->depth});
    pickState.options.samples =
        std::clamp(std::max(pickState.options.samples, 2 * longest), 1, 4096);
    const FrameGeometry geometry = computeFrameGeometry(pickState, size, *volume);
    // The frame's viewport, shifted so that the buffer's one pixel is the
    // frame's pixel (column, row): the same interpolated ray.
    const QPoint windowPixel(column, size.height() - 1 - row);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, pickTarget->framebuffer());
    gl.glViewport(-windowPixel.x(), -windowPixel.y(), size.width(), size.height());
    // Alpha 0 tells "nothing reached one half" where nothing is drawn at all.
    gl.glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    gl.glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    QString problems = rayCaster->drawPick(geometry, pickState, windowPixel).message;
    float texel[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glReadPixels(0, 0, 1, 1, GL_RGBA, GL_FLOAT, texel);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    const QString errors = rayCaster->takeGlErrors("a pick");
    if (!errors.isEmpty())
        problems = problems.isEmpty() ? errors : problems + QStringLiteral("; ") + errors;
    pick.message = problems;
    pick.ok = problems.isEmpty();
    pick.hit = pick.ok && texel[3] > 0.5f;
    if (pick.hit) {
        pick.objectPosition = QVector3D(texel[0], texel[1], texel[2]);
        pick.voxel = nearestVoxel(geometry, pick.objectPosition);
    }
    return pick;
}
