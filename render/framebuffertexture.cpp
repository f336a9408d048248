#include "framebuffertexture.h"

#include "glfunctions.h"

#ifndef GL_FRAMEBUFFER
#define GL_FRAMEBUFFER 0x8D40
#endif
#ifndef GL_COLOR_ATTACHMENT0
#define GL_COLOR_ATTACHMENT0 0x8CE0
#endif
#ifndef GL_RGBA32F
#define GL_RGBA32F 0x8814
#endif
#ifndef GL_FRAMEBUFFER_COMPLETE
#define GL_FRAMEBUFFER_COMPLETE 0x8CD5
#endif

FramebufferTexture::FramebufferTexture(const GlFunctions &functions, bool floatTexels)
    : gl(functions), floats(floatTexels)
{
}

FramebufferTexture::~FramebufferTexture()
{
    release();
}

bool FramebufferTexture::isSupported() const
{
    return gl.glGenFramebuffers && gl.glDeleteFramebuffers && gl.glBindFramebuffer &&
           gl.glFramebufferTexture2D && gl.glCheckFramebufferStatus;
}

void FramebufferTexture::release()
{
    if (framebufferName)
        gl.glDeleteFramebuffers(1, &framebufferName);
    if (textureName)
        gl.glDeleteTextures(1, &textureName);
    framebufferName = 0;
    textureName = 0;
    bufferSize = QSize();
}

bool FramebufferTexture::resize(QSize size)
{
    if (!isSupported() || size.isEmpty())
        return false;
    if (framebufferName && size == bufferSize)
        return true;
    release();
    gl.glGenTextures(1, &textureName);
    gl.glBindTexture(GL_TEXTURE_2D, textureName);
    gl.glTexImage2D(GL_TEXTURE_2D, 0, floats ? GL_RGBA32F : GL_RGBA8, size.width(), size.height(),
                    0, GL_RGBA, floats ? GL_FLOAT : GL_UNSIGNED_BYTE, nullptr);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.glBindTexture(GL_TEXTURE_2D, 0);
    gl.glGenFramebuffers(1, &framebufferName);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebufferName);
    gl.glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, textureName, 0);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
        release();
        return false;
    }
    bufferSize = size;
    return true;
}

QImage FramebufferTexture::read() const
{
    if (!framebufferName || floats)
        return QImage();
    QImage image(bufferSize, QImage::Format_RGBA8888);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, framebufferName);
    gl.glPixelStorei(GL_PACK_ALIGNMENT, 4);
    gl.glReadPixels(0, 0, bufferSize.width(), bufferSize.height(), GL_RGBA, GL_UNSIGNED_BYTE,
                    image.bits());
    // GL's first row is the bottom one.
    return image.mirrored(false, true).convertToFormat(QImage::Format_RGB32);
}
