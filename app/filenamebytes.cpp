#include "filenamebytes.h"

#include <QFile>
#include <QHash>

namespace {

// Arguments are read once, at start-up, on the main thread; lookups may come
// from a loading thread later, when nothing is added any more.
QHash<QString, QByteArray> &rememberedBytes()
{
    static QHash<QString, QByteArray> bytes;
    return bytes;
}

} // namespace

QString argumentText(const char *argument)
{
    const QByteArray bytes(argument);
    const QString local = QFile::decodeName(bytes);
    if (QFile::encodeName(local) == bytes)
        return local;
    const QString latin1 = QString::fromLatin1(bytes);
    rememberedBytes().insert(latin1, bytes);
    return latin1;
}

QByteArray fileNameBytes(const QString &name)
{
    const auto found = rememberedBytes().constFind(name);
    return found != rememberedBytes().constEnd() ? *found : QFile::encodeName(name);
}
