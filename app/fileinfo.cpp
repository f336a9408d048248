#include "fileinfo.h"

#include "filenamebytes.h"
#include "imagegrid.h"
#include "loadplan.h"
#include "memorylimit.h"
#include "volume.h"
#include "volumeseries.h"
#include "volumefile.h"
#include "volumegrid.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <iomanip>
#include <ostream>
#include <sstream>

namespace {

struct LoadedFile
{
    Volume volume;
    VolumeReadResult result;
};

// Loads as the window does, but quietly: progress and warnings are not for
// the terminal here, the warnings are part of the description.
LoadedFile loadQuietly(const QString &file, const std::optional<std::array<double, 3>> &spacing)
{
    LoadedFile loaded;
    std::ostringstream progress;
    std::ostringstream messages;
    VolumeReadOptions options;
    options.maxDataBytes = loadableDataBytes();
    options.gpuBudgetBytes = defaultLoadLimits().gpuBudgetBytes;
    options.spacing = spacing;
    loaded.result = readVolumeFile(fileNameBytes(file).toStdString(), loaded.volume, progress,
                                   messages, options);
    if (loaded.result.ok && loaded.result.missingSamples > 0)
        loaded.result.warnings.insert(loaded.result.warnings.begin(),
                                      "The file ends early; " +
                                          std::to_string(loaded.result.missingSamples) +
                                          " missing samples read as 0.");
    if (!loaded.result.ok && loaded.result.reason.empty())
        loaded.result.reason = "The file cannot be read.";
    return loaded;
}

// The file's voxel-to-world matrix in the frame the user names points in.
std::array<double, 16> reportedMatrix(const Volume &volume)
{
    const ImageGrid grid = fileGrid(volume);
    return volume.patientFrame ? rasMatrixOf(grid) : grid.matrix();
}

QJsonArray jsonArray(const double *values, int count)
{
    QJsonArray array;
    for (int i = 0; i < count; ++i)
        array.append(values[i] + 0.0); // never -0
    return array;
}

QJsonArray jsonArray(const std::array<int, 3> &values)
{
    return QJsonArray{values[0], values[1], values[2]};
}

QJsonValue jsonNumber(double value)
{
    return std::isfinite(value) ? QJsonValue(value) : QJsonValue(QJsonValue::Null);
}

// A colour volume's components at voxel (null for scalar data or outside).
QJsonValue colourComponents(const Volume &volume, const std::optional<std::array<int, 3>> &voxel)
{
    const std::vector<double> colours = voxel ? coloursAt(volume, *voxel) : std::vector<double>();
    if (colours.empty())
        return QJsonValue(QJsonValue::Null);
    return jsonArray(colours.data(), int(colours.size()));
}

void printJson(std::ostream &out, const QJsonObject &object)
{
    out << QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString() << '\n';
}

std::string numberText(double value, int precision = 6)
{
    std::ostringstream text;
    text.precision(precision);
    text << value + 0.0;
    return text.str();
}

std::string joined(const std::array<int, 3> &values, const char *separator)
{
    return std::to_string(values[0]) + separator + std::to_string(values[1]) + separator +
           std::to_string(values[2]);
}

// A file that cannot be read, named with its reason: in the JSON line under
// the key that names the file there, else on the error stream.
void reportUnreadable(const QString &file, const char *key, const std::string &reason, bool json,
                      std::ostream &out, std::ostream &err)
{
    if (json)
        printJson(out, {{key, file}, {"error", QString::fromStdString(reason)}});
    else
        err << "kelvara: " << file.toStdString() << ": " << reason << std::endl;
}

} // namespace

int printFileInfo(const QStringList &files, bool json,
                  const std::optional<std::array<double, 3>> &spacing, std::ostream &out,
                  std::ostream &err)
{
    int status = 0;
    for (const QString &file : files) {
        const LoadedFile loaded = loadQuietly(file, spacing);
        if (!loaded.result.ok) {
            status = 1;
            reportUnreadable(file, "file", loaded.result.reason, json, out, err);
            continue;
        }
        const Volume &volume = loaded.volume;
        const std::array<int, 3> size = fileSize(volume);
        const ImageGrid grid = fileGrid(volume);
        const std::array<double, 16> matrix = reportedMatrix(volume);
        const std::string orientation =
            volume.patientFrame ? orientationCode(grid.direction) : std::string();
        const double range[2] = {volume.valueRange.minimum, volume.valueRange.maximum};
        if (json) {
            QJsonArray affine;
            for (int row = 0; row < 4; ++row)
                affine.append(jsonArray(matrix.data() + 4 * row, 4));
            QJsonArray warnings;
            for (const std::string &warning : loaded.result.warnings)
                warnings.append(QString::fromStdString(warning));
            const double interval = volume.series ? volume.series->frameInterval() : 0.0;
            printJson(out, {{"file", file},
                            {"format", volumeFormatName(loaded.result.format)},
                            {"dimensions", jsonArray(size)},
                            {"volumes", seriesFrameCount(volume)},
                            {"components", volume.colours ? volume.colours->components : 1},
                            {"time_step",
                             interval > 0.0 ? QJsonValue(interval) : QJsonValue(QJsonValue::Null)},
                            {"time_unit", volume.series ? QJsonValue(QString::fromStdString(
                                                              volume.series->frameUnit()))
                                                        : QJsonValue(QJsonValue::Null)},
                            {"datatype", QString::fromStdString(loaded.result.dataType)},
                            {"spacing", jsonArray(grid.spacing.data(), 3)},
                            {"affine", affine},
                            {"orientation", volume.patientFrame
                                                ? QJsonValue(QString::fromStdString(orientation))
                                                : QJsonValue(QJsonValue::Null)},
                            {"range", jsonArray(range, 2)},
                            {"warnings", warnings}});
            continue;
        }
        out << file.toStdString() << '\n'
            << "  format       " << volumeFormatName(loaded.result.format) << '\n'
            << "  dimensions   " << joined(size, " x ") << '\n';
        if (volume.colours)
            out << "  colour       " << (volume.colours->components == 4 ? "RGBA" : "RGB")
                << ", shown as stored (values: the luminance)\n";
        if (volume.series) {
            const VolumeSeries &series = *volume.series;
            out << "  volumes      " << series.frameCount();
            if (series.frameInterval() > 0.0)
                out << ", " << numberText(series.frameInterval())
                    << (series.frameUnit().empty() ? " (no unit given)" : " " + series.frameUnit())
                    << " apart";
            else
                out << ", no time step given";
            out << '\n';
        }
        out << "  data type    " << loaded.result.dataType << '\n'
            << "  spacing      " << numberText(grid.spacing[0]) << " x "
            << numberText(grid.spacing[1]) << " x " << numberText(grid.spacing[2]) << " mm\n"
            << "  orientation  " << (volume.patientFrame ? orientation : "none (no patient frame)")
            << '\n'
            << "  voxel to " << (volume.patientFrame ? "RAS" : "XYZ") << " (mm)\n";
        for (int row = 0; row < 4; ++row) {
            out << "   ";
            for (int column = 0; column < 4; ++column) {
                std::ostringstream cell;
                cell.setf(std::ios::fixed);
                cell.precision(4);
                cell << std::setw(12) << matrix[std::size_t(4 * row + column)] + 0.0;
                out << cell.str();
            }
            out << '\n';
        }
        out << "  range        " << numberText(range[0]) << " .. " << numberText(range[1]) << '\n';
        for (const std::string &warning : loaded.result.warnings)
            out << "  warning      " << warning << '\n';
    }
    out.flush();
    return status;
}

namespace {

// The probe lines of one layer: its value at every point, and for a label
// map the label's name where its table names it.
void printLayerProbes(const QString &file, const Volume &volume, const LabelTable *labels,
                      const std::vector<std::array<double, 3>> &points, bool json,
                      std::ostream &out)
{
    for (const std::array<double, 3> &point : points) {
        const std::array<double, 3> world = volume.patientFrame ? swapLpsRas(point) : point;
        const std::optional<std::array<int, 3>> voxel = voxelAtWorld(volume, world);
        const double value = voxel ? fileValueAt(volume, *voxel) : 0.0;
        const std::array<int, 3> index = voxel ? fileIndexOf(volume, *voxel) : std::array<int, 3>{};
        const Label *found = labels && voxel && std::isfinite(value)
                                 ? labels->find(int(std::lround(value)))
                                 : nullptr;
        // Labels that no table names have no name.
        const Label *label = found && !found->name.isEmpty() ? found : nullptr;
        if (json) {
            QJsonObject line{
                {"layer", file},
                {"point", jsonArray(point.data(), 3)},
                {"voxel", voxel ? QJsonValue(jsonArray(index)) : QJsonValue(QJsonValue::Null)},
                {"value", voxel ? jsonNumber(value) : QJsonValue(QJsonValue::Null)},
                {"components", colourComponents(volume, voxel)}};
            if (labels)
                line.insert("name", label ? QJsonValue(label->name) : QJsonValue(QJsonValue::Null));
            printJson(out, line);
            continue;
        }
        out << file.toStdString() << " at " << (volume.patientFrame ? "RAS" : "XYZ") << " ("
            << numberText(point[0]) << ", " << numberText(point[1]) << ", " << numberText(point[2])
            << ") mm: ";
        if (voxel) {
            out << "voxel (" << joined(index, ", ") << ") value " << numberText(value, 9);
            if (label)
                out << " " << label->name.toStdString();
            out << '\n';
        } else {
            out << "outside the volume\n";
        }
    }
}

} // namespace

int printProbes(const QStringList &files, const std::vector<std::array<double, 3>> &points,
                int frame, bool json, const std::optional<std::array<double, 3>> &spacing,
                const std::vector<LayerRequest> &layers, std::ostream &out, std::ostream &err)
{
    int status = 0;
    for (const QString &file : files) {
        LoadedFile loaded = loadQuietly(file, spacing);
        if (loaded.result.ok && !selectSeriesFrame(loaded.volume, frame, loaded.result.reason))
            loaded.result.ok = false;
        if (!loaded.result.ok) {
            status = 1;
            reportUnreadable(file, "layer", loaded.result.reason, json, out, err);
            continue;
        }
        printLayerProbes(file, loaded.volume, nullptr, points, json, out);
        for (const LayerRequest &request : layers) {
            std::ostringstream quiet;
            const LoadedLayer layer = loadLayer(request, loaded.volume, 0, quiet, quiet);
            if (!layer.ok) {
                status = 1;
                reportUnreadable(request.file, "layer", layer.reason.toStdString(), json, out, err);
                continue;
            }
            printLayerProbes(request.file, *layer.volume,
                             request.kind == LayerKind::Labels ? &layer.appearance.labels : nullptr,
                             points, json, out);
        }
    }
    out.flush();
    return status;
}
