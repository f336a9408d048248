#pragma once

#include <QSize>
#include <qopengl.h>

#include <memory>

class FramebufferTexture;
class ShaderProgram;
struct GlFunctions;

// A frame drawn at a fraction of the viewport's resolution and scaled up over
// it with linear filtering: the offscreen colour buffer and the small program
// that draws it. Needs the context it was created with to be current in every
// call, and must be destroyed before that context. Failures (no framebuffer
// object, a program that does not build) make isValid() false; the caller then
// draws at full resolution.
class ReducedFrame
{
public:
    // gl: the entry points of the current context; must outlive this object.
    explicit ReducedFrame(const GlFunctions &gl);
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
    const GlFunctions &gl;
    std::unique_ptr<ShaderProgram> program;
    std::unique_ptr<FramebufferTexture> buffer;
    bool valid = false;
};
