#pragma once

#include <QGradient>
#include <QImage>

#include <iosfwd>

// The lookup table from data value to colour and opacity that the renderer
// uploads as its one-dimensional texture: 1024 non-premultiplied 0xAARRGGBB
// entries painted from a list of gradient stops, entry i holding the linear
// gradient's colour at pixel column i.
// The start-up transfer function: opaque black at 0 to opaque white at 1.
QGradientStops blackToWhiteStops();

class TransferFunctionTable
{
public:
    static constexpr int entryCount = 1024;

    // Starts transparent black, so a table used before its first rebuild
    // classifies everything as empty rather than as uninitialised memory.
    TransferFunctionTable();

    // Repaints every entry from the stops (padded outside the first and last
    // stop) and writes the probe line "transfer(0.5) <alpha>" to probe.
    void rebuild(const QGradientStops &stops, std::ostream &probe);

    // The entry for a data value: v is clamped to 0..1 (NaN counts as 0) and
    // scaled by entryCount - 1, truncated toward zero.
    QRgb transfer(float v) const;

    // The entries as bytes red, green, blue, alpha (4 * entryCount of them), the
    // layout of an RGBA texture.
    void copyRgbaBytes(unsigned char *bytes) const;

    const QImage &image() const { return table; }

private:
    QImage table;
};
