#include "batchlayers.h"

#include "commandline.h"
#include "filenamebytes.h"
#include "regionstatistics.h"
#include "volume.h"
#include "volumefile.h"

#include <QFile>
#include <QFileInfo>

#include <iostream>
#include <sstream>

bool loadBatchLayers(const std::vector<LayerRequest> &requests, const Volume &base,
                     std::uint64_t gpuBudgetBytes, std::vector<LoadedLayer> &layers)
{
    layers.clear();
    for (const LayerRequest &request : requests) {
        // The reader's progress lines would interleave with the base's; its
        // own error lines still reach standard error.
        std::ostringstream progress;
        LoadedLayer layer = loadLayer(request, base, gpuBudgetBytes, progress, std::cerr);
        const std::string file = QFile::encodeName(request.file).toStdString();
        if (!layer.ok) {
            std::cerr << "+ Error loading layer '" << file << "': " << layer.reason.toStdString()
                      << std::endl;
            return false;
        }
        for (const QString &warning : layer.warnings)
            std::cerr << "+ Warning: layer '" << file << "': " << warning.toStdString()
                      << std::endl;
        layers.push_back(std::move(layer));
    }
    return true;
}

int writeLabelStatistics(const CommandLine &commandLine)
{
    Volume base;
    if (!loadVolumeFile(fileNameBytes(commandLine.file).toStdString(), base,
                        std::uint64_t(commandLine.gpuBudgetMiB) << 20, commandLine.spacing)
             .ok)
        return 1;
    std::vector<LayerRequest> labels;
    for (const LayerRequest &request : commandLine.layers)
        if (request.kind == LayerKind::Labels) {
            labels.push_back(request);
            break;
        }
    std::vector<LoadedLayer> layers;
    if (!loadBatchLayers(labels, base, std::uint64_t(commandLine.gpuBudgetMiB) << 20, layers))
        return 1;
    const std::vector<RegionStatistics> rows =
        labelStatistics(base, *layers.front().volume, layers.front().appearance.labels);
    QString reason;
    if (!writeStatisticsCsv(commandLine.labelStatistics, rows, &reason)) {
        std::cerr << "+ Error writing statistics: " << reason.toStdString() << std::endl;
        return 1;
    }
    return 0;
}

std::vector<ShownLayer> shownLayersOf(const std::vector<LoadedLayer> &layers)
{
    std::vector<ShownLayer> shown;
    for (const LoadedLayer &layer : layers)
        shown.push_back({layer.volume.get(), &layer.appearance, QFileInfo(layer.file).fileName()});
    return shown;
}
