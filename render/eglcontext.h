#pragma once

#include "glfunctions.h"

#include <QString>

#include <memory>

// An OpenGL context without a window system: Mesa's surfaceless EGL platform,
// a compatibility-profile desktop GL context (the shader uses GLSL 1.20's
// built-ins), made current with no surface. Frames go into framebuffer
// objects. Works with no X server and no display device.
class EglContext
{
public:
    // Creates the context and makes it current on this thread; see isValid().
    EglContext();
    // Releases and destroys the context; the display, which other contexts
    // share, stays.
    ~EglContext();

    EglContext(const EglContext &) = delete;
    EglContext &operator=(const EglContext &) = delete;

    bool isValid() const { return valid; }
    // Why the context could not be made; empty when valid.
    const QString &errorMessage() const { return error; }

    // Makes the context current on this thread again.
    bool makeCurrent();

    // Looks up an entry point of the context (eglGetProcAddress).
    GlFunctions::Resolver resolver() const;

private:
    struct Handles;
    std::unique_ptr<Handles> handles;
    bool valid = false;
    QString error;
};
