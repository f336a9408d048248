#pragma once

#include <QGradient>
#include <QImage>

#include <array>
#include <iosfwd>
#include <vector>

// The lookup table from data value to colour and opacity that the renderer
// uploads as its one-dimensional texture: 1024 non-premultiplied 0xAARRGGBB
// entries made from a list of gradient stops, entry i holding the colour at
// pixel column i, and beside it the same function in floats, which the shader
// classifies with.
//
// Between two stops every channel, opacity included, runs straight from one
// stop's value to the next one's (not premultiplied by opacity), so that the
// table holds what each strip of the editor shows: between a transparent black
// stop and an opaque white one lie greys of rising opacity.
// The start-up transfer function: opaque black at 0 to opaque white at 1.
QGradientStops blackToWhiteStops();

class TransferFunctionTable
{
public:
    static constexpr int entryCount = 1024;

    // Starts transparent black, so a table used before its first rebuild
    // classifies everything as empty rather than as uninitialised memory.
    TransferFunctionTable();

    // Remakes every entry from the stops (padded outside the first and last
    // stop) and writes the probe line "transfer(0.5) <alpha>" to probe. Entry i
    // holds the colour at position (i + 0.5) / 1024, rounded to bytes; where
    // every stop is opaque the colours are those of Qt's linear gradient brush,
    // which interpolates the same way then. Stops of equal position give a
    // jump there, the first of them on the left.
    void rebuild(const QGradientStops &stops, std::ostream &probe);

    // The entry for a data value: v is clamped to 0..1 (NaN counts as 0) and
    // scaled by entryCount - 1, truncated toward zero.
    QRgb transfer(float v) const;

    // The entries as bytes red, green, blue, alpha (4 * entryCount of them), the
    // layout of an RGBA texture.
    void copyRgbaBytes(unsigned char *bytes) const;

    const QImage &image() const { return table; }

    // The function at full precision: entryCount entries of red, green, blue,
    // alpha in 0..1, entry i holding the value at position i / (entryCount - 1),
    // so that a lookup of value f at entry position f * (entryCount - 1) with
    // linear filtering gives the function at f. Made from the stops' 16-bit
    // colours: an opacity of 0.001 stays 0.001, where a byte would round it to 0
    // and make thin translucent material vanish or step.
    const std::vector<float> &rgbaFloats() const { return precise; }

private:
    QImage table;
    std::vector<float> precise;
};

// The colour of the stops at position (red, green, blue, alpha in 0..1): each
// channel linear between the neighbouring stops, the first and last stop's
// colour outside them; transparent black without stops. The stops must be in
// ascending position (stops of equal position make a jump: at that position
// the last of them holds).
std::array<double, 4> stopsColourAt(const QGradientStops &stops, double position);
