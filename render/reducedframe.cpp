#include "reducedframe.h"

#include "framegeometry.h"

#include <QOpenGLContext>
#include <QOpenGLFramebufferObject>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

namespace {

// The quad of the viewport with the offscreen picture stretched over it.
const char vertexSource[] = "attribute vec4 vertex;\n"
                            "varying vec2 position;\n"
                            "void main(void)\n"
                            "{\n"
                            "    gl_Position = vertex;\n"
                            "    position = vertex.xy * 0.5 + 0.5;\n"
                            "}\n";
const char fragmentSource[] = "uniform sampler2D frame;\n"
                              "varying vec2 position;\n"
                              "void main(void)\n"
                              "{\n"
                              "    gl_FragColor = vec4(texture2D(frame, position).rgb, 1.0);\n"
                              "}\n";

// A unit the ray caster leaves alone (it uses 0 to 4).
constexpr int frameUnit = 5;

} // namespace

ReducedFrame::ReducedFrame() : functions(QOpenGLContext::currentContext()->functions())
{
    program = std::make_unique<QOpenGLShaderProgram>();
    program->bindAttributeLocation("vertex", 0);
    valid = QOpenGLFramebufferObject::hasOpenGLFramebufferObjects() &&
            program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertexSource) &&
            program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentSource) &&
            program->link();
}

ReducedFrame::~ReducedFrame() = default;

bool ReducedFrame::begin(QSize size)
{
    if (!valid)
        return false;
    if (!buffer || buffer->size() != size) {
        buffer = std::make_unique<QOpenGLFramebufferObject>(
            size, QOpenGLFramebufferObject::NoAttachment, GL_TEXTURE_2D, GL_RGBA8);
        if (!buffer->isValid()) {
            buffer.reset();
            return false;
        }
        functions->glBindTexture(GL_TEXTURE_2D, buffer->texture());
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        functions->glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        functions->glBindTexture(GL_TEXTURE_2D, 0);
    }
    if (!buffer->bind())
        return false;
    functions->glViewport(0, 0, size.width(), size.height());
    functions->glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

void ReducedFrame::present(GLuint target, QSize targetSize)
{
    GLint previousProgram = 0;
    GLint previousUnit = 0;
    functions->glGetIntegerv(GL_CURRENT_PROGRAM, &previousProgram);
    functions->glGetIntegerv(GL_ACTIVE_TEXTURE, &previousUnit);

    functions->glBindFramebuffer(GL_FRAMEBUFFER, target);
    functions->glViewport(0, 0, targetSize.width(), targetSize.height());
    program->bind();
    functions->glActiveTexture(GL_TEXTURE0 + frameUnit);
    functions->glBindTexture(GL_TEXTURE_2D, buffer->texture());
    // The ray caster keeps GL_TEXTURE_3D and GL_TEXTURE_1D enabled; the program
    // decides what is read, so they do no harm here.
    program->setUniformValue("frame", frameUnit);
    functions->glBindBuffer(GL_ARRAY_BUFFER, 0);
    program->enableAttributeArray(0);
    program->setAttributeArray(0, quadVertices.data(), 3);
    functions->glDrawArrays(GL_QUADS, 0, 4);
    program->disableAttributeArray(0);
    functions->glBindTexture(GL_TEXTURE_2D, 0);

    functions->glUseProgram(GLuint(previousProgram));
    functions->glActiveTexture(GLenum(previousUnit));
}
