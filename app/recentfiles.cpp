#include "recentfiles.h"

#include <QDir>
#include <QFileInfo>

namespace RecentFiles {

QStringList withFile(const QStringList &files, const QString &file)
{
    const QString path = QDir::cleanPath(QFileInfo(file).absoluteFilePath());
    QStringList result = files;
    result.removeAll(path);
    result.prepend(path);
    while (result.size() > maximumCount)
        result.removeLast();
    return result;
}

QStringList withoutMissing(const QStringList &files)
{
    QStringList result;
    for (const QString &file : files)
        if (QFileInfo::exists(file))
            result.append(file);
    return result;
}

} // namespace RecentFiles
