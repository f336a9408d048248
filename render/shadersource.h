#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The text of a shader and where it came from.
struct ShaderSource
{
    bool found = false;
    QByteArray text;
    QString origin;  // the path that was read, when found
    QString problem; // why nothing was found, or which candidates could not be read
};

// The places where the fragment shader is looked for, in order: the working
// directory ("FragmentShader.glsl", resolved when read), the folder of the
// executable, and the copy compiled into the program (a Qt resource, present
// only when the build embeds it). Needs a QCoreApplication for the second.
QStringList defaultFragmentShaderCandidates();

// Path of the compiled-in copy, or an empty string when the build has none.
QString embeddedFragmentShaderPath();

// Reads the first candidate that exists. A candidate that exists but cannot be
// read is noted in problem and the search goes on.
ShaderSource loadShaderSource(const QStringList &candidates);

// The shader text with "#define DEFINITION" inserted after its #version line
// (before everything else where it has none), so that one file can hold
// several programs.
QByteArray withDefinition(const QByteArray &text, const QByteArray &definition);
