#include "datheader.h"
#include "dicompixels.h"
#include "dicomscreen.h"
#include "datreader.h"
#include "orientation.h"
#include "scanwriter.h"
#include "volume.h"
#include "scanbytes.h"
#include "scanfileaccess.h"
#include "volumefile.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <sstream>

namespace {

struct ScanLoad
{
    Volume volume;
    VolumeReadResult result;
    std::string out;
    std::string err;
};

ScanLoad load(const QString &path, std::uint64_t maxDataBytes = UINT64_MAX)
{
    ScanLoad run;
    std::ostringstream out, err;
    VolumeReadOptions options;
    options.maxDataBytes = maxDataBytes;
    run.result =
        readVolumeFile(QFile::encodeName(path).toStdString(), run.volume, out, err, options);
    run.out = out.str();
    run.err = err.str();
    return run;
}

QByteArray rawBytes(const std::vector<float> &values, const char *type)
{
    QByteArray bytes;
    for (float value : values) {
        if (!std::strcmp(type, "float")) {
            bytes.append(reinterpret_cast<const char *>(&value), sizeof value);
        } else if (!std::strcmp(type, "double")) {
            // float cannot hold the largest doubles: infinity stands for them.
            const double sample = std::isinf(value) ? std::copysign(1.7e308, value) : value;
            bytes.append(reinterpret_cast<const char *>(&sample), sizeof sample);
        } else if (!std::strcmp(type, "int8")) {
            bytes.append(char(std::int8_t(value)));
        } else {
            const std::uint16_t sample = std::uint16_t(value);
            bytes.append(reinterpret_cast<const char *>(&sample), sizeof sample);
        }
    }
    return bytes;
}

// An NRRD file with the given header fields (each line ends in a line break)
// and raw little-endian voxels.
QByteArray nrrd(const QByteArray &fields, const QByteArray &voxels)
{
    return "NRRD0004\n" + fields + "endian: little\nencoding: raw\n\n" + voxels;
}

// The reference object in LPS order: 5 x 4 x 3 voxels, all values distinct,
// so any wrong flip or permutation shows.
constexpr std::size_t referenceSize[3] = {5, 4, 3};
const std::array<double, 3> referenceSpacing = {{0.5, 0.75, 2.0}};

float referenceValue(std::size_t x, std::size_t y, std::size_t z)
{
    return float(1 + x + 5 * y + 20 * z);
}

// A stored orientation: stored axis a runs along LPS axis lpsAxis[a], against
// it where sign[a] is -1.
struct StoredOrientation
{
    std::array<int, 3> lpsAxis;
    std::array<int, 3> sign;
};

TestScan storedReference(const StoredOrientation &orientation)
{
    TestScan scan;
    for (int a = 0; a < 3; ++a) {
        const int lps = orientation.lpsAxis[a];
        scan.size[a] = referenceSize[lps];
        scan.spacing[a] = referenceSpacing[lps];
        for (int row = 0; row < 3; ++row)
            scan.direction[3 * row + a] = row == lps ? orientation.sign[a] : 0.0;
    }
    for (std::size_t k = 0; k < scan.size[2]; ++k)
        for (std::size_t j = 0; j < scan.size[1]; ++j)
            for (std::size_t i = 0; i < scan.size[0]; ++i) {
                std::size_t lps[3];
                const std::size_t stored[3] = {i, j, k};
                for (int a = 0; a < 3; ++a) {
                    const std::size_t n = referenceSize[orientation.lpsAxis[a]];
                    lps[orientation.lpsAxis[a]] =
                        orientation.sign[a] > 0 ? stored[a] : n - 1 - stored[a];
                }
                scan.values.push_back(referenceValue(lps[0], lps[1], lps[2]));
            }
    return scan;
}

// NRRD "space directions" of a stored scan in the given space; RAS space
// negates the first two components.
QByteArray nrrdGeometry(const TestScan &scan, bool ras)
{
    QByteArray text = QByteArray("dimension: 3\nspace: ") +
                      (ras ? "right-anterior-superior\n" : "left-posterior-superior\n") +
                      "sizes: " + QByteArray::number(qulonglong(scan.size[0])) + " " +
                      QByteArray::number(qulonglong(scan.size[1])) + " " +
                      QByteArray::number(qulonglong(scan.size[2])) + "\nspace directions:";
    for (int a = 0; a < 3; ++a) {
        text += " (";
        for (int row = 0; row < 3; ++row) {
            double value = scan.direction[3 * row + a] * scan.spacing[a];
            if (ras && row < 2)
                value = -value;
            text += QByteArray::number(value + 0.0) + (row < 2 ? "," : ")");
        }
    }
    return text + "\n";
}

} // namespace

Q_DECLARE_METATYPE(StoredOrientation)
Q_DECLARE_METATYPE(SlicePlacement)

class TestScanFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void dicomMetaGroupNeedsItsRepresentations();
    void dicomNeedsADataSet();
    void dicomRleFramesAreChecked();
    void orientationsGiveTheSameVolume_data();
    void orientationsGiveTheSameVolume();
    void valuesMapToTheirRange_data();
    void valuesMapToTheirRange();
    void dicomSeriesChoice();
    void dicomSeriesIntegrity_data();
    void dicomSeriesIntegrity();
    void obliqueScanSnaps();
    void hostileFiles_data();
    void hostileFiles();
    void datOutputUnchanged();
    void damagedScans_data();
    void damagedScans();
    void niftiTwoInBothByteOrders();
    void detachedDataFileNames();
    void specialFilesRefusedAtOnce();
    void latin1NameLoads();

private:
    QTemporaryDir dir;
};

void TestScanFiles::orientationsGiveTheSameVolume_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<StoredOrientation>("orientation");
    const StoredOrientation lps{{{0, 1, 2}}, {{1, 1, 1}}};
    const StoredOrientation ras{{{0, 1, 2}}, {{-1, -1, 1}}};
    const StoredOrientation las{{{0, 1, 2}}, {{1, -1, 1}}};
    // Posterior, inferior, right: permuted as well as flipped.
    const StoredOrientation pir{{{1, 2, 0}}, {{1, -1, -1}}};
    QTest::newRow("NRRD LPS") << "lps.nrrd" << lps;
    QTest::newRow("NRRD RAS space") << "ras.nrrd" << ras;
    QTest::newRow("NRRD PIR") << "pir.nrrd" << pir;
    QTest::newRow("MetaImage RAS") << "ras.mha" << ras;
    QTest::newRow("NIfTI LAS") << "las.nii" << las;
    QTest::newRow("NIfTI PIR gzip") << "pir.nii.gz" << pir;
    QTest::newRow("DICOM series") << "dicom" << lps;
}

void TestScanFiles::orientationsGiveTheSameVolume()
{
    QFETCH(QString, name);
    QFETCH(StoredOrientation, orientation);
    const TestScan scan = storedReference(orientation);
    const QString path = dir.filePath(name);
    if (name.endsWith(".nrrd")) {
        const bool ras = QByteArray(QTest::currentDataTag()).contains("RAS");
        QVERIFY(writeFile(path, nrrd("type: uint16\n" + nrrdGeometry(scan, ras),
                                     rawBytes(scan.values, "uint16"))));
    } else if (name.endsWith(".mha")) {
        // A diagonal matrix reads the same whichever way round it is taken.
        QByteArray header =
            "ObjectType = Image\nNDims = 3\nBinaryData = True\n"
            "BinaryDataByteOrderMSB = False\nTransformMatrix = -1 0 0 0 -1 0 0 0 1\n"
            "ElementSpacing = 0.5 0.75 2\nDimSize = 5 4 3\n"
            "ElementType = MET_USHORT\nElementDataFile = LOCAL\n";
        QVERIFY(writeFile(path, header + rawBytes(scan.values, "uint16")));
    } else if (name == "dicom") {
        QVERIFY(QDir().mkpath(path));
        QVERIFY(writeDicomSeriesWithItk(path.toStdString(), scan, "1.2.826.0.1.3680043.2.1143.7"));
    } else {
        QVERIFY(writeScanWithItk(path.toStdString(), scan));
    }

    const ScanLoad run = load(path);
    QVERIFY2(run.result.ok, run.err.c_str());
    QVERIFY2(run.result.warnings.empty(), run.err.c_str());
    QCOMPARE(run.volume.width, 5);
    QCOMPARE(run.volume.height, 4);
    QCOMPARE(run.volume.depth, 3);
    for (int axis = 0; axis < 3; ++axis)
        QVERIFY(std::fabs(run.volume.spacing[axis] - referenceSpacing[axis]) < 1e-5);
    QCOMPARE(run.volume.valueRange.minimum, 1.0);
    QCOMPARE(run.volume.valueRange.maximum, 60.0);
    std::size_t i = 0;
    for (std::size_t z = 0; z < 3; ++z)
        for (std::size_t y = 0; y < 4; ++y)
            for (std::size_t x = 0; x < 5; ++x, ++i)
                if (run.volume.data[i] != float((referenceValue(x, y, z) - 1.0) / 59.0))
                    QFAIL(qPrintable(QString("voxel (%1, %2, %3) holds %4")
                                         .arg(x)
                                         .arg(y)
                                         .arg(z)
                                         .arg(run.volume.data[i] * 59 + 1)));
    QVERIFY(run.out.find("- File loaded.\n") != std::string::npos);
    QVERIFY(run.out.find("\r- Preparing data (100%) ...\n- Data prepared.\n") != std::string::npos);
}

void TestScanFiles::valuesMapToTheirRange_data()
{
    QTest::addColumn<QByteArray>("type");
    QTest::addColumn<std::vector<float>>("values");
    QTest::addColumn<double>("minimum");
    QTest::addColumn<double>("maximum");
    QTest::addColumn<std::vector<float>>("expected");
    QTest::addColumn<QString>("warning");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float infinity = std::numeric_limits<float>::infinity();
    QTest::newRow("float with NaN and Inf")
        << QByteArray("float") << std::vector<float>{nan, -2.5f, 7.5f, -infinity} << -2.5 << 7.5
        << std::vector<float>{0, 0, 1, 0} << "2 samples are not numbers";
    QTest::newRow("signed bytes") << QByteArray("int8") << std::vector<float>{-5, 0, 7, 1} << -5.0
                                  << 7.0 << std::vector<float>{0, 5 / 12.0f, 1, 0.5f} << "";
    QTest::newRow("constant") << QByteArray("uint16") << std::vector<float>{9, 9, 9, 9} << 9.0
                              << 9.0 << std::vector<float>{0, 0, 0, 0} << "";
    QTest::newRow("doubles from -1.7e308 to 1.7e308")
        << QByteArray("double") << std::vector<float>{-infinity, infinity, 0, -infinity} << -1.7e308
        << 1.7e308 << std::vector<float>{0, 1, 0.5f, 0} << "";
    QTest::newRow("all NaN") << QByteArray("float") << std::vector<float>{nan, nan, nan, nan} << 0.0
                             << 0.0 << std::vector<float>{0, 0, 0, 0} << "4 samples";
}

void TestScanFiles::valuesMapToTheirRange()
{
    QFETCH(QByteArray, type);
    QFETCH(std::vector<float>, values);
    QFETCH(double, minimum);
    QFETCH(double, maximum);
    QFETCH(std::vector<float>, expected);
    QFETCH(QString, warning);
    // A single slice, stored as a 2D image.
    const QString path = dir.filePath(QString("values-%1.nrrd").arg(QTest::currentDataTag()));
    QVERIFY(writeFile(path, nrrd("type: " + type + "\ndimension: 2\nsizes: 2 2\n",
                                 rawBytes(values, type.constData()))));
    const ScanLoad run = load(path);
    QVERIFY2(run.result.ok, run.err.c_str());
    QCOMPARE(run.volume.depth, 1);
    QCOMPARE(run.volume.valueRange.minimum, minimum);
    QCOMPARE(run.volume.valueRange.maximum, maximum);
    for (std::size_t i = 0; i < expected.size(); ++i)
        QVERIFY(std::fabs(run.volume.data[i] - expected[i]) < 1e-6f);
    QCOMPARE(run.err.find("+ Warning: " + warning.toStdString()) != std::string::npos,
             !warning.isEmpty());
}

void TestScanFiles::dicomSeriesChoice()
{
    const QString folder = dir.filePath("two-series");
    QVERIFY(QDir().mkpath(folder + "/a"));
    QVERIFY(QDir().mkpath(folder + "/b"));
    TestScan big = storedReference({{{0, 1, 2}}, {{1, 1, 1}}});
    TestScan small = big;
    small.size[2] = 2;
    small.values.resize(5 * 4 * 2);
    QVERIFY(writeDicomSeriesWithItk((folder + "/a").toStdString(), big, "1.2.3.4.1"));
    QVERIFY(writeDicomSeriesWithItk((folder + "/b").toStdString(), small, "1.2.3.4.2"));
    // Gather both series in one folder.
    for (const QString &sub : QStringList{"a", "b"})
        for (const QString &file : QDir(folder + "/" + sub).entryList(QDir::Files))
            QVERIFY(
                QFile::rename(folder + "/" + sub + "/" + file, folder + "/" + sub + "-" + file));

    const ScanLoad whole = load(folder);
    QVERIFY2(whole.result.ok, whole.err.c_str());
    QCOMPARE(whole.volume.depth, 3);
    QVERIFY(whole.err.find("holds 2 series; the one with the most slices (3)") !=
            std::string::npos);

    // One file of the smaller series picks that series.
    const ScanLoad chosen = load(folder + "/b-slice1.dcm");
    QVERIFY2(chosen.result.ok, chosen.err.c_str());
    QCOMPARE(chosen.volume.depth, 2);
}

void TestScanFiles::dicomSeriesIntegrity_data()
{
    QTest::addColumn<SlicePlacement>("placement");
    QTest::addColumn<QString>("damage");  // done to the middle slice's file
    QTest::addColumn<QString>("message"); // in a warning, or in the refusal
    QTest::addColumn<int>("empty");       // the slice that reads as 0; -1 none, -2 refused
    QTest::newRow("middle slice cut off") << SlicePlacement::Apart << "cut"
                                          << "1 of 3 slices could not be read and is missing" << 1;
    QTest::newRow("middle slice's pixel data short")
        << SlicePlacement::Apart << "short"
        << "holds 38 bytes of pixel data; 4 x 5 pixels x 1 sample x 1 frame of 16 bits need 40 "
           "bytes"
        << 1;
    QTest::newRow("all at one position")
        << SlicePlacement::OnePosition << ""
        << "The 3 slices lie at one position; they are ordered by instance number" << -1;
    QTest::newRow("one position, one instance number")
        << SlicePlacement::OnePositionOneNumber << ""
        << "instance numbers are missing or repeated: the order of the slices is unknown" << -2;
}

void TestScanFiles::dicomSeriesIntegrity()
{
    QFETCH(SlicePlacement, placement);
    QFETCH(QString, damage);
    QFETCH(QString, message);
    QFETCH(int, empty);
    const QString folder = dir.filePath(QString("integrity-%1").arg(QTest::currentDataTag()));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeDicomSeriesWithItk(
        folder.toStdString(), storedReference({{{0, 1, 2}}, {{1, 1, 1}}}), "1.2.3.4.9", placement));
    QFile middle(folder + "/slice2.dcm");
    QVERIFY(middle.open(QIODevice::ReadWrite));
    QByteArray bytes = middle.readAll();
    if (damage == "cut") {
        bytes.chop(10);
    } else if (damage == "short") {
        // The pixel data element ends the file: its length and bytes 2 shorter.
        const int tag = bytes.lastIndexOf(QByteArray("\xe0\x7f\x10\x00", 4));
        QVERIFY(tag > 0);
        const int lengthAt = bytes.mid(tag + 4, 2) == "OW" ? tag + 8 : tag + 4;
        std::uint32_t length;
        std::memcpy(&length, bytes.constData() + lengthAt, 4);
        QCOMPARE(length, 40u);
        put<std::uint32_t>(bytes, lengthAt, length - 2);
        bytes.chop(2);
    }
    QVERIFY(middle.resize(0) && middle.seek(0) && middle.write(bytes) == bytes.size());
    middle.close();

    const ScanLoad run = load(folder);
    if (empty == -2) {
        QVERIFY(!run.result.ok);
        QVERIFY2(run.result.reason.find(message.toStdString()) != std::string::npos,
                 run.result.reason.c_str());
        return;
    }
    QVERIFY2(run.result.ok, run.err.c_str());
    QVERIFY2(run.err.find(message.toStdString()) != std::string::npos, run.err.c_str());
    QCOMPARE(run.volume.depth, 3);
    QCOMPARE(run.volume.spacing[2], placement == SlicePlacement::Apart ? 2.0 : 1.0);
    // Every slice in its place; the lost one reads as 0.
    const double low = run.volume.valueRange.minimum, high = run.volume.valueRange.maximum;
    std::size_t i = 0;
    for (std::size_t z = 0; z < 3; ++z)
        for (std::size_t y = 0; y < 4; ++y)
            for (std::size_t x = 0; x < 5; ++x, ++i) {
                const double expected = int(z) == empty ? 0.0 : referenceValue(x, y, z);
                QVERIFY2(std::fabs(run.volume.data[i] * (high - low) + low - expected) < 1e-3,
                         qPrintable(QString("voxel %1").arg(i)));
            }
}

void TestScanFiles::obliqueScanSnaps()
{
    // Turned 20 degrees about Z: snaps to the axes, with a note.
    const double c = std::cos(20 * M_PI / 180), s = std::sin(20 * M_PI / 180);
    const DirectionMatrix turned = {{c, -s, 0, s, c, 0, 0, 0, 1}};
    const Reorientation snapped = reorientationFromDirection(turned);
    QCOMPARE(snapped.sourceAxis, (std::array<int, 3>{{0, 1, 2}}));
    QVERIFY(snapped.oblique);
    QVERIFY(std::fabs(snapped.obliqueDegrees - 20.0) < 1e-9);
    // Beyond 45 degrees the axes swap.
    const DirectionMatrix quarter = {{0, -1, 0, 1, 0, 0, 0, 0, 1}};
    const Reorientation swapped = reorientationFromDirection(quarter);
    QCOMPARE(swapped.sourceAxis, (std::array<int, 3>{{1, 0, 2}}));
    QCOMPARE(swapped.flipped, (std::array<bool, 3>{{true, false, false}}));
    QVERIFY(!swapped.oblique);

    const QString path = dir.filePath("oblique.nrrd");
    QVERIFY(writeFile(path, nrrd("type: uint16\ndimension: 3\nspace: left-posterior-superior\n"
                                 "sizes: 2 2 1\nspace directions: (0.9397,0.3420,0) "
                                 "(-0.3420,0.9397,0) (0,0,1)\n",
                                 rawBytes({1, 2, 3, 4}, "uint16"))));
    const ScanLoad run = load(path);
    QVERIFY2(run.result.ok, run.err.c_str());
    QVERIFY2(run.err.find(
                 "+ Warning: The scan is oblique by 20.0 degrees: shown on the nearest axes.") !=
                 std::string::npos,
             run.err.c_str());
}

void TestScanFiles::hostileFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason"); // what the refusal must say

    QTest::newRow("text named .nii")
        << "text.nii" << QByteArray("just some notes\n") << "named like a NIfTI file";
    QTest::newRow("promises more than the memory rule allows")
        << "short.nrrd" << nrrd("type: uint16\ndimension: 3\nsizes: 64 64 64\n", QByteArray(100, 1))
        << "more than can be held in memory";
    QTest::newRow("5D") << "5d.nrrd"
                        << nrrd("type: uint8\ndimension: 5\nsizes: 2 2 2 3 2\n", QByteArray(48, 1))
                        << "only 3D images and series of them";
    QTest::newRow("two components")
        << "vectors.nrrd"
        << nrrd("type: uint8\ndimension: 3\nsizes: 2 2 2\nkinds: vector domain domain\n",
                QByteArray(8, 1))
        << "2 components per voxel";
    QTest::newRow("three-vector")
        << "field.nrrd"
        << nrrd("type: float\ndimension: 3\nsizes: 3 2 2\nkinds: vector domain domain\n",
                QByteArray(48, 0))
        << "not a colour";
    QTest::newRow("empty folder") << "empty-folder" << QByteArray() << "no DICOM series";
    QTest::newRow("beyond memory")
        << "big.nrrd" << nrrd("type: uint8\ndimension: 3\nsizes: 100 100 100\n", QByteArray(8, 1))
        << "more than can be held in memory";
    // What no reader claims never reaches the DAT reader unless its samples
    // fill it as a DAT file's do (datOutputUnchanged).
    QTest::newRow("ECAT, not read")
        << "scan.v" << QByteArray("MATRIX72v") + QByteArray(60, 0) << "an ECAT 7 file";
    QTest::newRow("unknown bytes")
        << "notes.bin" << QByteArray("\x02\0\x02\0\x02\0 and some text", 21)
        << "read as DAT its header gives 2 x 2 x 2 samples (22 bytes)";
    QTest::newRow("zero spacing")
        << "flat.nrrd"
        << nrrd("type: uint8\ndimension: 3\nsizes: 2 2 2\nspacings: 1 1 0\n", QByteArray(8, 1))
        << "";
}

void TestScanFiles::hostileFiles()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const QString path = dir.filePath(name);
    if (content.isNull())
        QVERIFY(QDir().mkpath(path));
    else
        QVERIFY(writeFile(path, content));
    const ScanLoad run = load(path, 1 << 20);
    QCOMPARE(run.out.rfind("- Loading file '", 0), std::size_t(0));
    if (QByteArray(QTest::currentDataTag()) == "zero spacing") {
        // Either answer is sound; a load must not keep the zero.
        if (run.result.ok)
            QCOMPARE(run.volume.spacing[2], 1.0);
        else
            QVERIFY(!run.result.reason.empty());
        return;
    }
    QVERIFY(!run.result.ok);
    QCOMPARE(run.volume.width, 1); // untouched
    QCOMPARE(run.err.rfind("+ Error loading file.\n+ ", 0), std::size_t(0));
    QVERIFY2(run.result.reason.find(reason.toStdString()) != std::string::npos,
             run.result.reason.c_str());
}

void TestScanFiles::datOutputUnchanged()
{
    // A DAT file reads exactly as through its own reader, streams included.
    const QString path = dir.filePath("plain.dat");
    QVERIFY(writeFile(path, datHeader(2, 1, 3) + QByteArray(10, '\x05')));
    std::ostringstream out, err;
    Volume own;
    QVERIFY(readDatFile(path.toStdString(), own, out, err, DatReadOptions()).ok);
    const ScanLoad run = load(path);
    QVERIFY(run.result.ok);
    QCOMPARE(run.out, out.str());
    QCOMPARE(run.err, err.str());
    QVERIFY(run.volume.data == own.data);
    QCOMPARE(run.volume.spacing, (std::array<double, 3>{{1, 1, 1}}));
    QCOMPARE(run.volume.valueRange.maximum, 4095.0);
    // Under another name only a complete DAT file is read as one.
    const QString renamed = dir.filePath("plain.raw");
    QVERIFY(writeFile(renamed, datHeader(2, 1, 3) + QByteArray(12, '\x05')));
    QCOMPARE(load(renamed).volume.data.size(), std::size_t(6));
    QVERIFY(writeFile(renamed, datHeader(2, 1, 3) + QByteArray(10, '\x05')));
    QVERIFY(!load(renamed).result.ok);

    // A cut-off .nii.gz is found out although ITK would read it.
    TestScan scan = storedReference({{{0, 1, 2}}, {{1, 1, 1}}});
    const QString gz = dir.filePath("cut.nii.gz");
    QVERIFY(writeScanWithItk(gz.toStdString(), scan));
    QVERIFY(gzipStreamIsComplete(gz.toStdString()));
    QFile file(gz);
    QVERIFY(file.open(QIODevice::ReadWrite));
    QVERIFY(file.resize(file.size() / 2));
    file.close();
    QVERIFY(!gzipStreamIsComplete(gz.toStdString()));
    const ScanLoad cut = load(gz);
    QVERIFY(!cut.result.ok);
    QVERIFY(cut.result.reason.find("cut off") != std::string::npos);
}

void TestScanFiles::damagedScans_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<bool>("loads");
    QTest::addColumn<QString>("message"); // in the refusal, or in a warning line
    QTest::addColumn<qulonglong>("missing");
    const QByteArray eight(8, '\x05');
    const float nan = std::numeric_limits<float>::quiet_NaN();
    auto with = [](auto change) {
        NiftiFields fields;
        change(fields);
        return fields;
    };

    // Short data loads like a short DAT file; impossible headers are refused.
    QTest::newRow("nii cut after 3 samples")
        << "cut.nii" << nifti1({}, eight.left(3)) << true << "the file ends after 3 of 8" << 5ull;
    QTest::newRow("nii header only")
        << "bare.nii" << nifti1({}, {}) << true << "the missing 8 samples read as 0" << 8ull;
    QTest::newRow("offset beyond the file")
        << "far.nii" << nifti1(with([](NiftiFields &f) { f.voxOffset = 4000; }), eight) << false
        << "beyond the" << 0ull;
    QTest::newRow("offset 1e30") << "farther.nii"
                                 << nifti1(with([](NiftiFields &f) { f.voxOffset = 1e30; }), eight)
                                 << false << "beyond any file" << 0ull;
    QTest::newRow("offset inside the header")
        << "inside.nii" << nifti1(with([](NiftiFields &f) { f.voxOffset = 100; }), eight) << false
        << "inside the 348-byte header" << 0ull;
    QTest::newRow("offset NaN") << "nan-offset.nii"
                                << nifti1(with([&](NiftiFields &f) { f.voxOffset = nan; }), eight)
                                << false << "not a position" << 0ull;
    QTest::newRow("negative size")
        << "negative.nii" << nifti1(with([](NiftiFields &f) { f.dim[2] = -2; }), eight) << false
        << "sizes must be positive" << 0ull;
    QTest::newRow("NaN sform") << "nan-sform.nii"
                               << nifti1(with([&](NiftiFields &f) {
                                             f.sformCode = 1;
                                             f.srow = nan;
                                         }),
                                         eight)
                               << true << "axis directions are not all numbers" << 0ull;
    QTest::newRow("NaN quaternion") << "nan-quaternion.nii"
                                    << nifti1(with([&](NiftiFields &f) {
                                                  f.qformCode = 1;
                                                  f.quaternB = nan;
                                              }),
                                              eight)
                                    << true << "axis directions are not all numbers" << 0ull;
    QTest::newRow("zero pixdim") << "flat.nii"
                                 << nifti1(with([](NiftiFields &f) { f.pixdim[1] = 0; }), eight)
                                 << true << "spacing of 0 along Y; 1 mm is used" << 0ull;
    QTest::newRow("NIfTI named .nrrd") << "nifti.nrrd" << nifti1({}, eight) << true
                                       << "named like an NRRD file (.nrrd) but holds NIfTI" << 0ull;
    QTest::newRow("complete zlib stream, short")
        << "short.nii.gz" << qCompress(nifti1({}, eight.left(6))).mid(4) << true
        << "the file ends after 6 of 8" << 2ull;

    const QByteArray mha = "ObjectType = Image\nNDims = 3\nDimSize = 2 2 2\n";
    QTest::newRow("MetaImage NDims -1")
        << "minus.mha" << QByteArray("ObjectType = Image\nNDims = -1\nElementDataFile = LOCAL\n")
        << false << "NDims = -1" << 0ull;
    QTest::newRow("MetaImage NDims -50 before a good one")
        << "twice.mha"
        << QByteArray("ObjectType = Image\nNDims = -50\nNDims = 3\nDimSize = 2 2 2\n"
                      "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n") +
               eight
        << false << "NDims = -50" << 0ull;
    QTest::newRow("MetaImage MET_STRING")
        << "string.mha" << mha + "ElementType = MET_STRING\nElementDataFile = LOCAL\n" + eight
        << false << "ElementType 'MET_STRING'" << 0ull;
    QTest::newRow("MetaImage compressed, corrupt")
        << "corrupt.mha"
        << mha + "ElementType = MET_UCHAR\nCompressedData = True\nElementDataFile = LOCAL\n" +
               QByteArray(40, '\x33')
        << false << "compressed data is damaged" << 0ull;
    QTest::newRow("MetaImage data file missing")
        << "detached.mhd" << mha + "ElementType = MET_UCHAR\nElementDataFile = nowhere.raw\n"
        << false << "nowhere.raw' does not exist" << 0ull;
    QTest::newRow("MetaImage LOCAL short")
        << "short.mha" << mha + "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n" + eight.left(7)
        << true << "the missing 1 samples" << 1ull;
    QTest::newRow("NRRD 2^32 + 1")
        << "huge.nrrd" << nrrd("type: uint8\ndimension: 3\nsizes: 4294967297 1 1\n", eight) << false
        << "larger than 65535" << 0ull;
    QTest::newRow("NRRD gzip over plain bytes")
        << "plain.nrrd"
        << "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 2 2 2\nencoding: gzip\n\n" + eight << false
        << "compressed data is damaged" << 0ull;
    QTest::newRow("NRRD text, a word of 2000 characters")
        << "word.nrrd"
        << "NRRD0004\ntype: float\ndimension: 3\nsizes: 2 2 2\nencoding: ascii\n\n" +
               QByteArray(2000, '7')
        << false << "more than 1024 characters" << 0ull;
    QTest::newRow("MetaImage key of 300 characters") << "key.mha"
                                                     << mha + QByteArray(300, '&') +
                                                            "\nElementType = MET_UCHAR\n"
                                                            "ElementDataFile = LOCAL\n" +
                                                            eight
                                                     << false << "key of 300 characters" << 0ull;
    QTest::newRow("MetaImage value of 300 characters")
        << "value.mha"
        << "ObjectType = Image" + QByteArray(294, '\\') + "\n" + mha.mid(mha.indexOf('\n') + 1) +
               "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n" + eight
        << false << "value of 300 characters" << 0ull;
    QTest::newRow("NRRD byte skip -2")
        << "skip.nrrd" << nrrd("type: uint8\ndimension: 3\nsizes: 2 2 2\nbyte skip: -2\n", eight)
        << false << "byte skip is '-2'" << 0ull;
    QTest::newRow("NRRD parallel axes")
        << "parallel.nrrd"
        << nrrd("type: uint8\ndimension: 3\nspace: left-posterior-superior\nsizes: 2 2 2\n"
                "space directions: (1,0,0) (2,0,0) (0,0,1)\n",
                eight)
        << true << "axis directions are zero or parallel" << 0ull;
    // MGH and MRC: our own readers, the same rules.
    auto mghWith = [](auto change) {
        MghFields fields;
        change(fields);
        return fields;
    };
    auto mrcWith = [](auto change) {
        MrcFields fields;
        change(fields);
        return fields;
    };
    QTest::newRow("MGH zero size")
        << "flat.mgh" << mgh(mghWith([](MghFields &f) { f.size[1] = 0; }), eight) << false
        << "sizes must be positive" << 0ull;
    QTest::newRow("MGH type 2 (long)")
        << "long.mgh" << mgh(mghWith([](MghFields &f) { f.type = 2; }), eight) << false
        << "data type 2" << 0ull;
    QTest::newRow("MGH cut after 3 samples")
        << "cut.mgh" << mgh({}, eight.left(3)) << true << "the file ends after 3 of 8" << 5ull;
    QTest::newRow("MGZ stream cut off")
        << "cut.mgz" << qCompress(mgh({}, eight)).mid(4).chopped(6) << false << "cut off" << 0ull;
    QTest::newRow("MGZ of a short file") << "short.mgz" << qCompress(mgh({}, eight.left(6))).mid(4)
                                         << true << "the missing 2 samples" << 2ull;
    QTest::newRow("text named .mgh")
        << "text.mgh" << QByteArray(300, 'x') << false
        << "named like an MGH file (.mgh) but does not hold one" << 0ull;
    QTest::newRow("MRC negative size")
        << "negative.mrc" << mrc(mrcWith([](MrcFields &f) { f.size[2] = -1; }), eight) << false
        << "sizes must be positive" << 0ull;
    QTest::newRow("MRC complex mode 4")
        << "complex.mrc" << mrc(mrcWith([](MrcFields &f) { f.mode = 4; }), eight) << false
        << "complex samples" << 0ull;
    QTest::newRow("MRC mode 9") << "nine.mrc"
                                << mrc(mrcWith([](MrcFields &f) { f.mode = 9; }), eight) << false
                                << "mode 9" << 0ull;
    QTest::newRow("MRC axis order 1 1 3") << "order.mrc"
                                          << mrc(mrcWith([](MrcFields &f) {
                                                     f.axisOrder = {1, 1, 3};
                                                 }),
                                                 eight)
                                          << false << "not an order of the axes" << 0ull;
    QTest::newRow("MRC extended header beyond the file")
        << "far.map" << mrc(mrcWith([](MrcFields &f) { f.extendedBytes = 4000; }), eight) << false
        << "beyond the" << 0ull;
    QTest::newRow("MRC cut after 5 samples")
        << "cut.mrc" << mrc({}, eight.left(5)) << true << "the file ends after 5 of 8" << 3ull;
    QTest::newRow("MRC without its MAP word")
        << "plain.mrc" << mrc(mrcWith([](MrcFields &f) { f.stamp = false; }), eight) << false
        << "named like an MRC file (.mrc) but does not hold one" << 0ull;
    // VTK image data: our own reader, the same rules.
    const QByteArray numbers = "5 5 5 5 5 5 5 5";
    const QByteArray ascii = vtiArray("UInt8", "ascii", {}, numbers);
    const QByteArray appended = vtiArray("UInt8", "appended", "offset=\"0\"", {});
    QTest::newRow("VTI extent ending before its start")
        << "backwards.vti" << vti(vtiPiece(ascii, "0 1 3 2 0 1")) << false
        << "along Y runs from 3 to 2" << 0ull;
    QTest::newRow("VTI type Bit") << "bit.vti"
                                  << vti(vtiPiece(vtiArray("Bit", "ascii", {}, numbers))) << false
                                  << "the type 'Bit'" << 0ull;
    // Three float components are a vector, not a colour.
    QTest::newRow("VTI three components")
        << "vectors.vti"
        << vti(vtiPiece(vtiArray("Float32", "ascii", "NumberOfComponents=\"3\"", numbers))) << false
        << "3 components per voxel; only scalar images and colours" << 0ull;
    QTest::newRow("VTI two pieces") << "pieces.vti" << vti(vtiPiece(ascii) + vtiPiece(ascii))
                                    << false << "split into 2 pieces" << 0ull;
    QTest::newRow("VTI offset past the end")
        << "far.vti"
        << vti(vtiPiece(vtiArray("UInt8", "appended", "offset=\"5000\"", {})),
               "<AppendedData encoding=\"raw\">_" + words32({8}) + eight + "</AppendedData>\n")
        << false << "beyond the end of the file" << 0ull;
    QTest::newRow("VTI block of more bytes than the file")
        << "block.vti"
        << vti(vtiPiece(appended),
               "<AppendedData encoding=\"raw\">_" + words32({1, 8, 8, 100000}) + eight +
                   "</AppendedData>\n",
               " compressor=\"vtkZLibDataCompressor\"")
        << false << "would take 100000 bytes, more than" << 0ull;
    QTest::newRow("VTI size header other than the extent's")
        << "size.vti"
        << vti(vtiPiece(appended),
               "<AppendedData encoding=\"raw\">_" + words32({6}) + eight + "</AppendedData>\n")
        << false << "gives 6 bytes where its extent needs 8" << 0ull;
    QTest::newRow("VTI ascii short of 3 numbers")
        << "short.vti" << vti(vtiPiece(vtiArray("UInt8", "ascii", {}, "5 5 5 5 5"))) << true
        << "the file ends after 5 of 8" << 3ull;
    QTest::newRow("VTI PolyData") << "poly.vti"
                                  << QByteArray("<VTKFile type=\"PolyData\"><PolyData/></VTKFile>")
                                  << false << "VTK PolyData; only ImageData" << 0ull;
    QTest::newRow("MetaImage zero spacing")
        << "zero.mha"
        << mha + "ElementSpacing = 1 0 1\nElementType = MET_UCHAR\nElementDataFile = LOCAL\n" +
               eight
        << true << "spacing of 0 along Y; 1 mm is used" << 0ull;
    // ITK would make these 1 mm, or skip past the file, without a word.
    QTest::newRow("NRRD NaN spacing")
        << "nan-spacing.nrrd"
        << nrrd("type: uint8\ndimension: 3\nsizes: 2 2 2\nspacings: 1 nan 1\n", eight) << true
        << "spacing of nan along Y; 1 mm is used" << 0ull;
    QTest::newRow("MetaImage HeaderSize beyond the file")
        << "far.mha"
        << mha + "HeaderSize = 999999999999\nElementType = MET_UCHAR\nElementDataFile = LOCAL\n" +
               eight
        << false << "HeaderSize of 999999999999 bytes lies beyond the end of the file" << 0ull;
}

void TestScanFiles::damagedScans()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, loads);
    QFETCH(QString, message);
    QFETCH(qulonglong, missing);
    const QString path = dir.filePath(name);
    QVERIFY(writeFile(path, content));
    const ScanLoad run = load(path);
    const std::string text = message.toStdString();
    if (!loads) {
        QVERIFY2(!run.result.ok, run.err.c_str());
        QCOMPARE(run.volume.width, 1); // untouched
        QVERIFY2(run.result.reason.find(text) != std::string::npos, run.result.reason.c_str());
        return;
    }
    QVERIFY2(run.result.ok, run.err.c_str());
    QCOMPARE(run.result.missingSamples, std::uint64_t(missing));
    QCOMPARE(run.volume.data.size(), std::size_t(8));
    QVERIFY2(run.err.find("+ Warning: ") != std::string::npos &&
                 run.err.find(text) != std::string::npos,
             run.err.c_str());
    // Missing samples read as 0, present ones keep their value.
    if (missing > 0 && missing < 8)
        QCOMPARE(std::count(run.volume.data.begin(), run.volume.data.end(), 0.0f),
                 std::ptrdiff_t(missing));
}

void TestScanFiles::niftiTwoInBothByteOrders()
{
    for (bool bigEndian : {false, true}) {
        const QString path = dir.filePath(bigEndian ? "big.nii" : "little.nii");
        QVERIFY(writeFile(path, nifti2(bigEndian, {0, 100, 300, 1000})));
        const ScanLoad run = load(path);
        QVERIFY2(run.result.ok && run.result.warnings.empty(), run.err.c_str());
        QCOMPARE(run.volume.valueRange.maximum, 1000.0);
        // Without qform or sform the file lies as nibabel places it, i to the
        // left and j anterior: only Y turns round in LPS.
        QCOMPARE(run.volume.data[0], 0.3f);
        QCOMPARE(run.volume.data[3], 0.1f);
    }
    // A slope that takes the values beyond a double: the stored values, with a word.
    const QString scaled = dir.filePath("scaled.nii");
    QVERIFY(writeFile(scaled, nifti2(false, {0, 100, 300, 1000}, 1e306)));
    const ScanLoad run = load(scaled);
    QVERIFY2(run.result.ok && run.err.find("value scaling (slope 1e+306") != std::string::npos,
             run.err.c_str());
    QCOMPARE(run.volume.valueRange.maximum, 1000.0);
}

// A data file's name may hold blanks and any letters; only NRRD's numbered
// form ("slice%03d.raw 1 40 1") names several files.
void TestScanFiles::detachedDataFileNames()
{
    QVERIFY(QDir(dir.path()).mkpath(QString::fromUtf8("Über Daten")));
    QVERIFY(
        writeFile(dir.filePath(QString::fromUtf8("Über Daten/dä ta.raw")), QByteArray(8, '\x03')));
    const QByteArray fields = "type: uint8\ndimension: 3\nsizes: 2 2 2\n";
    const QString blanks = dir.filePath("blanks.nhdr");
    QVERIFY(writeFile(blanks, nrrd(fields + "data file: Über Daten/dä ta.raw\n", {})));
    const ScanLoad run = load(blanks);
    QVERIFY2(run.result.ok, run.err.c_str());
    QCOMPARE(run.volume.data.size(), std::size_t(8));
    const QString numbered = dir.filePath("numbered.nhdr");
    QVERIFY(writeFile(numbered, nrrd(fields + "data file: slice%03d.raw 1 2 1\n", {})));
    QVERIFY(load(numbered).result.reason.find("several data files") != std::string::npos);
}

void TestScanFiles::specialFilesRefusedAtOnce()
{
    const QString fifo = dir.filePath("scan.nii");
    QCOMPARE(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    const QString header = dir.filePath("piped.mhd");
    QVERIFY(writeFile(header, "ObjectType = Image\nNDims = 3\nDimSize = 2 2 2\n"
                              "ElementType = MET_UCHAR\nElementDataFile = scan.nii\n"));
    const QString folder = dir.filePath("series-with-fifo");
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(writeDicomSeriesWithItk(folder.toStdString(),
                                    storedReference({{{0, 1, 2}}, {{1, 1, 1}}}),
                                    "1.2.826.0.1.3680043.2.1143.9"));
    QCOMPARE(::mkfifo(QFile::encodeName(folder + "/pipe.dcm").constData(), 0600), 0);
    QVERIFY(QFile::link("loop", folder + "/loop"));
    QVERIFY(writeFile(folder + "/foreign.dcm", QByteArray(128, '\0') + "DICM" +
                                                   QByteArray("\x09\x00\x10\x00OB\0\0", 8) +
                                                   QByteArray("\xff\xff\xff\x7f", 4)));

    QElapsedTimer timer;
    timer.start();
    const ScanLoad pipe = load(fifo);
    QVERIFY(!pipe.result.ok);
    QVERIFY2(pipe.result.reason.find("named pipe (FIFO)") != std::string::npos,
             pipe.result.reason.c_str());
    const ScanLoad detached = load(header);
    QVERIFY(!detached.result.ok);
    QVERIFY(detached.result.reason.find("named pipe (FIFO)") != std::string::npos);
    QVERIFY(timer.elapsed() < 1000);

    // The series loads whole; what was skipped is counted.
    const ScanLoad series = load(folder);
    QVERIFY2(series.result.ok, series.err.c_str());
    QCOMPARE(series.volume.depth, 3);
    QVERIFY2(series.err.find("2 entries of the folder are not regular files") != std::string::npos,
             series.err.c_str());
    QVERIFY2(series.err.find("1 files of the folder are damaged or not DICOM") != std::string::npos,
             series.err.c_str());
}

void TestScanFiles::latin1NameLoads()
{
    // "café.nrrd" in Latin-1: not UTF-8, so no QString names it; the bytes go
    // through as the file system gave them.
    const std::string path = QFile::encodeName(dir.path()).toStdString() + "/caf\xe9.nrrd";
    const QByteArray bytes = nrrd("type: uint8\ndimension: 3\nsizes: 2 2 2\n", QByteArray(8, 3));
    std::FILE *file = std::fopen(path.c_str(), "wb");
    QVERIFY(file);
    QCOMPARE(std::fwrite(bytes.constData(), 1, std::size_t(bytes.size()), file),
             std::size_t(bytes.size()));
    QCOMPARE(std::fclose(file), 0);
    std::ostringstream out, err;
    Volume volume;
    const VolumeReadResult result = readVolumeFile(path, volume, out, err, VolumeReadOptions());
    QVERIFY2(result.ok, err.str().c_str());
    QCOMPARE(volume.depth, 2);
    QVERIFY(out.str().find("- Loading file '" + path + "' ... \n") == 0);
    // QTemporaryDir cannot name the file to remove it.
    QCOMPARE(::unlink(path.c_str()), 0);
}

// The file meta information written without value representations (as an
// implicit data set) made GDCM assert instead of refusing the file.
void TestScanFiles::dicomMetaGroupNeedsItsRepresentations()
{
    QByteArray bytes(128, '\0');
    bytes += "DICM";
    bytes += QByteArray::fromHex("02001000") + QByteArray::fromHex("14000000") +
             QByteArray("1.2.840.10008.1.2.1", 20);
    const QString path = dir.filePath("implicit-meta.dcm");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DicomSliceFacts facts = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(facts.problem.find("no value representation") != std::string::npos,
             facts.problem.c_str());
    // Two letters that name none (found by the DICOM fuzzer).
    bytes.replace(132, 8, QByteArray::fromHex("020010005541") + QByteArray::fromHex("1400"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DicomSliceFacts lettered = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(lettered.problem.find("no value representation") != std::string::npos,
             lettered.problem.c_str());
    // Meta information that does not start at once: GDCM read the deflated
    // data set that followed as raw elements (found by the DICOM fuzzer).
    bytes.replace(132, 2, QByteArray::fromHex("d100"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DicomSliceFacts late = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(late.problem.find("where the file meta information should start") != std::string::npos,
             late.problem.c_str());
}

// A file that ends with its meta group made GDCM assert (found by the DICOM
// fuzzer).
void TestScanFiles::dicomNeedsADataSet()
{
    QByteArray bytes(128, '\0');
    bytes += "DICM";
    bytes += QByteArray::fromHex("020010005549") + QByteArray::fromHex("1400") +
             QByteArray("1.2.840.10008.1.2.1", 20);
    const QString path = dir.filePath("meta-only.dcm");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DicomSliceFacts facts = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(facts.problem.find("no data set") != std::string::npos, facts.problem.c_str());
    // Items in an element that is neither a sequence nor unknown made GDCM
    // assert as well.
    bytes += QByteArray::fromHex("09001000"
                                 "4f570000"
                                 "ffffffff"
                                 "feffdde0"
                                 "00000000");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    file.close();
    const DicomSliceFacts items = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(items.problem.find("undefined length but value representation OW") !=
                 std::string::npos,
             items.problem.c_str());
    // An item among the elements of an implicit data set (found by the
    // fuzzer in an enhanced multi-frame file).
    QByteArray implicit(128, '\0');
    implicit += "DICM";
    implicit += QByteArray::fromHex("020010005549") + QByteArray::fromHex("1200") +
                QByteArray("1.2.840.10008.1.2", 18) +
                QByteArray::fromHex("08001600"
                                    "04000000"
                                    "312e3200"
                                    "feff00e0"
                                    "ffffffff");
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(implicit) == implicit.size());
    file.close();
    const DicomSliceFacts stray = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(stray.problem.find("is an item where a data element should stand") !=
                 std::string::npos,
             stray.problem.c_str());
    // A file without preamble that starts neither with its meta group nor
    // with group 0008: GDCM read it big-endian and allocated 4 GB (found by
    // the fuzzer).
    QVERIFY(writeFile(path, QByteArray::fromHex("00009118"
                                                "53510000"
                                                "18000000")));
    const DicomSliceFacts bare = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(bare.problem.find("starts a file without preamble") != std::string::npos,
             bare.problem.c_str());
    // Functional groups without a plane orientation made GDCM assert as it
    // placed the frames (found by the fuzzer); with one they pass.
    QByteArray groups(128, '\0');
    groups += "DICM";
    groups += QByteArray::fromHex("020010005549") + QByteArray::fromHex("1400") +
              QByteArray("1.2.840.10008.1.2.1", 20) +
              QByteArray::fromHex("00522992"
                                  "53510000"
                                  "ffffffff"
                                  "feff00e0"
                                  "ffffffff");
    const QByteArray closeItem = QByteArray::fromHex("feff0de0"
                                                     "00000000"
                                                     "feffdde0"
                                                     "00000000");
    const QByteArray orientation = QByteArray::fromHex("20001691"
                                                       "53510000"
                                                       "ffffffff"
                                                       "feff00e0"
                                                       "ffffffff"
                                                       "20003700"
                                                       "44530c00") +
                                   QByteArray("1\\0\\0\\0\\1\\0 ") + closeItem;
    // A dose grid scaling makes GDCM take a file of another class for RT
    // dose, and assert on its missing frames as it does for RT dose.
    const QByteArray dose = groups.left(groups.size() - 20) + QByteArray::fromHex("04300e00"
                                                                                  "44530400"
                                                                                  "302e3120");
    QVERIFY(writeFile(path, dose));
    const DicomSliceFacts scaled = screenDicomFile(QFile::encodeName(path).toStdString());
    QVERIFY2(scaled.problem.empty(), scaled.problem.c_str());
    QVERIFY(gdcmAbortReason(scaled).find("RT dose") != std::string::npos);
    for (const bool oriented : {false, true}) {
        // One frame, one (empty) per-frame group.
        const QByteArray written = groups + (oriented ? orientation : QByteArray()) + closeItem +
                                   QByteArray::fromHex("00523092"
                                                       "53510000"
                                                       "ffffffff"
                                                       "feff00e0"
                                                       "ffffffff") +
                                   closeItem;
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(written) == written.size());
        file.close();
        const DicomSliceFacts enhanced = screenDicomFile(QFile::encodeName(path).toStdString());
        QVERIFY2(enhanced.problem.empty(), enhanced.problem.c_str());
        QCOMPARE(gdcmAbortReason(enhanced).empty(), oriented);
        if (!oriented)
            continue;
        // Two frames with one per-frame group.
        const QByteArray twoFrames = written.left(groups.size() - 20) +
                                     QByteArray::fromHex("28000800"
                                                         "49530200"
                                                         "3220") +
                                     written.mid(groups.size() - 20);
        QVERIFY(writeFile(path, twoFrames));
        const DicomSliceFacts short2 = screenDicomFile(QFile::encodeName(path).toStdString());
        QVERIFY2(gdcmAbortReason(short2).find("1 per-frame functional groups for 2 frames") !=
                     std::string::npos,
                 gdcmAbortReason(short2).c_str());
    }

    // Image attributes that made GDCM assert (each found by the fuzzer): two
    // samples per pixel; a pixel representation neither 0 nor 1 (read as
    // signed); columns as SS; a recognition code of no ACR-NEMA format;
    // packed 12-bit samples; more bits stored than allocated.
    bytes.chop(20);
    const struct
    {
        const char *elements;
        const char *problem;
    } attributes[] = {
        {"28000200"
         "5553"
         "0200"
         "0200",
         "2 samples per pixel"},
        {"28000301"
         "5553"
         "0200"
         "01df",
         "pixel representation of 57089"},
        {"28001100"
         "5353"
         "0200"
         "0400",
         "value representation SS where the image needs US"},
        {"08001000"
         "5348"
         "0400"
         "41435220",
         "names no ACR-NEMA format"},
        {"28000001"
         "5553"
         "0200"
         "0c00",
         "12 bits allocated"},
        {"28000001"
         "5553"
         "0200"
         "0800"
         "28000101"
         "5553"
         "0200"
         "1000",
         "16 bits stored of 8 allocated"},
        // A colour model for one sample per pixel: GDCM read past its buffer.
        {"28000400"
         "4353"
         "0800"
         "5942525f46554c4c",
         "YBR_FULL, which has 3 samples per pixel, but the file gives 1"},
        // A name cut short: GDCM took it for the first it starts (MONOCHROME1).
        {"28000400"
         "4353"
         "0a00"
         "4d4f4e4f4348524f4d20",
         "'MONOCHROM', which names none"},
        {"28000600"
         "5553"
         "0200"
         "0700",
         "planar configuration of 7"},
        // Pixel data without bits allocated.
        {"e07f1000"
         "4f420000"
         "02000000"
         "0000",
         "gives no bits allocated"},
        // ... or without rows and columns, which left its length unchecked.
        {"28000001"
         "5553"
         "0200"
         "1000"
         "e07f1000"
         "4f420000"
         "02000000"
         "0000",
         "gives no rows or columns"},
    };
    for (const auto &attribute : attributes) {
        QVERIFY(writeFile(path, bytes + QByteArray::fromHex(attribute.elements)));
        const DicomSliceFacts screened = screenDicomFile(QFile::encodeName(path).toStdString());
        QVERIFY2(screened.problem.find(attribute.problem) != std::string::npos,
                 screened.problem.c_str());
    }
}

// GDCM's RLE decoder ran past its buffers on false segment headers (found by
// the DICOM fuzzer): each frame's header and runs are checked first.
void TestScanFiles::dicomRleFramesAreChecked()
{
    const auto rleFile = [](const QByteArray &header, const QByteArray &segment) {
        QByteArray bytes(128, '\0');
        bytes += "DICM";
        bytes += QByteArray::fromHex("020010005549") + QByteArray::fromHex("1400") +
                 QByteArray("1.2.840.10008.1.2.5", 20);
        // One sample of 8 bits per pixel, 2 x 2 pixels.
        bytes += QByteArray::fromHex("2800020055530200"
                                     "0100"
                                     "2800100055530200"
                                     "0200"
                                     "2800110055530200"
                                     "0200"
                                     "2800000155530200"
                                     "0800");
        QByteArray fragment = header + segment;
        QByteArray length(4, '\0');
        put<std::uint32_t>(length, 0, std::uint32_t(fragment.size()));
        bytes += QByteArray::fromHex("e07f1000"
                                     "4f420000"
                                     "ffffffff"
                                     "feff00e0"
                                     "00000000"
                                     "feff00e0") +
                 length + fragment +
                 QByteArray::fromHex("feffdde0"
                                     "00000000");
        return bytes;
    };
    QByteArray header(64, '\0');
    put<std::uint32_t>(header, 0, 1);
    put<std::uint32_t>(header, 4, 64);
    const QByteArray fourBytes = QByteArray::fromHex("0301020304");
    struct Case
    {
        QByteArray header, segment;
        const char *problem; // empty: sound
    };
    QByteArray twoSegments = header, farOffset = header;
    put<std::uint32_t>(twoSegments, 0, 2);
    put<std::uint32_t>(farOffset, 4, 900);
    const Case cases[] = {{header, fourBytes, ""},
                          {twoSegments, fourBytes, "of 2 segments where its samples need 1"},
                          {farOffset, fourBytes, "segment offsets do not lie in order"},
                          {header, QByteArray::fromHex("0101020000"), "makes fewer bytes"}};
    const QString path = dir.filePath("rle.dcm");
    for (const Case &c : cases) {
        QVERIFY(writeFile(path, rleFile(c.header, c.segment)));
        const DicomSliceFacts facts = screenDicomFile(QFile::encodeName(path).toStdString());
        QVERIFY2(facts.problem.find(c.problem) != std::string::npos &&
                     facts.problem.empty() == !*c.problem,
                 facts.problem.c_str());
    }
}

QTEST_APPLESS_MAIN(TestScanFiles)
#include "tst_scanfiles.moc"
