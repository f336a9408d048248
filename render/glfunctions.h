#pragma once

#include <QString>
#include <qopengl.h>

#include <functional>

// The OpenGL entry points the renderer calls, looked up through a resolver
// that the owner of the context gives (Qt's context in the window, EGL's
// eglGetProcAddress without a display), so that the code that owns the GL
// objects needs no QOpenGLContext. Entry points of GL 1.0/1.1 are looked up
// too: a context of another library (EGL through libglvnd, say) need not share
// the process's default dispatch.
//
// Every pointer is valid only while a context of the kind it was loaded from
// is current.
struct GlFunctions
{
    using Resolver = std::function<void *(const char *name)>;

    // Looks up every entry point, each under its core name or, failing that,
    // under the name of the extension it came from. False, naming the first
    // missing ones in *missing, when any required one is absent.
    bool load(const Resolver &resolve, QString *missing);

#define KELVARA_GL_FUNCTION(required, returnType, name, parameters, firstName, secondName)         \
    returnType(QOPENGLF_APIENTRYP name) parameters = nullptr;
#include "glfunctionlist.h"
#undef KELVARA_GL_FUNCTION
};
