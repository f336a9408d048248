// Region statistics: a label's figures are those of the base voxels that the
// world geometry puts in its voxels; a box keeps the voxels whose centres lie
// within it.

#include "imagegrid.h"
#include "labeltable.h"
#include "regionstatistics.h"
#include "viewsettings.h"
#include "volume.h"
#include "volumegrid.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>

using Voxel = std::array<int, 3>;

namespace {

Volume placedVolume(const Voxel &size, const ImageGrid &grid, double maximum,
                    double (*value)(int, int, int))
{
    Volume volume;
    volume.width = size[0];
    volume.height = size[1];
    volume.depth = size[2];
    volume.spacing = grid.spacing;
    volume.worldOrigin = grid.origin;
    volume.worldDirection = grid.direction;
    volume.valueRange = {-maximum, maximum};
    volume.data.clear();
    for (int z = 0; z < size[2]; ++z)
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x)
                volume.data.push_back(float((value(x, y, z) + maximum) / (2.0 * maximum)));
    return volume;
}

// Some base values are not numbers. The second axis is sheared: a voxel is
// 1 x 1.25 x 2 mm, times 0.8.
constexpr double baseCell = 2.0;
double baseValue(int x, int y, int z)
{
    return (x + y + z) % 11 == 0 ? std::numeric_limits<double>::quiet_NaN()
                                 : 3.0 * x * x - 5.0 * y + 11.0 * z + (x * y) % 7 - 20.0;
}
Volume baseVolume()
{
    return placedVolume({9, 8, 6},
                        {{-4.0, 2.0, 1.5}, {1.0, 1.25, 2.0}, {1, 0.6, 0, 0, 0.8, 0, 0, 0, 1}},
                        400.0, baseValue);
}

// Coarser label voxels over part of the base, the first axis against the
// base's X, the others exchanged; every base centre lies at least a fortieth
// of a label voxel off a boundary (checked below). Over -100..100 the labels
// come back from the normalised floats just below whole numbers: only
// rounding finds them.
constexpr Voxel labelSize{{5, 4, 6}};
double labelOf(int x, int y, int z)
{
    return (x + 2 * y + z) % 5;
}

bool near(double actual, double expected)
{
    return std::abs(actual - expected) <= 1.0e-6 * std::max(1.0, std::abs(expected));
}

// The figures of two or more values worked out the plain way: sums after a
// full sort.
void compareWith(const RegionStatistics &actual, std::vector<double> values)
{
    const std::size_t n = values.size();
    std::sort(values.begin(), values.end());
    double mean = 0.0;
    double squares = 0.0;
    for (const double value : values)
        mean += value / double(n);
    for (const double value : values)
        squares += (value - mean) * (value - mean);
    QCOMPARE(actual.voxels, std::uint64_t(n));
    QVERIFY(near(actual.volumeMm3, double(n) * baseCell));
    QVERIFY(near(actual.mean, mean) && near(actual.sd, std::sqrt(squares / double(n - 1))));
    QVERIFY(near(actual.minimum, values.front()) && near(actual.maximum, values.back()));
    QVERIFY(near(actual.median, 0.5 * (values[(n - 1) / 2] + values[n / 2])));
}

} // namespace

class TestRegionStatistics : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void labelsTakeTheBaseVoxelsTheWorldPutsInThem();
    void boxKeepsVoxelsWhoseCentresLieWithin();
    void csvQuotesOnlyWhereNeeded();
};

void TestRegionStatistics::labelsTakeTheBaseVoxelsTheWorldPutsInThem()
{
    const Volume base = baseVolume();
    const Volume labels =
        placedVolume(labelSize, {{7.3, 0.1, 3.2}, {2.0, 1.5, 2.5}, {-1, 0, 0, 0, 0, 1, 0, 1, 0}},
                     100.0, labelOf);
    LabelTable table;
    table.labels() = {{1, "Left, grey", Qt::red, true}, {2, "white", Qt::white, true}};

    std::map<int, std::vector<double>> expected;
    int notNumbersUnderLabels = 0;
    for (int z = 0; z < base.depth; ++z)
        for (int y = 0; y < base.height; ++y)
            for (int x = 0; x < base.width; ++x) {
                const std::array<double, 3> index = *fullResolutionGrid(labels).indexOf(
                    fullResolutionGrid(base).worldOf({double(x), double(y), double(z)}));
                Voxel nearest{};
                bool inside = true;
                for (std::size_t a = 0; a < 3; ++a) {
                    QVERIFY(std::abs(index[a] - std::floor(index[a]) - 0.5) > 0.02);
                    nearest[a] = int(std::floor(index[a] + 0.5));
                    inside = inside && nearest[a] >= 0 && nearest[a] < labelSize[a];
                }
                const int label = inside ? int(labelOf(nearest[0], nearest[1], nearest[2])) : 0;
                const double value = fileValueAt(base, {{x, y, z}});
                notNumbersUnderLabels += label != 0 && std::isnan(value);
                if (label != 0 && !std::isnan(value))
                    expected[label].push_back(value);
            }
    QVERIFY(notNumbersUnderLabels > 0);

    const std::vector<RegionStatistics> rows = labelStatistics(base, labels, table);
    QCOMPARE(rows.size(), std::size_t(4));
    std::size_t evenCounts = 0;
    for (std::size_t i = 0; i < rows.size(); ++i) {
        QCOMPARE(rows[i].label, int(i) + 1);
        QCOMPARE(rows[i].name, i < 2 ? table.labels()[i].name : QString());
        compareWith(rows[i], expected[rows[i].label]);
        if (QTest::currentTestFailed())
            return;
        evenCounts += rows[i].voxels % 2 == 0;
    }
    QVERIFY(evenCounts > 0 && evenCounts < rows.size()); // both kinds of median
}

void TestRegionStatistics::boxKeepsVoxelsWhoseCentresLieWithin()
{
    const Volume base = baseVolume();
    // Bounds on centres keep those voxels: X 0..5, Z 1..4.
    std::vector<double> values;
    for (int z = 1; z <= 4; ++z)
        for (int y = 0; y < base.height; ++y)
            for (int x = 0; x <= 5; ++x)
                if (const double value = fileValueAt(base, {{x, y, z}}); !std::isnan(value))
                    values.push_back(value);
    compareWith(boxStatistics(base, {{0.5 / 9, 0.0, 1.5 / 6}, {5.5 / 9, 1.0, 4.5 / 6}}), values);

    const RegionStatistics one =
        boxStatistics(base, {{3.5 / 9, 2.5 / 8, 0.5 / 6}, {3.5 / 9, 2.5 / 8, 0.5 / 6}});
    QCOMPARE(one.voxels, std::uint64_t(1));
    QCOMPARE(one.sd, 0.0);
    QCOMPARE(one.median, fileValueAt(base, {{3, 2, 0}}));
    // An inverted axis keeps nothing (no X centre lies at its lower bound).
    const RegionStatistics none = boxStatistics(base, {{0.9, 0.0, 0.0}, {0.1, 1.0, 1.0}});
    QVERIFY(none.voxels == 0 && std::isnan(none.mean) && none.label == 0 && none.name.isEmpty());
}

void TestRegionStatistics::csvQuotesOnlyWhereNeeded()
{
    constexpr double none = std::numeric_limits<double>::quiet_NaN();
    const std::vector<RegionStatistics> rows{
        {1, "Left, \"grey\"", 3, 7.5, 1.0 / 3.0, 2.0, -1.5, 100.0, 0.25},
        {0, QString(), 0, 0.0, none, none, none, none, none}};
    const QByteArray csv = statisticsCsv(rows);
    QCOMPARE(csv, QByteArray("label,name,voxels,volume_mm3,mean,sd,min,max,median\n"
                             "1,\"Left, \"\"grey\"\"\",3,7.5,0.3333333333,2,-1.5,100,0.25\n"
                             "0,,0,0,,,,,\n"));

    QTemporaryDir folder;
    QString reason;
    QVERIFY(writeStatisticsCsv(folder.filePath("regions.csv"), rows, &reason));
    QFile written(folder.filePath("regions.csv"));
    QVERIFY(written.open(QIODevice::ReadOnly) && written.readAll() == csv);
    const QString unwritable = folder.filePath("missing/regions.csv");
    QVERIFY(!writeStatisticsCsv(unwritable, rows, &reason));
    QVERIFY2(reason.contains(unwritable), qPrintable(reason));
}

QTEST_GUILESS_MAIN(TestRegionStatistics)
#include "tst_regionstatistics.moc"
