#include "batchrender.h"
#include "commandline.h"
#include "controlstable.h"
#include "filenamebytes.h"
#include "patientorientation.h"
#include "transferfunctiontable.h"

#include <QDir>
#include <QFile>
#include <QTest>
#include <QUrl>

using Mode = CommandLine::Mode;

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void readmeShowsTheControlsTable();
    void modes_data();
    void modes();
    void batchValues();
    void lightingAndViews();
    void fileNamesKeepTheirBytes();
    void stops_data();
    void stops();
    void layersTakeTheOptionsAfterThem();
};

void TestCommandLine::modes_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("mode");
    const QString k = "kelvara";
    QTest::newRow("nothing") << QStringList{k} << int(Mode::Window);
    QTest::newRow("file") << QStringList{k, "a.dat"} << int(Mode::Window);
    QTest::newRow("help") << QStringList{k, "--help"} << int(Mode::Help);
    QTest::newRow("version") << QStringList{k, "--version"} << int(Mode::Version);
    QTest::newRow("batch") << QStringList{k, "a.dat", "--output", "o.png"} << int(Mode::Batch);
    QTest::newRow("two files") << QStringList{k, "a.dat", "b.dat"} << int(Mode::UsageError);
    QTest::newRow("unknown option") << QStringList{k, "--frobnicate"} << int(Mode::UsageError);
    QTest::newRow("output without file")
        << QStringList{k, "--output", "o.png"} << int(Mode::UsageError);
    QTest::newRow("size without output")
        << QStringList{k, "a.dat", "--size", "10x10"} << int(Mode::UsageError);
    QTest::newRow("bad size") << QStringList{k, "a.dat", "--output", "o.png", "--size", "10"}
                              << int(Mode::UsageError);
    QTest::newRow("zero size") << QStringList{k, "a.dat", "--output", "o.png", "--size", "0x5"}
                               << int(Mode::UsageError);
    QTest::newRow("bad rotation") << QStringList{k,       "a.dat",      "--output",
                                                 "o.png", "--rotation", "1,2"}
                                  << int(Mode::UsageError);
    QTest::newRow("samples too low")
        << QStringList{k, "a.dat", "--output", "o.png", "--samples", "1"} << int(Mode::UsageError);
    QTest::newRow("bad stops") << QStringList{k, "a.dat", "--output", "o.png", "--stops", "x"}
                               << int(Mode::UsageError);
    QTest::newRow("layer option before its layer")
        << QStringList{k, "a.nii", "--overlay-range", "1,2", "--overlay", "s.nii"}
        << int(Mode::UsageError);
    QTest::newRow("label option after an overlay")
        << QStringList{k, "a.nii", "--overlay", "s.nii", "--label-outline"}
        << int(Mode::UsageError);
    QTest::newRow("bad opacity") << QStringList{k,       "a.nii",           "--labels",
                                                "l.nii", "--label-opacity", "2"}
                                 << int(Mode::UsageError);
    QTest::newRow("layer without file")
        << QStringList{k, "--labels", "l.nii"} << int(Mode::UsageError);
    QTest::newRow("label statistics")
        << QStringList{k, "t1.nii", "--labels", "l.nii", "--label-stats", "s.csv"}
        << int(Mode::LabelStatistics);
    QTest::newRow("label statistics without labels")
        << QStringList{k, "t1.nii", "--label-stats", "s.csv"} << int(Mode::UsageError);
    // Qt's own options are QApplication's business, in the window and in batch mode.
    QTest::newRow("qt style") << QStringList{k, "-style", "fusion", "a.dat"} << int(Mode::Window);
    QTest::newRow("qt style=") << QStringList{k, "--style=fusion", "a.dat"} << int(Mode::Window);
    QTest::newRow("qt flags") << QStringList{k, "-reverse", "-platform", "xcb"}
                              << int(Mode::Window);
    QTest::newRow("qt batch") << QStringList{k, "a.dat", "--platform", "xcb", "--output", "o.png"}
                              << int(Mode::Batch);
    QTest::newRow("qt value missing") << QStringList{k, "a.dat", "-style"} << int(Mode::UsageError);
    QTest::newRow("qt-like unknown") << QStringList{k, "-stylish"} << int(Mode::UsageError);
    // A volume of a series: for pictures and probes, never for the window or
    // with a turntable.
    QTest::newRow("frame") << QStringList{k, "a.nii", "--frame", "2", "--output", "o.png"}
                           << int(Mode::Batch);
    QTest::newRow("frame probe") << QStringList{k, "a.nii", "--frame", "2", "--probe", "1,2,3"}
                                 << int(Mode::Probe);
    QTest::newRow("frame window") << QStringList{k, "a.nii", "--frame", "2"}
                                  << int(Mode::UsageError);
    QTest::newRow("frame negative")
        << QStringList{k, "a.nii", "--frame", "-1", "--output", "o"} << int(Mode::UsageError);
    QTest::newRow("spacing window")
        << QStringList{k, "a.png", "--spacing", "1,1,2"} << int(Mode::Window);
    QTest::newRow("spacing without file")
        << QStringList{k, "--spacing", "1,1,2"} << int(Mode::UsageError);
    QTest::newRow("frames all") << QStringList{k, "a.nii", "--frames", "all", "--output", "o"}
                                << int(Mode::Batch);
    QTest::newRow("frames turntable")
        << QStringList{k, "a.nii", "--frames", "all", "--turntable", "4", "--output", "o"}
        << int(Mode::UsageError);
    const QStringList batch{k, "a.dat", "--output", "o.png"};
    QTest::newRow("zoom without output")
        << QStringList{k, "a.dat", "--zoom", "2"} << int(Mode::UsageError);
    QTest::newRow("zoom too far") << batch + QStringList{"--zoom", "16.5"} << int(Mode::UsageError);
    QTest::newRow("zoom too near") << batch + QStringList{"--zoom", "0.2"} << int(Mode::UsageError);
    QTest::newRow("zoom not a number")
        << batch + QStringList{"--zoom", "nan"} << int(Mode::UsageError);
    QTest::newRow("zoom at its ends") << batch + QStringList{"--zoom", "0.25"} << int(Mode::Batch);
    QTest::newRow("pan of one number")
        << batch + QStringList{"--pan", "1"} << int(Mode::UsageError);
    QTest::newRow("crop of five") << batch + QStringList{"--crop", "0,1,0,1,0"}
                                  << int(Mode::UsageError);
    QTest::newRow("crop inverted")
        << batch + QStringList{"--crop", "0.6,0.4,0,1,0,1"} << int(Mode::UsageError);
    QTest::newRow("crop beyond 1")
        << batch + QStringList{"--crop", "0,1,0,1.1,0,1"} << int(Mode::UsageError);
    QTest::newRow("crop to a plane")
        << batch + QStringList{"--crop", "0,1,0.5,0.5,0,1"} << int(Mode::Batch);
    QTest::newRow("unknown mode") << batch + QStringList{"--mode", "MIP"} << int(Mode::UsageError);
    QTest::newRow("list presets") << QStringList{k, "--list-presets"} << int(Mode::ListPresets);
    QTest::newRow("function in the window")
        << QStringList{k, "a.dat", "--transfer-function", "skin"} << int(Mode::Window);
    QTest::newRow("function in batch")
        << batch + QStringList{"--transfer-function", "f.json"} << int(Mode::Batch);
    QTest::newRow("function and stops")
        << batch + QStringList{"--transfer-function", "skin", "--stops", "0:#ff000000"}
        << int(Mode::UsageError);
    QTest::newRow("function empty")
        << batch + QStringList{"--transfer-function", ""} << int(Mode::UsageError);

    // Lighting and views: batch only, and only what the panel could hold.
    QTest::newRow("light without output")
        << QStringList{k, "a.dat", "--light", "#ff0000"} << int(Mode::UsageError);
    QTest::newRow("no jitter without output")
        << QStringList{k, "a.dat", "--no-jitter"} << int(Mode::UsageError);
    QTest::newRow("colour by name")
        << batch + QStringList{"--light", "red"} << int(Mode::UsageError);
    QTest::newRow("colour with alpha")
        << batch + QStringList{"--ambient", "#ff102030"} << int(Mode::UsageError);
    QTest::newRow("exponent beyond the panel")
        << batch + QStringList{"--exponent", "100"} << int(Mode::UsageError);
    QTest::newRow("exponent finer than the panel")
        << batch + QStringList{"--exponent", "16.125"} << int(Mode::UsageError);
    QTest::newRow("exponent at the panel's ends")
        << batch + QStringList{"--exponent", "99.99", "--depth-cueing", "0,0"} << int(Mode::Batch);
    QTest::newRow("depth cueing of one number")
        << batch + QStringList{"--depth-cueing", "1"} << int(Mode::UsageError);
    QTest::newRow("depth cueing negative")
        << batch + QStringList{"--depth-cueing", "1,-0.5"} << int(Mode::UsageError);
    QTest::newRow("unknown view") << batch + QStringList{"--view-from", "front"}
                                  << int(Mode::UsageError);
    QTest::newRow("view and rotation")
        << batch + QStringList{"--view-from", "left", "--rotation", "0,0,0"}
        << int(Mode::UsageError);
    QTest::newRow("many files into a folder")
        << QStringList{k, "a.dat", "b.nii", "--output-dir", "out"} << int(Mode::Batch);
    QTest::newRow("folder and output")
        << batch + QStringList{"--output-dir", "out"} << int(Mode::UsageError);
    QTest::newRow("folder without files")
        << QStringList{k, "--output-dir", "out"} << int(Mode::UsageError);
    QTest::newRow("two files into one image")
        << batch + QStringList{"b.dat"} << int(Mode::UsageError);
    QTest::newRow("turntable of no frames")
        << batch + QStringList{"--turntable", "0"} << int(Mode::UsageError);
    QTest::newRow("turntable without output")
        << QStringList{k, "a.dat", "--turntable", "36"} << int(Mode::UsageError);
    QTest::newRow("unknown backend")
        << batch + QStringList{"--backend", "vulkan"} << int(Mode::UsageError);
    QTest::newRow("no texture budget")
        << batch + QStringList{"--gpu-budget", "0"} << int(Mode::UsageError);
}

void TestCommandLine::modes()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, mode);
    const CommandLine result = parseCommandLine(arguments);
    QCOMPARE(int(result.mode), mode);
    if (result.mode == Mode::UsageError || result.mode == Mode::Help)
        QVERIFY(!result.text.isEmpty());
}

void TestCommandLine::batchValues()
{
    const CommandLine defaults = parseCommandLine({"kelvara", "a.dat", "--output", "o.png"});
    QCOMPARE(defaults.file, QString("a.dat"));
    QCOMPARE(defaults.output, QString("o.png"));
    QCOMPARE(defaults.size, QSize(400, 400));
    QCOMPARE(defaults.samples, 100);
    QCOMPARE(defaults.stops, blackToWhiteStops());

    // The value of a Qt option is not taken for FILE.
    const CommandLine styled = parseCommandLine({"kelvara", "-style", "fusion", "a.dat"});
    QCOMPARE(styled.file, QString("a.dat"));
    QCOMPARE(parseCommandLine({"kelvara", "-platform", "xcb"}).file, QString());

    const CommandLine set =
        parseCommandLine({"kelvara", "--size", "640x480", "--rotation", "-30,450,7", "--samples",
                          "250", "--output", "o.png", "a.dat"});
    QCOMPARE(set.mode, Mode::Batch);
    QCOMPARE(set.size, QSize(640, 480));
    QCOMPARE(set.rotation, (std::array<int, 3>{-30, 450, 7}));
    QCOMPARE(set.samples, 250);
    QCOMPARE(set.view, ViewTransform());
    QVERIFY(set.crop.isFull());
    QCOMPARE(set.renderMode, RenderMode::Composite);

    const CommandLine look =
        parseCommandLine({"kelvara", "a.dat", "--output", "o.png", "--zoom", "2.5", "--pan",
                          "-0.5,0.25", "--crop", "0.1,0.9,0,0.5,0.25,1", "--mode", "mip"});
    QCOMPARE(look.mode, Mode::Batch);
    QCOMPARE(look.view, (ViewTransform{2.5, QPointF(-0.5, 0.25)}));
    QCOMPARE(look.crop, (CropBox{{0.1, 0.0, 0.25}, {0.9, 0.5, 1.0}}));
    QCOMPARE(look.renderMode, RenderMode::MaximumIntensity);
    QCOMPARE(parseCommandLine({"kelvara", "a.dat", "--output", "o", "--mode", "composite"}).mode,
             Mode::Batch);

    QCOMPARE(parseCommandLine({"kelvara", "--transfer-function", "bone"}).transferFunction,
             QString("bone"));
    QCOMPARE(parseCommandLine({"kelvara", "--list-presets"}).text,
             QString("skin\nbone\nsoft-tissue\ngrey-ramp\nmri-brain\nmri-overview\nauto"));
}

void TestCommandLine::lightingAndViews()
{
    const CommandLine set = parseCommandLine(
        {"kelvara",    "a.dat",       "--output",       "o.png",   "--light",     "#102030",
         "--ambient",  "#000000",     "--diffuse",      "#FFfF0f", "--specular",  "#0a0b0c",
         "--exponent", "0.5",         "--depth-cueing", "0,99.99", "--no-jitter", "--samples",
         "7",          "--view-from", "superior"});
    QCOMPARE(set.mode, Mode::Batch);
    const RenderingOptions chosen = set.renderingOptions();
    QCOMPARE(chosen.light, QColor(0x10, 0x20, 0x30));
    QCOMPARE(chosen.ambient, QColor(0, 0, 0));
    QCOMPARE(chosen.diffuse, QColor(0xff, 0xff, 0x0f));
    QCOMPARE(chosen.specular, QColor(0x0a, 0x0b, 0x0c));
    QCOMPARE(chosen.exponent, 0.5f);
    QCOMPARE(chosen.k1, 0.0f);
    QCOMPARE(chosen.k2, 99.99f);
    QCOMPARE(chosen.samples, 7);
    QVERIFY(!set.jitter);
    QCOMPARE(set.rotation, rotationViewingFrom(PatientSide::Superior));

    QVERIFY(parseCommandLine({"kelvara", "a.dat", "--exponent", "2"})
                .text.contains("--exponent needs --output"));

    const CommandLine job =
        parseCommandLine({"kelvara", "a.dat", "b.nii.gz", "--output-dir", "out", "--turntable",
                          "36", "--backend", "egl", "--gpu-budget", "512"});
    QCOMPARE(job.mode, Mode::Batch);
    QCOMPARE(job.files, (QStringList{"a.dat", "b.nii.gz"}));
    QCOMPARE(job.turntable, 36);
    QCOMPARE(job.backend, FrameBackend::Egl);
    QCOMPARE(job.gpuBudgetMiB, 512);
    QCOMPARE(QDir::cleanPath(batchImageStem(job, "/scans/b.nii.gz")), QString("out/b"));
    QCOMPARE(batchImagePath("out/b", 7, 36), QString("out/b-0007.png"));
    const CommandLine single = parseCommandLine({"kelvara", "a.dat", "--output", "x.PNG"});
    QCOMPARE(batchImagePath(batchImageStem(single, "a.dat"), 0, 1), QString("x.png"));
}

// A name that is not valid in the locale's encoding (Latin-1 bytes under
// UTF-8) reads as Latin-1 and still opens the file it names.
void TestCommandLine::fileNamesKeepTheirBytes()
{
    const QByteArray latin1("scans/caf\xe9.nrrd");
    QCOMPARE(argumentText(latin1.constData()), QString::fromUtf8("scans/caf\xc3\xa9.nrrd"));
    QCOMPARE(fileNameBytes(argumentText(latin1.constData())), latin1);
    const QByteArray utf8("scans/caf\xc3\xa9.nrrd");
    QCOMPARE(QFile::encodeName(argumentText(utf8.constData())), utf8);
    QCOMPARE(fileNameBytes(QStringLiteral("plain.dat")), QByteArray("plain.dat"));
    // A dropped file's URL keeps the bytes percent-encoded.
    const QString dropped = localFileText(QUrl(QStringLiteral("file:///scans/d%E9j%C3%A0.dat")));
    QCOMPARE(dropped, QString::fromUtf8("/scans/d\xc3\xa9j\xc3\x83\xc2\xa0.dat"));
    QCOMPARE(fileNameBytes(dropped), QByteArray("/scans/d\xe9j\xc3\xa0.dat"));
    QCOMPARE(localFileText(QUrl::fromLocalFile(QStringLiteral("/scans/plain.dat"))),
             QStringLiteral("/scans/plain.dat"));
}

void TestCommandLine::stops_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<int>("count");
    QTest::newRow("two") << "0:#ff000000,1:#ffffffff" << true << 2;
    QTest::newRow("rgb colour") << "0.5:#808080" << true << 1;
    QTest::newRow("unsorted is sorted") << "1:#ffffffff,0:#00000000" << true << 2;
    QTest::newRow("position above one") << "1.5:#ffffffff" << false << 0;
    QTest::newRow("negative position") << "-0.1:#ffffffff" << false << 0;
    QTest::newRow("named colour") << "0:red" << false << 0;
    QTest::newRow("missing colon") << "0#ffffffff" << false << 0;
    QTest::newRow("empty item") << "0:#ffffffff," << false << 0;
}

void TestCommandLine::stops()
{
    QFETCH(QString, text);
    QFETCH(bool, ok);
    QFETCH(int, count);
    QGradientStops parsed;
    QString reason;
    QCOMPARE(parseStops(text, &parsed, &reason), ok);
    if (!ok) {
        QVERIFY(!reason.isEmpty());
        return;
    }
    QCOMPARE(parsed.size(), count);
    for (int i = 1; i < parsed.size(); ++i)
        QVERIFY(parsed[i - 1].first <= parsed[i].first);
    if (text == "0:#ff000000,1:#ffffffff")
        QCOMPARE(parsed, blackToWhiteStops());
    if (text == "1:#ffffffff,0:#00000000")
        QCOMPARE(parsed.first().second.rgba(), 0x00000000u);
}

// The README's controls table is the help window's table, row for row.
void TestCommandLine::readmeShowsTheControlsTable()
{
    QFile readme(KELVARA_README);
    QVERIFY(readme.open(QIODevice::ReadOnly));
    const QString text = QString::fromUtf8(readme.readAll());
    QVERIFY2(text.contains(controlsMarkdownTable()), qPrintable(controlsMarkdownTable()));
    for (const ControlRow &row : controlRows())
        QVERIFY(controlsHelpText().contains(row.effect));
}

void TestCommandLine::layersTakeTheOptionsAfterThem()
{
    const CommandLine line = parseCommandLine(
        {"kelvara", "t1.nii", "--labels", "aseg.mgz", "--label-table=lut.txt", "--overlay", "z.nii",
         "--overlay-range", "2.3,6", "--overlay-negative", "cool", "--label-outline", "--labels",
         "atlas.nii", "--label-outline", "--probe", "0,0,0"});
    QCOMPARE(int(line.mode), int(Mode::UsageError)); // the first --label-outline follows an overlay
    const CommandLine ordered = parseCommandLine(
        {"kelvara", "t1.nii", "--labels", "aseg.mgz", "--label-table=lut.txt", "--overlay", "z.nii",
         "--overlay-range", "2.3,6", "--overlay-negative", "cool", "--labels", "atlas.nii",
         "--label-outline", "--label-opacity", "0.3", "--probe", "0,0,0"});
    QCOMPARE(int(ordered.mode), int(Mode::Probe));
    QCOMPARE(int(ordered.layers.size()), 3);
    QCOMPARE(ordered.layers[0].file, QString("aseg.mgz"));
    QCOMPARE(ordered.layers[0].labelTable, QString("lut.txt"));
    QVERIFY(!ordered.layers[0].outline);
    QCOMPARE(int(ordered.layers[1].kind), int(LayerKind::Image));
    QCOMPARE((*ordered.layers[1].range)[0], 2.3);
    QCOMPARE(ordered.layers[1].negativeMap, QString("cool"));
    QVERIFY(ordered.layers[2].outline);
    QCOMPARE(*ordered.layers[2].opacity, 0.3);
}

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
