#include "../volume/scanbytes.h"
#include "mainwindow.h"
#include "picturechecks.h"
#include "samplevolumes.h"
#include "scene.h"
#include "scenefile.h"
#include "slicesession.h"
#include "transferfunctionpresets.h"
#include "viewersession.h"
#include "volume.h"
#include "volumerenderer.h"
#include "volumeseries.h"
#include "windowdialogs.h"

#include <QAction>
#include <QFile>
#include <QStatusBar>
#include <QLabel>
#include <QSlider>
#include <QToolButton>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestScene : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void sessionSignalsEachChangeOnce();
    void windowAndBatchDrawTheSameScene();
    void steppingThroughASeriesKeepsThePlace();
    void batchWritesEveryVolumeOfASeries();
    void colourVolumeShowsItsColours();
    void sceneFilesKeepEverythingAndRefuseBadKeys();
    void savedSceneReopensAndRendersInBatch();
    void movedDataIsAskedForAndQuitAsksToSave();
};

namespace {

constexpr int seriesSide = 24;
constexpr int seriesFrames = 3;

// A 4D NIfTI file of uint8 samples: a ball that grows from volume to volume.
QByteArray growingBall()
{
    NiftiFields fields;
    fields.dim = {{4, seriesSide, seriesSide, seriesSide}};
    QByteArray samples;
    for (int frame = 0; frame < seriesFrames; ++frame)
        for (int z = 0; z < seriesSide; ++z)
            for (int y = 0; y < seriesSide; ++y)
                for (int x = 0; x < seriesSide; ++x) {
                    const double r = std::hypot(x - 11.5, y - 11.5, z - 11.5);
                    samples += char(r < 4 + 3 * frame ? 200 - 40 * frame : 0);
                }
    QByteArray bytes = nifti1(fields, samples);
    put<std::int16_t>(bytes, 48, seriesFrames);
    return bytes;
}

// A colour NIfTI file (RGB24) of a ball, red on the patient's right, green on
// the left.
QByteArray twoColourBall()
{
    NiftiFields fields;
    fields.dim = {{3, seriesSide, seriesSide, seriesSide}};
    fields.sformCode = 1;
    QByteArray samples;
    for (int z = 0; z < seriesSide; ++z)
        for (int y = 0; y < seriesSide; ++y)
            for (int x = 0; x < seriesSide; ++x) {
                const bool inside = std::hypot(x - 11.5, y - 11.5, z - 11.5) < 9;
                const bool right = x >= seriesSide / 2; // RAS: x grows to the right
                samples +=
                    inside ? (right ? QByteArray("\xe6\x28\x28", 3) : QByteArray("\x28\xc8\x3c", 3))
                           : QByteArray(3, '\0');
            }
    QByteArray bytes = nifti1(fields, samples);
    put<std::int16_t>(bytes, 70, 128); // RGB24
    put<std::int16_t>(bytes, 72, 24);
    return bytes;
}

} // namespace

// Views repaint on these signals: a setter that changes nothing must stay
// silent, and one that changes something must say so once.
void TestScene::sessionSignalsEachChangeOnce()
{
    ViewerSession session;
    QSignalSpy rendering(&session, &ViewerSession::renderingChanged);
    QSignalSpy camera(&session, &ViewerSession::cameraChanged);
    QSignalSpy layout(&session, &ViewerSession::layoutChanged);
    QSignalSpy function(&session, &ViewerSession::transferFunctionChanged);

    const bool jitter = session.scene().jitter;
    session.setJitter(!jitter);
    session.setJitter(!jitter);
    QCOMPARE(rendering.count(), 1);
    QCOMPARE(session.scene().jitter, !jitter);

    SceneCamera turned = session.scene().camera;
    turned.rotation[1] = 370 * 16; // in 16ths of a degree
    session.setCamera(turned);
    session.setCamera(turned);
    QCOMPARE(camera.count(), 1);
    QCOMPARE(session.scene().camera.rotation[1], 10 * 16);

    const bool four = session.scene().fourViews;
    session.setFourViews(four);
    session.setFourViews(!four);
    QCOMPARE(layout.count(), 1);

    // Undo walks back to the last reset and no further.
    session.resetTransferFunctionHistory();
    const TransferFunction start = session.transferFunction();
    const TransferFunction edited = *presetNamed("bone");
    session.setTransferFunction(edited);
    session.setTransferFunction(edited);
    QCOMPARE(function.count(), 1);
    QVERIFY(session.recordTransferFunctionStep());
    QVERIFY(!session.recordTransferFunctionStep());
    QVERIFY(session.undoTransferFunction());
    QVERIFY(session.transferFunction() == start);
    QVERIFY(!session.undoTransferFunction());
    QVERIFY(session.redoTransferFunction());
    QVERIFY(session.transferFunction() == edited);
}

// The window and batch mode render one scene through one path: after a
// layout switch and a resize (which re-lay the strips) the window's frame is
// batch mode's picture of the same preset at the same size.
void TestScene::windowAndBatchDrawTheSameScene()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("head.dat");
    const QString picture = dir.filePath("batch.png");
    QVERIFY(writeDatFile(file.toStdString(), makeHeadPhantom(48, 48, 48)));

    MainWindow window;
    window.resize(1100, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(file));
    window.findChild<QAction *>("actionVorlage_bone")->trigger();
    QAction *fourViews = window.findChild<QAction *>("actionVier_Ansichten");
    fourViews->toggle();
    QCoreApplication::processEvents();
    fourViews->toggle();
    window.resize(1366, 768);
    QCoreApplication::processEvents();
    const QImage frame = window.renderer()->grabFrame();
    QVERIFY(!frame.isNull());
    QVERIFY(litPixels(frame) > frame.width() * frame.height() / 20); // the phantom shows

    QProcess batch;
    batch.start(KELVARA_EXECUTABLE,
                {file, "--transfer-function", "bone", "--size",
                 QString("%1x%2").arg(frame.width()).arg(frame.height()), "--output", picture});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    const QImage batchPicture(picture);
    QCOMPARE(batchPicture.size(), frame.size());
    QVERIFY2(largestDifference(frame, batchPicture) <= 1,
             qPrintable(
                 QString("largest difference %1/255").arg(largestDifference(frame, batchPicture))));
}

// Another volume of a series replaces the shown one under the same cursor,
// window and camera; the readout and the time course follow.
void TestScene::steppingThroughASeriesKeepsThePlace()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ball.nii");
    QVERIFY(writeFile(file, growingBall()));
    MainWindow window;
    window.resize(1100, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    // --spacing for the file named with it, as the window opens it.
    window.setSpacingFor(file, {{2.0, 2.0, 0.5}});
    QVERIFY(window.loadFile(file));
    auto *session = window.findChild<ViewerSession *>("viewerSession");
    QCOMPARE(session->volume()->spacing, (std::array<double, 3>{{2.0, 2.0, 0.5}}));
    auto *slider = window.findChild<QSlider *>("frameSlider");
    auto *readout = window.findChild<QLabel *>("cursorReadoutLabel");
    QVERIFY(session && slider && readout);
    QVERIFY(window.findChild<QWidget *>("seriesBar")->isVisible());
    QCOMPARE(slider->maximum(), seriesFrames - 1);

    // A voxel outside the first ball, inside the last.
    session->slices()->setCursor({{11, 11, 11 + 6}});
    SceneCamera turned = session->scene().camera;
    turned.rotation[0] = 30 * 16;
    session->setCamera(turned);
    const Scene before = session->scene();
    const QString firstReadout = readout->text();
    slider->setValue(2);
    QCOMPARE(session->volume()->frame, 2);
    QCOMPARE(session->slices()->cursor(), (VoxelIndex{{11, 11, 17}}));
    QVERIFY(session->scene().camera == before.camera);
    QVERIFY(session->scene().layer().windowLevel == before.layer().windowLevel);
    QVERIFY(readout->text() != firstReadout);
    QVERIFY2(readout->text().contains("120"), qPrintable(readout->text()));
    // A scene saved now opens on this volume again.
    const QString sceneFile = dir.filePath("ball.kelvara");
    QVERIFY(window.saveScene(sceneFile));
    slider->setValue(0);
    QVERIFY(window.openScene(sceneFile));
    QTRY_COMPARE_WITH_TIMEOUT(session->scene().frame, 2, 20000);
    QCOMPARE(slider->value(), 2);
    const std::vector<double> course = {0.0, 160.0, 120.0};
    QCOMPARE(session->volume()->series->timeCourse(11, 11, 17), course);

    // Playing steps on by itself and wraps; loading a 3D file ends it.
    window.findChild<QToolButton *>("playButton")->click();
    QTRY_COMPARE(session->volume()->frame, 0);
    const QString single = dir.filePath("head.dat");
    QVERIFY(writeDatFile(single.toStdString(), makeHeadPhantom(16, 16, 16)));
    QVERIFY(window.loadFile(single));
    QCOMPARE(session->volume()->spacing, (std::array<double, 3>{{1.0, 1.0, 1.0}}));
    QVERIFY(!window.findChild<QWidget *>("seriesBar")->isVisible());
    QVERIFY(!window.findChild<QToolButton *>("playButton")->isChecked());
}

// --frames all writes one picture of each volume; --frame picks one.
void TestScene::batchWritesEveryVolumeOfASeries()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("ball.nii");
    QVERIFY(writeFile(file, growingBall()));
    const QString stem = dir.filePath("ball");
    QProcess batch;
    batch.start(KELVARA_EXECUTABLE,
                {file, "--frames", "all", "--transfer-function", "bone", "--size", "64x64",
                 "--output", stem + ".png", "--backend", "egl"});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    std::vector<QImage> pictures;
    for (int frame = 0; frame < seriesFrames; ++frame) {
        pictures.emplace_back(QString("%1-%2.png").arg(stem).arg(frame, 4, 10, QChar('0')));
        QVERIFY(!pictures.back().isNull());
    }
    // The ball grows: more of the picture is lit from volume to volume.
    QVERIFY(litPixels(pictures[0]) < litPixels(pictures[1]));
    QVERIFY(litPixels(pictures[1]) < litPixels(pictures[2]));

    batch.start(KELVARA_EXECUTABLE, {file, "--frame", "1", "--transfer-function", "bone", "--size",
                                     "64x64", "--output", stem + "-one.png", "--backend", "egl"});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    QCOMPARE(largestDifference(QImage(stem + "-one.png"), pictures[1]), 0);
    // A scene keeps the volume shown; --frame goes over it.
    Scene scene;
    scene.layer().file = file;
    scene.frame = 2;
    const QString sceneFile = dir.filePath("ball.kelvara");
    QVERIFY(SceneFile::writeFile(sceneFile, scene, nullptr));
    QCOMPARE(SceneFile::readFile(sceneFile).scene.frame, 2);
    for (const QString &frame : {QString(), QString("1")}) {
        QStringList arguments = {sceneFile,  "--transfer-function", "bone",      "--size", "64x64",
                                 "--output", stem + "-scene.png",   "--backend", "egl"};
        if (!frame.isEmpty())
            arguments << "--frame" << frame;
        batch.start(KELVARA_EXECUTABLE, arguments);
        QVERIFY(batch.waitForFinished(60000));
        QCOMPARE(batch.exitCode(), 0);
        QCOMPARE(largestDifference(QImage(stem + "-scene.png"), pictures[frame.isEmpty() ? 2 : 1]),
                 0);
    }
    batch.start(KELVARA_EXECUTABLE, {file, "--frame", "3", "--output", stem + "-none.png"});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 1);
    QVERIFY(batch.readAllStandardError().contains("there is no volume 3"));
}

// Slices show the colours as stored; the rendering takes its colours from the
// data and its opacity from the function.
void TestScene::colourVolumeShowsItsColours()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("colour.nii");
    QVERIFY(writeFile(file, twoColourBall()));
    QProcess batch;
    batch.start(KELVARA_EXECUTABLE, {file, "--slice", "axial", "--output", dir.filePath("s.png")});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    // Radiological: the patient's right on the image's left.
    const QImage slice(dir.filePath("s.png"));
    QCOMPARE(slice.pixel(slice.width() / 2 - 3, slice.height() / 2), qRgb(0xe6, 0x28, 0x28));
    QCOMPARE(slice.pixel(slice.width() / 2 + 3, slice.height() / 2), qRgb(0x28, 0xc8, 0x3c));

    batch.start(KELVARA_EXECUTABLE, {file, "--transfer-function", "bone", "--size", "64x64",
                                     "--output", dir.filePath("r.png"), "--backend", "egl"});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    const QImage rendering(dir.filePath("r.png"));
    int redLeft = 0, greenRight = 0, lit = 0;
    for (int y = 0; y < rendering.height(); ++y)
        for (int x = 0; x < rendering.width(); ++x) {
            const QRgb pixel = rendering.pixel(x, y);
            if (qRed(pixel) + qGreen(pixel) < 20)
                continue;
            ++lit;
            const bool left = x < rendering.width() / 2;
            redLeft += left && qRed(pixel) > 2 * qGreen(pixel);
            greenRight += !left && qGreen(pixel) > 2 * qRed(pixel);
        }
    QVERIFY2(
        lit > 200 && redLeft > lit / 3 && greenRight > lit / 3,
        qPrintable(
            QString("%1 lit, %2 red left, %3 green right").arg(lit).arg(redLeft).arg(greenRight)));
}

void TestScene::sceneFilesKeepEverythingAndRefuseBadKeys()
{
    Scene scene;
    scene.layer().file = "/data/case/t1.nii.gz";
    scene.layer().transferFunction = TransferFunction::fromStops(
        {{0.0, QColor(0, 0, 0, 0)}, {0.4, QColor(200, 10, 10, 30)}, {1.0, Qt::white}});
    scene.layer().windowLevel = WindowLevel{400.0, 40.5};
    SceneLayer labels;
    labels.file = "/data/atlas/aseg.mgz"; // outside the scene's folder: kept absolute
    labels.appearance = defaultLabelAppearance({0, 17, 53});
    labels.appearance.labels.find(17)->name = "Left-Hippocampus, head";
    labels.appearance.labels.find(53)->visible = false;
    labels.appearance.outline = true;
    SceneLayer map;
    map.file = "/data/case/stats/zstat1.nii";
    map.appearance = defaultImageAppearance(0.1, 8.0);
    map.appearance.negativeMap = *ColorMaps::named("cool");
    map.appearance.colorMap.entries[7] = qRgb(1, 2, 3); // no longer a named map
    map.appearance.opacity = 0.75;
    scene.layers = {scene.layer(), labels, map};
    scene.options.samples = 321;
    scene.options.k1 = 0.25f;
    scene.mode = RenderMode::MaximumIntensity;
    scene.jitter = false;
    scene.camera.rotation = {30, 5000, 359};
    scene.camera.view = {2.5, QPointF(0.1, -0.3)};
    scene.crop = {{0.1, 0.0, 0.2}, {0.9, 1.0, 0.8}};
    scene.sliceCutAxis = 2;
    scene.cursor = std::array<double, 3>{{-12.5, 30.25, 7.0}};
    scene.fourViews = true;
    scene.sliceAxis = 1;
    Measurement ruler;
    ruler.points = {{{1.0, 2.0, 3.0}}, {{4.0, 6.0, 3.0}}};
    Measurement angle;
    angle.kind = Measurement::Kind::Angle;
    angle.points = {{{1.0, 0.0, 0.0}}, {{0.0, 0.0, 0.0}}, {{0.0, 0.5, 0.0}}};
    scene.measurements = {ruler, angle};

    const QByteArray text = SceneFile::toJson(scene, "/data/case");
    QVERIFY(text.contains("\"t1.nii.gz\"") && text.contains("\"stats/zstat1.nii\"") &&
            text.contains("\"/data/atlas/aseg.mgz\""));
    const SceneFile::ReadResult read = SceneFile::parse(text, "/data/case");
    QVERIFY2(read.ok, qPrintable(read.reason));
    QVERIFY(read.warnings.isEmpty());
    QCOMPARE(SceneFile::toJson(read.scene, "/data/case"), text);
    QCOMPARE(read.scene.layers[1], labels);
    QCOMPARE(read.scene.layers[2], map);
    QCOMPARE(read.scene.camera, scene.camera);
    QVERIFY(read.scene.measurements == scene.measurements);
    QCOMPARE(read.scene.measurements[0].text(), QString("5.0 mm"));
    QCOMPARE(read.scene.measurements[1].value(), 90.0);

    // Newer scenes open, telling what is left out; a bad value names its key.
    QByteArray newer = text;
    newer.replace("\"kelvara-scene\": 1", "\"kelvara-scene\": 2, \"annotations\": []");
    const SceneFile::ReadResult later = SceneFile::parse(newer, "/data/case");
    QVERIFY(later.ok);
    QCOMPARE(later.warnings.size(), 2);
    QByteArray bad = text;
    bad.replace("\"zoom\": 2.5", "\"zoom\": \"near\"");
    const SceneFile::ReadResult refused = SceneFile::parse(bad, "/data/case");
    QVERIFY(!refused.ok);
    QVERIFY2(refused.reason.startsWith("camera.zoom: expected a number"),
             qPrintable(refused.reason));
    QVERIFY(!SceneFile::parse("{\"layers\": []}", "/").ok);
}

// A scene set up in the window, saved, opened in another window and
// rendered in batch mode: the same scene and the same picture each time.
void TestScene::savedSceneReopensAndRendersInBatch()
{
    QTemporaryDir dir;
    const QString head = dir.filePath("head.dat");
    QVERIFY(writeDatFile(head.toStdString(), makeHeadPhantom(48, 48, 48)));
    SampleVolume labels{48, 48, 48, {}};
    labels.samples.assign(48 * 48 * 48, 0);
    for (int z = 10; z < 30; ++z)
        for (int y = 12; y < 36; ++y)
            for (int x = 20; x < 40; ++x)
                labels.samples[std::size_t(x + 48 * (y + 48 * z))] = 3;
    const QString labelFile = dir.filePath("labels.dat");
    QVERIFY(writeDatFile(labelFile.toStdString(), labels));
    const QString sceneFile = dir.filePath("case.kelvara");

    QImage before;
    QByteArray sceneText;
    {
        MainWindow window;
        window.resize(1100, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.loadFile(head));
        LayerRequest request;
        request.file = labelFile;
        request.kind = LayerKind::Labels;
        request.opacity = 0.8;
        QVERIFY(window.loadLayer(request));
        window.findChild<QAction *>("actionVorlage_bone")->trigger();
        auto *session = window.findChild<ViewerSession *>("viewerSession");
        SceneCamera camera;
        camera.rotation = {25, 40, 0};
        camera.view.zoom = 1.4;
        session->setCamera(camera);
        session->setCrop({{0.0, 0.1, 0.0}, {1.0, 1.0, 0.9}});
        session->slices()->setCursor({{30, 20, 25}});
        session->slices()->setWindowLevel({900.0, 1200.0});
        QCoreApplication::processEvents();
        before = window.renderer()->grabFrame();
        QVERIFY(window.saveScene(sceneFile));
        sceneText = SceneFile::toJson(session->scene(), dir.path());
    }
    {
        MainWindow window;
        window.resize(1100, 800);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(window.openScene(sceneFile));
        auto *session = window.findChild<ViewerSession *>("viewerSession");
        QTRY_COMPARE_WITH_TIMEOUT(session->layerCount(), 2, 20000);
        QCOMPARE(SceneFile::toJson(session->scene(), dir.path()), sceneText);
        const QImage after = window.renderer()->grabFrame();
        QCOMPARE(after.size(), before.size());
        QVERIFY2(largestDifference(before, after) <= 1,
                 qPrintable(QString::number(largestDifference(before, after))));

        // A scene with a bad value leaves the scene shown as it is.
        QFile bad(dir.filePath("bad.kelvara"));
        QVERIFY(bad.open(QIODevice::WriteOnly));
        bad.write(QByteArray(sceneText).replace("\"samples\": 100", "\"samples\": -3"));
        bad.close();
        QVERIFY(!window.openScene(bad.fileName()));
        QVERIFY2(window.statusBar()->currentMessage().contains("rendering.samples"),
                 qPrintable(window.statusBar()->currentMessage()));
        QCOMPARE(session->layerCount(), 2);
    }
    QProcess batch;
    const QString picture = dir.filePath("batch.png");
    batch.start(KELVARA_EXECUTABLE,
                {sceneFile, "--size", QString("%1x%2").arg(before.width()).arg(before.height()),
                 "--output", picture});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    QVERIFY2(largestDifference(before, QImage(picture)) <= 1,
             qPrintable(QString::number(largestDifference(before, QImage(picture)))));

    // Another subject through the same scene (here the same data under another
    // name) makes the same figure; a missing one is named.
    const QString other = dir.filePath("other.dat");
    QVERIFY(QFile::copy(head, other));
    const QString otherPicture = dir.filePath("other.png");
    batch.start(KELVARA_EXECUTABLE, {sceneFile, "--base", other, "--size",
                                     QString("%1x%2").arg(before.width()).arg(before.height()),
                                     "--output", otherPicture});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    QCOMPARE(QImage(otherPicture), QImage(picture));
    batch.start(KELVARA_EXECUTABLE,
                {sceneFile, "--base", dir.filePath("gone.dat"), "--output", otherPicture});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 1);
    QVERIFY(batch.readAllStandardError().contains("gone.dat' is missing"));

    // The four-view layout: three slices and the rendering, a quarter each.
    batch.start(KELVARA_EXECUTABLE,
                {sceneFile, "--layout", "four", "--size", "200x160", "--output", picture});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    const QImage layout(picture);
    QCOMPARE(layout.size(), QSize(200, 160));
    for (const QPoint corner : {QPoint(0, 0), QPoint(100, 0), QPoint(0, 80), QPoint(100, 80)})
        QVERIFY(litPixels(layout.copy(QRect(corner, QSize(100, 80)))) > 400);
}

namespace {

// Answers the questions of opening a scene whose data moved and of quitting.
class MovedDataDialogs : public WindowDialogs
{
public:
    QString newPlace;
    QStringList asked;
    UnsavedChoice quitChoice = UnsavedChoice::Cancel;
    QString locateMissingFile(QWidget *, const QString &missing) override
    {
        asked << missing;
        return newPlace;
    }
    UnsavedChoice askToSaveScene(QWidget *) override
    {
        asked << "save?";
        return quitChoice;
    }
};

} // namespace

// A scene whose data moved asks where it is now; a scene changed since it
// was opened asks to be saved on quitting: Cancel keeps the window, Discard
// closes it.
void TestScene::movedDataIsAskedForAndQuitAsksToSave()
{
    QTemporaryDir dir;
    const QString head = dir.filePath("head.dat");
    QVERIFY(writeDatFile(head.toStdString(), makeHeadPhantom(24, 24, 24)));
    const QString sceneFile = dir.filePath("case.kelvara");
    {
        MainWindow window;
        QVERIFY(window.loadFile(head));
        QVERIFY(window.saveScene(sceneFile));
    }
    const QString moved = dir.filePath("moved.dat");
    QVERIFY(QFile::rename(head, moved));

    MainWindow window;
    auto dialogs = std::make_unique<MovedDataDialogs>();
    MovedDataDialogs *answers = dialogs.get();
    window.setDialogs(std::move(dialogs));
    QVERIFY(!window.openScene(sceneFile)); // asked, no answer: not opened
    QCOMPARE(answers->asked, QStringList{head});
    answers->newPlace = moved;
    QVERIFY(window.openScene(sceneFile));
    auto *session = window.findChild<ViewerSession *>("viewerSession");
    QTRY_COMPARE_WITH_TIMEOUT(session->scene().layer().file, moved, 20000);

    QCOMPARE(answers->asked.size(), 2);
    SceneCamera turned;
    turned.rotation = {10, 0, 0};
    session->setCamera(turned);
    QVERIFY(!window.close()); // Cancel: the window stays
    QCOMPARE(answers->asked.size(), 3);
    QCOMPARE(answers->asked.last(), QString("save?"));
    answers->quitChoice = WindowDialogs::UnsavedChoice::Discard;
    QVERIFY(window.close());
}

QTEST_MAIN(TestScene)
#include "tst_scene.moc"
