#pragma once

#include <QByteArray>
#include <QString>

class QUrl;

// File names as the file system has them. Qt decodes the command line from
// the locale's encoding, and bytes that are not valid there (a Latin-1 name
// in a UTF-8 locale) come back as replacement characters: encoding the text
// again names another file. An argument whose bytes do not survive that round
// trip is shown by its Latin-1 reading instead (so "caf\xe9.nrrd" reads
// "café.nrrd") and its bytes are remembered here for opening it.

// The text of a command-line argument: the locale's reading where it gives the
// bytes back, else the Latin-1 reading, whose bytes are remembered.
QString argumentText(const char *argument);

// The local file a file:// URL names (a drop, say), read the same way: the
// URL's percent-encoded path keeps the name's bytes, which toLocalFile()
// would decode lossily.
QString localFileText(const QUrl &url);

// The bytes to open a file by: those remembered for an argument or URL of this
// text, else the text in the file system's encoding (QFile::encodeName).
QByteArray fileNameBytes(const QString &name);
