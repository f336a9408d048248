#pragma once

#include <QByteArray>

// The six header bytes of a DAT file (little-endian 16-bit width, height,
// depth), for tests that build damaged files byte by byte.
inline QByteArray datHeader(int width, int height, int depth)
{
    QByteArray bytes;
    for (int v : {width, height, depth}) {
        bytes.append(char(v & 0xff));
        bytes.append(char((v >> 8) & 0xff));
    }
    return bytes;
}
