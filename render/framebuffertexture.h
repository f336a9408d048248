#pragma once

#include <QImage>
#include <QSize>
#include <qopengl.h>

struct GlFunctions;

// A framebuffer object whose colour buffer is one RGBA8 texture (linear
// filtering, clamped at the edges), for frames drawn away from the screen:
// reduced frames that are scaled up, and frames rendered without a window;
// or, made with floatTexels, one RGBA32F texture, for values that are not
// colours (picked positions).
// Needs its context current in every call, the destructor included.
class FramebufferTexture
{
public:
    explicit FramebufferTexture(const GlFunctions &gl, bool floatTexels = false);
    ~FramebufferTexture();

    FramebufferTexture(const FramebufferTexture &) = delete;
    FramebufferTexture &operator=(const FramebufferTexture &) = delete;

    // Whether the implementation has framebuffer objects at all.
    bool isSupported() const;

    // Makes the buffer the given size in pixels (anew only when the size
    // changes). False when the implementation cannot make it complete.
    bool resize(QSize size);

    QSize size() const { return bufferSize; }
    GLuint framebuffer() const { return framebufferName; }
    GLuint texture() const { return textureName; }

    // The buffer's pixels, top row first, as an opaque image; leaves the buffer
    // bound. Null without a buffer or with float texels.
    QImage read() const;

private:
    void release();

    const GlFunctions &gl;
    bool floats = false;
    GLuint framebufferName = 0;
    GLuint textureName = 0;
    QSize bufferSize;
};
