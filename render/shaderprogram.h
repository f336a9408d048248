#pragma once

#include <QByteArray>
#include <QString>
#include <qopengl.h>

class QColor;
class QVector2D;
class QVector3D;
struct GlFunctions;

// A GLSL program of one vertex and one fragment shader, built through
// GlFunctions (no QOpenGLContext needed). Desktop GL sources may use the
// precision qualifiers of GLSL ES: empty definitions of lowp, mediump and highp
// go in front of each source (after its #version line).
//
// Needs its context current in every call, the destructor included, and must
// be destroyed before that context.
class ShaderProgram
{
public:
    explicit ShaderProgram(const GlFunctions &gl);
    ~ShaderProgram();

    ShaderProgram(const ShaderProgram &) = delete;
    ShaderProgram &operator=(const ShaderProgram &) = delete;

    // Compiles a shader (GL_VERTEX_SHADER or GL_FRAGMENT_SHADER) and attaches
    // it. log() then holds the compiler's log when it failed, else nothing.
    bool addShader(GLenum type, const QByteArray &source);
    // Before link().
    void bindAttributeLocation(const char *name, GLuint index);
    // log() then holds the linker's log.
    bool link();
    bool isLinked() const { return linked; }
    const QString &log() const { return lastLog; }

    // Makes it the current program; false when it is not linked.
    bool bind();
    GLuint id() const { return program; }

    // -1 for a name the program does not use.
    int attributeLocation(const char *name) const;
    int uniformLocation(const char *name) const;

    // Setters of the bound program's uniforms; location -1 is ignored.
    void setUniform(int location, GLint value);
    void setUniform(int location, GLfloat value);
    void setUniform(int location, const QVector2D &value);
    void setUniform(int location, const QVector3D &value);
    // As (red, green, blue, alpha) in 0..1.
    void setUniform(int location, const QColor &value);

    // Points attribute index at tightly packed floats, components per vertex,
    // client-side (no buffer object may be bound), and enables it.
    void setAttributeArray(int index, const float *values, int components);
    void disableAttributeArray(int index);

private:
    const GlFunctions &gl;
    GLuint program = 0;
    GLuint shaders[2] = {0, 0};
    int shaderCount = 0;
    bool linked = false;
    QString lastLog;
};
