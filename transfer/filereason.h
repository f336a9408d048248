#pragma once

#include <QByteArray>
#include <QFile>
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

// A table or map file's bytes, at most maximumBytes of them; false with the
// reason (without the file's name) when it cannot be read or is larger.
inline bool readSmallFile(const QString &fileName, qint64 maximumBytes, QByteArray *bytes,
                          QString *reason)
{
    const QFileInfo info(fileName);
    if (!info.exists()) {
        *reason = QStringLiteral("cannot be read (no such file)");
        return false;
    }
    if (!info.isFile()) {
        *reason = QStringLiteral("cannot be read (not a file)");
        return false;
    }
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return false;
    }
    if (file.size() > maximumBytes) {
        *reason = QStringLiteral("larger than %1 MiB").arg(maximumBytes / (1024 * 1024));
        return false;
    }
    // One byte more than allowed tells a file that grew since from one that fits.
    *bytes = file.read(maximumBytes + 1);
    if (file.error() != QFileDevice::NoError) {
        *reason = QStringLiteral("cannot be read (%1)").arg(file.errorString());
        return false;
    }
    return true;
}
