#pragma once

#include "layerappearance.h"

#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>

struct Volume;

// What the command line or a menu asks of one layer over the base volume;
// what it leaves out the layer's default appearance gives.
struct LayerRequest
{
    QString file;
    LayerKind kind = LayerKind::Image;
    QString colorMap;                           // a map's name or a map file
    std::optional<std::array<double, 2>> range; // display range in file units
    QString negativeMap;                        // name or file: a negative side
    std::optional<double> opacity;              // 0..1
    QString labelTable;                         // a label table file
    bool outline = false;

    bool operator==(const LayerRequest &other) const;
};

// A layer read from its file with its appearance, or why not.
struct LoadedLayer
{
    bool ok = false;
    QString file;
    QString reason;
    QStringList warnings;
    std::unique_ptr<Volume> volume;
    LayerAppearance appearance;
};

// Reads the request's file (the first volume of a series) and its colour
// maps or label table. A label map must hold whole numbers from 0 to 65535
// and no colours, and be held whole (a reduced level would average labels);
// a layer whose world box misses the base's loads with a warning that says
// so. Progress goes to out, the reader's messages to err.
LoadedLayer loadLayer(const LayerRequest &request, const Volume &base, std::uint64_t gpuBudgetBytes,
                      std::ostream &out, std::ostream &err);

// The appearance the request asks for over the given one: the maps and
// tables read, the range, opacity and outline set. False with a reason (the
// file and line of a bad table or map) and the appearance untouched.
bool applyLayerRequest(const LayerRequest &request, LayerAppearance &appearance, QString *reason);

// The whole numbers a label map holds, ascending; false with a reason where
// a value is not a whole number in 0..65535.
bool labelValuesOf(const Volume &volume, std::vector<int> &values, QString *reason);
