#include "layerappearance.h"

#include <algorithm>
#include <cmath>

std::optional<double> LayerAppearance::mapPosition(double value, bool *negative) const
{
    *negative = false;
    if (!std::isfinite(value))
        return std::nullopt;
    const double span = rangeMaximum - rangeMinimum;
    const auto position = [&](double v) {
        return span > 0.0 ? std::clamp((v - rangeMinimum) / span, 0.0, 1.0) : 1.0;
    };
    if (value >= rangeMinimum)
        return position(value);
    // A negative side only makes sense for a range above zero: below it the
    // two sides would overlap.
    if (negativeMap && rangeMinimum >= 0.0 && -value >= rangeMinimum) {
        *negative = true;
        return position(-value);
    }
    return std::nullopt;
}

QRgb LayerAppearance::colourOf(double value) const
{
    if (!visible || !std::isfinite(value))
        return qRgba(0, 0, 0, 0);
    const double layerAlpha = std::clamp(opacity, 0.0, 1.0);
    if (kind == LayerKind::Labels) {
        const double rounded = std::round(value);
        if (rounded < 0.0 || rounded > LabelTables::maximumValue)
            return qRgba(0, 0, 0, 0);
        const Label *label = labels.find(int(rounded));
        if (!label || !label->visible)
            return qRgba(0, 0, 0, 0);
        return qRgba(label->colour.red(), label->colour.green(), label->colour.blue(),
                     int(std::lround(label->colour.alpha() * layerAlpha)));
    }
    bool negative = false;
    const std::optional<double> position = mapPosition(value, &negative);
    if (!position)
        return qRgba(0, 0, 0, 0);
    const QRgb colour = (negative ? *negativeMap : colorMap).at(*position);
    return qRgba(qRed(colour), qGreen(colour), qBlue(colour), int(std::lround(255.0 * layerAlpha)));
}

bool LayerAppearance::operator==(const LayerAppearance &other) const
{
    return kind == other.kind && visible == other.visible && opacity == other.opacity &&
           colorMap == other.colorMap && rangeMinimum == other.rangeMinimum &&
           rangeMaximum == other.rangeMaximum && negativeMap == other.negativeMap &&
           labels == other.labels && outline == other.outline;
}

LayerAppearance defaultImageAppearance(double smallestPositive, double largest)
{
    LayerAppearance appearance;
    appearance.colorMap = *ColorMaps::named("hot");
    if (largest > 0.0 && smallestPositive > 0.0) {
        appearance.rangeMinimum = smallestPositive;
        appearance.rangeMaximum = std::max(largest, smallestPositive);
    } else {
        // Nothing above zero: draw nothing until a range is given.
        appearance.rangeMinimum = 1.0;
        appearance.rangeMaximum = 1.0;
    }
    return appearance;
}

LayerAppearance defaultLabelAppearance(const std::vector<int> &values)
{
    LayerAppearance appearance;
    appearance.kind = LayerKind::Labels;
    appearance.opacity = 0.5;
    appearance.labels.addMissing(values);
    return appearance;
}
