// Batch mode as a job runner starts it: no display, several files, turntables.
#include "picturechecks.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace {

// A DAT file of a ball off the centre (towards +x, +y), so that mirror images
// and turns show.
void writeBall(const QString &path)
{
    const int n = 24;
    std::vector<std::uint16_t> words = {n, n, n};
    for (int z = 0; z < n; ++z)
        for (int y = 0; y < n; ++y)
            for (int x = 0; x < n; ++x) {
                const double distance = std::hypot(x - 15.0, y - 13.0, z - 11.0);
                words.push_back(std::uint16_t(std::clamp(6.0 - distance, 0.0, 1.0) * 4095));
            }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(reinterpret_cast<const char *>(words.data()), qint64(words.size() * 2));
}

struct Run
{
    int exitCode = -1;
    QByteArray out;
    QByteArray err;
};

Run kelvara(const QStringList &arguments, bool display, const QString &path = QString())
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    if (!display)
        environment.remove(QStringLiteral("DISPLAY"));
    if (!path.isEmpty())
        environment.insert(QStringLiteral("PATH"), path);
    process.setProcessEnvironment(environment);
    process.start(KELVARA_EXECUTABLE, arguments);
    Run run;
    if (!process.waitForFinished(60000))
        return run;
    run.exitCode = process.exitCode();
    run.out = process.readAllStandardOutput();
    run.err = process.readAllStandardError();
    return run;
}

} // namespace

class TestHeadlessBatch : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void noDisplayGivesTheWindowsPicture();
    void manyFilesGoOnPastAFailure();
    void turntableTurnsOnce();
    void missingBackendSaysWhatWasTried();
    void movieThroughFfmpeg();
    void beyondTheBudgetAtReducedOrFullResolution();

private:
    QTemporaryDir directory;
    QString ball;
};

void TestHeadlessBatch::initTestCase()
{
    QVERIFY(directory.isValid());
    ball = directory.filePath("ball.dat");
    writeBall(ball);
}

void TestHeadlessBatch::noDisplayGivesTheWindowsPicture()
{
    const QStringList common = {
        ball, "--size", "48x40", "--rotation", "20,30,0", "--stops", "0:#00000000,1:#ffffffff"};
    const QString egl = directory.filePath("egl.png");
    const QString glx = directory.filePath("glx.png");
    const Run headless = kelvara(common + QStringList{"--output", egl}, false);
    QVERIFY2(headless.exitCode == 0, headless.err.constData());
    const Run shown = kelvara(common + QStringList{"--output", glx, "--backend", "glx"}, true);
    QVERIFY2(shown.exitCode == 0, shown.err.constData());
    const QImage a(egl);
    const QImage b(glx);
    QCOMPARE(a.size(), QSize(48, 40));
    QCOMPARE(b.size(), a.size());
    QVERIFY(largestDifference(a, b) <= 1);
    QVERIFY(a.pixel(24, 20) != qRgb(0, 0, 0));
}

void TestHeadlessBatch::manyFilesGoOnPastAFailure()
{
    QTemporaryDir jobs;
    QVERIFY(jobs.isValid());
    const QString broken = jobs.filePath("broken.dat");
    QFile file(broken);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("xy", 2) == 2);
    file.close();
    QVERIFY(QFile::copy(ball, jobs.filePath("first.dat")));
    QVERIFY(QFile::copy(ball, jobs.filePath("last.dat")));
    const QString out = jobs.filePath("out");
    const Run run = kelvara({jobs.filePath("first.dat"), broken, jobs.filePath("last.dat"),
                             "--output-dir", out, "--size", "16x16"},
                            false);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.out.contains("- 2 of 3 files rendered"), run.out.constData());
    QVERIFY(run.err.contains("+ Not rendered: " + QFile::encodeName(broken)));
    // The images and nothing else: no temporary file left behind.
    QCOMPARE(QDir(out).entryList(QDir::Files | QDir::Hidden, QDir::Name),
             (QStringList{"first.png", "last.png"}));
}

// Maximum intensity is the same from behind, mirrored: half a turn of the
// view about its vertical axis mirrors the picture left to right.
void TestHeadlessBatch::turntableTurnsOnce()
{
    const QString stem = directory.filePath("turn");
    const Run run =
        kelvara({ball, "--output", stem + ".png", "--turntable", "4", "--mode", "mip",
                 "--no-jitter", "--size", "32x32", "--stops", "0:#ff000000,1:#ffffffff"},
                false);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QList<QImage> frames;
    for (int i = 0; i < 4; ++i)
        frames << QImage(QStringLiteral("%1-%2.png").arg(stem).arg(i, 4, 10, QLatin1Char('0')));
    QVERIFY(!QFile::exists(stem + ".png"));
    QVERIFY(!frames[3].isNull());
    QVERIFY(largestDifference(frames[2], frames[0].mirrored(true, false)) <= 1);
    QVERIFY(largestDifference(frames[3], frames[1].mirrored(true, false)) <= 1);
    QVERIFY(largestDifference(frames[1], frames[0]) > 64);
}

void TestHeadlessBatch::missingBackendSaysWhatWasTried()
{
    const Run run =
        kelvara({ball, "--output", directory.filePath("none.png"), "--backend", "glx"}, false);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("no OpenGL context (glx: no display"), run.err.constData());
    QVERIFY(!QFile::exists(directory.filePath("none.png")));
}

// ffmpeg is optional: a stand-in records how it is called; without one the
// frames are still written and the failure is named.
void TestHeadlessBatch::movieThroughFfmpeg()
{
    QTemporaryDir tools;
    QVERIFY(tools.isValid());
    const QString stem = directory.filePath("movie");
    const QStringList arguments = {ball,    "--output",   stem + ".png", "--turntable",
                                   "2",     "--movie",    stem + ".mp4", "--size",
                                   "16x16", "--no-jitter"};
    const Run missing = kelvara(arguments, false, tools.path());
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(missing.err.contains("ffmpeg is not installed"), missing.err.constData());
    QVERIFY(QFile::exists(stem + "-0001.png"));

    QFile script(tools.filePath("ffmpeg"));
    QVERIFY(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\necho \"$@\" > \"$0.arguments\"\nfor last; do :; done\n"
                 ": > \"$last\"\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    const Run encoded = kelvara(arguments, false, tools.path() + ":/bin:/usr/bin");
    QVERIFY2(encoded.exitCode == 0, encoded.err.constData());
    QVERIFY(QFile::exists(stem + ".mp4"));
    QFile called(tools.filePath("ffmpeg.arguments"));
    QVERIFY(called.open(QIODevice::ReadOnly));
    QVERIFY(called.readAll().contains("-i " + QFile::encodeName(stem) + "-%04d.png"));
}

// 2 MiB of texels against a budget of 1 MiB: the reduced level, or the
// cropped part at full resolution where it fits.
void TestHeadlessBatch::beyondTheBudgetAtReducedOrFullResolution()
{
    const QString large = directory.filePath("large.dat");
    QFile file(large);
    QVERIFY(file.open(QIODevice::WriteOnly));
    std::vector<std::uint16_t> words = {128, 128, 64};
    for (int i = 0; i < 128 * 128 * 64; ++i)
        words.push_back(std::uint16_t((i * 7) % 4096));
    file.write(reinterpret_cast<const char *>(words.data()), qint64(words.size() * 2));
    file.close();
    const QStringList common = {large, "--size", "24x24", "--gpu-budget", "1"};
    const QString out = directory.filePath("large.png");

    Run run = kelvara(common + QStringList{"--output", out}, false);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QVERIFY(run.err.contains("+ Warning: Shown at 1/2 resolution in 3D"));
    run = kelvara(common + QStringList{"--output", out, "--full-resolution"}, false);
    QCOMPARE(run.exitCode, 1);
    QVERIFY2(run.err.contains("crop it further"), run.err.constData());
    run = kelvara(
        common + QStringList{"--output", out, "--full-resolution", "--crop", "0,0.5,0,0.5,0,1"},
        false);
    QVERIFY2(run.exitCode == 0, run.err.constData());
    QCOMPARE(QImage(out).size(), QSize(24, 24));
}

QTEST_MAIN(TestHeadlessBatch)
#include "tst_headlessbatch.moc"
