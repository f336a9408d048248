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

// Each read waits at its start until the test opens the gate: the load stays
// slow for as long as the test drives the event loop.
struct GatedReader
{
    QSemaphore gate;
    std::atomic<int> readsDone{0};
    BackgroundLoad::Reader reader()
    {
        return [this](const std::string &path, Volume &target, std::ostream &out, std::ostream &err,
                      const std::atomic<bool> &) {
            gate.acquire();
            const VolumeReadResult result =
                readVolumeFile(path, target, out, err, VolumeReadOptions());
            ++readsDone;
            return result;
        };
    }
};

class TestBackgroundLoad : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void progressTap_data();
    void progressTap();
    void dicomSeriesLoadsWhileTheWindowAnswers();
    void unwantedLoadKeepsDataSet_data();
    void unwantedLoadKeepsDataSet();

private:
    QTemporaryDir dir;
};

void TestBackgroundLoad::initTestCase()
{
    QVERIFY(writeDatFile(dir.filePath("box.dat").toStdString(), makeCentredBox(8, 6, 5, 1, 99)));
    QVERIFY(writeDatFile(dir.filePath("head.dat").toStdString(), makeHeadPhantom(10, 10, 7)));
    QVERIFY(QDir(dir.path()).mkdir("series"));
    TestScan scan;
    scan.size = {{16, 12, 6}};
    for (int i = 0; i < 16 * 12 * 6; ++i)
        scan.values.push_back(float(i % 500));
    QVERIFY(writeDicomSeriesWithItk(dir.filePath("series").toStdString(), scan, "1.2.3.4"));
}

void TestBackgroundLoad::progressTap_data()
{
    QTest::addColumn<QString>("written");
    QTest::addColumn<QList<int>>("percents");
    QTest::newRow("a DAT load") << "- Loading file 'a' ... \n- File loaded.\n\r- Preparing data "
                                   "(0%) ...\r- Preparing data (50%) ...\r- Preparing data "
                                   "(100%) ...\n- Data prepared.\n"
                                << QList<int>{0, 50, 100};
    QTest::newRow("beyond memory: inflating, then reducing")
        << "- Loading file 'a.nii.gz' ... \n\r- Decompressing (0%) ...\r- Decompressing (100%) "
           "...\n\r- Reducing data (40%) ...\n- File loaded.\n"
        << QList<int>{0, 100, 40};
    QTest::newRow("the words inside a file name")
        << "- Loading file '- Preparing data (7%) ...' ... \n"
        << QList<int>{};
    QTest::newRow("no percentage") << "\r- Preparing data (%) ...\r- Preparing data (x1%) ...\r- "
                                      "Preparing data (1000%) ..."
                                   << QList<int>{};
}

void TestBackgroundLoad::progressTap()
{
    QFETCH(QString, written);
    QFETCH(QList<int>, percents);
    // Written whole and one character at a time, as a reader may.
    for (const bool whole : {true, false}) {
        std::ostringstream target;
        QList<int> reported;
        ProgressTap tap(target.rdbuf(), [&](int percent) { reported << percent; });
        std::ostream out(&tap);
        const std::string text = written.toStdString();
        if (whole)
            out << text;
        for (std::size_t i = 0; !whole && i < text.size(); ++i)
            out << text[i];
        out << std::flush;
        QCOMPARE(reported, percents);
        QCOMPARE(target.str(), text); // standard output sees the text unchanged
    }
}

void TestBackgroundLoad::dicomSeriesLoadsWhileTheWindowAnswers()
{
    GatedReader gated;
    MainWindow window;
    const auto openGate = qScopeGuard([&] { gated.gate.release(4); });
    window.backgroundLoad()->setReader(gated.reader());
    auto *progressBar = window.findChild<QProgressBar *>("loadProgressBar");
    auto *cancelButton = window.findChild<QPushButton *>("cancelLoadButton");
    QSignalSpy progress(window.backgroundLoad(), &BackgroundLoad::progressChanged);
    CapturedOutput output;
    int ticks = 0;
    QTimer timer;
    connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(5);

    window.startLoad(dir.filePath("series"));
    QVERIFY(!progressBar->isHidden() && !cancelButton->isHidden());
    QCOMPARE(window.cursor().shape(), Qt::BusyCursor);
    QTRY_VERIFY(ticks >= 5); // timers fire while the worker waits inside the read
    QCOMPARE(window.currentVolume(), nullptr);

    gated.gate.release();
    QTRY_VERIFY(window.currentVolume() != nullptr);
    QCOMPARE(window.currentVolume()->width, 16);
    QCOMPARE(window.currentVolume()->depth, 6);
    QVERIFY(progressBar->isHidden() && cancelButton->isHidden());
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
    QCOMPARE(progress.first().first().toInt(), -1);
    QCOMPARE(progress.last().first().toInt(), 100);
    const std::string text = output.text();
    const std::size_t loading = text.find("- Loading file '");
    const std::size_t preparing = text.find("\r- Preparing data (100%) ...");
    const std::size_t prepared = text.find("- Data prepared.");
    QVERIFY(loading < preparing && preparing < prepared && prepared != std::string::npos);
}

void TestBackgroundLoad::unwantedLoadKeepsDataSet_data()
{
    QTest::addColumn<QString>("what");
    QTest::addColumn<QString>("message");
    QTest::newRow("cancelled") << "cancel"
                               << "Loading head.dat cancelled";
    // The head's load is dropped; the box is read anew.
    QTest::newRow("replaced by a second load") << "second"
                                               << "box.dat: ";
    QTest::newRow("failed") << "missing"
                            << "Could not load missing.dat";
}

void TestBackgroundLoad::unwantedLoadKeepsDataSet()
{
    QFETCH(QString, what);
    QFETCH(QString, message);
    GatedReader gated;
    MainWindow window;
    const auto openGate = qScopeGuard([&] { gated.gate.release(4); });
    CapturedOutput output;
    QVERIFY(window.loadFile(dir.filePath("box.dat")));
    const Volume *before = window.currentVolume();
    BackgroundLoad *loader = window.backgroundLoad();
    loader->setReader(gated.reader());
    QSignalSpy finished(loader, &BackgroundLoad::finished);

    window.startLoad(dir.filePath(what == "missing" ? "missing.dat" : "head.dat"));
    if (what == "cancel")
        window.findChild<QPushButton *>("cancelLoadButton")->click();
    if (what == "second")
        window.startLoad(dir.filePath("box.dat"));
    const int reads = what == "second" ? 2 : 1;
    gated.gate.release(reads);
    QTRY_VERIFY(!loader->isReading() && !loader->isBusy());
    QCOMPARE(gated.readsDone.load(), reads);
    QCOMPARE(window.currentVolume()->depth, 5);
    QCOMPARE(window.currentVolume() != before, what == "second");
    QCOMPARE(finished.size(), what == "cancel" ? 0 : 1);
    QVERIFY2(window.statusBar()->currentMessage().startsWith(message),
             qPrintable(window.statusBar()->currentMessage()));
    QCOMPARE(window.cursor().shape(), Qt::ArrowCursor);
}

QTEST_MAIN(TestBackgroundLoad)
#include "tst_backgroundload.moc"
