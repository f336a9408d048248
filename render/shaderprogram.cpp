#include "shaderprogram.h"

#include "glfunctions.h"
#include "shadersource.h"

#include <QColor>
#include <QVector2D>
#include <QVector3D>

#include <vector>

#ifndef GL_COMPILE_STATUS
#define GL_COMPILE_STATUS 0x8B81
#endif
#ifndef GL_LINK_STATUS
#define GL_LINK_STATUS 0x8B82
#endif
#ifndef GL_INFO_LOG_LENGTH
#define GL_INFO_LOG_LENGTH 0x8B84
#endif

namespace {

// The info log of a shader or program (through the matching getters),
// trimmed; empty when it has none.
template <typename GetValue, typename GetLog>
QString infoLog(GLuint object, GetValue getValue, GetLog getLog)
{
    GLint length = 0;
    getValue(object, GL_INFO_LOG_LENGTH, &length);
    if (length <= 1)
        return QString();
    std::vector<char> log(std::size_t(length), '\0');
    getLog(object, length, nullptr, log.data());
    return QString::fromLocal8Bit(log.data()).trimmed();
}

} // namespace

ShaderProgram::ShaderProgram(const GlFunctions &functions)
    : gl(functions), program(functions.glCreateProgram())
{
}

ShaderProgram::~ShaderProgram()
{
    for (int i = 0; i < shaderCount; ++i)
        gl.glDeleteShader(shaders[i]);
    gl.glDeleteProgram(program);
}

bool ShaderProgram::addShader(GLenum type, const QByteArray &source)
{
    lastLog.clear();
    if (shaderCount == 2) {
        lastLog = QStringLiteral("a program takes two shaders");
        return false;
    }
    const GLuint shader = gl.glCreateShader(type);
    const QByteArray text =
        withDefinition(withDefinition(withDefinition(source, "highp"), "mediump"), "lowp");
    const char *texts[] = {text.constData()};
    const GLint lengths[] = {GLint(text.size())};
    gl.glShaderSource(shader, 1, texts, lengths);
    gl.glCompileShader(shader);
    GLint compiled = 0;
    gl.glGetShaderiv(shader, GL_COMPILE_STATUS, &compiled);
    if (!compiled) {
        // Only a failed compile's log: a successful one may still list
        // warnings, and only while the driver's shader cache is cold, which
        // would make the start-up log depend on what ran before.
        lastLog = infoLog(shader, gl.glGetShaderiv, gl.glGetShaderInfoLog);
        gl.glDeleteShader(shader);
        return false;
    }
    gl.glAttachShader(program, shader);
    shaders[shaderCount++] = shader;
    return true;
}

void ShaderProgram::bindAttributeLocation(const char *name, GLuint index)
{
    gl.glBindAttribLocation(program, index, name);
}

bool ShaderProgram::link()
{
    lastLog.clear();
    gl.glLinkProgram(program);
    GLint status = 0;
    gl.glGetProgramiv(program, GL_LINK_STATUS, &status);
    lastLog = infoLog(program, gl.glGetProgramiv, gl.glGetProgramInfoLog);
    linked = status != 0;
    return linked;
}

bool ShaderProgram::bind()
{
    if (!linked)
        return false;
    gl.glUseProgram(program);
    return true;
}

int ShaderProgram::attributeLocation(const char *name) const
{
    return linked ? gl.glGetAttribLocation(program, name) : -1;
}

int ShaderProgram::uniformLocation(const char *name) const
{
    return linked ? gl.glGetUniformLocation(program, name) : -1;
}

void ShaderProgram::setUniform(int location, GLint value)
{
    if (location >= 0)
        gl.glUniform1i(location, value);
}

void ShaderProgram::setUniform(int location, GLfloat value)
{
    if (location >= 0)
        gl.glUniform1f(location, value);
}

void ShaderProgram::setUniform(int location, const QVector2D &value)
{
    if (location >= 0)
        gl.glUniform2f(location, value.x(), value.y());
}

void ShaderProgram::setUniform(int location, const QVector3D &value)
{
    if (location >= 0)
        gl.glUniform3f(location, value.x(), value.y(), value.z());
}

void ShaderProgram::setUniform(int location, const QColor &value)
{
    if (location >= 0)
        gl.glUniform4f(location, float(value.redF()), float(value.greenF()), float(value.blueF()),
                       float(value.alphaF()));
}

void ShaderProgram::setAttributeArray(int index, const float *values, int components)
{
    if (index < 0)
        return;
    gl.glVertexAttribPointer(GLuint(index), components, GL_FLOAT, GL_FALSE, 0, values);
    gl.glEnableVertexAttribArray(GLuint(index));
}

void ShaderProgram::disableAttributeArray(int index)
{
    if (index >= 0)
        gl.glDisableVertexAttribArray(GLuint(index));
}
