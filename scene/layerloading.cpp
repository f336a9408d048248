#include "layerloading.h"

#include "layersampler.h"
#include "memorylimit.h"
#include "volume.h"
#include "volumefile.h"
#include "volumeseries.h"

#include <QFile>

#include <algorithm>
#include <cmath>
#include <limits>

bool LayerRequest::operator==(const LayerRequest &other) const
{
    return file == other.file && kind == other.kind && colorMap == other.colorMap &&
           range == other.range && negativeMap == other.negativeMap && opacity == other.opacity &&
           labelTable == other.labelTable && outline == other.outline;
}

bool labelValuesOf(const Volume &volume, std::vector<int> &values, QString *reason)
{
    const double minimum = volume.valueRange.minimum;
    const double span = volume.valueRange.maximum - volume.valueRange.minimum;
    std::vector<bool> present(std::size_t(LabelTables::maximumValue) + 1, false);
    for (const float normalised : volume.data) {
        const double value = minimum + double(normalised) * span;
        const double rounded = std::round(value);
        // The normalised floats keep whole numbers up to 65535 within a
        // thousandth.
        if (!(std::abs(value - rounded) <= 1.0e-3) || rounded < 0.0 ||
            rounded > LabelTables::maximumValue) {
            *reason = QString("not a label map: it holds the value %1, and labels are whole "
                              "numbers from 0 to %2")
                          .arg(value, 0, 'g', 7)
                          .arg(LabelTables::maximumValue);
            return false;
        }
        present[std::size_t(rounded)] = true;
    }
    values.clear();
    for (std::size_t value = 0; value < present.size(); ++value)
        if (present[value])
            values.push_back(int(value));
    return true;
}

namespace {

// The smallest value above 0 and the largest value, in file units; the
// first is infinite where no value lies above 0.
std::array<double, 2> positiveExtent(const Volume &volume)
{
    const double minimum = volume.valueRange.minimum;
    const double span = volume.valueRange.maximum - volume.valueRange.minimum;
    double smallest = std::numeric_limits<double>::infinity();
    double largest = -std::numeric_limits<double>::infinity();
    // A zero comes back from the normalised floats within a few millionths
    // of the range: those are zeros, not the smallest positive value.
    const double zero = 1.0e-5 * std::abs(span);
    for (const float normalised : volume.data) {
        const double value = minimum + double(normalised) * span;
        if (value > zero)
            smallest = std::min(smallest, value);
        largest = std::max(largest, value);
    }
    return {smallest, largest};
}

} // namespace

bool applyLayerRequest(const LayerRequest &request, LayerAppearance &appearance, QString *reason)
{
    LayerAppearance changed = appearance;
    if (!request.colorMap.isEmpty()) {
        const ColorMaps::ReadResult map = ColorMaps::byNameOrFile(request.colorMap);
        if (!map.ok) {
            *reason = map.reason;
            return false;
        }
        changed.colorMap = map.map;
    }
    if (!request.negativeMap.isEmpty()) {
        const ColorMaps::ReadResult map = ColorMaps::byNameOrFile(request.negativeMap);
        if (!map.ok) {
            *reason = map.reason;
            return false;
        }
        changed.negativeMap = map.map;
    }
    if (!request.labelTable.isEmpty()) {
        const LabelTables::ReadResult table = LabelTables::readFile(request.labelTable);
        if (!table.ok) {
            *reason = table.reason;
            return false;
        }
        // The values the map holds that the table does not name keep their
        // generated colours.
        std::vector<int> held;
        for (const Label &label : changed.labels.labels())
            if (!table.table.find(label.value))
                held.push_back(label.value);
        changed.labels = table.table;
        changed.labels.addMissing(held);
    }
    if (request.range) {
        changed.rangeMinimum = (*request.range)[0];
        changed.rangeMaximum = (*request.range)[1];
    }
    if (request.opacity)
        changed.opacity = std::clamp(*request.opacity, 0.0, 1.0);
    if (request.outline)
        changed.outline = true;
    appearance = changed;
    return true;
}

LoadedLayer loadLayer(const LayerRequest &request, const Volume &base, std::uint64_t gpuBudgetBytes,
                      std::ostream &out, std::ostream &err)
{
    LoadedLayer loaded;
    loaded.file = request.file;
    auto volume = std::make_unique<Volume>();
    VolumeReadOptions options;
    options.maxDataBytes = loadableDataBytes();
    if (gpuBudgetBytes > 0)
        options.gpuBudgetBytes = gpuBudgetBytes;
    const VolumeReadResult read =
        readVolumeFile(QFile::encodeName(request.file).toStdString(), *volume, out, err, options);
    if (!read.ok) {
        loaded.reason = read.reason.empty() ? QString("the file cannot be read")
                                            : QString::fromStdString(read.reason);
        return loaded;
    }
    for (const std::string &warning : read.warnings)
        loaded.warnings << QString::fromStdString(warning);
    std::string frameProblem;
    if (!selectSeriesFrame(*volume, 0, frameProblem)) {
        loaded.reason = QString::fromStdString(frameProblem);
        return loaded;
    }
    if (volume->series)
        loaded.warnings << QString("a series of %1 volumes: the layer shows the first")
                               .arg(volume->series->frameCount());

    if (request.kind == LayerKind::Labels) {
        if (volume->colours) {
            loaded.reason = "not a label map: it holds colours";
            return loaded;
        }
        if (volume->level > 0 || volume->fullResolution) {
            loaded.reason = "a label map too large to hold in memory whole is not read";
            return loaded;
        }
        std::vector<int> values;
        if (!labelValuesOf(*volume, values, &loaded.reason))
            return loaded;
        loaded.appearance = defaultLabelAppearance(values);
    } else {
        const std::array<double, 2> extent = positiveExtent(*volume);
        loaded.appearance =
            defaultImageAppearance(std::isfinite(extent[0]) ? extent[0] : 0.0, extent[1]);
    }
    if (!applyLayerRequest(request, loaded.appearance, &loaded.reason))
        return loaded;
    if (!layerMeetsBase(base, *volume))
        loaded.warnings << "the layer lies outside the base volume: nothing of it is shown";
    loaded.volume = std::move(volume);
    loaded.ok = true;
    return loaded;
}
