#include "imagegrid.h"
#include "scanwriter.h"
#include "slicegeometry.h"
#include "volume.h"
#include "volumefile.h"
#include "volumegrid.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <sstream>

using Directions = std::array<double, 9>; // LPS columns, row-major
Q_DECLARE_METATYPE(Directions)

namespace {

// An oblique, sheared grid: every term of the arithmetic shows.
ImageGrid skewGrid()
{
    ImageGrid grid;
    grid.origin = {{12.5, -40.0, 7.25}};
    grid.spacing = {{0.8, 1.5, 3.0}};
    const double c = std::cos(0.3), s = std::sin(0.3);
    grid.direction = {{c, -s, 0.1, s, c, 0.0, 0.0, 0.0, 0.995}};
    return grid;
}

void compareNear(const std::array<double, 3> &actual, const std::array<double, 3> &expected)
{
    for (std::size_t axis = 0; axis < 3; ++axis)
        QVERIFY2(std::fabs(actual[axis] - expected[axis]) < 1e-9,
                 qPrintable(QString("axis %1: %2, expected %3")
                                .arg(axis)
                                .arg(actual[axis])
                                .arg(expected[axis])));
}

} // namespace

class TestImageGrid : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QTest::failOnWarning(QRegularExpression(".*")); }
    void worldAndIndexAreInverse();
    void everyTurnKeepsEveryVoxelInPlace();
    void levelsLieAtTheCentreOfTheirCubes();
    void orientationCodes_data();
    void orientationCodes();
    void originThatIsNoNumberIsPlacedAtZero();
    void readoutNamesTheFilesVoxelInRas();
};

void TestImageGrid::worldAndIndexAreInverse()
{
    const ImageGrid grid = skewGrid();
    const std::array<double, 3> index{{3.0, -1.5, 10.25}};
    compareNear(*grid.indexOf(grid.worldOf(index)), index);
    const std::array<double, 16> m = grid.matrix();
    const std::array<double, 3> world = grid.worldOf(index);
    for (std::size_t row = 0; row < 3; ++row)
        QVERIFY(std::fabs(m[4 * row] * index[0] + m[4 * row + 1] * index[1] +
                          m[4 * row + 2] * index[2] + m[4 * row + 3] - world[row]) < 1e-9);
    // RAS differs from LPS in x and y only.
    const std::array<double, 16> ras = rasMatrixOf(grid);
    QCOMPARE(ras[3], -m[3]);
    QCOMPARE(ras[7], -m[7]);
    QCOMPARE(ras[11], m[11]);

    ImageGrid flat = grid;
    flat.direction = {{1, 1, 0, 0, 0, 0, 0, 0, 1}};
    QVERIFY(!flat.indexOf({{0.0, 0.0, 0.0}}));
}

// Whatever permutation and flips a scan needs, the shown grid, the file's grid
// recovered from a volume, and the index maps agree on where every voxel is.
void TestImageGrid::everyTurnKeepsEveryVoxelInPlace()
{
    const ImageGrid file = skewGrid();
    const std::array<std::size_t, 3> storedSize{{4, 3, 5}};
    std::array<int, 3> permutation{{0, 1, 2}};
    do {
        for (int flips = 0; flips < 8; ++flips) {
            Reorientation turn;
            turn.sourceAxis = permutation;
            for (std::size_t axis = 0; axis < 3; ++axis)
                turn.flipped[axis] = (flips >> axis) & 1;
            Volume volume;
            const ImageGrid shown = file.turned(turn, storedSize);
            const std::array<std::size_t, 3> size = reorientedAxes(storedSize, turn);
            volume.width = int(size[0]);
            volume.height = int(size[1]);
            volume.depth = int(size[2]);
            volume.data.assign(size[0] * size[1] * size[2], 0.0f);
            volume.spacing = shown.spacing;
            volume.worldOrigin = shown.origin;
            volume.worldDirection = shown.direction;
            volume.fileAxes = turn;
            QCOMPARE(fileSize(volume), (std::array<int, 3>{{4, 3, 5}}));
            const ImageGrid recovered = fileGrid(volume);
            for (int x = 0; x < volume.width; ++x)
                for (int z = 0; z < volume.depth; ++z) {
                    const std::array<int, 3> voxel{{x, 1, z}};
                    const std::array<int, 3> stored = fileIndexOf(volume, voxel);
                    QCOMPARE(voxelOfFileIndex(volume, stored), voxel);
                    const std::array<double, 3> storedIndex{
                        {double(stored[0]), double(stored[1]), double(stored[2])}};
                    const std::array<double, 3> world = file.worldOf(storedIndex);
                    compareNear(shown.worldOf({{double(x), 1.0, double(z)}}), world);
                    compareNear(recovered.worldOf(storedIndex), world);
                    QCOMPARE(voxelAtWorld(volume, world), std::optional(voxel));
                }
        }
    } while (std::next_permutation(permutation.begin(), permutation.end()));
}

void TestImageGrid::levelsLieAtTheCentreOfTheirCubes()
{
    const ImageGrid grid = skewGrid();
    const ImageGrid level = grid.coarsened(2, {{8, 0, 4}});
    // Coarse voxel (1, 0, 0) covers fine voxels 12..15 along i.
    compareNear(level.worldOf({{1.0, 0.0, 0.0}}), grid.worldOf({{13.5, 1.5, 5.5}}));
    QCOMPARE(level.spacing[2], 12.0);
    // A region at full resolution is the same grid moved.
    compareNear(grid.coarsened(0, {{2, 3, 4}}).origin, grid.worldOf({{2.0, 3.0, 4.0}}));
}

void TestImageGrid::orientationCodes_data()
{
    QTest::addColumn<QString>("code");
    QTest::addColumn<Directions>("direction");
    QTest::newRow("RAS") << "RAS" << Directions{{-1, 0, 0, 0, -1, 0, 0, 0, 1}};
    QTest::newRow("LAS") << "LAS" << Directions{{1, 0, 0, 0, -1, 0, 0, 0, 1}};
    QTest::newRow("LPS") << "LPS" << Directions{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    QTest::newRow("PIR") << "PIR" << Directions{{0, 0, -1, 1, 0, 0, 0, -1, 0}};
    QTest::newRow("tilted LPI") << "LPI" << Directions{{0.9, 0.3, 0, -0.3, 0.9, 0, 0, 0, -1}};
}

void TestImageGrid::orientationCodes()
{
    QFETCH(QString, code);
    QFETCH(Directions, direction);
    QCOMPARE(QString::fromStdString(orientationCode(direction)), code);
}

void TestImageGrid::originThatIsNoNumberIsPlacedAtZero()
{
    const ImageGrid grid = skewGrid();
    std::vector<std::string> warnings;
    const ScanPlacement placed =
        placeScan({{2, 2, 2}}, {{1, 1, 1}}, grid.direction, {{NAN, 0, 0}}, warnings);
    QCOMPARE(placed.file.origin, (std::array<double, 3>{{0.0, 0.0, 0.0}}));
    QVERIFY(std::any_of(warnings.begin(), warnings.end(), [](const std::string &warning) {
        return warning.find("not a number; it is placed at 0 mm") != std::string::npos;
    }));
}

// A file stored right to left with an origin of its own: the readout names
// the file's own index and the RAS position other tools give.
void TestImageGrid::readoutNamesTheFilesVoxelInRas()
{
    QTemporaryDir dir;
    TestScan scan;
    scan.size = {{4, 3, 2}};
    scan.spacing = {{2.0, 1.5, 3.0}};
    scan.direction = {{-1, 0, 0, 0, 1, 0, 0, 0, 1}}; // i towards the right
    scan.origin = {{10.0, 20.0, 30.0}};
    for (int i = 0; i < 24; ++i)
        scan.values.push_back(float(100 + i));
    const QString path = dir.filePath("right-to-left.nii");
    QVERIFY(writeScanWithItk(path.toStdString(), scan));
    Volume volume;
    std::ostringstream out, err;
    QVERIFY2(
        readVolumeFile(QFile::encodeName(path).toStdString(), volume, out, err, VolumeReadOptions())
            .ok,
        err.str().c_str());
    // Shown X runs to the left: file index i = 3 - x.
    const std::array<int, 3> fileVoxel{{1, 2, 1}};
    const std::array<int, 3> shown = voxelOfFileIndex(volume, fileVoxel);
    QCOMPARE(shown, (std::array<int, 3>{{2, 2, 1}}));
    // LPS (10 - 2, 20 + 3, 30 + 3): RAS (-8, -23, 33).
    QCOMPARE(voxelReadout(volume, shown), QString("Voxel (1, 2, 1)  RAS (-8.0, -23.0, 33.0) mm  "
                                                  "Value 121"));
}

QTEST_APPLESS_MAIN(TestImageGrid)
#include "tst_imagegrid.moc"
