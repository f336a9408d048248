#pragma once

#include <QSize>
#include <qopengl.h>

#include <memory>

class QOpenGLFramebufferObject;
class QOpenGLFunctions;
class QOpenGLShaderProgram;

// A frame drawn at a fraction of the viewport's resolution and scaled up over
// it with linear filtering: the offscreen colour buffer and the small program
// that draws it. Needs the context it was created with to be current in every
// call, and must be destroyed before that context. Failures (no framebuffer
// object, a program that does not build) make isValid() false; the caller then
// draws at full resolution.
class ReducedFrame
{
public:
    ReducedFrame();
    ~ReducedFrame();

    ReducedFrame(const ReducedFrame &) = delete;
    ReducedFrame &operator=(const ReducedFrame &) = delete;

    bool isValid() const { return valid; }

    // Binds the offscreen buffer, of the given size in pixels (made anew when the
    // size changes), and sets the viewport to it. False when it cannot be made.
    bool begin(QSize size);

    // Draws the offscreen buffer over the whole of framebuffer target (viewport
    // targetSize) and leaves target bound. The program and texture unit bound
    // before are bound again afterwards.
    void present(GLuint target, QSize targetSize);

private:
    QOpenGLFunctions *functions = nullptr;
    std::unique_ptr<QOpenGLShaderProgram> program;
    std::unique_ptr<QOpenGLFramebufferObject> buffer;
    bool valid = false;
};
