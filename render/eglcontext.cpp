#include "eglcontext.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#ifndef EGL_PLATFORM_SURFACELESS_MESA
#define EGL_PLATFORM_SURFACELESS_MESA 0x31DD
#endif
#ifndef EGL_NO_CONFIG_KHR
#define EGL_NO_CONFIG_KHR ((EGLConfig)0)
#endif

struct EglContext::Handles
{
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
};

namespace {

QString eglErrorText(const char *during)
{
    return QStringLiteral("%1 failed (EGL error 0x%2)")
        .arg(QLatin1String(during))
        .arg(eglGetError(), 4, 16, QLatin1Char('0'));
}

bool hasExtension(const char *extensions, const char *name)
{
    if (!extensions)
        return false;
    const QByteArray list = QByteArray(" ") + extensions + ' ';
    return list.contains(QByteArray(" ") + name + ' ');
}

} // namespace

EglContext::EglContext() : handles(std::make_unique<Handles>())
{
    const char *clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    if (!hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        error = QStringLiteral("EGL has no surfaceless platform (EGL_MESA_platform_surfaceless)");
        return;
    }
    const auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
        eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!getPlatformDisplay) {
        error = QStringLiteral("EGL has no eglGetPlatformDisplayEXT");
        return;
    }
    handles->display =
        getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0;
    EGLint minor = 0;
    if (handles->display == EGL_NO_DISPLAY || !eglInitialize(handles->display, &major, &minor)) {
        error = eglErrorText("Opening the surfaceless EGL display");
        handles->display = EGL_NO_DISPLAY;
        return;
    }
    const char *displayExtensions = eglQueryString(handles->display, EGL_EXTENSIONS);
    if (!hasExtension(displayExtensions, "EGL_KHR_no_config_context") ||
        !hasExtension(displayExtensions, "EGL_KHR_surfaceless_context")) {
        error = QStringLiteral("EGL cannot make a context without a configuration or surface");
        return;
    }
    if (!eglBindAPI(EGL_OPENGL_API)) {
        error = eglErrorText("Choosing desktop OpenGL");
        return;
    }
    // No version asked for: the implementation's highest compatibility
    // profile, which keeps the fixed-function built-ins the shader reads.
    const EGLint attributes[] = {EGL_NONE};
    handles->context =
        eglCreateContext(handles->display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, attributes);
    if (handles->context == EGL_NO_CONTEXT) {
        error = eglErrorText("Creating the OpenGL context");
        return;
    }
    if (!makeCurrent()) {
        // EGL_BAD_ACCESS: this thread holds a context of another window
        // system (GLX, say), and one thread holds one at a time.
        error = eglErrorText("Making the OpenGL context current");
        return;
    }
    valid = true;
}

EglContext::~EglContext()
{
    if (handles->display == EGL_NO_DISPLAY)
        return;
    eglMakeCurrent(handles->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (handles->context != EGL_NO_CONTEXT)
        eglDestroyContext(handles->display, handles->context);
    // The display stays initialised: every context of the process shares the
    // one surfaceless display, and terminating it would end the others.
}

bool EglContext::makeCurrent()
{
    return handles->context != EGL_NO_CONTEXT &&
           eglMakeCurrent(handles->display, EGL_NO_SURFACE, EGL_NO_SURFACE, handles->context);
}

GlFunctions::Resolver EglContext::resolver() const
{
    return [](const char *name) { return reinterpret_cast<void *>(eglGetProcAddress(name)); };
}
