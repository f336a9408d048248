#pragma once

#include <QFileInfo>
#include <QString>

// The reasons the table and map readers give name the file the user chose
// (its name alone) and, for text, the line: "aseg.txt, line 12: ...". A
// reading without a file name (bytes from elsewhere) names what it read.
inline QString fileReasonName(const QString &fileName, const char *unnamed)
{
    const QString name = QFileInfo(fileName).fileName();
    return name.isEmpty() ? QString::fromLatin1(unnamed) : name;
}

inline QString fileReason(const QString &fileName, const char *unnamed, const QString &reason)
{
    return fileReasonName(fileName, unnamed) + QStringLiteral(": ") + reason;
}

inline QString lineReason(const QString &fileName, const char *unnamed, int line,
                          const QString &reason)
{
    return QStringLiteral("%1, line %2: %3")
        .arg(fileReasonName(fileName, unnamed))
        .arg(line)
        .arg(reason);
}
