#pragma once

#include <QStringList>

// The files of Datei > "Zuletzt geöffnet", newest first.
namespace RecentFiles {

constexpr int maximumCount = 10;

// file (made absolute and clean) moved or added to the front, without
// duplicates, cut to maximumCount entries.
QStringList withFile(const QStringList &files, const QString &file);

// The entries that still exist.
QStringList withoutMissing(const QStringList &files);

} // namespace RecentFiles
