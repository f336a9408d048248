#include "shadersource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace {
const char fragmentShaderFileName[] = "FragmentShader.glsl";
}

QString embeddedFragmentShaderPath()
{
#ifdef KELVARA_EMBED_SHADER
    return QStringLiteral(":/kelvara/FragmentShader.glsl");
#else
    return QString();
#endif
}

QStringList defaultFragmentShaderCandidates()
{
    QStringList candidates;
    candidates << QString::fromLatin1(fragmentShaderFileName);
    if (QCoreApplication::instance()) {
        candidates << QDir(QCoreApplication::applicationDirPath())
                          .filePath(QString::fromLatin1(fragmentShaderFileName));
    }
    const QString embedded = embeddedFragmentShaderPath();
    if (!embedded.isEmpty())
        candidates << embedded;
    return candidates;
}

ShaderSource loadShaderSource(const QStringList &candidates)
{
    ShaderSource source;
    QStringList unreadable;
    for (const QString &path : candidates) {
        QFile file(path);
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly)) {
            unreadable << QStringLiteral("%1 (%2)").arg(path, file.errorString());
            continue;
        }
        source.found = true;
        source.text = file.readAll();
        source.origin = path;
        break;
    }
    if (!source.found) {
        source.problem = QStringLiteral("No fragment shader found; looked for: %1")
                             .arg(candidates.join(QStringLiteral(", ")));
    }
    if (!unreadable.isEmpty()) {
        const QString note =
            QStringLiteral("Cannot read %1").arg(unreadable.join(QStringLiteral(", ")));
        source.problem =
            source.problem.isEmpty() ? note : source.problem + QStringLiteral("; ") + note;
    }
    return source;
}

QByteArray withDefinition(const QByteArray &text, const QByteArray &definition)
{
    const QByteArray line = "#define " + definition + '\n';
    // #version must come first, after comments and blank lines at most.
    const int version = text.startsWith("#version") ? 0 : text.indexOf("\n#version");
    if (version < 0)
        return line + text;
    const int lineEnd = text.indexOf('\n', version == 0 ? 0 : version + 1);
    if (lineEnd < 0)
        return text + '\n' + line;
    return text.left(lineEnd + 1) + line + text.mid(lineEnd + 1);
}
