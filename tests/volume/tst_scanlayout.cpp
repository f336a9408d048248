#include "datheader.h"
#include "loadplan.h"
#include "mappedscan.h"
#include "orientation.h"
#include "scanbytes.h"
#include "scanfileaccess.h"
#include "scanlayout.h"
#include "scanwriter.h"
#include "volume.h"
#include "volumefile.h"

#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <sys/stat.h>

#include <algorithm>
#include <sstream>

namespace {

// 5 x 4 x 3 voxels stored with permuted and flipped axes, so that a probe's
// size and spacing only match the load after reorientation.
TestScan permutedScan()
{
    TestScan scan;
    scan.size = {5, 4, 3};
    scan.spacing = {0.5, 0.75, 2.0};
    scan.direction = {0, -1, 0, 1, 0, 0, 0, 0, 1};
    for (int i = 0; i < 60; ++i)
        scan.values.push_back(float(7 + i));
    return scan;
}

// The first sample where layout says the samples lie (the test files' first
// samples are positive integers).
double firstSample(const ScanLayout &layout)
{
    unsigned char bytes[8] = {};
    const std::uint64_t size = sampleSize(layout.type);
    InflateStream stream;
    std::string reason;
    if (layout.storage == ScanLayout::Storage::Compressed)
        (void)(stream.open(layout.dataPath, layout.dataOffset, reason) &&
               stream.read(nullptr, layout.inflatedOffset) == layout.inflatedOffset &&
               stream.read(bytes, size) == size);
    else
        readFileBytes(layout.dataPath, layout.dataOffset, bytes, size);
    if (layout.bigEndian)
        std::reverse(bytes, bytes + size);
    double value = 0;
    for (std::uint64_t i = size; i-- > 0;)
        value = value * 256 + bytes[i];
    return value;
}

ScanLayout layoutOf(std::array<std::uint64_t, 3> size, ScanLayout::Storage storage,
                    VolumeFormat format = VolumeFormat::Nifti)
{
    ScanLayout layout;
    layout.format = format;
    layout.size = size;
    layout.type = SampleType::UInt16;
    layout.storage = storage;
    return layout;
}

using Size3 = std::array<std::uint64_t, 3>;

} // namespace

Q_DECLARE_METATYPE(ScanLayout::Storage)
Q_DECLARE_METATYPE(SampleType)
Q_DECLARE_METATYPE(LoadPlan::Path)
Q_DECLARE_METATYPE(Size3)
Q_DECLARE_METATYPE(ScanLayout)
Q_DECLARE_METATYPE(LoadLimits)

class TestScanLayout : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { QVERIFY(dir.isValid()); }
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void probeMatchesLoad_data();
    void probeMatchesLoad();
    void hugeHeaderAnswersAtOnce();
    void refusalsAsTheReaders();
    void plan_data();
    void plan();
    void beyondTheBudgetLoadsAReducedLevel_data();
    void beyondTheBudgetLoadsAReducedLevel();
    void compressedBeyondTheBudgetIsInflatedOnce();

private:
    QTemporaryDir dir;
};

void TestScanLayout::probeMatchesLoad_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("bytes"); // empty: written by ITK
    QTest::addColumn<bool>("compress");
    QTest::addColumn<ScanLayout::Storage>("storage");
    QTest::addColumn<SampleType>("type");
    QTest::addColumn<bool>("bigEndian");
    QTest::addColumn<QString>("dataName");
    QTest::addColumn<double>("first"); // the first stored sample
    QTest::addColumn<double>("top");   // the largest, for the value range

    using S = ScanLayout::Storage;
    QByteArray dat = datHeader(3, 2, 1);
    for (int v : {9, 3, 5000, 1, 2, 3})
        dat += char(v & 0xff), dat += char(v >> 8);
    QTest::newRow("dat") << "a.dat" << dat << false << S::Raw << SampleType::UInt16 << false
                         << "a.dat" << 9.0 << 4095.0;
    for (bool big : {false, true}) {
        NiftiFields fields;
        fields.bigEndian = big;
        const QByteArray samples("\x04\x01\x02\x09\x05\x06\x07\x08", 8);
        QTest::addRow("nifti-1 %s", big ? "big" : "little")
            << "n1.nii" << nifti1(fields, samples) << false << S::Raw << SampleType::UInt8 << big
            << "n1.nii" << 4.0 << 9.0;
        QTest::addRow("nifti-2 %s", big ? "big" : "little")
            << "n2.nii" << nifti2(big, {300, 100, 1000, 0}, 2.5) << false << S::Raw
            << SampleType::UInt16 << big << "n2.nii" << 300.0 << 1000.0;
    }
    // ITK writes the rest: int16 samples 7..66.
    const struct
    {
        const char *name, *dataName;
        bool compress;
        S storage;
    } written[] = {
        {"p.hdr", "p.img", false, S::Raw},         {"c.nii.gz", "c.nii.gz", false, S::Compressed},
        {"a.nrrd", "a.nrrd", false, S::Raw},       {"d.nhdr", "d.raw", false, S::Raw},
        {"g.nrrd", "g.nrrd", true, S::Compressed}, {"l.mha", "l.mha", false, S::Raw},
        {"m.mhd", "m.raw", false, S::Raw},         {"z.mha", "z.mha", true, S::Compressed}};
    for (const auto &w : written)
        QTest::addRow("%s%s", w.name, w.compress ? " compressed" : "")
            << w.name << QByteArray() << w.compress << w.storage << SampleType::Int16 << false
            << w.dataName << 7.0 << 66.0;
    // .vti: appended raw samples lie in the file as they are, ascii ones do not.
    const QByteArray vtiSamples("\x04\x01\x02\x09\x05\x06\x07\x08", 8);
    QTest::newRow("vti appended raw")
        << "r.vti"
        << vti(vtiPiece(vtiArray("UInt8", "appended", "offset=\"0\"", {})),
               "<AppendedData encoding=\"raw\">_" + words32({8}) + vtiSamples +
                   "\n</AppendedData>\n")
        << false << S::Raw << SampleType::UInt8 << false << "r.vti" << 4.0 << 9.0;
    QTest::newRow("vti ascii") << "a.vti"
                               << vti(vtiPiece(vtiArray("Int16", "ascii", {}, "-4 1 2 9 5 6 7 8")))
                               << false << S::Other << SampleType::Int16 << false << "a.vti" << -4.0
                               << 9.0;
    QTest::newRow("dicom series") << "series" << QByteArray() << false << S::Other
                                  << SampleType::Float32 << false << "series" << 0.0 << 66.0;
}

void TestScanLayout::probeMatchesLoad()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, bytes);
    QFETCH(bool, compress);
    QFETCH(ScanLayout::Storage, storage);
    QFETCH(SampleType, type);
    QFETCH(bool, bigEndian);
    QFETCH(QString, dataName);
    QFETCH(double, first);
    QFETCH(double, top);

    const QString folder = dir.filePath(QTest::currentDataTag());
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/" + name;
    if (name == "series") {
        QVERIFY(QDir().mkpath(path));
        QVERIFY(writeDicomSeriesWithItk(path.toStdString(), permutedScan(), "1.2.826.0.1.77"));
    } else if (bytes.isEmpty()) {
        QVERIFY(writeScanWithItk(path.toStdString(), permutedScan(), compress));
    } else {
        QVERIFY(writeFile(path, bytes));
    }

    ScanLayout layout;
    const ScanReadResult probed = probeScanLayout(path.toStdString(), layout);
    QVERIFY2(probed.ok, probed.reason.c_str());
    Volume volume;
    std::ostringstream out, err;
    const VolumeReadResult loaded =
        readVolumeFile(path.toStdString(), volume, out, err, VolumeReadOptions());
    QVERIFY2(loaded.ok, err.str().c_str());

    QCOMPARE(layout.format, loaded.format);
    QCOMPARE(layout.storage, storage);
    QCOMPARE(layout.type, type);
    QCOMPARE(layout.bigEndian, bigEndian);
    QCOMPARE(layout.twelveBitSamples, layout.format == VolumeFormat::Dat);
    QCOMPARE(QFileInfo(QString::fromStdString(layout.dataPath)).fileName(), dataName);
    // The load shows the stored axes in LPS order.
    const Reorientation reorientation = reorientationFromDirection(layout.direction);
    const Size3 shown = reorientedAxes(layout.size, reorientation);
    QCOMPARE(shown, (Size3{std::uint64_t(volume.width), std::uint64_t(volume.height),
                           std::uint64_t(volume.depth)}));
    if (volume.patientFrame)
        QCOMPARE(reorientedAxes(layout.spacing, reorientation), volume.spacing);
    QCOMPARE(layout.slope * top + layout.intercept, volume.valueRange.maximum);
    if (storage == ScanLayout::Storage::Other)
        return;
    QCOMPARE(firstSample(layout), first);
    if (storage == ScanLayout::Storage::Raw)
        QCOMPARE(layout.samplesPresent(), layout.sampleCount());
}

void TestScanLayout::hugeHeaderAnswersAtOnce()
{
    // 4000^3 uint16 samples (119 GiB) announced by a 352-byte file: the probe
    // reads the header and nothing else.
    NiftiFields fields;
    fields.dim = {3, 4000, 4000, 4000};
    QByteArray header = nifti1(fields, QByteArray());
    put<std::int16_t>(header, 70, 512);
    const QString plain = dir.filePath("huge.nii");
    QVERIFY(writeFile(plain, header));
    QElapsedTimer timer;
    timer.start();
    ScanLayout layout;
    const ScanReadResult probed = probeScanLayout(plain.toStdString(), layout);
    QVERIFY2(probed.ok, probed.reason.c_str());
    QVERIFY(timer.elapsed() < 1000);
    QCOMPARE(layout.size, (Size3{4000, 4000, 4000}));
    QCOMPARE(layout.dataOffset, std::uint64_t(352));
    QCOMPARE(layout.samplesPresent(), std::uint64_t(0));
}

void TestScanLayout::refusalsAsTheReaders()
{
    // Impossible headers and special files: the probe gives the reader's reason.
    NiftiFields fiveD;
    fiveD.dim = {5, 2, 2, 2};
    QByteArray vectors = nifti1(fiveD, QByteArray(48, '\0'));
    put<std::int16_t>(vectors, 48, 2);
    put<std::int16_t>(vectors, 50, 3);
    const QList<QPair<QString, QByteArray>> files = {
        {"vectors.nii", vectors},
        {"dims.mha", "ObjectType = Image\nNDims = -1\nElementDataFile = LOCAL\n"},
        {"named.nii", "not a header"}};
    for (const auto &[name, bytes] : files) {
        const QString path = dir.filePath(name);
        QVERIFY(writeFile(path, bytes));
        ScanLayout layout;
        const ScanReadResult probed = probeScanLayout(path.toStdString(), layout);
        Volume volume;
        std::ostringstream out, err;
        const VolumeReadResult read =
            readVolumeFile(path.toStdString(), volume, out, err, VolumeReadOptions());
        QVERIFY(!read.ok && !read.reason.empty());
        QCOMPARE(probed.ok, false);
        QCOMPARE(probed.reason, read.reason);
    }
    const QString fifo = dir.filePath("pipe.nii");
    QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
    ScanLayout layout;
    const ScanReadResult probed = probeScanLayout(fifo.toStdString(), layout);
    QVERIFY(!probed.ok && probed.reason.find("FIFO") != std::string::npos);
}

void TestScanLayout::plan_data()
{
    QTest::addColumn<ScanLayout>("layout");
    QTest::addColumn<LoadLimits>("limits");
    QTest::addColumn<LoadPlan::Path>("path");
    QTest::addColumn<int>("level");
    QTest::addColumn<Size3>("size");
    QTest::addColumn<qulonglong>("hostBytes");
    QTest::addColumn<QString>("words"); // in the reason or note

    using S = ScanLayout::Storage;
    using P = LoadPlan::Path;
    const qulonglong n = 64 * 64 * 64;
    const LoadLimits roomy{1ull << 40, 1ull << 40, 2048, 1ull << 30};
    const ScanLayout cube = layoutOf({64, 64, 64}, S::Raw);
    // Floats and the uint16 samples beside them while reading: 6 bytes a voxel.
    QTest::newRow("fits") << cube << roomy << P::Single << 0 << Size3{64, 64, 64} << 6 * n << "";
    QTest::newRow("memory exactly") << cube << LoadLimits{6 * n, 2 * n, 64, 2 * n} << P::Single << 0
                                    << Size3{64, 64, 64} << 6 * n << "";
    QTest::newRow("dat reads in place")
        << layoutOf({64, 64, 64}, S::Raw, VolumeFormat::Dat) << LoadLimits{4 * n, 2 * n, 64, 2 * n}
        << P::Single << 0 << Size3{64, 64, 64} << 4 * n << "";
    QTest::newRow("side beyond") << cube << LoadLimits{6 * n, 2 * n, 63, 2 * n} << P::Blocks << 0
                                 << Size3{64, 64, 64} << 6 * n << "";
    QTest::newRow("texture bytes beyond") << cube << LoadLimits{6 * n, 2 * n, 64, 2 * n - 1}
                                          << P::Blocks << 0 << Size3{64, 64, 64} << 6 * n << "";
    QTest::newRow("memory one byte short")
        << cube << LoadLimits{6 * n - 1, 1ull << 40, 64, 1} << P::Level << 1 << Size3{32, 32, 32}
        << 4 * n / 8 << "1/2 resolution";
    const ScanLayout odd = layoutOf({101, 100, 99}, S::Raw);
    const qulonglong half = 51 * 50 * 50;
    QTest::newRow("gpu: level 1") << odd << LoadLimits{1ull << 40, 2 * half, 2048, 1ull << 30}
                                  << P::Level << 1 << Size3{51, 50, 50} << 4 * half << "1/2";
    QTest::newRow("gpu: level 2") << odd << LoadLimits{1ull << 40, 2 * half - 1, 2048, 1ull << 30}
                                  << P::Level << 2 << Size3{26, 25, 25} << 4ull * 26 * 25 * 25
                                  << "1/4";
    QTest::newRow("beyond 2^32 voxels")
        << layoutOf({2048, 2048, 1025}, S::Raw) << roomy << P::Level << 1 << Size3{1024, 1024, 513}
        << 4ull * 1024 * 1024 * 513 << "2^32";
    QTest::newRow("compressed beyond memory")
        << layoutOf({64, 64, 64}, S::Compressed) << LoadLimits{6 * n - 1, 1ull << 40, 64, 1}
        << P::Refuse << 0 << Size3{0, 0, 0} << 0ull << "decompress the file first";
    QTest::newRow("text beyond textures")
        << layoutOf({64, 64, 64}, S::Other) << LoadLimits{1ull << 40, 2 * n - 1, 64, 1} << P::Refuse
        << 0 << Size3{0, 0, 0} << 0ull << "convert it";
}

void TestScanLayout::plan()
{
    QFETCH(ScanLayout, layout);
    QFETCH(LoadLimits, limits);
    QFETCH(LoadPlan::Path, path);
    QFETCH(int, level);
    QFETCH(Size3, size);
    QFETCH(qulonglong, hostBytes);
    QFETCH(QString, words);

    const LoadPlan plan = planVolumeLoad(layout, limits);
    QCOMPARE(plan.path, path);
    QCOMPARE(plan.level, level);
    QCOMPARE(plan.size, size);
    QCOMPARE(plan.hostBytes, std::uint64_t(hostBytes));
    QCOMPARE(plan.path == LoadPlan::Path::Refuse, !plan.reason.empty());
    const std::string told = plan.reason + plan.note;
    QVERIFY2(told.find(words.toStdString()) != std::string::npos, told.c_str());
}

void TestScanLayout::beyondTheBudgetLoadsAReducedLevel_data()
{
    QTest::addColumn<int>("samples");
    QTest::addColumn<int>("level");
    // 20 x 12 x 9 voxels need 4320 bytes of 16-bit texels; 200 are allowed.
    QTest::newRow("complete: mapped, level 2") << 20 * 12 * 9 << 2;
    // Only a complete file is mapped; the reader reads a short one whole.
    QTest::newRow("short: read whole") << 20 * 12 * 4 << 0;
}

void TestScanLayout::beyondTheBudgetLoadsAReducedLevel()
{
    QFETCH(int, samples);
    QFETCH(int, level);
    QByteArray bytes = datHeader(20, 12, 9);
    for (int i = 0; i < samples; ++i) {
        const int value = (i * 37) % 4096;
        bytes.append(char(value & 0xff)).append(char(value >> 8));
    }
    const QString path = dir.filePath(QStringLiteral("budget-%1.dat").arg(samples));
    QVERIFY(writeFile(path, bytes));
    VolumeReadOptions options;
    options.gpuBudgetBytes = 200;
    Volume target;
    std::ostringstream out, err;
    const VolumeReadResult result = readVolumeFile(path.toStdString(), target, out, err, options);
    QVERIFY2(result.ok, result.reason.c_str());
    QCOMPARE(result.level, level);
    QCOMPARE(target.level, level);
    QCOMPARE(bool(target.fullResolution), level > 0);
    QCOMPARE(target.width, (20 + (1 << level) - 1) >> level);
    QCOMPARE(target.depth, (9 + (1 << level) - 1) >> level);
    QCOMPARE(err.str().find("Shown at 1/4 resolution in 3D") != std::string::npos, level == 2);

    // A cancelled load gives up between slabs and changes nothing.
    const std::atomic<bool> stop{true};
    options.stop = &stop;
    Volume untouched;
    const VolumeReadResult cancelled =
        readVolumeFile(path.toStdString(), untouched, out, err, options);
    QCOMPARE(cancelled.ok, level == 0);
    QCOMPARE(untouched.width, level == 0 ? 20 : 1);
}

// A compressed file beyond the budget is inflated into a temporary file, which
// is mapped and loses its name at once; a cut stream is refused.
void TestScanLayout::compressedBeyondTheBudgetIsInflatedOnce()
{
    const QString folder = dir.filePath("inflate");
    QVERIFY(QDir().mkpath(folder));
    const QString path = folder + "/scan.nii.gz";
    QVERIFY(writeScanWithItk(path.toStdString(), permutedScan(), false));
    Volume whole;
    QVERIFY(whole.load(path.toStdString()));
    // Left by a process that no longer runs (beyond any process number).
    QVERIFY(writeFile(folder + "/kelvara-2147483647-0.raw", "x"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(writeFile(folder + "/cut.nii.gz", file.read(file.size() / 2)));

    qputenv("TMPDIR", folder.toLocal8Bit());
    VolumeReadOptions options;
    options.gpuBudgetBytes = 8;
    std::ostringstream out, err;
    Volume target;
    const VolumeReadResult read = readVolumeFile(path.toStdString(), target, out, err, options);
    Volume untouched;
    const VolumeReadResult cut =
        readVolumeFile((folder + "/cut.nii.gz").toStdString(), untouched, out, err, options);
    const std::atomic<bool> stop{true};
    options.stop = &stop;
    const VolumeReadResult cancelled =
        readVolumeFile(path.toStdString(), untouched, out, err, options);
    qunsetenv("TMPDIR");

    QVERIFY2(read.ok, read.reason.c_str());
    QVERIFY(read.level > 0 && target.fullResolution);
    QCOMPARE(target.fullResolution->size(),
             (std::array<int, 3>{{whole.width, whole.height, whole.depth}}));
    for (int z = 0; z < whole.depth; ++z)
        for (int y = 0; y < whole.height; ++y)
            for (int x = 0; x < whole.width; ++x)
                QCOMPARE(target.fullResolution->normalisedValue(x, y, z),
                         whole.data[std::size_t(x + whole.width * (y + whole.height * z))]);
    QVERIFY(!cut.ok);
    QCOMPARE(cancelled.reason, std::string("Loading was cancelled."));
    QCOMPARE(untouched.width, 1);
    QCOMPARE(QDir(folder).entryList({"kelvara-*"}, QDir::Files), QStringList());
}

QTEST_GUILESS_MAIN(TestScanLayout)
#include "tst_scanlayout.moc"
