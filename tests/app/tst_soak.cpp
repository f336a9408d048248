#include "capturedoutput.h"
#include "gradienteditor.h"
#include "mainwindow.h"
#include "samplevolumes.h"
#include "shadewidget.h"
#include "volume.h"
#include "volumerenderer.h"

#include <QTemporaryDir>
#include <QTest>

#include <fstream>
#include <malloc.h>

namespace {

long residentKilobytes()
{
    // Freed blocks that the allocator keeps in its arenas count as resident
    // and grow with fragmentation for a while; handing them back first leaves
    // what is still in use.
    malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.compare(0, 6, "VmRSS:") == 0)
            return std::atol(line.c_str() + 6);
    return -1;
}

// Under AddressSanitizer freed memory waits in a quarantine and resident size
// says nothing about leaks; LeakSanitizer checks those at exit instead.
void verifySettled(long afterFirst, long afterAll)
{
#ifdef KELVARA_SANITIZED
    Q_UNUSED(afterFirst);
    Q_UNUSED(afterAll);
#else
    QVERIFY(afterFirst > 0);
    QVERIFY2(afterAll <= afterFirst * 105 / 100,
             qPrintable(QString("grew from %1 to %2 KiB").arg(afterFirst).arg(afterAll)));
#endif
}

// Slow frames on a loaded machine switch to reduced frames, whose buffer and
// program are made once, at whatever cycle that happens: that one-time
// allocation would pass for growth. The soak is about data sets and edits.
void keepFullFrames(MainWindow &window)
{
    window.findChild<VolumeRenderer *>()->setInteractionFrameBudget(1e9);
}

int configured(const char *name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

} // namespace

// Long runs of what a user does all day: replacing data sets and editing the
// transfer function. Memory must settle after the first round.
class TestSoak : public QObject
{
    Q_OBJECT

private slots:
    void loadReplaceCycles();
    void transferFunctionEdits();
};

void TestSoak::loadReplaceCycles()
{
    QTemporaryDir dir;
    const QString first = dir.filePath("a.dat");
    const QString second = dir.filePath("b.dat");
    QVERIFY(writeDatFile(first.toStdString(), makeHeadPhantom(48, 40, 32)));
    QVERIFY(writeDatFile(second.toStdString(), makeMarschnerLobb(30, 30, 30)));

    CapturedOutput quiet; // swallows progress and probe lines
    MainWindow window;
    window.resize(500, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    keepFullFrames(window);
    const int cycles = configured("KELVARA_SOAK_LOADS", 500);
    long afterFirst = -1;
    for (int cycle = 0; cycle < cycles; ++cycle) {
        QVERIFY(window.loadFile(first));
        QVERIFY(window.loadFile(second));
        // Let a frame be drawn now and then, as a user would see them.
        if (cycle % 25 == 0)
            QCoreApplication::processEvents();
        quiet.clear();
        if (cycle == 0)
            afterFirst = residentKilobytes();
    }
    QCoreApplication::processEvents();
    const long afterAll = residentKilobytes();
    QCOMPARE(window.currentVolume()->width, 30);
    qInfo("resident memory after the first cycle %ld KiB, after %d cycles %ld KiB", afterFirst,
          cycles, afterAll);
    verifySettled(afterFirst, afterAll);
}

void TestSoak::transferFunctionEdits()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("a.dat");
    QVERIFY(writeDatFile(file.toStdString(), makeHeadPhantom(32, 32, 32)));

    CapturedOutput quiet; // swallows progress and probe lines
    MainWindow window;
    window.resize(500, 400);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    keepFullFrames(window);
    QVERIFY(window.loadFile(file));
    window.setDefault();
    auto *editor = window.findChild<GradientEditor *>();
    auto *renderer = window.findChild<VolumeRenderer *>();
    ShadeWidget *strips[] = {editor->redStrip(), editor->greenStrip(), editor->blueStrip(),
                             editor->alphaStrip()};

    const int edits = configured("KELVARA_SOAK_EDITS", 10000);
    long afterFirst = -1;
    int done = 0;
    for (int round = 0; done < edits; ++round) {
        // Grab the right end point of one strip and drag it through a few heights.
        ShadeWidget *strip = strips[round % 4];
        const int w = strip->width();
        const int h = strip->height();
        QTest::mousePress(strip, Qt::LeftButton, {}, QPoint(w - 1, 1));
        for (int step = 0; step < 10 && done < edits; ++step, ++done)
            QTest::mouseMove(strip, QPoint(w - 1, (step * 7 + round) % h));
        QTest::mouseMove(strip, QPoint(w - 1, 0));
        QTest::mouseRelease(strip, Qt::LeftButton, {}, QPoint(w - 1, 0));
        if (round % 50 == 0)
            QCoreApplication::processEvents();
        quiet.clear();
        if (round == 0)
            afterFirst = residentKilobytes();
    }
    QCoreApplication::processEvents();
    const long afterAll = residentKilobytes();
    // Every end point went back to the top edge, the strips' most opaque row.
    QVERIFY(qAlpha(renderer->transfer(1.0f)) >= 250);
    qInfo("resident memory after the first edits %ld KiB, after %d edits %ld KiB", afterFirst,
          edits, afterAll);
    verifySettled(afterFirst, afterAll);
}

QTEST_MAIN(TestSoak)
#include "tst_soak.moc"
