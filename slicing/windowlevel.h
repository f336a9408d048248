#pragma once

#include "volume.h"

#include <QRgb>
#include <QString>

#include <optional>

// A grey window over data values in the file's own units (Volume::valueRange):
// values from level - window / 2 to level + window / 2 run from black to
// white, values outside are clamped. window is positive.
struct WindowLevel
{
    double window = 4095.0;
    double level = 2047.5;

    bool operator==(const WindowLevel &other) const
    {
        return window == other.window && level == other.level;
    }
    bool operator!=(const WindowLevel &other) const { return !(*this == other); }
};

// The named windows of the "Fensterung" menu and of --window.
enum class WindowPreset
{
    FullRange,    // the whole value range: the slice view's own mapping, exactly
    Automatic,    // 1st to 99th percentile of the data's histogram
    CtBrain,      // 80/40 HU
    CtSoftTissue, // 400/40 HU
    CtLung,       // 1500/-600 HU
    CtBone        // 2000/300 HU
};

// The whole value range of the volume as a window.
WindowLevel fullRangeWindow(const Volume::ValueRange &range);

// The window from the 1st to the 99th percentile of the volume's values (in
// 4096 bins over 0..1); the full range where both fall into one bin (a
// constant image).
// For a volume read through a store it counts Volume::data, the reduced
// level or region: a mean of many voxels is representative enough for a
// window, and reading the whole file for it would cost a pass over disk.
WindowLevel automaticWindow(const Volume &volume);

// The window of a preset for this volume (the CT presets in Hounsfield units,
// whatever the file holds).
WindowLevel presetWindow(WindowPreset preset, const Volume &volume);

// "W 400 / L 40": a window as readers name it, in the file's units, to as
// many digits as the range needs.
QString windowLevelText(const WindowLevel &window);

// Whether the values look like CT in Hounsfield units: a scan whose range
// reaches down to air (-1000 HU, allowing for a rescale that stops short).
bool looksLikeCt(const Volume &volume);

// The smallest window allowed, in data units: a 4096th of the range (at least
// 1e-6), so a drag can never divide by zero.
double minimumWindow(const Volume::ValueRange &range);

// How a normalised voxel value (0..1, as Volume::data holds it) becomes a
// grey level. Built once per window, applied per pixel.
class GreyMapping
{
public:
    // The slice view's own mapping: the low 8 bits of the integer part of
    // 255 * v.
    GreyMapping() = default;

    // The window over the range. The full-range window gives the default
    // mapping exactly; so does a range without extent, where no window can be
    // placed.
    // inverted: high values dark (MONOCHROME1 data as its scanner meant it).
    static GreyMapping of(const WindowLevel &windowLevel, const Volume::ValueRange &range,
                          bool inverted = false);

    bool isFullRange() const { return fullRange; }
    bool operator==(const GreyMapping &other) const
    {
        return fullRange == other.fullRange && lower == other.lower && scale == other.scale &&
               inverted == other.inverted;
    }
    bool operator!=(const GreyMapping &other) const { return !(*this == other); }

    // 0..255.
    int grey(float v) const
    {
        const int g = upright(v);
        return inverted ? 255 - g : g;
    }
    QRgb rgb(float v) const
    {
        const unsigned g = unsigned(grey(v));
        return 0xff000000u | (g << 16) | (g << 8) | g;
    }

private:
    int upright(float v) const
    {
        if (fullRange)
            return int(255.0 * double(v)) & 0xff;
        // A thousandth of a grey level absorbs the float rounding of stored
        // values, so a value exactly at the window's top is white.
        const double g = (double(v) - lower) * scale + 1e-3;
        return g <= 0.0 ? 0 : g >= 255.0 ? 255 : int(g);
    }

    bool inverted = false;
    bool fullRange = true;
    double lower = 0.0; // the normalised value shown black
    double scale = 1.0; // grey levels per normalised unit
};
