#pragma once

#include "layerloading.h"
#include "layerslice.h"

#include <cstdint>
#include <vector>

struct CommandLine;
struct Volume;

// The layers a command line asks for over a base volume, as batch mode,
// --slice and --probe read them: each loaded with its warnings on standard
// error ("+ Warning: ..."); false, after an error line naming the layer's
// file, when one cannot be read.
bool loadBatchLayers(const std::vector<LayerRequest> &requests, const Volume &base,
                     std::uint64_t gpuBudgetBytes, std::vector<LoadedLayer> &layers);

// --label-stats: loads FILE and its layers and writes the statistics of the
// first label map's labels as CSV. Returns the exit status: 0 on success, 1
// when a file cannot be read or the table not written (with a message on
// standard error).
int writeLabelStatistics(const CommandLine &commandLine);

// The loaded layers as the slice side blends them.
std::vector<ShownLayer> shownLayersOf(const std::vector<LoadedLayer> &layers);
