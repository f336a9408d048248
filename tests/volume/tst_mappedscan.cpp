#include "datheader.h"
#include "mappedscan.h"
#include "volume.h"
#include "volumefile.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace {

using Axes = std::array<int, 3>;

// The test volume in LPS order is 5 x 3 x 7 voxels: odd sizes, so that
// levels 1 and 2 have partial cubes at every far edge.
const Axes lpsSize = {{5, 3, 7}};

template <typename T> void append(QByteArray &bytes, T value, bool bigEndian)
{
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    if (bigEndian)
        std::reverse(raw, raw + sizeof(T));
    bytes.append(raw, int(sizeof(T)));
}

template <typename T> void put(QByteArray &bytes, int offset, T value, bool bigEndian)
{
    QByteArray raw;
    append(raw, value, bigEndian);
    bytes.replace(offset, raw.size(), raw);
}

// Stored sample i of each test type: all distinct enough that a wrong voxel,
// flip or byte order shows; DAT samples beyond 12 bits, float NaNs.
QByteArray samples(SampleType type, bool bigEndian, std::uint64_t count)
{
    QByteArray bytes;
    for (std::uint64_t i = 0; i < count; ++i) {
        switch (type) {
        case SampleType::UInt8:
            append(bytes, std::uint8_t((i * 37 + 11) % 256), bigEndian);
            break;
        case SampleType::Int16:
            append(bytes, std::int16_t(i * 7919 % 20000 + 300), bigEndian);
            break;
        case SampleType::Float32:
            append(bytes, i % 17 == 3 ? NAN : float(i) * 0.37f - 5.0f, bigEndian);
            break;
        case SampleType::Float64:
            append(bytes, i % 13 == 5 ? -INFINITY : double(i) * 1.7e306, bigEndian);
            break;
        default:
            append(bytes, std::uint16_t(i * 997 % 8000), bigEndian);
        }
    }
    return bytes;
}

// A NIfTI-1 header for layout, its direction given through the sform in RAS.
QByteArray niftiHeader(const ScanLayout &layout)
{
    const bool big = layout.bigEndian;
    QByteArray bytes(352, '\0');
    put<std::int32_t>(bytes, 0, 348, big);
    put<std::int16_t>(bytes, 40, 3, big);
    for (int i = 0; i < 3; ++i)
        put<std::int16_t>(bytes, 42 + 2 * i, std::int16_t(layout.size[i]), big);
    // NIfTI's codes for the sample types written here.
    int code = 64;
    if (layout.type == SampleType::UInt8)
        code = 2;
    else if (layout.type == SampleType::Int16)
        code = 4;
    else if (layout.type == SampleType::Float32)
        code = 16;
    put<std::int16_t>(bytes, 70, std::int16_t(code), big);
    put<std::int16_t>(bytes, 72, std::int16_t(8 * sampleSize(layout.type)), big);
    put<float>(bytes, 76, 1.0f, big);
    for (int i = 0; i < 3; ++i)
        put<float>(bytes, 80 + 4 * i, float(layout.spacing[i]), big);
    put<float>(bytes, 108, 352.0f, big);
    put<float>(bytes, 112, float(layout.slope), big);
    put<float>(bytes, 116, float(layout.intercept), big);
    put<std::int16_t>(bytes, 254, 1, big);
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            put<float>(bytes, 280 + 16 * row + 4 * column,
                       float((row < 2 ? -1 : 1) * layout.direction[3 * row + column] *
                             layout.spacing[column]),
                       big);
    bytes.replace(344, 4, "n+1\0", 4);
    return bytes;
}

// The mean of the loaded volume over each cube of 2^level voxels per side.
std::vector<double> bruteForceLevel(const Volume &volume, int level)
{
    const int edge = 1 << level;
    const int w = (volume.width + edge - 1) / edge, h = (volume.height + edge - 1) / edge,
              d = (volume.depth + edge - 1) / edge;
    std::vector<double> means;
    for (int cz = 0; cz < d; ++cz)
        for (int cy = 0; cy < h; ++cy)
            for (int cx = 0; cx < w; ++cx) {
                double sum = 0.0;
                int count = 0;
                for (int z = cz * edge; z < std::min(volume.depth, (cz + 1) * edge); ++z)
                    for (int y = cy * edge; y < std::min(volume.height, (cy + 1) * edge); ++y)
                        for (int x = cx * edge; x < std::min(volume.width, (cx + 1) * edge); ++x) {
                            sum +=
                                volume
                                    .data[std::size_t(x + volume.width * (y + volume.height * z))];
                            ++count;
                        }
                means.push_back(sum / count);
            }
    return means;
}

} // namespace

Q_DECLARE_METATYPE(Axes)

class TestMappedScan : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void matchesLoadedVolume_data();
    void matchesLoadedVolume();
    void refusesWhatCannotBeMapped_data();
    void refusesWhatCannotBeMapped();

private:
    QTemporaryDir dir;
};

void TestMappedScan::matchesLoadedVolume_data()
{
    QTest::addColumn<bool>("dat");
    QTest::addColumn<int>("type");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<double>("slope");
    QTest::addColumn<double>("intercept");
    // Stored axis a runs along LPS axis lpsAxis[a], against it where sign[a] < 0.
    QTest::addColumn<Axes>("lpsAxis");
    QTest::addColumn<Axes>("sign");
    // Bytes cut from the end of the samples, and the samples that are then missing.
    QTest::addColumn<int>("cutBytes");
    QTest::addColumn<int>("missing");

    const Axes lps = {{0, 1, 2}}, ahead = {{1, 1, 1}};
    const int u16 = int(SampleType::UInt16), i16 = int(SampleType::Int16);
    QTest::newRow("DAT") << true << u16 << false << 1.0 << 0.0 << lps << ahead << 0 << 0;
    QTest::newRow("DAT, short by 10.5 samples")
        << true << u16 << false << 1.0 << 0.0 << lps << ahead << 21 << 11;
    QTest::newRow("DAT, header only")
        << true << u16 << false << 1.0 << 0.0 << lps << ahead << 210 << 105;
    QTest::newRow("NIfTI uint8") << false << int(SampleType::UInt8) << false << 1.0 << 0.0 << lps
                                 << ahead << 0 << 0;
    QTest::newRow("NIfTI int16 big-endian, negative slope")
        << false << i16 << true << -2.0 << 10.0 << lps << ahead << 0 << 0;
    QTest::newRow("NIfTI float32 with NaNs")
        << false << int(SampleType::Float32) << false << 0.5 << 3.0 << lps << ahead << 0 << 0;
    // Sums of samples near the largest double would overflow: float64 sums
    // are of normalised values, the range measured first.
    QTest::newRow("NIfTI float64 big-endian with infinities")
        << false << int(SampleType::Float64) << true << 1.0 << 0.0 << lps << ahead << 0 << 0;
    QTest::newRow("NIfTI int16 permuted and flipped")
        << false << i16 << false << 1.0 << 0.0 << Axes{{1, 2, 0}} << Axes{{-1, 1, -1}} << 0 << 0;
    // The zeros of the missing samples lie below every stored value: they
    // widen the range.
    QTest::newRow("NIfTI int16 flipped, short by 11 samples")
        << false << i16 << false << 1.0 << 0.0 << Axes{{0, 1, 2}} << Axes{{1, -1, -1}} << 22 << 11;
}

void TestMappedScan::matchesLoadedVolume()
{
    QFETCH(bool, dat);
    QFETCH(int, type);
    QFETCH(bool, bigEndian);
    QFETCH(double, slope);
    QFETCH(double, intercept);
    QFETCH(Axes, lpsAxis);
    QFETCH(Axes, sign);
    QFETCH(int, cutBytes);
    QFETCH(int, missing);

    ScanLayout layout;
    layout.format = dat ? VolumeFormat::Dat : VolumeFormat::Nifti;
    layout.type = SampleType(type);
    layout.bigEndian = bigEndian;
    layout.twelveBitSamples = dat;
    layout.slope = slope;
    layout.intercept = intercept;
    const std::array<double, 3> lpsSpacing = {{0.5, 0.75, 2.0}};
    for (int a = 0; a < 3; ++a) {
        layout.size[a] = std::uint64_t(lpsSize[lpsAxis[a]]);
        layout.spacing[a] = dat ? 1.0 : lpsSpacing[lpsAxis[a]];
        for (int row = 0; row < 3; ++row)
            layout.direction[3 * row + a] = row == lpsAxis[a] ? sign[a] : 0.0;
    }
    QByteArray bytes = dat ? datHeader(lpsSize[0], lpsSize[1], lpsSize[2]) : niftiHeader(layout);
    layout.dataOffset = std::uint64_t(bytes.size());
    bytes += samples(layout.type, bigEndian, layout.sampleCount());
    bytes.chop(cutBytes);
    layout.dataPath =
        dir.filePath(QTest::currentDataTag() + QString(dat ? ".dat" : ".nii")).toStdString();
    layout.dataFileBytes = std::uint64_t(bytes.size());
    QFile file(QString::fromStdString(layout.dataPath));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();

    Volume loaded;
    std::ostringstream out, err;
    const VolumeReadResult read =
        readVolumeFile(layout.dataPath, loaded, out, err, VolumeReadOptions());
    QVERIFY2(read.ok, read.reason.c_str());
    QCOMPARE(read.missingSamples, std::uint64_t(missing));

    for (int level : {1, 2}) {
        // A fresh scan measures the range during the reduction; a second
        // reduction uses the range it knows.
        MappedScan scan;
        const ScanReadResult opened = scan.open(layout);
        QVERIFY2(opened.ok, opened.reason.c_str());
        for (int pass = 0; pass < 2; ++pass) {
            Volume reduced;
            QVERIFY(scan.buildReducedVolume(level, reduced, out).ok);
            QCOMPARE(reduced.valueRange.minimum, loaded.valueRange.minimum);
            QCOMPARE(reduced.valueRange.maximum, loaded.valueRange.maximum);
            const int edge = 1 << level;
            QCOMPARE(reduced.width, (loaded.width + edge - 1) / edge);
            QCOMPARE(reduced.height, (loaded.height + edge - 1) / edge);
            QCOMPARE(reduced.depth, (loaded.depth + edge - 1) / edge);
            QCOMPARE(reduced.spacing[2], loaded.spacing[2] * edge);
            QCOMPARE(reduced.patientFrame, loaded.patientFrame);
            const std::vector<double> expected = bruteForceLevel(loaded, level);
            QCOMPARE(reduced.data.size(), expected.size());
            for (std::size_t i = 0; i < expected.size(); ++i)
                QVERIFY2(std::fabs(reduced.data[i] - expected[i]) < 1e-6,
                         qPrintable(QString::asprintf("level %d pass %d voxel %zu: %g, expected %g",
                                                      level, pass, i, double(reduced.data[i]),
                                                      expected[i])));
        }
    }

    MappedScan scan;
    QVERIFY(scan.open(layout).ok);
    QCOMPARE(scan.missingSamples(), std::uint64_t(missing));
    QCOMPARE(scan.size(), (Axes{{loaded.width, loaded.height, loaded.depth}}));
    QCOMPARE(scan.spacing(), loaded.spacing);
    QCOMPARE(scan.patientFrame(), loaded.patientFrame);
    const Volume::ValueRange range = scan.valueRange();
    QCOMPARE(range.minimum, loaded.valueRange.minimum);
    QCOMPARE(range.maximum, loaded.valueRange.maximum);

    const Axes size = scan.size();
    for (int axis = 0; axis < 3; ++axis) {
        const int fast = axis == 0 ? 1 : 0, slow = axis == 2 ? 1 : 2;
        for (int index = 0; index < size[axis]; ++index) {
            std::vector<float> slice;
            QVERIFY(scan.normalisedSlice(axis, index, slice));
            QCOMPARE(slice.size(), std::size_t(size[fast] * size[slow]));
            for (int v = 0; v < size[slow]; ++v)
                for (int u = 0; u < size[fast]; ++u) {
                    Axes voxel{};
                    voxel[axis] = index;
                    voxel[fast] = u;
                    voxel[slow] = v;
                    const float value = loaded.data[std::size_t(
                        voxel[0] + loaded.width * (voxel[1] + loaded.height * voxel[2]))];
                    const float sliceValue = slice[std::size_t(u + size[fast] * v)];
                    QVERIFY2(std::memcmp(&sliceValue, &value, sizeof value) == 0,
                             qPrintable(QString::asprintf(
                                 "axis %d slice %d at %d, %d: %g, loaded %g", axis, index, u, v,
                                 double(sliceValue), double(value))));
                    if (axis != 0)
                        continue;
                    QCOMPARE(scan.normalisedValue(voxel[0], voxel[1], voxel[2]), value);
                    // The readout in file units: NaN only where the sample is.
                    const double fileValue = scan.fileValue(voxel[0], voxel[1], voxel[2]);
                    const double extent = range.maximum - range.minimum;
                    QVERIFY(std::isnan(fileValue)
                                ? value == 0.0f
                                : std::fabs(fileValue - (range.minimum + value * extent)) <=
                                      1e-6 * std::max(1.0, std::fabs(extent)));
                }
        }
        std::vector<float> outside;
        QVERIFY(!scan.normalisedSlice(axis, size[axis], outside));
    }
}

void TestMappedScan::refusesWhatCannotBeMapped_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("storage");
    QTest::addColumn<QString>("reason");

    QTest::newRow("compressed") << "plain.nii" << int(ScanLayout::Storage::Compressed)
                                << "stored compressed";
    QTest::newRow("DICOM slices") << "plain.nii" << int(ScanLayout::Storage::Other)
                                  << "not stored as plain values";
    QTest::newRow("FIFO") << "pipe.nii" << int(ScanLayout::Storage::Raw) << "named pipe (FIFO)";
    QTest::newRow("folder") << "" << int(ScanLayout::Storage::Raw) << "folder";
}

void TestMappedScan::refusesWhatCannotBeMapped()
{
    QFETCH(QString, name);
    QFETCH(int, storage);
    QFETCH(QString, reason);

    const QString path = dir.filePath(name);
    QFile plain(dir.filePath("plain.nii"));
    QVERIFY(plain.open(QIODevice::WriteOnly) && plain.write(QByteArray(400, '\1')) == 400);
    plain.close();
    if (name == "pipe.nii" && !QFile::exists(path))
        QCOMPARE(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);

    ScanLayout layout;
    layout.format = VolumeFormat::Nifti;
    layout.size = {{2, 2, 2}};
    layout.storage = ScanLayout::Storage(storage);
    layout.dataPath = path.toStdString();
    layout.dataOffset = 352;
    layout.dataFileBytes = 400;
    MappedScan scan;
    const ScanReadResult result = scan.open(layout);
    QVERIFY(!result.ok);
    QVERIFY2(QString::fromStdString(result.reason).contains(reason), result.reason.c_str());
    QVERIFY(!scan.isOpen());
    Volume reduced;
    std::ostringstream out;
    QVERIFY(!scan.buildReducedVolume(1, reduced, out).ok);
}

QTEST_APPLESS_MAIN(TestMappedScan)
#include "tst_mappedscan.moc"
