#include "regionstatistics.h"

#include "imagegrid.h"
#include "labeltable.h"
#include "layersampler.h"
#include "viewsettings.h"
#include "volume.h"
#include "volumegrid.h"

#include <QSaveFile>
#include <QStringList>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <limits>
#include <map>

namespace {

// The figures of one region as its values arrive, in one pass: Welford's
// running mean and sum of squared deviations (no cancellation, unlike the
// sum of squares), the extremes, and the values themselves for the median.
// These are kept as floats, 4 bytes a counted voxel for the length of the
// call: Volume::data holds no more than that precision of a value, and the
// median is then exact for those values.
class Accumulator
{
public:
    void add(double value)
    {
        ++count;
        const double delta = value - mean;
        mean += delta / double(count);
        squares += delta * (value - mean);
        minimum = std::min(minimum, value);
        maximum = std::max(maximum, value);
        values.push_back(float(value));
    }

    // The figures, for voxels each cellVolume cubic mm; the values are reordered.
    RegionStatistics finish(double cellVolume)
    {
        constexpr double none = std::numeric_limits<double>::quiet_NaN();
        RegionStatistics statistics;
        statistics.voxels = count;
        statistics.volumeMm3 = double(count) * cellVolume;
        if (count == 0) {
            statistics.mean = statistics.sd = statistics.minimum = statistics.maximum =
                statistics.median = none;
            return statistics;
        }
        statistics.mean = mean;
        statistics.sd = count > 1 ? std::sqrt(squares / double(count - 1)) : 0.0;
        statistics.minimum = minimum;
        statistics.maximum = maximum;
        const auto middle = values.begin() + std::ptrdiff_t(values.size() / 2);
        std::nth_element(values.begin(), middle, values.end());
        statistics.median = double(*middle);
        // Everything before the middle is no larger than it: the other middle
        // value of an even count is the largest of those.
        if (values.size() % 2 == 0)
            statistics.median =
                0.5 * (double(*std::max_element(values.begin(), middle)) + double(*middle));
        return statistics;
    }

private:
    std::uint64_t count = 0;
    double mean = 0.0;
    double squares = 0.0;
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    std::vector<float> values;
};

// The volume of one voxel of the base's full-resolution grid in cubic mm: the
// parallelepiped of its three steps, which a sheared direction makes smaller
// than the spacings' product.
double voxelVolume(const Volume &base)
{
    const ImageGrid grid = fullResolutionGrid(base);
    const DirectionMatrix &m = grid.direction;
    const double determinant = m[0] * (m[4] * m[8] - m[5] * m[7]) -
                               m[1] * (m[3] * m[8] - m[5] * m[6]) +
                               m[2] * (m[3] * m[7] - m[4] * m[6]);
    return grid.spacing[0] * grid.spacing[1] * grid.spacing[2] * std::abs(determinant);
}

// A figure as a CSV field: 10 significant digits, empty where there is none.
QString numberField(double value)
{
    return std::isfinite(value) ? QString::number(value, 'g', 10) : QString();
}

QString textField(const QString &text)
{
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\n')) && !text.contains(QLatin1Char('\r')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1String("\""), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

} // namespace

std::vector<RegionStatistics> labelStatistics(const Volume &base, const Volume &labels,
                                              const LabelTable &table)
{
    const LayerSampler sampler(base, labels, LayerSampler::Interpolation::Nearest);
    if (!sampler.isValid())
        return {};
    const std::array<int, 3> size = fullResolutionSize(base);
    std::map<int, Accumulator> regions;
    // Labels come in runs along a row: the last one found saves most look-ups.
    int lastLabel = 0;
    Accumulator *last = nullptr;
    for (int z = 0; z < size[2]; ++z)
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x) {
                const double value = fileValueAt(base, {{x, y, z}});
                // A value that is not a number (a non-finite sample of the
                // file) has no place in a mean or an order: the voxel counts
                // nowhere, not even in its label's voxels.
                if (std::isnan(value))
                    continue;
                const double labelValue =
                    std::round(sampler.valueAt({{double(x), double(y), double(z)}}));
                // Not a number outside the label map; 0 is the background.
                if (!(labelValue >= 1.0 && labelValue <= double(LabelTables::maximumValue)))
                    continue;
                const int label = int(labelValue);
                if (!last || label != lastLabel) {
                    last = &regions[label];
                    lastLabel = label;
                }
                last->add(value);
            }

    const double cellVolume = voxelVolume(base);
    std::vector<RegionStatistics> rows;
    rows.reserve(regions.size());
    for (auto &[label, accumulator] : regions) {
        RegionStatistics row = accumulator.finish(cellVolume);
        row.label = label;
        if (const Label *entry = table.find(label))
            row.name = entry->name;
        rows.push_back(std::move(row));
        // The values are done with: give their memory back as we go.
        accumulator = Accumulator();
    }
    return rows;
}

RegionStatistics boxStatistics(const Volume &base, const CropBox &box)
{
    const CropBox bounds = normalisedCropBox(box);
    const std::array<int, 3> size = fullResolutionSize(base);
    // The voxels of each axis whose centres lie within the bounds, judged by
    // the centres themselves so that a bound on a centre keeps that voxel.
    std::array<int, 3> first{};
    std::array<int, 3> end{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const auto inside = [&](int i) {
            const double centre = (double(i) + 0.5) / double(size[axis]);
            return centre >= bounds.lower[axis] && centre <= bounds.upper[axis];
        };
        first[axis] = 0;
        while (first[axis] < size[axis] && !inside(first[axis]))
            ++first[axis];
        end[axis] = first[axis];
        while (end[axis] < size[axis] && inside(end[axis]))
            ++end[axis];
    }

    Accumulator accumulator;
    for (int z = first[2]; z < end[2]; ++z)
        for (int y = first[1]; y < end[1]; ++y)
            for (int x = first[0]; x < end[0]; ++x) {
                const double value = fileValueAt(base, {{x, y, z}});
                // As for labels: a value that is not a number counts nowhere.
                if (!std::isnan(value))
                    accumulator.add(value);
            }
    return accumulator.finish(voxelVolume(base));
}

QByteArray statisticsCsv(const std::vector<RegionStatistics> &rows)
{
    QString text = QStringLiteral("label,name,voxels,volume_mm3,mean,sd,min,max,median\n");
    for (const RegionStatistics &row : rows) {
        const QStringList fields{
            QString::number(row.label), textField(row.name),      QString::number(row.voxels),
            numberField(row.volumeMm3), numberField(row.mean),    numberField(row.sd),
            numberField(row.minimum),   numberField(row.maximum), numberField(row.median)};
        text += fields.join(QLatin1Char(',')) + QLatin1Char('\n');
    }
    return text.toUtf8();
}

bool writeStatisticsCsv(const QString &fileName, const std::vector<RegionStatistics> &rows,
                        QString *reason)
{
    const QByteArray bytes = statisticsCsv(rows);
    // Written aside and renamed, so a failed save never leaves half a file
    // where a good one was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *reason = QString("%1 cannot be written (%2)").arg(fileName, file.errorString());
        return false;
    }
    return true;
}
