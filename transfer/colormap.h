#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QRgb>

#include <array>
#include <optional>

// A colour map of an overlay: 256 colours from the low end of its display
// range (entry 0) to the high end (entry 255). Alpha is not part of a map:
// the layer's opacity gives it.
struct ColorMap
{
    QString name;
    std::array<QRgb, 256> entries{};

    // The colour at position t in 0..1 (clamped; NaN gives entry 0): the
    // nearest entry.
    QRgb at(double t) const;
    bool operator==(const ColorMap &other) const
    {
        return name == other.name && entries == other.entries;
    }
};

namespace ColorMaps {

constexpr qint64 maximumFileBytes = 4 * 1024 * 1024;

// The maps known by name: "grey", "hot", "cool", "red-yellow", "blue-green",
// "viridis" and the others names() lists. Names are matched without
// regard to case ("gray" is "grey").
QStringList names();
std::optional<ColorMap> named(const QString &name);

// What reading a map gave: the map, or a reason that names the file and,
// for text, the line ("hot.json, line 3: ...").
struct ReadResult
{
    bool ok = false;
    ColorMap map;
    QString reason;
};

// Parses a map file's content, told apart by content:
// - a lookup table of the MRIcron family: exactly 768 bytes, 256 red, then
//   256 green, then 256 blue bytes (larger files of that family carry a
//   header of 32 bytes or fewer before the 768 bytes: refused unless
//   exactly 768 or 800 bytes, the 800-byte form skipping 32);
// - ParaView's colour-map JSON: a list of objects (or one object) with
//   "RGBPoints" [x, r, g, b, ...], r, g, b in 0..1, x ascending; the first
//   object with RGBPoints is taken and resampled over its own x range to
//   256 entries (linear in RGB); its "Name" names the map.
// fileName names the map where the content gives no name and appears in
// every reason.
ReadResult parse(const QByteArray &bytes, const QString &fileName);
// parse() of a file's content; the reason says when it cannot be read or is
// larger than maximumFileBytes.
ReadResult readFile(const QString &fileName);
// A name of named() first, else a file.
ReadResult byNameOrFile(const QString &nameOrFile);

} // namespace ColorMaps
