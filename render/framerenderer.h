#pragma once

#include "glfunctions.h"
#include "raycaster.h"

#include <QPointF>
#include <QString>
#include <QVector3D>
#include <qopengl.h>

#include <array>
#include <memory>

class FramebufferTexture;
class ReducedFrame;
struct RenderState;
struct ShaderSource;
struct Volume;

// Draws frames of a volume into a framebuffer it is given: owns the GL objects
// of the rendering (the ray caster with its program and textures, the buffer of
// reduced frames) and the context's entry points, looked up through the
// resolver of whoever owns the context (Qt's widget, an EGL context), so it
// needs no window and no QOpenGLContext.
//
// Every call, the constructor and destructor included, needs the context it
// was created in to be current.
class FrameRenderer
{
public:
    // Looks up the entry points and builds the program (writing the shader logs,
    // see RayCaster). isValid() is false when something frames need is missing.
    FrameRenderer(const GlFunctions::Resolver &resolve, const ShaderSource &fragmentShader);
    ~FrameRenderer();

    FrameRenderer(const FrameRenderer &) = delete;
    FrameRenderer &operator=(const FrameRenderer &) = delete;

    bool isValid() const;
    QString errorMessage() const;

    GlResult uploadVolume(const Volume &volume);
    // See RayCaster::uploadLayers().
    GlResult uploadLayers(const std::vector<ShownLayer> &layers);
    // See RayCaster::uploadTransferTable().
    GlResult uploadTransferTable(const unsigned char *rgbaBytes, const float *rgbaFloats);
    bool gradientsStored() const;
    // See RayCaster::setMaximumTextureSide() and blockCount().
    void setMaximumTextureSide(int side);
    int blockCount() const;

    struct Frame
    {
        bool ok = false;
        QString message;         // problems of this frame (GL errors, say); empty when ok
        double milliseconds = 0; // from the first GL call to the finished frame
        int divisor = 1;         // the reduction actually drawn
    };

    // Clears framebuffer target (state.size pixels) to black and, when volume is
    // given, draws the state of it there, waiting for the GPU to finish. A
    // reduced frame that cannot be made is drawn at full resolution.
    Frame draw(const RenderState &state, const Volume *volume, GLuint target);

    struct Pick
    {
        bool ok = false;            // the pick was drawn and read back
        QString message;            // why not; empty when ok
        bool hit = false;           // the ray's opacity reached one half
        QVector3D objectPosition;   // of that sample (see FragmentShader.glsl)
        std::array<int, 3> voxel{}; // nearest to it, within the grid
    };

    // Casts the ray of the frame of state (at full resolution, compositing
    // whatever the state's mode, with at least two samples per voxel of the
    // longest side) at position (device pixels from the top-left corner, see
    // framegeometry.h) and reads back where its accumulated opacity first
    // reaches one half, within a step (under a voxel). A position outside the frame, or no
    // volume, is no hit. Leaves no framebuffer bound.
    Pick pick(const RenderState &state, const Volume *volume, QPointF position);

    const GlFunctions &functions() const { return gl; }

private:
    GlFunctions gl;
    QString loadProblem;
    std::unique_ptr<RayCaster> rayCaster;
    std::unique_ptr<ReducedFrame> reducedFrame;
    // One float pixel for picks, made at the first.
    std::unique_ptr<FramebufferTexture> pickTarget;
};
