#include "datheader.h"
#include "mappedscan.h"
#include "scanwriter.h"
#include "slicegeometry.h"
#include "slicegrid.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "slicingview.h"
#include "volume.h"
#include "volumefile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <map>
#include <sstream>

using Triple = std::array<int, 3>;
Q_DECLARE_METATYPE(Triple)

namespace {

// Odd sizes, so level 1's last coarse voxels reach beyond the file, and
// samples above 4095, which DAT values clamp. The NIfTI file stores the same
// samples with anisotropic voxels, X flipped and Y and Z swapped against LPS.
constexpr Triple fileSize{{7, 5, 6}};

std::uint16_t sampleAt(int x, int y, int z)
{
    return std::uint16_t((x * 613 + y * 1021 + z * 2203) % 4600);
}

} // namespace

// The slice side of a volume read through a store shows what the same file
// loaded whole shows, whichever reduced level or region the 3D view holds.
class TestFullResolution : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void slicesMatchTheWholeVolume_data();
    void slicesMatchTheWholeVolume();
    void mappingsRoundTrip_data();
    void mappingsRoundTrip();

private:
    QTemporaryDir folder;
    // By file name: the file loaded whole, and opened as a store.
    std::map<QString, Volume> wholes;
    std::map<QString, std::shared_ptr<MappedScan>> scans;
};

void TestFullResolution::initTestCase()
{
    QVERIFY(folder.isValid());
    QByteArray bytes = datHeader(fileSize[0], fileSize[1], fileSize[2]);
    TestScan nifti;
    nifti.size = {{std::size_t(fileSize[0]), std::size_t(fileSize[1]), std::size_t(fileSize[2])}};
    nifti.spacing = {{0.5, 0.75, 2.0}};
    nifti.direction = {{-1, 0, 0, 0, 0, 1, 0, 1, 0}};
    for (int z = 0; z < fileSize[2]; ++z)
        for (int y = 0; y < fileSize[1]; ++y)
            for (int x = 0; x < fileSize[0]; ++x) {
                const std::uint16_t sample = sampleAt(x, y, z);
                bytes.append(char(sample & 0xff)).append(char(sample >> 8));
                nifti.values.push_back(float(sample));
            }
    QFile file(folder.filePath("coded.dat"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    QVERIFY(writeScanWithItk(folder.filePath("coded.nii").toStdString(), nifti));

    for (const QString name : {"coded.dat", "coded.nii"}) {
        const std::string path = folder.filePath(name).toStdString();
        std::ostringstream out, err;
        QVERIFY(readVolumeFile(path, wholes[name], out, err, VolumeReadOptions()).ok);
        ScanLayout layout;
        QVERIFY(probeScanLayout(path, layout).ok);
        scans[name] = std::make_shared<MappedScan>();
        QVERIFY(scans[name]->open(layout).ok);
    }
}

void TestFullResolution::slicesMatchTheWholeVolume_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<Triple>("lower");
    QTest::addColumn<Triple>("upper");
    QTest::addColumn<QString>("file");
    for (const QString file : {"coded.dat", "coded.nii"}) {
        QTest::addRow("%s level 1", qPrintable(file)) << 1 << Triple{} << Triple{} << file;
        QTest::addRow("%s level 2", qPrintable(file)) << 2 << Triple{} << Triple{} << file;
        QTest::addRow("%s region", qPrintable(file))
            << 0 << Triple{{1, 2, 1}} << Triple{{5, 4, 5}} << file;
    }
}

void TestFullResolution::slicesMatchTheWholeVolume()
{
    QFETCH(int, level);
    QFETCH(Triple, lower);
    QFETCH(Triple, upper);
    QFETCH(QString, file);
    const Volume &whole = wholes[file];
    const std::shared_ptr<MappedScan> &scan = scans[file];
    Volume shown;
    std::ostringstream out;
    QVERIFY(level > 0 ? scan->buildReducedVolume(level, shown, out).ok
                      : scan->buildRegion(lower, upper, shown).ok);
    shown.fullResolution = scan;
    shown.level = level;
    shown.origin = lower;

    const GreyMapping window = GreyMapping::of({1000.0, 1500.0}, whole.valueRange);
    for (int axis = 0; axis < 3; ++axis) {
        QCOMPARE(sliceCount(shown, axis), sliceCount(whole, axis));
        QCOMPARE(sliceDisplaySize(shown, axis, QSize(1000, 1000)),
                 sliceDisplaySize(whole, axis, QSize(1000, 1000)));
        for (int slice = -1; slice <= sliceCount(whole, axis); ++slice) {
            QCOMPARE(makeSliceImage(shown, axis, slice), makeSliceImage(whole, axis, slice));
            QCOMPARE(makeSliceImage(shown, axis, slice, window),
                     makeSliceImage(whole, axis, slice, window));
        }
    }
    for (SlicePlane plane : {SlicePlane::Axial, SlicePlane::Coronal, SlicePlane::Sagittal}) {
        const SliceGeometry geometry = SliceGeometry::of(shown, plane);
        QCOMPARE(geometry.physicalSize(), SliceGeometry::of(whole, plane).physicalSize());
        for (int slice = 0; slice < geometry.sliceCount(); ++slice)
            QCOMPARE(makePlaneImage(shown, geometry, slice, window),
                     makePlaneImage(whole, geometry, slice, window));
    }
    QCOMPARE(centreVoxel(shown), centreVoxel(whole));
    for (int z = 0; z <= whole.depth; ++z)
        for (int y = 0; y < whole.height; ++y)
            for (int x = 0; x < whole.width; ++x)
                QCOMPARE(voxelReadout(shown, {{x, y, z}}), voxelReadout(whole, {{x, y, z}}));

    // The views read the same: the session's cursor spans the full grid, the
    // single slice view paints a full-resolution slice.
    SliceSession session, wholeSession;
    session.setVolume(&shown);
    wholeSession.setVolume(&whole);
    session.setCursor({{99, 99, 99}});
    wholeSession.setCursor({{99, 99, 99}});
    QCOMPARE(session.cursor(), (VoxelIndex{{whole.width - 1, whole.height - 1, whole.depth - 1}}));
    QCOMPARE(session.cursorMillimetres(), wholeSession.cursorMillimetres());
    SlicingView view;
    view.volume = &shown;
    view.axis = SliceAxisY;
    view.slice = 3;
    view.resize(70, 60);
    view.grab();
    QCOMPARE(view.sliceImage(), makeSliceImage(whole, SliceAxisY, 3));
}

void TestFullResolution::mappingsRoundTrip_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<Triple>("origin");
    QTest::addColumn<Triple>("dataSize");
    // The pick of data's last voxel: its cube's centre, clamped into the file.
    QTest::addColumn<Triple>("lastPick");
    QTest::newRow("held whole") << 0 << Triple{} << fileSize << Triple{{6, 4, 5}};
    QTest::newRow("level 1") << 1 << Triple{} << Triple{{4, 3, 3}} << Triple{{6, 4, 5}};
    QTest::newRow("level 2") << 2 << Triple{} << Triple{{2, 2, 2}} << Triple{{6, 4, 5}};
    QTest::newRow("region") << 0 << Triple{{1, 2, 1}} << Triple{{4, 2, 5}} << Triple{{4, 3, 5}};
    QTest::newRow("region of level 1")
        << 1 << Triple{{2, 0, 4}} << Triple{{2, 2, 1}} << Triple{{5, 3, 5}};
}

void TestFullResolution::mappingsRoundTrip()
{
    QFETCH(int, level);
    QFETCH(Triple, origin);
    QFETCH(Triple, dataSize);
    QFETCH(Triple, lastPick);
    SliceGrid grid;
    grid.dimensions = fileSize;
    grid.dataDimensions = dataSize;
    grid.level = level;
    grid.origin = origin;

    // A pick lands inside the full grid, and back on the voxel picked.
    for (int z = 0; z < dataSize[2]; ++z)
        for (int y = 0; y < dataSize[1]; ++y)
            for (int x = 0; x < dataSize[0]; ++x) {
                const Triple picked{{x, y, z}};
                const Triple full = grid.fullVoxelOf(picked);
                const QVector3D back = grid.dataPositionOf(full);
                for (std::size_t a = 0; a < 3; ++a) {
                    QVERIFY(full[a] >= 0 && full[a] < fileSize[a]);
                    QCOMPARE(int(std::lround(back[int(a)])), picked[a]);
                }
            }
    QCOMPARE(grid.fullVoxelOf({{dataSize[0] - 1, dataSize[1] - 1, dataSize[2] - 1}}), lastPick);
    // A slice lands in the data voxel that holds it; outside a region at the
    // face it lies beyond.
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t a = std::size_t(axis);
        for (int slice = 0; slice < fileSize[a]; ++slice) {
            const double fraction = grid.dataFractionOf(axis, slice);
            const int coarse = (slice - origin[a]) >> level;
            if (coarse < 0)
                QCOMPARE(fraction, 0.0);
            else if (coarse >= dataSize[a])
                QCOMPARE(fraction, 1.0);
            else
                QCOMPARE(int(std::floor(fraction * dataSize[a])), coarse);
            if (level == 0 && origin[a] == 0)
                QCOMPARE(fraction, (slice + 0.5) / fileSize[a]);
        }
        QCOMPARE(grid.dataFractionOf(axis, -5), grid.dataFractionOf(axis, 0));
    }
}

QTEST_MAIN(TestFullResolution)
#include "tst_fullresolution.moc"
