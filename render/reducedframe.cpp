#include "reducedframe.h"

#include "framebuffertexture.h"
#include "framegeometry.h"
#include "glfunctions.h"
#include "shaderprogram.h"

#ifndef GL_CURRENT_PROGRAM
#define GL_CURRENT_PROGRAM 0x8B8D
#endif

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

ReducedFrame::ReducedFrame(const GlFunctions &functions)
    : gl(functions), program(std::make_unique<ShaderProgram>(functions)),
      buffer(std::make_unique<FramebufferTexture>(functions))
{
    program->bindAttributeLocation("vertex", 0);
    valid = buffer->isSupported() && program->addShader(GL_VERTEX_SHADER, vertexSource) &&
            program->addShader(GL_FRAGMENT_SHADER, fragmentSource) && program->link();
}

ReducedFrame::~ReducedFrame() = default;

bool ReducedFrame::begin(QSize size)
{
    if (!valid || !buffer->resize(size))
        return false;
    gl.glBindFramebuffer(GL_FRAMEBUFFER, buffer->framebuffer());
    gl.glViewport(0, 0, size.width(), size.height());
    gl.glClear(GL_COLOR_BUFFER_BIT);
    return true;
}

void ReducedFrame::present(GLuint target, QSize targetSize)
{
    GLint previousProgram = 0;
    GLint previousUnit = 0;
    gl.glGetIntegerv(GL_CURRENT_PROGRAM, &previousProgram);
    gl.glGetIntegerv(GL_ACTIVE_TEXTURE, &previousUnit);

    gl.glBindFramebuffer(GL_FRAMEBUFFER, target);
    gl.glViewport(0, 0, targetSize.width(), targetSize.height());
    program->bind();
    gl.glActiveTexture(GL_TEXTURE0 + frameUnit);
    gl.glBindTexture(GL_TEXTURE_2D, buffer->texture());
    // The ray caster keeps GL_TEXTURE_3D and GL_TEXTURE_1D enabled; the program
    // decides what is read, so they do no harm here.
    program->setUniform(program->uniformLocation("frame"), GLint(frameUnit));
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    program->setAttributeArray(0, quadVertices.data(), 3);
    gl.glDrawArrays(GL_QUADS, 0, 4);
    program->disableAttributeArray(0);
    gl.glBindTexture(GL_TEXTURE_2D, 0);

    gl.glUseProgram(GLuint(previousProgram));
    gl.glActiveTexture(GLenum(previousUnit));
}
