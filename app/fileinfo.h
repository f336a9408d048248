#pragma once

#include "layerloading.h"

#include <QStringList>

#include <array>
#include <iosfwd>
#include <optional>
#include <vector>

// Looking at volume files without a window or display: what a file holds
// (--info) and the values at world points (--probe). World points are RAS
// millimetres for scans, as other tools give them; a DAT file has no patient
// frame and is looked at in its own X, Y, Z millimetres.

// Describes each file on out, as text or one JSON object a line; a file that
// cannot be read is named with its reason (on err as text, in the JSON line
// as "error"). Returns the exit status: 1 when any file could not be read.
// spacing, where given, replaces the files' voxel size (--spacing).
int printFileInfo(const QStringList &files, bool json,
                  const std::optional<std::array<double, 3>> &spacing, std::ostream &out,
                  std::ostream &err);

// For each file and point: the file's voxel nearest the point and its value,
// or that the point lies outside, in volume frame of a series (4D image);
// then the same for each layer over it, a label map's lines naming the label
// (in JSON as "name", null where its table has none).
// Returns the exit status as printFileInfo().
int printProbes(const QStringList &files, const std::vector<std::array<double, 3>> &points,
                int frame, bool json, const std::optional<std::array<double, 3>> &spacing,
                const std::vector<LayerRequest> &layers, std::ostream &out, std::ostream &err);
