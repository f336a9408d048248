#include "windowlevel.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

WindowLevel fullRangeWindow(const Volume::ValueRange &range)
{
    return {range.maximum - range.minimum, 0.5 * (range.maximum + range.minimum)};
}

double minimumWindow(const Volume::ValueRange &range)
{
    return std::max(1e-6, (range.maximum - range.minimum) / 4096.0);
}

WindowLevel automaticWindow(const Volume &volume)
{
    constexpr int bins = 4096;
    std::vector<std::uint64_t> counts(bins, 0);
    std::uint64_t total = 0;
    for (const float v : volume.data) {
        if (!(v == v))
            continue;
        const int bin = std::clamp(int(v * float(bins)), 0, bins - 1);
        ++counts[std::size_t(bin)];
        ++total;
    }
    const Volume::ValueRange &range = volume.valueRange;
    if (total == 0)
        return fullRangeWindow(range);
    // The lower end is the first bin the 1st percentile reaches, the upper end
    // the far edge of the bin holding the 99th.
    const double lowCount = 0.01 * double(total);
    const double highCount = 0.99 * double(total);
    std::uint64_t cumulative = 0;
    int low = -1;
    int high = bins - 1;
    for (int bin = 0; bin < bins; ++bin) {
        cumulative += counts[std::size_t(bin)];
        if (low < 0 && double(cumulative) > lowCount)
            low = bin;
        if (double(cumulative) >= highCount) {
            high = bin;
            break;
        }
    }
    if (high <= low)
        return fullRangeWindow(range);
    const double extent = range.maximum - range.minimum;
    const double lower = range.minimum + extent * double(std::max(low, 0)) / bins;
    const double upper = range.minimum + extent * double(high + 1) / bins;
    if (!(upper - lower >= minimumWindow(range)))
        return fullRangeWindow(range);
    return {upper - lower, 0.5 * (upper + lower)};
}

WindowLevel presetWindow(WindowPreset preset, const Volume &volume)
{
    switch (preset) {
    case WindowPreset::FullRange:
        break;
    case WindowPreset::Automatic:
        return automaticWindow(volume);
    case WindowPreset::CtBrain:
        return {80.0, 40.0};
    case WindowPreset::CtSoftTissue:
        return {400.0, 40.0};
    case WindowPreset::CtLung:
        return {1500.0, -600.0};
    case WindowPreset::CtBone:
        return {2000.0, 300.0};
    }
    return fullRangeWindow(volume.valueRange);
}

GreyMapping GreyMapping::of(const WindowLevel &windowLevel, const Volume::ValueRange &range,
                            bool inverted)
{
    GreyMapping mapping;
    mapping.inverted = inverted;
    const double extent = range.maximum - range.minimum;
    if (windowLevel == fullRangeWindow(range) || !(extent > 0.0) || !(windowLevel.window > 0.0))
        return mapping;
    mapping.fullRange = false;
    const double black = windowLevel.level - 0.5 * windowLevel.window;
    mapping.lower = (black - range.minimum) / extent;
    mapping.scale = 255.0 * extent / windowLevel.window;
    return mapping;
}

QString windowLevelText(const WindowLevel &window)
{
    return QString("W %1 / L %2").arg(window.window, 0, 'g', 5).arg(window.level, 0, 'g', 5);
}

bool looksLikeCt(const Volume &volume)
{
    return volume.patientFrame && volume.valueRange.minimum <= -500.0 &&
           volume.valueRange.maximum > 0.0;
}
