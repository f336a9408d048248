#include "backgroundload.h"
#include "capturedoutput.h"
#include "mainwindow.h"
#include "progresstap.h"
#include "samplevolumes.h"
#include "scanwriter.h"
#include "volume.h"

#include <QDir>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSemaphore>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <sstream>

namespace {

// A reader that waits at the start of every read until the test opens the
// gate: the load stays slow for as long as the test drives the event loop.
struct GatedReader
{
    QSemaphore gate;
    std::atomic<int> readsDone{0};

    BackgroundLoad::Reader reader()
    {
        return
            [this](const std::string &path, Volume &target, std::ostream &out, std::ostream &err) {
                gate.acquire();
                const VolumeReadResult result =
                    readVolumeFile(path, target, out, err, VolumeReadOptions());
                ++readsDone;
                return result;
            };
    }
};

} // namespace

class TestBackgroundLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void progressTap_data();
    void progressTap();
    void dicomSeriesLoadsWhileTheWindowAnswers();
    void endOfAnUnwantedLoad_data();
    void endOfAnUnwantedLoad();

private:
    QTemporaryDir dir;
    QString boxFile, headFile, seriesFolder;
};

void TestBackgroundLoad::initTestCase()
{
    boxFile = dir.filePath("box.dat");
    headFile = dir.filePath("head.dat");
    QVERIFY(writeDatFile(boxFile.toStdString(), makeCentredBox(8, 6, 5, 1, 4095)));
    QVERIFY(writeDatFile(headFile.toStdString(), makeHeadPhantom(10, 10, 7)));
    seriesFolder = dir.filePath("series");
    QVERIFY(QDir().mkpath(seriesFolder));
    TestScan scan;
    scan.size = {{16, 12, 6}};
    for (std::size_t i = 0; i < 16 * 12 * 6; ++i)
        scan.values.push_back(float(i % 500));
    QVERIFY(writeDicomSeriesWithItk(seriesFolder.toStdString(), scan, "1.2.826.0.1.3680043.9.7"));
}

void TestBackgroundLoad::progressTap_data()
{
    QTest::addColumn<QStringList>("writes");
    QTest::addColumn<QList<int>>("percents");

    const QStringList datLoad = {"- Loading file 'a.dat' ... \n", "- File loaded.\n",
                                 "\r- Preparing data (0%) ...",   "\r- Preparing data (50%) ...",
                                 "\r- Preparing data (100%) ...", "\n- Data prepared.\n"};
    QTest::newRow("a DAT load") << datLoad << QList<int>{0, 50, 100};
    QStringList characters;
    for (const QChar c : datLoad.join(QString()))
        characters << QString(c);
    QTest::newRow("one character at a time") << characters << QList<int>{0, 50, 100};
    QTest::newRow("the words inside a file name")
        << QStringList{"- Loading file '/tmp/- Preparing data (7%) ...' ... \n"} << QList<int>{};
    QTest::newRow("no number") << QStringList{"\r- Preparing data (%) ...",
                                              "\r- Preparing data (x1%) ..."}
                               << QList<int>{};
    QTest::newRow("beyond 100") << QStringList{"\r- Preparing data (1000%) ..."} << QList<int>{};
}

void TestBackgroundLoad::progressTap()
{
    QFETCH(QStringList, writes);
    QFETCH(QList<int>, percents);
    std::ostringstream target;
    QList<int> reported;
    ProgressTap tap(target.rdbuf(), [&](int percent) { reported << percent; });
    std::ostream out(&tap);
    for (const QString &text : writes)
        out << text.toStdString();
    out << std::flush;
    QCOMPARE(reported, percents);
    // Standard output sees exactly what the reader wrote.
    QCOMPARE(QString::fromStdString(target.str()), writes.join(QString()));
}

void TestBackgroundLoad::dicomSeriesLoadsWhileTheWindowAnswers()
{
    GatedReader gated;
    MainWindow window;
    const auto openGate = qScopeGuard([&] { gated.gate.release(4); });
    BackgroundLoad *loader = window.backgroundLoad();
    loader->setReader(gated.reader());
    auto *progressBar = window.findChild<QProgressBar *>("loadProgressBar");
    auto *cancelButton = window.findChild<QPushButton *>("cancelLoadButton");
    QVERIFY(progressBar && cancelButton);
    QVERIFY(progressBar->isHidden() && cancelButton->isHidden());
    QSignalSpy progress(loader, &BackgroundLoad::progressChanged);
    CapturedOutput output;
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);

    window.startLoad(seriesFolder);
    QVERIFY(!progressBar->isHidden() && !cancelButton->isHidden());
    QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
    QCOMPARE(window.statusBar()->currentMessage(), QString("Loading series ..."));
    // Timers fire while the worker waits inside the read.
    QTRY_VERIFY(ticks >= 5);
    QCOMPARE(window.currentVolume(), nullptr);

    gated.gate.release();
    QTRY_VERIFY(window.currentVolume() != nullptr);
    QCOMPARE(window.currentVolume()->width, 16);
    QCOMPARE(window.currentVolume()->depth, 6);
    QVERIFY(window.windowTitle().startsWith("series"));
    QVERIFY(progressBar->isHidden() && cancelButton->isHidden());
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QVERIFY(progress.size() >= 2);
    QCOMPARE(progress.first().first().toInt(), -1);
    QCOMPARE(progress.last().first().toInt(), 100);
    // The progress lines reach standard output in their order.
    const std::string text = output.text();
    const std::size_t loading = text.find("- Loading file '");
    const std::size_t preparing = text.find("\r- Preparing data (100%) ...");
    const std::size_t prepared = text.find("- Data prepared.");
    QVERIFY(loading < preparing && preparing < prepared && prepared != std::string::npos);
}

void TestBackgroundLoad::endOfAnUnwantedLoad_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<int>("reads");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QString>("message");

    // The box (depth 5) is loaded first; the head has depth 7.
    QTest::newRow("cancelled") << "cancel" << 1 << 5 << "Loading head.dat cancelled";
    QTest::newRow("replaced by a second load") << "second" << 2 << 5 << "box.dat: ";
    QTest::newRow("failed") << "missing" << 1 << 5 << "Could not load missing.dat";
}

void TestBackgroundLoad::endOfAnUnwantedLoad()
{
    QFETCH(QString, what);
    QFETCH(int, reads);
    QFETCH(int, depth);
    QFETCH(QString, message);
    GatedReader gated;
    MainWindow window;
    const auto openGate = qScopeGuard([&] { gated.gate.release(4); });
    CapturedOutput output;
    QVERIFY(window.loadFile(boxFile));
    const Volume *before = window.currentVolume();
    BackgroundLoad *loader = window.backgroundLoad();
    loader->setReader(gated.reader());
    QSignalSpy finished(loader, &BackgroundLoad::finished);

    window.startLoad(what == "missing" ? dir.filePath("missing.dat") : headFile);
    if (what == "cancel")
        window.findChild<QPushButton *>("cancelLoadButton")->click();
    if (what == "second")
        window.startLoad(boxFile);
    gated.gate.release(reads);
    QTRY_VERIFY(!loader->isReading() && !loader->isBusy());
    QCOMPARE(gated.readsDone.load(), reads);
    QCOMPARE(window.currentVolume()->depth, depth);
    // Only a load that is read to the end replaces the data set.
    QCOMPARE(window.currentVolume() != before, what == "second");
    QCOMPARE(finished.size(), what == "cancel" ? 0 : 1);
    QVERIFY2(window.statusBar()->currentMessage().startsWith(message),
             qPrintable(window.statusBar()->currentMessage()));
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(TestBackgroundLoad)
#include "tst_backgroundload.moc"
