#include "filenamebytes.h"

#include <QFile>
#include <QHash>
#include <QMutex>
#include <QUrl>

namespace {

// Names are added on the main thread (arguments, drops) and looked up by
// loading threads too.
QMutex rememberedMutex;
QHash<QString, QByteArray> &rememberedBytes()
{
    static QHash<QString, QByteArray> bytes;
    return bytes;
}

QString textOf(const QByteArray &bytes)
{
    const QString local = QFile::decodeName(bytes);
    if (QFile::encodeName(local) == bytes)
        return local;
    const QString latin1 = QString::fromLatin1(bytes);
    const QMutexLocker lock(&rememberedMutex);
    rememberedBytes().insert(latin1, bytes);
    return latin1;
}

} // namespace

QString argumentText(const char *argument)
{
    return textOf(QByteArray(argument));
}

QString localFileText(const QUrl &url)
{
    return textOf(QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1()));
}

QByteArray fileNameBytes(const QString &name)
{
    const QMutexLocker lock(&rememberedMutex);
    const auto found = rememberedBytes().constFind(name);
    return found != rememberedBytes().constEnd() ? *found : QFile::encodeName(name);
}
