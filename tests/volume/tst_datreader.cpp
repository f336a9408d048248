#include "datheader.h"
#include "datreader.h"
#include "memorylimit.h"
#include "samplevolumes.h"
#include "volume.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <sstream>

namespace {

struct LoadRun
{
    Volume volume;
    DatReadResult result;
    std::string out;
    std::string err;
};

LoadRun load(const std::string &path, const Volume &start = Volume(),
             std::uint64_t maxDataBytes = UINT64_MAX)
{
    LoadRun run;
    run.volume = start;
    std::ostringstream out, err;
    DatReadOptions options;
    options.maxDataBytes = maxDataBytes;
    run.result = readDatFile(path, run.volume, out, err, options);
    run.out = out.str();
    run.err = err.str();
    return run;
}

void writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

SampleVolume samplesOf(int w, int h, int d, std::vector<std::uint16_t> samples)
{
    SampleVolume volume;
    volume.width = w;
    volume.height = h;
    volume.depth = d;
    volume.samples = std::move(samples);
    return volume;
}

const std::string errorLine = "+ Error loading file.\n\n";

std::string loadingLine(const std::string &path)
{
    return "- Loading file '" + path + "' ... \n";
}

// A loaded volume whose values a failed load must leave alone.
Volume existingVolume()
{
    Volume volume;
    volume.width = 2;
    volume.height = 1;
    volume.depth = 1;
    volume.data = {0.25f, 0.75f};
    return volume;
}

void verifyUnchanged(const Volume &volume)
{
    QCOMPARE(volume.width, 2);
    QCOMPARE(volume.height, 1);
    QCOMPARE(volume.depth, 1);
    QCOMPARE(volume.data, (VoxelArray{0.25f, 0.75f}));
}

} // namespace

class TestDatReader : public QObject
{
    Q_OBJECT

private slots:
    void newVolumeIsOneZeroVoxel();
    void mapsSamplesAndPrintsProgress();
    void progressLines_data();
    void progressLines();
    void truncatedFileLoadsZerosWithWarning();
    void trailingBytesAreIgnored();
    void depthZeroGivesEmptyData();
    void unreadableInputKeepsVolume_data();
    void unreadableInputKeepsVolume();
    void overflowingHeaderIsRefusedWithReason();
    void headerBeyondMemoryIsRefusedWithReason();
    void machineLimitIsPositive();
    void nonAsciiFileNameLoads();
    void largeVolumeRoundTrips();
    void everySampleValueMapsExactly();

private:
    QTemporaryDir dir;
    std::string path(const char *name) const { return dir.filePath(name).toStdString(); }
};

void TestDatReader::newVolumeIsOneZeroVoxel()
{
    const Volume volume;
    QCOMPARE(volume.width, 1);
    QCOMPARE(volume.height, 1);
    QCOMPARE(volume.depth, 1);
    QCOMPARE(volume.data, VoxelArray{0.0f});
}

void TestDatReader::mapsSamplesAndPrintsProgress()
{
    const std::string file = path("map.dat");
    QVERIFY(writeDatFile(file, samplesOf(2, 1, 2, {0, 4095, 2048, 65535})));
    const LoadRun run = load(file);
    QVERIFY(run.result.ok);
    QCOMPARE(run.volume.width, 2);
    QCOMPARE(run.volume.height, 1);
    QCOMPARE(run.volume.depth, 2);
    QCOMPARE(run.volume.data, (VoxelArray{0.0f, 1.0f, 2048.0f / 4095.0f, 1.0f}));
    QCOMPARE(run.out, loadingLine(file) +
                          "- File loaded.\n\r- Preparing data (0%) ...\r- Preparing data (100%) "
                          "...\n- Data prepared.\n");
    QCOMPARE(run.err, std::string());

    // 4094 stays just below one: the divisor is 4095, not 4096 or 65535.
    QVERIFY(writeDatFile(file, samplesOf(1, 1, 1, {4094})));
    const LoadRun below = load(file);
    QCOMPARE(below.volume.data, VoxelArray{4094.0f / 4095.0f});
    QVERIFY(below.volume.data[0] < 1.0f);
}

void TestDatReader::progressLines_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("progress");
    QTest::newRow("one slice") << 1 << "\r- Preparing data (100%) ...";
    QTest::newRow("three slices") << 3
                                  << "\r- Preparing data (0%) ...\r- Preparing data (50%) "
                                     "...\r- Preparing data (100%) ...";
    QTest::newRow("four slices") << 4
                                 << "\r- Preparing data (0%) ...\r- Preparing data (33%) "
                                    "...\r- Preparing data (66%) ...\r- Preparing data (100%) ...";
}

void TestDatReader::progressLines()
{
    QFETCH(int, depth);
    QFETCH(QString, progress);
    const std::string file = path("progress.dat");
    QVERIFY(writeDatFile(file, makeUniform(3, 2, depth, 100)));
    const LoadRun run = load(file);
    QVERIFY(run.result.ok);
    QCOMPARE(run.out, loadingLine(file) + "- File loaded.\n" + progress.toStdString() +
                          "\n- Data prepared.\n");
}

void TestDatReader::truncatedFileLoadsZerosWithWarning()
{
    const std::string file = path("short.dat");
    SampleVolume full = makeUniform(4, 4, 4, 4095);
    QVERIFY(writeDatFile(file, full, nullptr, 10));
    const LoadRun run = load(file);
    QVERIFY(run.result.ok);
    QCOMPARE(run.result.missingSamples, std::uint64_t(54));
    QCOMPARE(run.volume.data.size(), std::size_t(64));
    for (std::size_t i = 0; i < 64; ++i)
        QCOMPARE(run.volume.data[i], i < 10 ? 1.0f : 0.0f);
    QVERIFY(run.out.find("- Data prepared.\n") != std::string::npos);
    QCOMPARE(run.err, std::string("+ Warning: the file ends after 10 of 64 samples; the missing "
                                  "54 samples read as 0.\n"));

    // Half a sample at the end is no sample.
    writeBytes(dir.filePath("odd.dat"), datHeader(2, 1, 1) + QByteArray("\xff\x0f\x01", 3));
    const LoadRun odd = load(path("odd.dat"));
    QVERIFY(odd.result.ok);
    QCOMPARE(odd.volume.data, (VoxelArray{1.0f, 0.0f}));
    QCOMPARE(odd.result.missingSamples, std::uint64_t(1));
}

void TestDatReader::trailingBytesAreIgnored()
{
    writeBytes(dir.filePath("long.dat"),
               datHeader(1, 1, 1) + QByteArray("\xff\x0f\x00\x00\x01", 5));
    const LoadRun run = load(path("long.dat"));
    QVERIFY(run.result.ok);
    QCOMPARE(run.volume.data, VoxelArray{1.0f});
    QCOMPARE(run.err, std::string());
}

void TestDatReader::depthZeroGivesEmptyData()
{
    writeBytes(dir.filePath("empty.dat"), datHeader(5, 7, 0));
    const LoadRun run = load(path("empty.dat"), existingVolume());
    QVERIFY(run.result.ok);
    QCOMPARE(run.volume.width, 5);
    QCOMPARE(run.volume.height, 7);
    QCOMPARE(run.volume.depth, 0);
    QVERIFY(run.volume.data.empty());
    QCOMPARE(run.out, loadingLine(path("empty.dat")) + "- File loaded.\n\n- Data prepared.\n");
}

void TestDatReader::unreadableInputKeepsVolume_data()
{
    QTest::addColumn<QByteArray>("content"); // null: the file is not created
    QTest::addColumn<bool>("directory");
    QTest::newRow("missing") << QByteArray() << false;
    QTest::newRow("directory") << QByteArray() << true;
    QTest::newRow("empty") << QByteArray("") << false;
    for (int n = 1; n <= 5; ++n)
        QTest::addRow("%d header bytes", n) << datHeader(1, 1, 1).left(n) << false;
}

void TestDatReader::unreadableInputKeepsVolume()
{
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    const QString name = dir.filePath(QString("bad-%1").arg(QTest::currentDataTag()));
    if (directory)
        QVERIFY(QDir().mkpath(name));
    else if (!content.isNull())
        writeBytes(name, content);

    const LoadRun run = load(name.toStdString(), existingVolume());
    QVERIFY(!run.result.ok);
    verifyUnchanged(run.volume);
    QCOMPARE(run.out, loadingLine(name.toStdString()));
    QCOMPARE(run.err, errorLine);
}

void TestDatReader::overflowingHeaderIsRefusedWithReason()
{
    writeBytes(dir.filePath("huge.dat"), datHeader(2048, 2048, 2048) + QByteArray(16, '\0'));
    const LoadRun run = load(path("huge.dat"), existingVolume());
    QVERIFY(!run.result.ok);
    verifyUnchanged(run.volume);
    QCOMPARE(run.out, loadingLine(path("huge.dat")));
    QCOMPARE(run.err, std::string("+ Error loading file.\n+ The header announces 2048 x 2048 x "
                                  "2048 samples, more than a 32-bit count can hold.\n\n"));
}

void TestDatReader::headerBeyondMemoryIsRefusedWithReason()
{
    // 1000 x 1000 x 1000 fits in 32 bits but needs 3814 MiB as floats.
    writeBytes(dir.filePath("big.dat"), datHeader(1000, 1000, 1000));
    const LoadRun run = load(path("big.dat"), existingVolume(), std::uint64_t(1) << 30);
    QVERIFY(!run.result.ok);
    verifyUnchanged(run.volume);
    QCOMPARE(run.err, std::string("+ Error loading file.\n+ The header announces 1000 x 1000 x "
                                  "1000 samples (3814 MiB as floats), more than can be held in "
                                  "memory here (1024 MiB).\n\n"));

    // Exactly at the limit still loads.
    QVERIFY(writeDatFile(path("fits.dat"), makeUniform(4, 4, 4, 7)));
    QVERIFY(load(path("fits.dat"), Volume(), 4 * 64).result.ok);
    QVERIFY(!load(path("fits.dat"), Volume(), 4 * 64 - 1).result.ok);
}

void TestDatReader::machineLimitIsPositive()
{
    // The largest legal header (65535^3 overflows; 65535 x 65535 x 1 does not)
    // must be refused on any machine with less than 16 GiB x 2 of memory, and a
    // modest data set must always fit.
    const std::uint64_t limit = loadableDataBytes();
    QVERIFY(limit >= (std::uint64_t(256) << 20));
}

void TestDatReader::nonAsciiFileNameLoads()
{
    const QString name = dir.filePath(QString::fromUtf8("Schädel-τομή.dat"));
    const std::string encoded = QFile::encodeName(name).toStdString();
    QVERIFY(writeDatFile(encoded, makeUniform(2, 2, 2, 4095)));
    const LoadRun run = load(encoded);
    QVERIFY(run.result.ok);
    QCOMPARE(run.volume.data, VoxelArray(8, 1.0f));
}

void TestDatReader::largeVolumeRoundTrips()
{
    // Exercises the in-place widening across many blocks and slices: each
    // sample must land at its own index with its own value.
    SampleVolume volume;
    volume.width = 97;
    volume.height = 61;
    volume.depth = 13;
    volume.samples.resize(std::size_t(97) * 61 * 13);
    for (std::size_t i = 0; i < volume.samples.size(); ++i)
        volume.samples[i] = std::uint16_t((i * 7919) % 5000);
    QVERIFY(writeDatFile(path("ramp.dat"), volume));
    const LoadRun run = load(path("ramp.dat"));
    QVERIFY(run.result.ok);
    for (std::size_t i = 0; i < volume.samples.size(); ++i) {
        const float expected = std::min(float(volume.samples[i]), 4095.0f) / 4095.0f;
        if (run.volume.data[i] != expected)
            QFAIL(qPrintable(QString("sample %1 is %2, expected %3")
                                 .arg(i)
                                 .arg(run.volume.data[i])
                                 .arg(expected)));
    }
}

void TestDatReader::everySampleValueMapsExactly()
{
    // Every 16-bit value, through the same widening a load uses: the quotient
    // s / 4095 rounded to float, and exactly 1.0 from 4095 up.
    std::vector<unsigned char> bytes(2 * 65536);
    for (int s = 0; s < 65536; ++s) {
        bytes[2 * s] = static_cast<unsigned char>(s & 0xff);
        bytes[2 * s + 1] = static_cast<unsigned char>(s >> 8);
    }
    std::vector<float> values(65536);
    normaliseSamples(bytes.data(), values.data(), values.size());
    for (int s = 0; s < 65536; ++s) {
        const float expected = s >= 4095 ? 1.0f : float(s) / 4095.0f;
        if (values[s] != expected)
            QFAIL(qPrintable(
                QString("sample %1 gives %2, expected %3").arg(s).arg(values[s]).arg(expected)));
    }
}

QTEST_GUILESS_MAIN(TestDatReader)
#include "tst_datreader.moc"
