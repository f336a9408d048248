#include "datheader.h"
#include "mainwindow.h"
#include "memorylimit.h"
#include "samplevolumes.h"
#include "volume.h"

#include <QFile>
#include <QImage>
#include <QProcess>
#include <QScrollBar>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <limits>

namespace {

enum class Outcome
{
    Refused,           // error line, nothing changes, batch exits 1
    RefusedWithReason, // error line and a reason line
    LoadedWarning,     // loads with zeros and a warning, batch exits 0
    Loaded,            // loads normally
    LoadedEmpty,       // a data set without voxels: nothing to render, batch exits 1
};

// The "beyond memory" header asks for 16 GiB of floats: a machine that could
// hold them would really allocate them.
bool couldHold16GiB()
{
    return loadableDataBytes() >= (std::uint64_t(16) << 30);
}

} // namespace

Q_DECLARE_METATYPE(Outcome)

// Every kind of bad input, through the window's load path and through batch
// mode of the real executable.
class TestHostileFiles : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void windowKeepsDataSet_data();
    void windowKeepsDataSet();
    void batchExitStatus_data() { windowKeepsDataSet_data(); }
    void batchExitStatus();
    void batchTransferFunction_data();
    void batchTransferFunction();

private:
    QTemporaryDir dir;
    QString goodFile;
    QString prepare(const QString &tag, const QByteArray &content, bool directory);
};

void TestHostileFiles::initTestCase()
{
    goodFile = dir.filePath("good.dat");
    QVERIFY(writeDatFile(goodFile.toStdString(), makeCentredBox(12, 10, 8, 2, 3000)));
}

QString TestHostileFiles::prepare(const QString &tag, const QByteArray &content, bool directory)
{
    const QString name = dir.filePath(tag);
    if (directory) {
        QDir().mkpath(name);
    } else if (!content.isNull()) {
        QFile file(name);
        if (file.open(QIODevice::WriteOnly))
            file.write(content);
    }
    return name;
}

void TestHostileFiles::windowKeepsDataSet_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("content"); // null: no file is created
    QTest::addColumn<bool>("directory");
    QTest::addColumn<Outcome>("outcome");

    QTest::newRow("missing") << "missing.dat" << QByteArray() << false << Outcome::Refused;
    QTest::newRow("directory") << "folder.dat" << QByteArray() << true << Outcome::Refused;
    QTest::newRow("empty") << "empty.dat" << QByteArray("") << false << Outcome::Refused;
    for (int n = 1; n <= 5; ++n)
        QTest::addRow("%d bytes", n) << QString("short%1.dat").arg(n) << datHeader(9, 9, 9).left(n)
                                     << false << Outcome::Refused;
    QTest::newRow("32-bit overflow")
        << "overflow.dat" << datHeader(65535, 65535, 2) << false << Outcome::RefusedWithReason;
    // Fits in 32 bits but needs 16 GiB as floats: more than half of any machine
    // that runs these tests.
    QTest::newRow("beyond memory")
        << "beyond.dat" << datHeader(65535, 65535, 1) << false << Outcome::RefusedWithReason;
    QTest::newRow("header only") << "headeronly.dat" << datHeader(4, 4, 4) << false
                                 << Outcome::LoadedWarning;
    QTest::newRow("truncated") << "truncated.dat" << datHeader(4, 4, 4) + QByteArray(21, '\x07')
                               << false << Outcome::LoadedWarning;
    QTest::newRow("zero dimensions")
        << "zero.dat" << datHeader(5, 7, 0) << false << Outcome::LoadedEmpty;
    QTest::newRow("one slice") << "oneslice.dat" << datHeader(3, 2, 1) + QByteArray(12, '\x01')
                               << false << Outcome::Loaded;
    // Scans go through the same load path and keep the same promise.
    const QByteArray nrrd = "NRRD0004\ntype: float\nendian: little\nencoding: raw\n";
    const float mixed[] = {std::numeric_limits<float>::quiet_NaN(), 1.0f, 2.0f,
                           std::numeric_limits<float>::infinity()};
    const QByteArray mixedBytes(reinterpret_cast<const char *>(mixed), sizeof mixed);
    QTest::newRow("text named .nii")
        << "notes.nii" << QByteArray("not a scan\n") << false << Outcome::Refused;
    // Short scans read like short DAT files: the missing samples are 0.
    QTest::newRow("scan shorter than its header")
        << "short.nrrd" << nrrd + "dimension: 3\nsizes: 40 40 40\n\n" + mixedBytes << false
        << Outcome::LoadedWarning;
    QTest::newRow("4D scan") << "4d.nrrd" << nrrd + "dimension: 4\nsizes: 1 1 2 2\n\n" + mixedBytes
                             << false << Outcome::Loaded;
    QTest::newRow("5D scan") << "5d.nrrd"
                             << nrrd + "dimension: 5\nsizes: 1 1 1 2 2\n\n" + mixedBytes << false
                             << Outcome::Refused;
    QTest::newRow("empty DICOM folder") << "series" << QByteArray() << true << Outcome::Refused;
    QTest::newRow("scan with NaN and Inf, one slice")
        << "nan.nrrd" << nrrd + "dimension: 2\nsizes: 2 2\n\n" + mixedBytes << false
        << Outcome::Loaded;
    QTest::newRow("scan with zero spacing")
        << "flat.nrrd" << nrrd + "dimension: 3\nsizes: 1 2 2\nspacings: 0 1 1\n\n" + mixedBytes
        << false << Outcome::Refused;
    QTest::newRow("non-ASCII name")
        << QString::fromUtf8("Kopf-τομή-头.dat") << datHeader(2, 2, 2) + QByteArray(16, '\x02')
        << false << Outcome::Loaded;
}

void TestHostileFiles::windowKeepsDataSet()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    QFETCH(Outcome, outcome);
    const QString path = prepare(name, content, directory);
    if (QByteArray(QTest::currentDataTag()) == "beyond memory" && couldHold16GiB())
        QSKIP("this machine could hold 16 GiB of floats");

    MainWindow window;
    QVERIFY(window.loadFile(goodFile));
    auto *scrollBar = window.findChild<QScrollBar *>("slicingScrollBar");
    scrollBar->setValue(3);
    const Volume *good = window.currentVolume();

    const bool loaded = window.loadFile(path);
    if (outcome == Outcome::Refused || outcome == Outcome::RefusedWithReason) {
        QVERIFY(!loaded);
        QCOMPARE(window.currentVolume(), good);
        QCOMPARE(good->width, 12);
        QCOMPARE(scrollBar->value(), 3);
        QCOMPARE(scrollBar->maximum(), 11);
        QVERIFY(window.statusBar()->currentMessage().startsWith("Could not load"));
        if (outcome == Outcome::RefusedWithReason)
            QVERIFY(window.statusBar()->currentMessage().contains("header announces"));
    } else {
        QVERIFY(loaded);
        QVERIFY(window.currentVolume() != good);
        const Volume &now = *window.currentVolume();
        QCOMPARE(now.data.size(), std::size_t(now.width) * now.height * now.depth);
        QCOMPARE(window.statusBar()->currentMessage().contains("truncated"),
                 outcome == Outcome::LoadedWarning);
    }
    // The window still answers: it can load the good file again.
    QVERIFY(window.loadFile(goodFile));
}

void TestHostileFiles::batchExitStatus()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, content);
    QFETCH(bool, directory);
    QFETCH(Outcome, outcome);
    const QString path = prepare(name, content, directory);
    if (QByteArray(QTest::currentDataTag()) == "beyond memory" && couldHold16GiB())
        QSKIP("this machine could hold 16 GiB of floats");
    const QString output = dir.filePath(QString("out-%1.png").arg(QTest::currentDataTag()));
    QFile::remove(output);

    QProcess process;
    process.start(KELVARA_EXECUTABLE, {path, "--output", output, "--size", "64x64"});
    QVERIFY(process.waitForFinished(60000));
    const QByteArray out = process.readAllStandardOutput();
    const QByteArray err = process.readAllStandardError();
    QVERIFY(out.startsWith("- Loading file '" + QFile::encodeName(path) + "' ... \n"));
    if (outcome == Outcome::Refused || outcome == Outcome::RefusedWithReason) {
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(err.contains("+ Error loading file.\n"));
        QCOMPARE(err.contains("+ The header announces"), outcome == Outcome::RefusedWithReason);
        QVERIFY(!QFile::exists(output));
    } else if (outcome == Outcome::LoadedEmpty) {
        QCOMPARE(process.exitCode(), 1);
        QVERIFY(out.contains("- Data prepared.\n"));
        QVERIFY(err.contains("+ Error rendering frame: "));
        QVERIFY(!QFile::exists(output));
    } else {
        QVERIFY2(process.exitCode() == 0, err.constData());
        QCOMPARE(err.contains("+ Warning: the file ends after"), outcome == Outcome::LoadedWarning);
        QImage image;
        QVERIFY(image.load(output, "PNG"));
        QCOMPARE(image.size(), QSize(64, 64));
    }
}

void TestHostileFiles::batchTransferFunction_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    const QString broken = prepare("broken.json", "{\"kelvara-transfer-function\": 1,", false);
    const QString paraView =
        prepare("map.json", R"([{"RGBPoints": [0, 1, 1, 1, 4095, 1, 1, 1]}])", false);
    QTest::newRow("preset") << QStringList{"--transfer-function", "bone"} << 0 << QString();
    QTest::newRow("paraview map") << QStringList{"--transfer-function", paraView} << 0 << QString();
    QTest::newRow("broken file")
        << QStringList{"--transfer-function", broken} << 1
        << QString("+ Error loading transfer function '%1': not JSON").arg(broken);
    QTest::newRow("no such file or preset")
        << QStringList{"--transfer-function", "skn"} << 1
        << "'skn': cannot be read (no such file); it is not a preset either";
    QTest::newRow("with stops") << QStringList{"--transfer-function", "skin", "--stops",
                                               "0:#ffffffff"}
                                << 2 << "--stops and --transfer-function cannot be used together";
}

void TestHostileFiles::batchTransferFunction()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString output = dir.filePath(QString("tf-%1.png").arg(QTest::currentDataTag()));
    QProcess process;
    process.start(KELVARA_EXECUTABLE,
                  QStringList{goodFile, "--output", output, "--size", "64x64"} + arguments);
    QVERIFY(process.waitForFinished(60000));
    const QString err = QString::fromLocal8Bit(process.readAllStandardError());
    QVERIFY2(process.exitCode() == exitCode, qPrintable(err));
    QVERIFY2(err.contains(message), qPrintable(err));
    QCOMPARE(QFile::exists(output), exitCode == 0);
}

QTEST_MAIN(TestHostileFiles)
#include "tst_hostilefiles.moc"
