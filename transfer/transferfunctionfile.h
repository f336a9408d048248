#pragma once

#include "transferfunction.h"

#include <QByteArray>
#include <QString>

// The data values that x = 0 and x = 1 of a transfer function stand for, in
// the data set's own units (for a DAT file its samples, 0..4095).
struct DataRange
{
    double minimum = 0.0;
    double maximum = 4095.0;
};

// The file forms of a transfer function:
// - our own JSON, which keeps every channel's points and locks exactly:
//     {"kelvara-transfer-function": 1,
//      "red": [[x, y, locks], ...], "green": ..., "blue": ..., "alpha": ...}
//   x and y in 0..1, locks (optional, default 0) the lock word of the point;
// - ParaView's colour-map JSON, a list of objects with "RGBPoints"
//   [x, r, g, b, ...] and optionally "Points" [x, opacity, midpoint,
//   sharpness, ...], x in data units mapped through a DataRange.
namespace TransferFunctionFile {

constexpr int maximumPointsPerChannel = 4096;
constexpr qint64 maximumFileBytes = 16 * 1024 * 1024;

enum class Format
{
    Kelvara,
    ParaView
};

// What reading gave: the function, or a reason naming what is wrong.
struct ReadResult
{
    bool ok = false;
    TransferFunction function;
    QString reason;
};

// Reads either form, telling them apart by their content. Values outside the
// range, unsorted points, more than maximumPointsPerChannel points in a
// channel, missing or non-numeric values are refused with a reason.
// A ParaView map is clipped to the range: the function at its ends is what
// the map gives there (ParaView holds a map's end values beyond its ends).
ReadResult parse(const QByteArray &bytes, const DataRange &range);

// parse() of a file's content; the reason says when the file cannot be read
// or is larger than maximumFileBytes.
ReadResult readFile(const QString &fileName, const DataRange &range);

QByteArray toKelvaraJson(const TransferFunction &function);

// One colour map: red, green and blue sampled together at every x where one
// of them has a point (ParaView keeps them in one list), the opacity points
// as they are (midpoint 0.5, sharpness 0: linear). Locks are not kept.
QByteArray toParaViewJson(const TransferFunction &function, const DataRange &range);

// Writes the form to the file; false with a reason when it cannot.
bool writeFile(const QString &fileName, const TransferFunction &function, Format format,
               const DataRange &range, QString *reason);

} // namespace TransferFunctionFile
