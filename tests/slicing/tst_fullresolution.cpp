#include "datheader.h"
#include "mappedscan.h"
#include "slicegeometry.h"
#include "slicegrid.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "volume.h"
#include "volumefile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <sstream>

using Triple = std::array<int, 3>;

// The slice side of a volume read through a store shows what the same file
// loaded whole shows, whichever reduced level or region the 3D view holds.
class TestFullResolution : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void slicesMatchTheWholeVolume_data();
    void slicesMatchTheWholeVolume();
    void mappingsRoundTrip_data();
    void mappingsRoundTrip();
};

// Odd sizes, so level 1's last coarse voxels reach beyond the file; samples
// above 4095, which DAT values clamp.
constexpr Triple fileSize{{7, 5, 6}};

void TestFullResolution::slicesMatchTheWholeVolume_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<Triple>("lower"); // of a region
    QTest::addColumn<Triple>("upper");
    QTest::newRow("level 1") << 1 << Triple{} << Triple{};
    QTest::newRow("region") << 0 << Triple{{1, 2, 1}} << Triple{{5, 4, 5}};
}

void TestFullResolution::slicesMatchTheWholeVolume()
{
    QFETCH(int, level);
    QFETCH(Triple, lower);
    QFETCH(Triple, upper);
    QTemporaryDir folder;
    const std::string path = folder.filePath("coded.dat").toStdString();
    QByteArray bytes = datHeader(fileSize[0], fileSize[1], fileSize[2]);
    for (int i = 0; i < fileSize[0] * fileSize[1] * fileSize[2]; ++i)
        bytes.append(char(i * 613 % 256)).append(char(i * 7 % 18));
    QFile file(QString::fromStdString(path));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    Volume whole, shown;
    std::ostringstream out;
    QVERIFY(readVolumeFile(path, whole, out, out, VolumeReadOptions()).ok);
    ScanLayout layout;
    auto scan = std::make_shared<MappedScan>();
    QVERIFY(probeScanLayout(path, layout).ok && scan->open(layout).ok);
    QVERIFY(level > 0 ? scan->buildReducedVolume(level, shown, out).ok
                      : scan->buildRegion(lower, upper, shown).ok);
    shown.fullResolution = scan;
    shown.level = level;
    shown.origin = lower;

    for (int axis = 0; axis < 3; ++axis) {
        QCOMPARE(sliceCount(shown, axis), fileSize[std::size_t(axis)]);
        QCOMPARE(sliceDisplaySize(shown, axis, QSize(9, 9)),
                 sliceDisplaySize(whole, axis, QSize(9, 9)));
        for (int slice = -1; slice <= fileSize[std::size_t(axis)]; ++slice)
            QCOMPARE(makeSliceImage(shown, axis, slice), makeSliceImage(whole, axis, slice));
    }
    const GreyMapping window = GreyMapping::of({1000.0, 1500.0}, whole.valueRange);
    for (SlicePlane plane : {SlicePlane::Axial, SlicePlane::Coronal, SlicePlane::Sagittal}) {
        const SliceGeometry geometry = SliceGeometry::of(shown, plane);
        QCOMPARE(geometry.physicalSize(), SliceGeometry::of(whole, plane).physicalSize());
        for (int slice = 0; slice < geometry.sliceCount(); ++slice)
            QCOMPARE(makePlaneImage(shown, geometry, slice, window),
                     makePlaneImage(whole, geometry, slice, window));
    }
    QCOMPARE(centreVoxel(shown), centreVoxel(whole));
    for (int z = 0; z <= fileSize[2]; ++z)
        for (int y = 0; y < fileSize[1]; ++y)
            for (int x = 0; x < fileSize[0]; ++x)
                QCOMPARE(voxelReadout(shown, {{x, y, z}}), voxelReadout(whole, {{x, y, z}}));
    // The cursor spans the full grid, in full-resolution millimetres.
    SliceSession session;
    session.setVolume(&shown);
    session.setCursor({{99, 99, 99}});
    QCOMPARE(session.cursor(), (VoxelIndex{{6, 4, 5}}));
    QCOMPARE(session.cursorWorld(), (std::array<double, 3>{{6.0, 4.0, 5.0}}));
}

void TestFullResolution::mappingsRoundTrip_data()
{
    QTest::addColumn<int>("level");
    QTest::addColumn<Triple>("origin");
    QTest::addColumn<Triple>("dataSize");
    QTest::addColumn<Triple>("lastPick"); // data's last voxel: its cube's centre, clamped
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
    const SliceGrid grid{fileSize, {{1.0, 1.0, 1.0}}, dataSize, level, origin};
    QCOMPARE(grid.fullVoxelOf({{dataSize[0] - 1, dataSize[1] - 1, dataSize[2] - 1}}), lastPick);
    // A pick lands inside the full grid, and maps back onto the voxel picked.
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
    // A slice cuts through the data voxel that holds it; beyond a region, at
    // the face on its side.
    for (std::size_t a = 0; a < 3; ++a)
        for (int slice = -1; slice < fileSize[a]; ++slice) {
            const double fraction = grid.dataFractionOf(int(a), slice);
            const int coarse = (std::max(slice, 0) - origin[a]) >> level;
            QCOMPARE(fraction, coarse < 0 ? 0.0 : coarse >= dataSize[a] ? 1.0 : fraction);
            if (coarse >= 0 && coarse < dataSize[a])
                QCOMPARE(int(std::floor(fraction * dataSize[a])), coarse);
            if (level == 0 && origin[a] == 0) // exactly the cut of a volume held whole
                QCOMPARE(fraction, (std::max(slice, 0) + 0.5) / fileSize[a]);
        }
}

QTEST_MAIN(TestFullResolution)
#include "tst_fullresolution.moc"
