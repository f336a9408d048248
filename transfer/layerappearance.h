#pragma once

#include "colormap.h"
#include "labeltable.h"

#include <QRgb>
#include <QString>

#include <optional>
#include <vector>

struct Volume;

// What a layer over the base volume holds: an image (a statistical map, a
// PET, a second scan) shown through a colour map, or a label map whose whole
// numbers name regions of a label table.
enum class LayerKind
{
    Image,
    Labels
};

// How an overlay or label map is shown, in the file's own units: the same
// for the slice views, the rendering and batch mode.
struct LayerAppearance
{
    LayerKind kind = LayerKind::Image;
    bool visible = true;
    double opacity = 1.0; // 0..1, times a label's own alpha

    // Images: values from rangeMinimum to rangeMaximum run through colorMap
    // (entry 0 to 255); below rangeMinimum nothing is drawn, above
    // rangeMaximum the last entry. A negative side, where there is one,
    // shows values from -rangeMinimum down to -rangeMaximum through its own
    // map, so that a signed map shows both tails.
    ColorMap colorMap;
    double rangeMinimum = 0.0;
    double rangeMaximum = 1.0;
    std::optional<ColorMap> negativeMap;

    // Label maps: each label's colour and visibility; outlines draw only the
    // boundaries of the labels in the slice views (the rendering shows solids
    // either way).
    LabelTable labels;
    bool outline = false;

    // The colour a file value shows, alpha 0 where it shows nothing; a label
    // map's value is rounded to the nearest whole number. Not premultiplied.
    QRgb colourOf(double value) const;
    // The colour map's position 0..1 of a value on either side, or none
    // where it is not drawn (images only).
    std::optional<double> mapPosition(double value, bool *negative) const;

    bool operator==(const LayerAppearance &other) const;
    bool operator!=(const LayerAppearance &other) const { return !(*this == other); }
};

// The appearance a newly loaded layer starts with: an image through "hot"
// from its smallest positive value to its largest (zeros and negative
// values not drawn), a label map with generated colours for the values it
// holds. smallestPositive is the smallest value above 0 (none: no value is
// above 0).
LayerAppearance defaultImageAppearance(double smallestPositive, double largest);
LayerAppearance defaultLabelAppearance(const std::vector<int> &values);

// A layer as the views show it: its volume (on its own grid, placed by its
// world geometry) and how it is shown. Neither is owned.
struct ShownLayer
{
    const Volume *volume = nullptr;
    const LayerAppearance *appearance = nullptr;
    QString name; // for readouts: the file's name
};
