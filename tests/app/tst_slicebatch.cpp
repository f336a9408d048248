#include "commandline.h"
#include "scanwriter.h"
#include "slicebatch.h"
#include "volume.h"
#include "volumefile.h"

#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sstream>

using Axes = std::array<int, 3>;
Q_DECLARE_METATYPE(Axes)

namespace {

// The test object in LPS voxels (12 x 10 x 14, 1 x 1 x 2 mm): a dim body and
// a bright 2 x 2 x 2 marker at the patient's right, anterior and superior
// (low x, low y, high z), so every correct slice through it shows the marker
// in the image's top-left quarter.
constexpr int lpsSize[3] = {12, 10, 14};
const VoxelIndex markerVoxel{{2, 1, 11}};

float objectValue(int x, int y, int z)
{
    if (x >= 2 && x <= 3 && y >= 1 && y <= 2 && z >= 11 && z <= 12)
        return 1000.0f;
    return (x + y + z) % 3 == 0 ? 100.0f : 50.0f;
}

// The object stored with its index axes along the given LPS axes (sign: the
// direction the stored index grows, +1 along L, P or S, -1 against).
TestScan storedObject(const std::array<int, 3> &lpsAxisOfStored, const std::array<int, 3> &sign)
{
    TestScan scan;
    scan.direction.fill(0.0);
    const std::array<double, 3> spacing{{1.0, 1.0, 2.0}};
    for (int i = 0; i < 3; ++i) {
        const int axis = lpsAxisOfStored[std::size_t(i)];
        scan.size[std::size_t(i)] = std::size_t(lpsSize[axis]);
        scan.spacing[std::size_t(i)] = spacing[std::size_t(axis)];
        scan.direction[std::size_t(3 * axis + i)] = sign[std::size_t(i)];
    }
    for (std::size_t k = 0; k < scan.size[2]; ++k)
        for (std::size_t j = 0; j < scan.size[1]; ++j)
            for (std::size_t i = 0; i < scan.size[0]; ++i) {
                const std::size_t stored[3] = {i, j, k};
                int lps[3] = {};
                for (int s = 0; s < 3; ++s) {
                    const int axis = lpsAxisOfStored[std::size_t(s)];
                    lps[axis] = sign[std::size_t(s)] > 0 ? int(stored[s])
                                                         : lpsSize[axis] - 1 - int(stored[s]);
                }
                scan.values.push_back(objectValue(lps[0], lps[1], lps[2]));
            }
    return scan;
}

} // namespace

class TestSliceBatch : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void markerTopLeftInEveryPlane_data();
    void markerTopLeftInEveryPlane();
    void commandLine_data();
    void commandLine();

private:
    QTemporaryDir dir;
};

void TestSliceBatch::markerTopLeftInEveryPlane_data()
{
    QTest::addColumn<QString>("storage");
    QTest::addColumn<Axes>("axes");
    QTest::addColumn<Axes>("signs");
    QTest::addColumn<QString>("plane");
    for (const char *plane : {"axial", "coronal", "sagittal"}) {
        QTest::addRow("LPS %s", plane) << "LPS" << Axes{{0, 1, 2}} << Axes{{1, 1, 1}} << plane;
        QTest::addRow("RAS %s", plane) << "RAS" << Axes{{0, 1, 2}} << Axes{{-1, -1, 1}} << plane;
        // Stored i along P, j along I, k along R.
        QTest::addRow("PIR %s", plane) << "PIR" << Axes{{1, 2, 0}} << Axes{{1, -1, -1}} << plane;
    }
}

void TestSliceBatch::markerTopLeftInEveryPlane()
{
    QFETCH(QString, storage);
    QFETCH(Axes, axes);
    QFETCH(Axes, signs);
    QFETCH(QString, plane);
    const QString path = dir.filePath(storage + ".nii");
    QVERIFY(writeScanWithItk(path.toStdString(), storedObject(axes, signs)));
    Volume volume;
    std::ostringstream out, err;
    QVERIFY(readVolumeFile(path.toStdString(), volume, out, err, VolumeReadOptions()).ok);

    SliceRequest request;
    const int normal = plane == "axial" ? 2 : plane == "coronal" ? 1 : 0;
    QVERIFY(parseSlicePlane(QString("%1:%2").arg(plane).arg(markerVoxel[std::size_t(normal)]),
                            &request));
    QString reason;
    const QImage image = sliceOutputImage(volume, request, &reason);
    QVERIFY2(!image.isNull(), qPrintable(reason));
    // One pixel per mm: Z's 2 mm voxels take two rows.
    const QSize expected[] = {QSize(10, 28), QSize(12, 28), QSize(12, 10)};
    QCOMPARE(image.size(), expected[normal]);

    // The marker is the only white: all of it lies in the top-left quarter.
    int inTopLeft = 0, elsewhere = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qRed(image.pixel(x, y)) == 255)
                (x < image.width() / 2 && y < image.height() / 2 ? inTopLeft : elsewhere)++;
    QVERIFY2(inTopLeft > 0 && elsewhere == 0,
             qPrintable(
                 QString("%1 marker pixels top left, %2 elsewhere").arg(inTopLeft).arg(elsewhere)));

    // The middle slice by default, magnified by whole numbers; one past the
    // last is refused.
    request.index = -1;
    QCOMPARE(sliceOutputImage(volume, request, &reason).size(), expected[normal]);
    const QImage plain = sliceOutputImage(volume, request, &reason);
    request.scale = 3;
    const QImage magnified = sliceOutputImage(volume, request, &reason);
    QCOMPARE(magnified.size(), expected[normal] * 3);
    for (const QPoint &pixel : {QPoint(0, 0), QPoint(4, 7)}) // a flat patch per pixel
        for (int d = 0; d < 3; ++d)
            QCOMPARE(magnified.pixel(3 * pixel.x() + d, 3 * pixel.y() + 2 - d), plain.pixel(pixel));
    request.scale = 1;
    request.index = lpsSize[normal];
    QVERIFY(sliceOutputImage(volume, request, &reason).isNull());
    QVERIFY(reason.contains("does not exist"));
}

void TestSliceBatch::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("error"); // empty: accepted
    const QStringList base{"kelvara", "a.nii", "--output", "o.png"};
    QTest::newRow("plane and index") << base + QStringList{"--slice", "coronal:7"} << "";
    QTest::newRow("window") << base + QStringList{"--slice", "axial", "--window", "80,40"} << "";
    QTest::newRow("auto") << base + QStringList{"--slice", "axial", "--window", "auto"} << "";
    QTest::newRow("unknown plane") << base + QStringList{"--slice", "oblique"} << "bad --slice";
    QTest::newRow("negative index") << base + QStringList{"--slice", "axial:-1"} << "bad --slice";
    QTest::newRow("zero window") << base + QStringList{"--slice", "axial", "--window", "0,40"}
                                 << "bad --window";
    QTest::newRow("window alone") << base + QStringList{"--window", "80,40"} << "needs --slice";
    QTest::newRow("rendering option")
        << base + QStringList{"--slice", "axial", "--zoom", "2"} << "--zoom applies to renderings";
    QTest::newRow("no output") << QStringList{"kelvara", "a.nii", "--slice", "axial"}
                               << "need --output";
    QTest::newRow("scale") << base + QStringList{"--slice", "axial", "--scale", "3"} << "";
    QTest::newRow("scale too large")
        << base + QStringList{"--slice", "axial", "--scale", "17"} << "bad --scale";
    QTest::newRow("layout with slice")
        << base + QStringList{"--slice", "axial", "--layout", "four"} << "--layout four draws";
}

void TestSliceBatch::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, error);
    const CommandLine parsed = parseCommandLine(arguments);
    if (error.isEmpty()) {
        QCOMPARE(parsed.mode, CommandLine::Mode::Batch);
        QVERIFY(parsed.slice.has_value());
        QCOMPARE(parsed.slice->scale, arguments.contains("--scale") ? 3 : 1);
    } else {
        QCOMPARE(parsed.mode, CommandLine::Mode::UsageError);
        QVERIFY2(parsed.text.contains(error), qPrintable(parsed.text));
    }
}

QTEST_MAIN(TestSliceBatch)
#include "tst_slicebatch.moc"
