#include "framegeometry.h"
#include "headlessframe.h"
#include "offscreenframe.h"
#include "renderchecks.h"
#include "samplevolumes.h"
#include "shadersource.h"
#include "transferfunctiontable.h"
#include "volumerenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMouseEvent>
#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iostream>
#include <random>
#include <sstream>

namespace {

// Redirects std::cout and std::cerr for its lifetime.
class StreamCapture
{
public:
    StreamCapture() : oldOut(std::cout.rdbuf(out.rdbuf())), oldErr(std::cerr.rdbuf(err.rdbuf())) {}
    ~StreamCapture()
    {
        std::cout.rdbuf(oldOut);
        std::cerr.rdbuf(oldErr);
    }
    QStringList outLines() const { return lines(out.str()); }
    QStringList errLines() const { return lines(err.str()); }

private:
    static QStringList lines(const std::string &text)
    {
        return QString::fromStdString(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    std::ostringstream out;
    std::ostringstream err;
    std::streambuf *oldOut;
    std::streambuf *oldErr;
};

// The scene on a VolumeRenderer directly, nothing initialised yet.
void prepare(VolumeRenderer &renderer, const RenderCase &scene)
{
    renderer.resize(scene.size);
    renderer.setRenderingOptions(&scene.options);
    renderer.setVolume(&scene.volume);
    renderer.setGradientStops(scene.stops);
    renderer.updateTransferFunctionTexture();
}

// The largest difference of any channel of any pixel; differing counts the
// pixels that differ at all.
int largestDifference(const QImage &a, const QImage &b, int *differing)
{
    int largest = 0;
    *differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            const int difference =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))});
            largest = std::max(largest, difference);
            *differing += difference > 0 ? 1 : 0;
        }
    }
    return largest;
}

// Transfer functions for the skipping checks: transparent where the data is
// empty, a band with transparent space on both sides, and only the densest
// values (the head's skull) so that the inside is empty too.
QGradientStops skippingStops(const QString &name)
{
    const QColor clear(0, 0, 0, 0);
    if (name == QLatin1String("ramp"))
        return {{0.0, clear}, {1.0, QColor(255, 255, 255, 255)}};
    if (name == QLatin1String("band")) {
        return {{0.0, clear},
                {0.45, QColor(255, 0, 0, 0)},
                {0.5, QColor(255, 255, 0, 128)},
                {0.6, QColor(0, 255, 255, 0)},
                {0.8, QColor(0, 0, 255, 0)},
                {1.0, QColor(0, 0, 255, 40)}};
    }
    return {{0.0, clear}, {0.9, clear}, {0.95, QColor(255, 220, 200, 255)}};
}

Volume skippingVolume(const QString &name)
{
    // Sides that are not multiples of the brick size leave partial bricks.
    if (name == QLatin1String("head"))
        return toVolume(makeHeadPhantom(48, 44, 40));
    if (name == QLatin1String("cubes")) {
        // Small dense cubes in empty space, some just beyond a brick face, where
        // a skip that goes one sample too far would miss their front.
        std::mt19937 random(5);
        std::uniform_int_distribution<int> corner(0, 36);
        std::vector<std::array<int, 4>> cubes(24);
        for (auto &cube : cubes)
            cube = {corner(random), corner(random), corner(random), 60 + corner(random)};
        return makeVolume(40, 40, 40, [&](int x, int y, int z) {
            for (const auto &cube : cubes) {
                if (x >= cube[0] && x < cube[0] + 3 && y >= cube[1] && y < cube[1] + 3 &&
                    z >= cube[2] && z < cube[2] + 3)
                    return float(cube[3]) / 100.0f;
            }
            return 0.0f;
        });
    }
    return toVolume(makeMarschnerLobb(41, 37, 30));
}

// Renders the frame with a setting on, then off, and fails when the two
// pictures differ by more than the tolerance.
void compareSetting(BatchFrame &frame, const QString &label,
                    const std::function<void(bool on)> &set, int tolerance)
{
    set(true);
    const OffscreenResult on = frame.grab();
    QVERIFY2(on.ok, qPrintable(on.message));
    set(false);
    const OffscreenResult off = frame.grab();
    QVERIFY2(off.ok, qPrintable(off.message));
    // Two black frames would agree for any setting.
    QVERIFY2(
        countNonBlack(off.image) > 100,
        qPrintable(QStringLiteral("%1: %2 pixels lit").arg(label).arg(countNonBlack(off.image))));
    int differing = 0;
    const int largest = largestDifference(on.image, off.image, &differing);
    if (largest > tolerance) {
        QFAIL(qPrintable(QStringLiteral("%1: %2 pixels differ, by up to %3 of 255; %4")
                             .arg(label)
                             .arg(differing)
                             .arg(largest)
                             .arg(keepImages(label, on.image, off.image))));
    }
}

void compareSkipping(BatchFrame &frame, const QString &label)
{
    // Two steps of 255: the pictures should agree up to float rounding.
    compareSetting(
        frame, label, [&](bool on) { frame.setEmptySpaceSkipping(on); }, 2);
}

void sendMouse(QWidget *widget, QEvent::Type type, QPoint position, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(position), QPointF(widget->mapToGlobal(position)), button,
                      buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

// A ball of radius 12 voxels in a 32^3 volume whose value falls off smoothly
// through 0.5 at the surface, so that the gradient gives its normal.
Volume ballVolume()
{
    return makeVolume(32, 32, 32, [](int x, int y, int z) {
        const double r =
            std::sqrt((x - 15.5) * (x - 15.5) + (y - 15.5) * (y - 15.5) + (z - 15.5) * (z - 15.5));
        return float(std::clamp(0.5 + (12.0 - r) / 4.0, 0.0, 1.0));
    });
}

// Mean grey of the lit pixels towards a screen direction (x right, y up) and
// away from it, leaving out a band through the centre.
std::pair<double, double> meanTowardsAndAway(const QImage &image, QPointF direction)
{
    double sums[2] = {0.0, 0.0};
    int counts[2] = {0, 0};
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            const QRgb pixel = image.pixel(column, row);
            if (isBlack(pixel))
                continue;
            const QPointF offset(column + 0.5 - image.width() / 2.0,
                                 image.height() / 2.0 - row - 0.5);
            const double along = QPointF::dotProduct(offset, direction);
            if (std::abs(along) < 4.0)
                continue;
            const int side = along > 0.0 ? 0 : 1;
            sums[side] += qGray(pixel);
            ++counts[side];
        }
    }
    return {counts[0] ? sums[0] / counts[0] : 0.0, counts[1] ? sums[1] / counts[1] : 0.0};
}

// Compares an image with the stored baseline of that name. Tolerance scale:
// a channel that differs by at most 3 of 255 counts as equal (rounding of
// other rasterisers); at most 1 % of the pixels may differ by more, and none by
// more than 48 (a silhouette pixel may flip, a wrong picture changes many).
void compareWithBaseline(const QString &name, const QImage &image)
{
    const QString path = QStringLiteral(KELVARA_BASELINE_DIR "/%1.png").arg(name);
    const QImage baseline = QImage(path).convertToFormat(QImage::Format_RGB32);
    if (baseline.isNull() || baseline.size() != image.size()) {
        QFAIL(qPrintable(QStringLiteral("no baseline %1 of size %2x%3; %4")
                             .arg(path)
                             .arg(image.width())
                             .arg(image.height())
                             .arg(keepImages(name, image))));
    }
    int beyondTolerance = 0;
    int largest = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            const QRgb q = baseline.pixel(x, y);
            const int difference =
                std::max({std::abs(qRed(p) - qRed(q)), std::abs(qGreen(p) - qGreen(q)),
                          std::abs(qBlue(p) - qBlue(q))});
            beyondTolerance += difference > 3 ? 1 : 0;
            largest = std::max(largest, difference);
        }
    }
    if (beyondTolerance * 100 > image.width() * image.height() || largest > 48) {
        QFAIL(qPrintable(QStringLiteral("%1: %2 pixels beyond tolerance, largest difference %3; %4")
                             .arg(name)
                             .arg(beyondTolerance)
                             .arg(largest)
                             .arg(keepImages(name, image, baseline))));
    }
}

} // namespace

Q_DECLARE_METATYPE(CropBox)
Q_DECLARE_METATYPE(RenderMode)

class RenderGlTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    // Widget behaviour without pictures (a QOpenGLWidget cannot even be
    // constructed quietly on a platform without GL).
    void setterSignals();
    void mouseDrags_data();
    void mouseDrags();

    void startupReportAndLogs();
    void shippedShadersCompile_data();
    void shippedShadersCompile();
    void blackUntilThereIsSomethingToDraw();
    void silhouette_data();
    void silhouette();
    void compositingClosedForm_data();
    void compositingClosedForm();
    void lightingNeverDarkens_data();
    void lightingNeverDarkens();
    void nearerSamplesCoverFarther_data();
    void nearerSamplesCoverFarther();
    void depthCueingDarkensFarSamples();
    void volumeKeepsMoreThanEightBits();
    void tableEndsReadTheirOwnEntries_data();
    void tableEndsReadTheirOwnEntries();
    void volumeFacesDoNotWrap_data();
    void volumeFacesDoNotWrap();
    void uploadsBeforeContextAreKept();
    void contextReplacedKeepsUploads();
    void unusableShader_data();
    void unusableShader();
    void refusedVolumes_data();
    void refusedVolumes();
    void offscreenResizeAndTiming();
    void layersOutliveANewVolume();
    void skippingKeepsThePicture_data();
    void skippingKeepsThePicture();
    void skippingFollowsTableAndVolume();
    void storedGradientsKeepThePicture_data();
    void storedGradientsKeepThePicture();
    void activeUnitAfterFrame_data();
    void activeUnitAfterFrame();
    void spacingGivesProportions_data();
    void spacingGivesProportions();
    void croppedAndZoomedSilhouette_data();
    void croppedAndZoomedSilhouette();
    void maximumIntensityClosedForm_data();
    void maximumIntensityClosedForm();
    void ballIsBrightTowardsTheLight_data();
    void ballIsBrightTowardsTheLight();
    void baselineImages_data();
    void baselineImages();
    void jitterTurnsRingsIntoNoise();
    void dragsDrawReducedFrames();
};

void RenderGlTest::setterSignals()
{
    VolumeRenderer renderer;
    QSignalSpy xSpy(&renderer, &VolumeRenderer::xRotationChanged);
    QSignalSpy ySpy(&renderer, &VolumeRenderer::yRotationChanged);
    QSignalSpy zSpy(&renderer, &VolumeRenderer::zRotationChanged);

    renderer.setXRotation(-1);
    QCOMPARE(renderer.xRotation(), 5759);
    QCOMPARE(xSpy.takeFirst().at(0).toInt(), 5759);
    renderer.setXRotation(-1); // the stored value after normalisation: no change
    QCOMPARE(xSpy.size(), 0);
    renderer.setYRotation(5760); // the same picture as 0, still a change
    QCOMPARE(ySpy.takeFirst().at(0).toInt(), 5760);
    renderer.setZRotation(11521);
    QCOMPARE(renderer.zRotation(), 1);
    QCOMPARE(zSpy.size(), 1);
    QCOMPARE(xSpy.size() + ySpy.size(), 0);
}

void RenderGlTest::mouseDrags_data()
{
    QTest::addColumn<int>("buttons");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::newRow("left") << int(Qt::LeftButton) << 5755 << 3 << 0;
    QTest::newRow("right") << int(Qt::RightButton) << 5755 << 0 << 3;
    QTest::newRow("middle") << int(Qt::MiddleButton) << 0 << 0 << 0;
    QTest::newRow("left and right") << int(Qt::LeftButton | Qt::RightButton) << 5755 << 3 << 0;
}

// Press at (10, 10), move to (13, 5), then to (13, 7).
void RenderGlTest::mouseDrags()
{
    QFETCH(int, buttons);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    const Qt::MouseButtons held(buttons);
    VolumeRenderer renderer;
    renderer.resize(100, 100);
    QSignalSpy xSpy(&renderer, &VolumeRenderer::xRotationChanged);
    QSignalSpy ySpy(&renderer, &VolumeRenderer::yRotationChanged);
    QSignalSpy zSpy(&renderer, &VolumeRenderer::zRotationChanged);

    sendMouse(&renderer, QEvent::MouseButtonPress, QPoint(10, 10),
              Qt::MouseButton(int(held) & -int(held)), held); // the lowest button held
    QCOMPARE(renderer.lastMousePosition(), QPoint(10, 10));
    sendMouse(&renderer, QEvent::MouseMove, QPoint(13, 5), Qt::NoButton, held);
    QCOMPARE(renderer.xRotation(), x);
    QCOMPARE(renderer.yRotation(), y);
    QCOMPARE(renderer.zRotation(), z);
    QCOMPARE(xSpy.size(), x != 0 ? 1 : 0);
    QCOMPARE(ySpy.size(), y != 0 ? 1 : 0);
    QCOMPARE(zSpy.size(), z != 0 ? 1 : 0);
    QCOMPARE(renderer.lastMousePosition(), QPoint(13, 5));

    // Relative to the last move, not to the press.
    sendMouse(&renderer, QEvent::MouseMove, QPoint(13, 7), Qt::NoButton, held);
    QCOMPARE(renderer.xRotation(), x == 0 ? 0 : 5757);
    QCOMPARE(renderer.lastMousePosition(), QPoint(13, 7));
}

void RenderGlTest::startupReportAndLogs()
{
    const RenderCase scene;
    VolumeRenderer renderer;
    QStringList out;
    QStringList err;
    {
        StreamCapture capture;
        prepare(renderer, scene);
        QVERIFY(!renderer.grabFrame().isNull());
        out = capture.outLines();
        err = capture.errLines();
    }
    QVERIFY2(renderer.isGlReady(), qPrintable(renderer.lastError()));
    QVERIFY2(err.size() == 5, qPrintable(err.join(QLatin1Char('\n'))));
    QCOMPARE(err.at(0), QStringLiteral("Widget is valid: 1"));
    const QRegularExpressionMatch current =
        QRegularExpression(QStringLiteral("^context (0x[0-9a-f]+)$")).match(err.at(1));
    QVERIFY2(current.hasMatch(), qPrintable(err.at(1)));
    QCOMPARE(err.at(2), QStringLiteral("has OpenGL shader: 1"));
    QCOMPARE(err.at(3), QStringLiteral("context %1 is valid 1").arg(current.captured(1)));
    // Empty logs keep their labels; highp compiled, or the vertex log would say so.
    QCOMPARE(err.at(4), QStringLiteral("Fragment shader log: "));
    QCOMPARE(out, QStringList({QStringLiteral("transfer(0.5) 255"),
                               QStringLiteral("Vertex shader log: "),
                               QStringLiteral("Shader link log: ")}));
    // The test's working directory has no shader: the copy beside the executable.
    QCOMPARE(renderer.fragmentShaderOrigin(),
             QDir(QCoreApplication::applicationDirPath()).filePath("FragmentShader.glsl"));
}

void RenderGlTest::shippedShadersCompile_data()
{
    QTest::addColumn<QString>("path");
    QTest::newRow("beside the executable")
        << QDir(QCoreApplication::applicationDirPath()).filePath("FragmentShader.glsl");
#ifdef KELVARA_EMBED_SHADER
    QTest::newRow("compiled-in copy") << embeddedFragmentShaderPath();
#endif
}

void RenderGlTest::shippedShadersCompile()
{
    QFETCH(QString, path);
    const RenderCase scene;
    VolumeRenderer renderer;
    renderer.setFragmentShaderCandidates({path});
    QSignalSpy problems(renderer.problemReporter(), &ProblemReporter::problemReported);
    prepare(renderer, scene);
    QVERIFY(countNonBlack(renderer.grabFrame()) > 0);
    QVERIFY2(renderer.isGlReady(), qPrintable(renderer.lastError()));
    QCOMPARE(renderer.fragmentShaderOrigin(), path);
    QCOMPARE(problems.size(), 0);
}

void RenderGlTest::blackUntilThereIsSomethingToDraw()
{
    RenderCase scene;
    OffscreenFrame frame(QSize(32, 24));
    frame.setGradientStops(scene.stops);
    VolumeRenderer &renderer = frame.renderer();
    QImage image = renderer.grabFrame();
    QVERIFY2(renderer.isGlReady(), qPrintable(renderer.lastError()));
    QCOMPARE(image.size(), QSize(32, 24));
    QCOMPARE(image.format(), QImage::Format_RGB32);
    QCOMPARE(countNonBlack(image), 0);
    const OffscreenResult nothing = frame.grab();
    QVERIFY(!nothing.ok);
    QVERIFY2(nothing.message.contains(QStringLiteral("No data set")), qPrintable(nothing.message));

    renderer.setVolume(&scene.volume);
    renderer.setRenderingOptions(nullptr);
    QCOMPARE(countNonBlack(renderer.grabFrame()), 0);
    renderer.setRenderingOptions(&scene.options);
    QVERIFY(countNonBlack(renderer.grabFrame()) > 0);

    // Empty data under a table that is transparent at 0 stays black.
    scene.volume = uniformVolume(8, 8, 8, 0.0f);
    scene.stops = {{0.0, QColor(255, 255, 255, 0)}, {0.5, QColor(255, 255, 255, 255)}};
    scene.x = 30;
    scene.y = 40;
    const OffscreenResult empty = render(scene);
    QVERIFY2(empty.ok, qPrintable(empty.message));
    if (countNonBlack(empty.image) != 0)
        QFAIL(qPrintable(keepImages(QStringLiteral("empty"), empty.image)));
}

void RenderGlTest::silhouette_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<bool>("inWindow");
    QTest::newRow("cube unrotated") << 16 << 16 << 16 << 0 << 0 << 0 << false;
    QTest::newRow("cube 90 about X") << 16 << 16 << 16 << 90 << 0 << 0 << false;
    QTest::newRow("flat box unrotated") << 32 << 16 << 8 << 0 << 0 << 0 << false;
    QTest::newRow("flat box 90 about X") << 32 << 16 << 8 << 90 << 0 << 0 << false;
    QTest::newRow("flat box 450 about Y") << 32 << 16 << 8 << 0 << 450 << 0 << false;
    QTest::newRow("flat box oblique") << 32 << 16 << 8 << 30 << 45 << 10 << false;
    // A shown widget takes the screen's device pixel ratio (2 in the high-DPI run).
    QTest::newRow("cube unrotated, window") << 16 << 16 << 16 << 0 << 0 << 0 << true;
    QTest::newRow("flat box oblique, window") << 32 << 16 << 8 << 30 << 45 << 10 << true;
}

// A uniform opaque box covers exactly the pixels whose rays meet it, on a
// viewport that is not square.
void RenderGlTest::silhouette()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    QFETCH(bool, inWindow);
    RenderCase scene;
    scene.volume = uniformVolume(width, height, depth, 1.0f);
    scene.size = QSize(64, 48);
    scene.x = x;
    scene.y = y;
    scene.z = z;
    QImage image;
    qreal ratio = 1.0;
    if (inWindow) {
        VolumeRenderer renderer;
        QSignalSpy problems(renderer.problemReporter(), &ProblemReporter::problemReported);
        prepare(renderer, scene);
        renderer.setXRotation(x);
        renderer.setYRotation(y);
        renderer.setZRotation(z);
        renderer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&renderer));
        image = renderer.grabFrame();
        ratio = renderer.devicePixelRatio();
        QCOMPARE(problems.size(), 0);
        // The high-DPI run must really have another ratio.
        const QString scale = qEnvironmentVariable("QT_SCALE_FACTOR");
        if (!scale.isEmpty())
            QCOMPARE(ratio, scale.toDouble());
    } else {
        const OffscreenResult result = render(scene);
        QVERIFY2(result.ok, qPrintable(result.message));
        image = result.image;
    }
    // The framebuffer, and so the viewport, is in device pixels.
    QCOMPARE(image.size(), scene.size * ratio);
    const FrameGeometry geometry =
        computeFrameGeometry(x, y, z, image.size(), width, height, depth);
    const QString failure = silhouetteFailure(image, geometry);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void RenderGlTest::compositingClosedForm_data()
{
    QTest::addColumn<int>("depth");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("samples");
    QTest::addColumn<QColor>("ambient");
    const QColor ambient = RenderingOptions().ambient;
    QTest::newRow("cube, 100 samples") << 16 << 0 << 100 << ambient;
    QTest::newRow("cube, 20 samples") << 16 << 0 << 20 << ambient;
    QTest::newRow("cube, 400 samples") << 16 << 0 << 400 << ambient;
    QTest::newRow("cube turned 45 about Y") << 16 << 45 << 100 << ambient;
    QTest::newRow("flat box seen along z") << 4 << 0 << 100 << ambient;
    QTest::newRow("flat box seen along x") << 8 << 90 << 100 << ambient;
    QTest::newRow("no ambient light") << 16 << 0 << 100 << QColor(0, 0, 0);
}

// A uniform volume under a constant table has no gradient: every sample has
// colour c * (ambient + diffuse * light), and a ray of length L composites it to
// that colour times 1 - (1 - a)^(L / 0.01), whatever the sample count.
void RenderGlTest::compositingClosedForm()
{
    QFETCH(int, depth);
    QFETCH(int, y);
    QFETCH(int, samples);
    QFETCH(QColor, ambient);
    RenderCase scene;
    scene.volume = uniformVolume(16, 16, depth, 0.5f);
    scene.options.samples = samples;
    scene.options.ambient = ambient;
    scene.stops = constantStops(QColor(200, 100, 50, 6));
    scene.y = y;
    scene.size = QSize(40, 40);
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));

    TransferFunctionTable table; // the entry as the renderer paints it
    std::ostringstream probe;
    table.rebuild(scene.stops, probe);
    const QRgb entry = table.transfer(0.5f);
    const double alpha = qAlpha(entry) / 255.0;
    const double factor = std::min(1.0, double(ambient.redF()) + scene.options.diffuse.redF());
    const FrameGeometry geometry = computeFrameGeometry(0, y, 0, scene.size, 16, 16, depth);
    QImage reference = result.image.copy();
    int worst = 0;
    int checked = 0;
    for (int row = 0; row < scene.size.height(); ++row) {
        for (int column = 0; column < scene.size.width(); ++column) {
            if (pixelCoverage(geometry, scene.size, column, row, 1.0) != Coverage::Inside)
                continue;
            const double length = rayLengthInBox(geometry, scene.size, column, row);
            const double scale = factor * (1.0 - std::pow(1.0 - alpha, length / 0.01));
            const QColor expected(int(std::lround(qRed(entry) * scale)),
                                  int(std::lround(qGreen(entry) * scale)),
                                  int(std::lround(qBlue(entry) * scale)));
            reference.setPixel(column, row, expected.rgb());
            const QRgb pixel = result.image.pixel(column, row);
            worst = std::max({worst, std::abs(qRed(pixel) - expected.red()),
                              std::abs(qGreen(pixel) - expected.green()),
                              std::abs(qBlue(pixel) - expected.blue())});
            ++checked;
        }
    }
    QVERIFY(checked > 100);
    // Tolerance: table and framebuffer are 8-bit; 2 levels of 255.
    if (worst > 2) {
        QFAIL(qPrintable(QStringLiteral("largest difference %1 levels; %2")
                             .arg(worst)
                             .arg(keepImages(QStringLiteral("frame"), result.image, reference))));
    }
}

void RenderGlTest::lightingNeverDarkens_data()
{
    QTest::addColumn<int>("field");
    QTest::addColumn<QColor>("dim");
    QTest::addColumn<QColor>("bright");
    QTest::newRow("light") << 0 << QColor(90, 90, 90) << QColor(255, 255, 255);
    QTest::newRow("light, one channel") << 0 << QColor(255, 60, 255) << QColor(255, 255, 255);
    QTest::newRow("ambient") << 1 << QColor(0, 0, 0) << QColor(120, 120, 120);
    QTest::newRow("specular") << 3 << QColor(0, 0, 0) << QColor(255, 255, 255);
}

// Every lighting term adds light: raising one colour never darkens a pixel.
void RenderGlTest::lightingNeverDarkens()
{
    QFETCH(int, field);
    QFETCH(QColor, dim);
    QFETCH(QColor, bright);
    const Volume volume = toVolume(makeHeadPhantom(32, 32, 32));
    HeadlessFrame frame(QSize(64, 64));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setGradientStops({{0.0, QColor(0, 0, 0, 0)},
                            {0.15, QColor(255, 120, 60, 0)},
                            {0.3, QColor(255, 200, 150, 160)},
                            {1.0, QColor(255, 255, 255, 200)}});
    frame.setVolume(&volume);
    frame.setRotation(20, 35, 0);
    RenderingOptions options = plainOptions();
    options.ambient = QColor(30, 30, 30);
    QColor *colours[4] = {&options.light, &options.ambient, &options.diffuse, &options.specular};
    OffscreenResult results[2];
    for (int i = 0; i < 2; ++i) {
        *colours[field] = i == 0 ? dim : bright;
        frame.setRenderingOptions(options);
        results[i] = frame.grab();
        QVERIFY2(results[i].ok, qPrintable(results[i].message));
    }
    QVERIFY(countNonBlack(results[0].image) > 500);
    int darker = 0;
    qint64 gain = 0;
    for (int row = 0; row < 64; ++row) {
        for (int column = 0; column < 64; ++column) {
            const QRgb a = results[0].image.pixel(column, row);
            const QRgb b = results[1].image.pixel(column, row);
            darker += qRed(b) < qRed(a) - 1 || qGreen(b) < qGreen(a) - 1 || qBlue(b) < qBlue(a) - 1;
            gain += qRed(b) + qGreen(b) + qBlue(b) - qRed(a) - qGreen(a) - qBlue(a);
        }
    }
    if (darker != 0 || gain <= 1000) {
        QFAIL(qPrintable(
            QStringLiteral("%1 pixels darker, total gain %2; %3")
                .arg(darker)
                .arg(gain)
                .arg(keepImages(QStringLiteral("bright"), results[1].image, results[0].image))));
    }
}

void RenderGlTest::nearerSamplesCoverFarther_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("cutSlice");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("unrotated: high z in front") << 0 << -1 << QColor(0, 255, 0);
    QTest::newRow("turned 180 about Y: low z in front") << 180 << -1 << QColor(255, 0, 0);
    // A slice cut keeps the side away from the viewer: the slice faces it.
    QTest::newRow("cut at z slice 2, unrotated") << 0 << 2 << QColor(255, 0, 0);
    QTest::newRow("cut at z slice 5, turned 180") << 180 << 5 << QColor(0, 255, 0);
}

// Two opaque layers: the one on the viewer's side hides the other.
void RenderGlTest::nearerSamplesCoverFarther()
{
    QFETCH(int, y);
    QFETCH(int, cutSlice);
    QFETCH(QColor, expected);
    RenderCase scene;
    scene.volume = makeVolume(8, 8, 8, [](int, int, int z) { return z >= 4 ? 1.0f : 0.5f; });
    scene.sliceCut = sliceCutAt(2, cutSlice, cutSlice < 0 ? 0 : 8);
    scene.stops = {
        {0.0, QColor(0, 0, 0, 0)}, {0.5, QColor(255, 0, 0, 255)}, {1.0, QColor(0, 255, 0, 255)}};
    scene.y = y;
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    const QRgb pixel = result.image.pixel(16, 16);
    QVERIFY2(closeTo(pixel, expected, 3), qPrintable(rgbText(pixel)));
}

// Two opaque blocks, one near the viewer (high z) on the left, one far (low z)
// on the right: equal without depth cueing, the far one darker with it, and the
// attenuation stays within 0..1 up to the largest coefficients the panel allows.
void RenderGlTest::depthCueingDarkensFarSamples()
{
    const Volume volume = makeVolume(32, 32, 32, [](int x, int, int z) {
        return (x < 12 && z >= 24) || (x >= 20 && z < 8) ? 1.0f : 0.0f;
    });
    HeadlessFrame frame(QSize(64, 64));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setGradientStops({{0.0, QColor(255, 255, 255, 0)}, {1.0, QColor(255, 255, 255, 255)}});
    frame.setVolume(&volume);
    const QPoint nearPoint(22, 32); // object x = -0.3
    const QPoint farPoint(41, 32);  // object x = +0.3
    const float coefficients[][2] = {{0.0f, 0.0f}, {1.0f, 0.0f}, {0.0f, 1.0f}, {99.99f, 99.99f}};
    QImage unattenuated;
    for (const auto &k : coefficients) {
        RenderingOptions options = plainOptions();
        options.k1 = k[0];
        options.k2 = k[1];
        frame.setRenderingOptions(options);
        const OffscreenResult result = frame.grab();
        QVERIFY2(result.ok, qPrintable(result.message));
        const int nearRed = qRed(result.image.pixel(nearPoint));
        const int farRed = qRed(result.image.pixel(farPoint));
        const QString note = QStringLiteral("k1 %1 k2 %2: near %3 far %4")
                                 .arg(k[0])
                                 .arg(k[1])
                                 .arg(nearRed)
                                 .arg(farRed);
        if (unattenuated.isNull()) {
            unattenuated = result.image;
            QVERIFY2(nearRed >= 250 && farRed >= 250, qPrintable(note));
            continue;
        }
        QVERIFY2(nearRed < 250 && farRed <= nearRed, qPrintable(note));
        if (k[0] < 50.0f)
            QVERIFY2(farRed + 20 < nearRed, qPrintable(note));
        // Never brighter than without attenuation; grey stays grey (no NaN).
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const QRgb pixel = result.image.pixel(x, y);
                if (qRed(pixel) > qRed(unattenuated.pixel(x, y)) || qGreen(pixel) != qRed(pixel) ||
                    qBlue(pixel) != qRed(pixel)) {
                    QFAIL(qPrintable(
                        note +
                        QStringLiteral(", pixel (%1, %2) %3; ").arg(x).arg(y).arg(rgbText(pixel)) +
                        keepImages(QStringLiteral("frame"), result.image, unattenuated)));
                }
            }
        }
    }
}

// Two halves whose values differ by less than 1/255 under a steep table: with
// 8-bit storage both would read the same value.
void RenderGlTest::volumeKeepsMoreThanEightBits()
{
    RenderCase scene;
    scene.volume = makeVolume(8, 8, 8, [](int x, int, int) { return x < 4 ? 0.500f : 0.502f; });
    scene.stops = {{0.49, QColor(0, 0, 0, 255)}, {0.51, QColor(255, 255, 255, 255)}};
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    // A quarter of the box away from the boundary between the halves.
    const QRgb left = result.image.pixel(12, 16);
    const QRgb right = result.image.pixel(20, 16);
    QVERIFY2(qRed(right) - qRed(left) >= 15,
             qPrintable(QStringLiteral("left %1 right %2").arg(rgbText(left), rgbText(right))));
}

void RenderGlTest::tableEndsReadTheirOwnEntries_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<QColor>("expected");
    QTest::newRow("1.0 reads entry 1023") << 1.0f << QColor(255, 0, 0);
    QTest::newRow("0.0 reads entry 0") << 0.0f << QColor(0, 255, 0);
}

// Under a green-to-red table the ends must not pick up the opposite end
// through the texture's repeat wrap. The entries reach the shader as RGBA.
void RenderGlTest::tableEndsReadTheirOwnEntries()
{
    QFETCH(float, value);
    QFETCH(QColor, expected);
    RenderCase scene;
    scene.volume = uniformVolume(8, 8, 8, value);
    scene.stops = {{0.0, QColor(0, 255, 0, 255)}, {1.0, QColor(255, 0, 0, 255)}};
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    const QRgb pixel = result.image.pixel(16, 16);
    QVERIFY2(closeTo(pixel, expected, 3), qPrintable(rgbText(pixel)));
}

void RenderGlTest::volumeFacesDoNotWrap_data()
{
    QTest::addColumn<int>("axis");
    QTest::newRow("x") << 0;
    QTest::newRow("y") << 1;
}

// Only the lower half along one axis is dense. Near the upper face a lookup
// that wrapped around would blend the dense opposite face in.
void RenderGlTest::volumeFacesDoNotWrap()
{
    QFETCH(int, axis);
    RenderCase scene;
    scene.volume = makeVolume(
        8, 8, 8, [axis](int x, int y, int) { return (axis == 0 ? x : y) < 4 ? 1.0f : 0.0f; });
    scene.stops = {{0.0, QColor(255, 255, 255, 0)}, {1.0, QColor(255, 255, 255, 255)}};
    scene.size = QSize(64, 64);
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    int lit = 0;
    for (int row = 0; row < 64; ++row) {
        for (int column = 0; column < 64; ++column) {
            // Unrotated, the pixel centre's view-plane point is its object x, y.
            const double objectX = (column + 0.5 - 32.0) / 32.0;
            const double objectY = (32.0 - row - 0.5) / 32.0;
            const double along = axis == 0 ? objectX : objectY;
            if (std::abs(axis == 0 ? objectY : objectX) > 0.45)
                continue;
            const QRgb pixel = result.image.pixel(column, row);
            if (along > 0.3 && along < 0.5 && !isBlack(pixel)) {
                QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) is %3; %4")
                                     .arg(column)
                                     .arg(row)
                                     .arg(rgbText(pixel))
                                     .arg(keepImages(QStringLiteral("frame"), result.image))));
            }
            lit += along < -0.3 && along > -0.45 && qRed(pixel) >= 250;
        }
    }
    QVERIFY(lit > 100);
}

// Uploads asked for before the context exists happen at initialisation; a new
// table reaches the shader only with its upload.
void RenderGlTest::uploadsBeforeContextAreKept()
{
    RenderCase scene;
    scene.stops = constantStops(QColor(255, 64, 32, 255));
    VolumeRenderer renderer;
    QSignalSpy problems(renderer.problemReporter(), &ProblemReporter::problemReported);
    prepare(renderer, scene);
    QVERIFY(!renderer.isGlReady() && !renderer.isVolumeShown());
    QRgb pixel = renderer.grabFrame().pixel(16, 16);
    QVERIFY(renderer.isVolumeShown());
    QVERIFY2(closeTo(pixel, QColor(255, 64, 32), 1), qPrintable(rgbText(pixel)));

    renderer.setGradientStops(constantStops(QColor(0, 0, 255, 255)));
    QCOMPARE(renderer.transfer(0.5f), qRgba(0, 0, 255, 255));
    pixel = renderer.grabFrame().pixel(16, 16);
    QVERIFY2(closeTo(pixel, QColor(255, 64, 32), 1), qPrintable(rgbText(pixel)));
    renderer.updateTransferFunctionTexture();
    pixel = renderer.grabFrame().pixel(16, 16);
    QVERIFY2(closeTo(pixel, QColor(0, 0, 255), 1), qPrintable(rgbText(pixel)));
    QCOMPARE(problems.size(), 0);
}

// Moving the widget to another window replaces its GL context; the volume and
// the uploaded table come back in the new one.
void RenderGlTest::contextReplacedKeepsUploads()
{
    RenderCase scene;
    scene.stops = constantStops(QColor(255, 64, 32, 255));
    QWidget first;
    QWidget second;
    auto *renderer = new VolumeRenderer(&first);
    prepare(*renderer, scene);
    first.resize(64, 64);
    first.show();
    QVERIFY(QTest::qWaitForWindowExposed(&first));
    QVERIFY(closeTo(renderer->grabFrame().pixel(16, 16), QColor(255, 64, 32), 1));

    QSignalSpy problems(renderer->problemReporter(), &ProblemReporter::problemReported);
    renderer->setParent(&second);
    renderer->resize(scene.size);
    second.resize(64, 64);
    second.show();
    renderer->show();
    QVERIFY(QTest::qWaitForWindowExposed(&second));
    const QRgb pixel = renderer->grabFrame().pixel(16, 16);
    QVERIFY2(closeTo(pixel, QColor(255, 64, 32), 1), qPrintable(rgbText(pixel)));
    QCOMPARE(problems.size(), 0);
}

void RenderGlTest::unusableShader_data()
{
    QTest::addColumn<QByteArray>("source"); // empty: no file at all
    QTest::addColumn<QString>("reported");
    QTest::newRow("missing") << QByteArray() << QStringLiteral("No fragment shader found");
    QTest::newRow("does not compile")
        << QByteArray("#version 120\nvoid main(void)\n{\n    gl_FragColor = vec4(undeclared);\n}\n")
        << QStringLiteral("undeclared");
}

// A shader that cannot be used is reported, the log line is still written and
// frames stay black instead of showing what a half-built program draws.
void RenderGlTest::unusableShader()
{
    QFETCH(QByteArray, source);
    QFETCH(QString, reported);
    QTemporaryDir directory;
    QVERIFY(directory.isValid());
    const QString path = directory.filePath(QStringLiteral("FragmentShader.glsl"));
    if (!source.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(source) == source.size());
    }
    const RenderCase scene;
    VolumeRenderer renderer;
    renderer.setFragmentShaderCandidates({path});
    QSignalSpy problems(renderer.problemReporter(), &ProblemReporter::problemReported);
    QImage image;
    QStringList err;
    {
        StreamCapture capture;
        prepare(renderer, scene);
        image = renderer.grabFrame();
        err = capture.errLines();
    }
    QVERIFY(!image.isNull());
    QCOMPARE(countNonBlack(image), 0);
    QVERIFY(!renderer.isGlReady());
    QCOMPARE(problems.size(), 1);
    const QString message = problems.at(0).at(0).toString();
    QVERIFY2(message.contains(path) && message.contains(reported), qPrintable(message));
    QCOMPARE(err.filter(QStringLiteral("Fragment shader log: ")).size(), 1);
    QVERIFY(!renderer.renderFrameAndWait());
}

void RenderGlTest::refusedVolumes_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("values");
    QTest::addColumn<QString>("reason");
    QTest::newRow("fewer values than voxels") << 4 << 3 << QStringLiteral("holds 3 values");
    QTest::newRow("no voxels") << 0 << 0 << QStringLiteral("holds 0 values");
}

// A data set that cannot be shown is reported and leaves the frame black; the
// next good one is shown again.
void RenderGlTest::refusedVolumes()
{
    QFETCH(int, width);
    QFETCH(int, values);
    QFETCH(QString, reason);
    Volume bad;
    bad.width = width;
    bad.data.assign(std::size_t(values), 1.0f);
    const RenderCase scene;
    OffscreenFrame frame(scene.size);
    frame.setRenderingOptions(scene.options);
    frame.setGradientStops(scene.stops);
    frame.setVolume(&scene.volume);
    QVERIFY(frame.grab().ok);

    QSignalSpy problems(frame.renderer().problemReporter(), &ProblemReporter::problemReported);
    OffscreenResult result;
    QStringList err;
    {
        StreamCapture capture;
        frame.setVolume(&bad);
        result = frame.grab();
        err = capture.errLines();
    }
    QVERIFY(!result.ok);
    QVERIFY2(result.message.contains(reason), qPrintable(result.message));
    QCOMPARE(problems.size(), 1);
    QCOMPARE(err.filter(reason).size(), 1);
    QCOMPARE(countNonBlack(frame.renderer().grabFrame()), 0);
    QVERIFY(!frame.renderAndFinish().ok);

    frame.setVolume(&scene.volume);
    result = frame.grab();
    QVERIFY2(result.ok, qPrintable(result.message));
    QVERIFY(countNonBlack(result.image) > 0);
}

// The batch path follows size and volume changes, and times frames without
// reading them back.
void RenderGlTest::offscreenResizeAndTiming()
{
    const Volume cube = uniformVolume(16, 16, 16, 1.0f);
    const Volume flat = uniformVolume(32, 16, 8, 1.0f);
    // The widget's frame: its framebuffer must follow the size at any device
    // pixel ratio (render_gl_hidpi runs this at 2).
    OffscreenFrame frame(QSize(32, 32));
    frame.setRenderingOptions(plainOptions());
    frame.setGradientStops(constantStops(Qt::white));
    frame.setVolume(&cube);
    QVERIFY(frame.grab().ok);

    // The timing path first after the resize: it must resize the framebuffer.
    frame.setSize(QSize(48, 24));
    for (int i = 0; i < 3; ++i) {
        frame.setRotation(10 * i, 20 * i, 0);
        const OffscreenResult timed = frame.renderAndFinish();
        QVERIFY2(timed.ok && timed.image.isNull(), qPrintable(timed.message));
    }
    struct Step
    {
        const Volume *volume;
        QSize size;
    };
    for (const Step &step : {Step{&cube, QSize(48, 24)}, Step{&flat, QSize(40, 40)}}) {
        frame.setVolume(step.volume);
        frame.setSize(step.size);
        const OffscreenResult result = frame.grab();
        QVERIFY2(result.ok, qPrintable(result.message));
        QCOMPARE(result.image.size(), step.size);
        const FrameGeometry geometry = computeFrameGeometry(
            20, 40, 0, step.size, step.volume->width, step.volume->height, step.volume->depth);
        QImage reference;
        if (silhouetteMismatches(result.image, geometry, &reference) != 0)
            QFAIL(qPrintable(keepImages(QStringLiteral("frame"), result.image, reference)));
    }
}

void RenderGlTest::skippingKeepsThePicture_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("stops");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<int>("samples");
    QTest::addColumn<bool>("depthCueing");
    QTest::addColumn<CropBox>("crop");
    const auto row = [](const QString &volume, const QString &stops, const char *view, int x, int y,
                        int z, int samples, bool depthCueing, const CropBox &crop = CropBox()) {
        const QString name = QStringLiteral("%1, %2, %3").arg(volume, stops, QLatin1String(view));
        QTest::newRow(qPrintable(name))
            << volume << stops << x << y << z << samples << depthCueing << crop;
    };
    for (const char *volume : {"head", "marschner-lobb", "cubes"}) {
        for (const char *stops : {"ramp", "band", "dense only"}) {
            if (QByteArray(volume) != "head" && QByteArray(stops) != "ramp")
                continue; // the others show too little under these tables
            row(volume, stops, "unrotated", 0, 0, 0, 100, false);
            row(volume, stops, "90 about X", 90, 0, 0, 100, false);
            row(volume, stops, "oblique", 30, 45, 10, 100, false);
            row(volume, stops, "from behind, 400 samples", 7, 191, 3, 400, false);
        }
    }
    // Steps as long as a brick or longer, and depth cueing (which needs each
    // sample's true position).
    row("head", "band", "17 samples", 20, 70, 0, 17, false);
    row("cubes", "ramp", "25 samples", 10, 20, 30, 25, false);
    row("cubes", "ramp", "50 samples", 50, 0, 0, 50, false);
    row("head", "ramp", "depth cueing", 30, 45, 10, 100, true);
    // The cropped part must stay out of the skipping's range too.
    const CropBox inner{{0.3, 0.2, 0.25}, {0.8, 0.7, 0.6}};
    row("head", "ramp", "cropped, oblique", 30, 45, 10, 100, false, inner);
    row("head", "band", "cropped, from behind", 7, 191, 3, 100, false, inner);
}

// Skipping transparent bricks leaves the samples that are taken where they were:
// the picture is the plain ray caster's.
void RenderGlTest::skippingKeepsThePicture()
{
    QFETCH(QString, volume);
    QFETCH(QString, stops);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    QFETCH(int, samples);
    QFETCH(bool, depthCueing);
    QFETCH(CropBox, crop);
    const Volume data = skippingVolume(volume);
    RenderingOptions options = depthCueing ? RenderingOptions() : plainOptions();
    options.samples = samples;
    HeadlessFrame frame(QSize(96, 96));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setRenderingOptions(options);
    frame.setGradientStops(skippingStops(stops));
    frame.setVolume(&data);
    frame.setRotation(x, y, z);
    frame.setCropBox(crop);
    compareSkipping(frame, QStringLiteral("frame"));
}

// The bricks that may be skipped follow a new table and a new data set.
void RenderGlTest::skippingFollowsTableAndVolume()
{
    const Volume cubes = skippingVolume(QStringLiteral("cubes"));
    const Volume waves = skippingVolume(QStringLiteral("marschner-lobb"));
    HeadlessFrame frame(QSize(96, 96));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setRenderingOptions(plainOptions());
    frame.setRotation(30, 45, 10);
    const QColor clear(0, 0, 0, 0);
    const QColor orange(255, 128, 0, 255);
    frame.setGradientStops({{0.0, clear}, {0.78, clear}, {0.8, QColor(255, 255, 255, 255)}});
    frame.setVolume(&cubes);
    compareSkipping(frame, QStringLiteral("denser cubes"));
    if (QTest::currentTestFailed())
        return;
    // The other cubes, all of them skipped under the last table.
    frame.setGradientStops(
        {{0.0, clear}, {0.56, clear}, {0.58, orange}, {0.76, orange}, {0.78, clear}, {1.0, clear}});
    compareSkipping(frame, QStringLiteral("lighter cubes"));
    if (QTest::currentTestFailed())
        return;
    // Another data set with other bricks.
    frame.setVolume(&waves);
    compareSkipping(frame, QStringLiteral("waves"));
}

void RenderGlTest::storedGradientsKeepThePicture_data()
{
    QTest::addColumn<QString>("volume");
    QTest::addColumn<QString>("stops");
    QTest::addColumn<bool>("skipping");
    QTest::addColumn<bool>("depthCueing");
    QTest::addColumn<double>("zSpacing");
    QTest::addColumn<CropBox>("crop");
    // With skipping the head is searched (traversal 1), the others have
    // (nearly) every brick visible and take every sample (2); without
    // skipping every volume takes every sample.
    QTest::newRow("head, searched") << "head"
                                    << "ramp" << true << false << 1.0 << CropBox();
    QTest::newRow("head, band, searched") << "head"
                                          << "band" << true << true << 1.0 << CropBox();
    QTest::newRow("head, every sample") << "head"
                                        << "ramp" << false << true << 1.0 << CropBox();
    QTest::newRow("waves, every sample") << "waves"
                                         << "ramp" << true << false << 1.0 << CropBox();
    QTest::newRow("noisy head, thick slices") << "noisy head"
                                              << "ramp" << true << false << 2.5 << CropBox();
    QTest::newRow("noisy head, cropped")
        << "noisy head"
        << "band" << true << true << 1.0 << CropBox{{0.3, 0.2, 0.25}, {0.8, 0.7, 0.6}};
}

// Gradients read from the texture that stores them with the values shade as
// those computed from six neighbours, whichever way the rays go through.
void RenderGlTest::storedGradientsKeepThePicture()
{
    QFETCH(QString, volume);
    QFETCH(QString, stops);
    QFETCH(bool, skipping);
    QFETCH(bool, depthCueing);
    QFETCH(double, zSpacing);
    QFETCH(CropBox, crop);
    Volume data = volume == QLatin1String("head")    ? skippingVolume(volume)
                  : volume == QLatin1String("waves") ? skippingVolume("marschner-lobb")
                                                     : toVolume(makeNoisyHeadPhantom(40, 36, 32));
    data.spacing[2] = zSpacing;
    HeadlessFrame frame(QSize(96, 96));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setRenderingOptions(depthCueing ? RenderingOptions() : plainOptions());
    frame.setGradientStops(skippingStops(stops));
    frame.setVolume(&data);
    frame.setRotation(30, 45, 10);
    frame.setCropBox(crop);
    frame.setEmptySpaceSkipping(skipping);
    // One step more than skipping: stored differences are within half a
    // 65535th, which turns the normals of near-homogeneous noise a little.
    compareSetting(
        frame, QStringLiteral("frame"), [&](bool on) { frame.setStoredGradients(on); }, 3);
    QVERIFY(frame.gradientsStored());
}

void RenderGlTest::activeUnitAfterFrame_data()
{
    QTest::addColumn<QColor>("colour");
    QTest::newRow("visible") << QColor(255, 255, 255, 255);
    // Every brick is skipped: the frame ends before drawing anything.
    QTest::newRow("all transparent") << QColor(255, 255, 255, 0);
}

// Other GL code in the context expects unit 1 to be active after a frame.
void RenderGlTest::activeUnitAfterFrame()
{
    QFETCH(QColor, colour);
    RenderCase scene;
    scene.stops = constantStops(colour);
    VolumeRenderer renderer;
    prepare(renderer, scene);
    QVERIFY(!renderer.grabFrame().isNull());
    renderer.makeCurrent();
    // Something else leaves another unit active; the next frame must restore 1.
    QOpenGLContext::currentContext()->functions()->glActiveTexture(GL_TEXTURE0);
    QVERIFY(renderer.renderFrameAndWait());
    renderer.makeCurrent();
    GLint unit = 0;
    QOpenGLContext::currentContext()->functions()->glGetIntegerv(GL_ACTIVE_TEXTURE, &unit);
    renderer.doneCurrent();
    QCOMPARE(unit, GLint(GL_TEXTURE1));
}

void RenderGlTest::croppedAndZoomedSilhouette_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<CropBox>("crop");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("pan");
    QTest::addColumn<RenderMode>("mode");
    QTest::addColumn<bool>("skipping");
    const CropBox full;
    const CropBox rightHalf{{0.5, 0, 0}, {1, 1, 1}};
    const CropBox corner{{0.2, 0.1, 0.3}, {0.7, 0.9, 1}};
    const RenderMode composite = RenderMode::Composite;
    const RenderMode mip = RenderMode::MaximumIntensity;
    QTest::newRow("left half cut away")
        << 0 << 0 << 0 << rightHalf << 1.0 << QPointF() << composite << true;
    QTest::newRow("oblique box") << 30 << 45 << 10 << corner << 1.0 << QPointF() << composite
                                 << true;
    QTest::newRow("oblique box, no skipping")
        << 30 << 45 << 10 << corner << 1.0 << QPointF() << composite << false;
    QTest::newRow("oblique box, MIP")
        << 30 << 45 << 10 << corner << 1.0 << QPointF() << mip << true;
    QTest::newRow("zoom 2, panned")
        << 0 << 30 << 0 << full << 2.0 << QPointF(0.4, -0.3) << composite << true;
    QTest::newRow("zoom 0.5, oblique")
        << 20 << 40 << 0 << full << 0.5 << QPointF() << composite << true;
    QTest::newRow("zoomed and cut, MIP")
        << 10 << 20 << 0 << rightHalf << 3.0 << QPointF(-1.0, 0.5) << mip << true;
}

// A uniform opaque box shows exactly the cropping box as the geometry places
// it, zoomed and panned, whether bricks are skipped or not, in either mode.
void RenderGlTest::croppedAndZoomedSilhouette()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    QFETCH(CropBox, crop);
    QFETCH(double, zoom);
    QFETCH(QPointF, pan);
    QFETCH(RenderMode, mode);
    QFETCH(bool, skipping);
    const Volume volume = uniformVolume(32, 16, 24, 1.0f);
    HeadlessFrame frame(QSize(64, 48));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setRenderingOptions(plainOptions());
    frame.setGradientStops(constantStops(Qt::white));
    frame.setVolume(&volume);
    frame.setRotation(x, y, z);
    frame.setViewTransform(ViewTransform{zoom, pan});
    frame.setCropBox(crop);
    frame.setRenderMode(mode);
    frame.setEmptySpaceSkipping(skipping);
    const OffscreenResult result = frame.grab();
    QVERIFY2(result.ok, qPrintable(result.message));
    const FrameGeometry geometry = computeFrameGeometry(x, y, z, result.image.size(), 32, 16, 24,
                                                        ViewTransform{zoom, pan}, crop);
    int lit = 0;
    const QString failure = silhouetteFailure(result.image, geometry, &lit);
    QVERIFY(lit > 100);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void RenderGlTest::spacingGivesProportions_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::newRow("front") << 0 << 0;
    QTest::newRow("side") << 0 << 90;
    QTest::newRow("from above, turned") << 90 << 30;
}

void RenderGlTest::spacingGivesProportions()
{
    // 16 x 16 x 4 voxels of 1 x 1 x 4 mm: a cube, whichever way it is seen.
    QFETCH(int, x);
    QFETCH(int, y);
    Volume volume = uniformVolume(16, 16, 4, 1.0f);
    volume.spacing = {{1.0, 1.0, 4.0}};
    HeadlessFrame frame(QSize(64, 64));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setRenderingOptions(plainOptions());
    frame.setGradientStops(constantStops(Qt::white));
    frame.setVolume(&volume);
    frame.setRotation(x, y, 0);
    const OffscreenResult result = frame.grab();
    QVERIFY2(result.ok, qPrintable(result.message));
    const FrameGeometry geometry =
        computeFrameGeometry(x, y, 0, result.image.size(), 16, 16, 4, ViewTransform(), CropBox(),
                             SliceCut(), volume.spacing);
    QCOMPARE(geometry.volumeSize, QVector3D(1, 1, 1));
    const QString failure = silhouetteFailure(result.image, geometry);
    QVERIFY2(failure.isEmpty(), qPrintable(failure));
}

void RenderGlTest::maximumIntensityClosedForm_data()
{
    QTest::addColumn<CropBox>("crop");
    QTest::addColumn<int>("y");
    QTest::addColumn<float>("expectedValue");
    QTest::addColumn<bool>("skipping");
    QTest::newRow("bright slab seen") << CropBox() << 0 << 0.8f << true;
    QTest::newRow("bright slab seen from behind") << CropBox() << 180 << 0.8f << true;
    QTest::newRow("bright slab seen, no skipping") << CropBox() << 0 << 0.8f << false;
    QTest::newRow("bright slab cropped away")
        << CropBox{{0, 0, 0}, {1, 1, 0.5}} << 0 << 0.3f << true;
    QTest::newRow("only the slab kept") << CropBox{{0, 0, 0.7}, {1, 1, 0.75}} << 0 << 0.8f << true;
}

// A dim volume with a bright slab across z: every ray through the slab shows
// the table colour of 0.8 times its opacity, lit or not, near or far.
void RenderGlTest::maximumIntensityClosedForm()
{
    QFETCH(CropBox, crop);
    QFETCH(int, y);
    QFETCH(float, expectedValue);
    QFETCH(bool, skipping);
    const Volume volume =
        makeVolume(16, 16, 16, [](int, int, int z) { return z >= 11 && z <= 12 ? 0.8f : 0.3f; });
    const QGradientStops stops = {{0.0, QColor(0, 0, 255, 100)},
                                  {0.6, QColor(0, 255, 0, 0)},
                                  {1.0, QColor(255, 128, 0, 200)}};
    TransferFunctionTable table;
    std::ostringstream probe;
    table.rebuild(stops, probe);
    const QRgb entry = table.transfer(expectedValue);
    const double opacity = qAlpha(entry) / 255.0;
    const QColor expected(int(std::lround(qRed(entry) * opacity)),
                          int(std::lround(qGreen(entry) * opacity)),
                          int(std::lround(qBlue(entry) * opacity)));

    HeadlessFrame frame(QSize(40, 40));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setGradientStops(stops);
    frame.setVolume(&volume);
    frame.setRotation(0, y, 0);
    frame.setCropBox(crop);
    frame.setRenderMode(RenderMode::MaximumIntensity);
    frame.setEmptySpaceSkipping(skipping);
    // Strong depth cueing and no light at all must not matter.
    RenderingOptions dark;
    dark.ambient = dark.diffuse = dark.specular = QColor(0, 0, 0);
    dark.k1 = dark.k2 = 50.0f;
    for (const RenderingOptions &options : {plainOptions(), dark}) {
        frame.setRenderingOptions(options);
        const OffscreenResult result = frame.grab();
        QVERIFY2(result.ok, qPrintable(result.message));
        const FrameGeometry geometry = computeFrameGeometry(0, y, 0, QSize(40, 40), 16, 16, 16);
        int checked = 0;
        for (int row = 0; row < 40; ++row) {
            for (int column = 0; column < 40; ++column) {
                if (pixelCoverage(geometry, QSize(40, 40), column, row, 1.0) != Coverage::Inside)
                    continue;
                const QRgb pixel = result.image.pixel(column, row);
                if (!closeTo(pixel, expected, 3)) {
                    QFAIL(qPrintable(QStringLiteral("pixel (%1, %2) %3, expected %4; %5")
                                         .arg(column)
                                         .arg(row)
                                         .arg(rgbText(pixel), rgbText(expected.rgb()),
                                              keepImages(QStringLiteral("frame"), result.image))));
                }
                ++checked;
            }
        }
        QVERIFY(checked > 250);
    }
}

void RenderGlTest::ballIsBrightTowardsTheLight_data()
{
    QTest::addColumn<QVector3D>("light");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<QPointF>("brighterSide");
    // The default light, above and in front.
    QTest::newRow("light above") << QVector3D(0.5f, 5, 7) << 0 << 0 << QPointF(0, 1);
    QTest::newRow("light on the left") << QVector3D(-6, 0, 2) << 0 << 0 << QPointF(-1, 0);
    QTest::newRow("light on the right") << QVector3D(6, 0, 2) << 0 << 0 << QPointF(1, 0);
    QTest::newRow("light below") << QVector3D(0, -6, 2) << 0 << 0 << QPointF(0, -1);
    // The light stays with the viewer while the ball turns.
    QTest::newRow("light above, turned") << QVector3D(0.5f, 5, 7) << 40 << 100 << QPointF(0, 1);
    QTest::newRow("light on the left, turned")
        << QVector3D(-6, 0, 2) << 200 << 30 << QPointF(-1, 0);
}

// Diffuse light follows the surface normal and comes from the light's
// position: a ball is clearly brighter on the side facing the light. Light
// taken from the viewer, or a diffuse term without the normal, lights both
// sides alike.
void RenderGlTest::ballIsBrightTowardsTheLight()
{
    QFETCH(QVector3D, light);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(QPointF, brighterSide);
    const Volume volume = ballVolume();
    HeadlessFrame frame(QSize(64, 64));
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    RenderingOptions options = plainOptions();
    options.ambient = QColor(20, 20, 20);
    options.specular = QColor(0, 0, 0);
    frame.setRenderingOptions(options);
    frame.setGradientStops({{0.0, QColor(255, 255, 255, 0)},
                            {0.49, QColor(255, 255, 255, 0)},
                            {0.5, QColor(255, 255, 255, 255)},
                            {1.0, QColor(255, 255, 255, 255)}});
    frame.setVolume(&volume);
    frame.setRotation(x, y, 0);
    frame.setViewTransform(ViewTransform{2.0, QPointF()}); // the ball fills the frame
    QVERIFY(frame.grab().ok);                              // creates the context
    // The light is fixed-function state of the context, in view coordinates.
    frame.makeCurrent();
    const GLfloat position[4] = {light.x(), light.y(), light.z(), 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, position);
    const OffscreenResult result = frame.grab();
    QVERIFY2(result.ok, qPrintable(result.message));
    QVERIFY(countNonBlack(result.image) > 1000);
    const auto [towards, away] = meanTowardsAndAway(result.image, brighterSide);
    if (!(towards > 1.5 * away + 10.0)) {
        QFAIL(qPrintable(QStringLiteral("mean grey towards the light %1, away from it %2; %3")
                             .arg(towards)
                             .arg(away)
                             .arg(keepImages(QStringLiteral("ball"), result.image))));
    }
}

void RenderGlTest::baselineImages_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<CropBox>("crop");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<RenderMode>("mode");
    const RenderMode composite = RenderMode::Composite;
    QTest::newRow("lit head") << "lit-head" << 20 << 35 << CropBox() << 1.0 << composite;
    QTest::newRow("MIP") << "mip-head" << 20 << 35 << CropBox() << 1.0
                         << RenderMode::MaximumIntensity;
    QTest::newRow("cropped") << "cropped-head" << 20 << 35 << CropBox{{0, 0, 0}, {1, 0.55, 1}}
                             << 1.0 << composite;
    QTest::newRow("zoomed") << "zoomed-head" << 0 << 0 << CropBox() << 2.5 << composite;
}

// Whole pictures of the head phantom against stored baselines, for the faults
// that no closed form catches (a shading term lost, the wrong side cut away).
void RenderGlTest::baselineImages()
{
    QFETCH(QString, name);
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(CropBox, crop);
    QFETCH(double, zoom);
    QFETCH(RenderMode, mode);
    RenderCase scene;
    scene.volume = toVolume(makeHeadPhantom(48, 48, 48));
    scene.options = RenderingOptions();
    scene.stops = {{0.0, QColor(0, 0, 0, 0)},
                   {0.15, QColor(255, 120, 60, 0)},
                   {0.3, QColor(255, 200, 150, 120)},
                   {1.0, QColor(255, 255, 255, 220)}};
    scene.size = QSize(96, 96);
    scene.x = x;
    scene.y = y;
    scene.crop = crop;
    scene.view.zoom = zoom;
    scene.mode = mode;
    scene.jitter = false; // the baselines show samples at step midpoints
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    compareWithBaseline(name, result.image);
}

namespace {

// Mean grey of the pixels that the reference lights.
double meanLitGrey(const QImage &image, const QImage &reference)
{
    double sum = 0.0;
    int lit = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isBlack(reference.pixel(x, y)))
                continue;
            sum += qGray(image.pixel(x, y));
            ++lit;
        }
    }
    return lit ? sum / lit : 0.0;
}

} // namespace

// Few samples through an opaque ball draw rings (the samples of neighbouring
// rays lie on the same planes, and depth cueing shows the steps); jitter moves
// each ray's samples by a fraction of a step, which the rings turn into noise
// about the same mean. (The closed-form checks above run with jitter on: their
// pictures may not depend on where in a step the samples lie.)
// Mean absolute grey difference of the two images' averages over blocks of
// block x block pixels: small when one is a blurred or blocky copy of the
// other, large when it is shifted, flipped or cut off.
double blockDifference(const QImage &a, const QImage &b, int block)
{
    double total = 0.0;
    int blocks = 0;
    for (int top = 0; top + block <= a.height(); top += block) {
        for (int left = 0; left + block <= a.width(); left += block) {
            double difference = 0.0;
            for (int y = top; y < top + block; ++y)
                for (int x = left; x < left + block; ++x)
                    difference += qGray(a.pixel(x, y)) - qGray(b.pixel(x, y));
            total += std::abs(difference) / (block * block);
            ++blocks;
        }
    }
    return total / blocks;
}

void RenderGlTest::jitterTurnsRingsIntoNoise()
{
    RenderCase scene;
    scene.volume = ballVolume();
    // Strong depth cueing: rings show as steps of brightness.
    scene.options = RenderingOptions();
    scene.options.k1 = 0.0f;
    scene.options.k2 = 4.0f;
    scene.stops = {{0.0, QColor(0, 0, 0, 0)},
                   {0.49, QColor(255, 255, 255, 0)},
                   {0.51, QColor(255, 255, 255, 255)},
                   {1.0, QColor(255, 255, 255, 255)}};
    scene.size = QSize(96, 96);
    scene.x = 20;
    scene.y = 30;
    scene.jitter = false;
    scene.options.samples = 1000;
    const OffscreenResult reference = render(scene);
    scene.options.samples = 12;
    const OffscreenResult rings = render(scene);
    scene.jitter = true;
    const OffscreenResult noise = render(scene);
    const OffscreenResult again = render(scene);
    for (const OffscreenResult *result : {&reference, &rings, &noise, &again})
        QVERIFY2(result->ok, qPrintable(result->message));

    int differing = 0;
    QCOMPARE(largestDifference(noise.image, again.image, &differing), 0);
    largestDifference(noise.image, rings.image, &differing);
    // Most pixels of the ball move.
    QVERIFY2(differing > countNonBlack(reference.image) / 2,
             qPrintable(QString::number(differing)));
    const double fine = meanLitGrey(reference.image, reference.image);
    const double withRings = meanLitGrey(rings.image, reference.image);
    const double withNoise = meanLitGrey(noise.image, reference.image);
    // Both put the surface about half a step deep on average.
    if (std::abs(withNoise - withRings) > 1.5) {
        QFAIL(
            qPrintable(QStringLiteral("mean grey %1 with jitter, %2 without, %3 finely sampled; %4")
                           .arg(withNoise)
                           .arg(withRings)
                           .arg(fine)
                           .arg(keepImages(QStringLiteral("jittered"), noise.image, rings.image))));
    }
}

// A drag on a renderer whose frames exceed the budget (0 here) draws quarter
// frames scaled over the whole view; saving still gets a full frame, and one
// follows on screen once the drag has settled.
void RenderGlTest::dragsDrawReducedFrames()
{
    RenderCase scene;
    scene.volume = toVolume(makeHeadPhantom(48, 48, 48));
    scene.stops = {{0.0, QColor(0, 0, 0, 0)}, {0.1, QColor(255, 200, 150, 255)}};
    scene.size = QSize(96, 96);
    VolumeRenderer renderer;
    renderer.setJitter(false);
    renderer.setInteractionFrameBudget(0.0);
    prepare(renderer, scene);
    const QImage full = renderer.grabFrame();
    QCOMPARE(renderer.lastFrameDivisor(), 1);
    QVERIFY(countNonBlack(full) > 1000);

    // There and back: the same view, drawn during a drag.
    sendMouse(&renderer, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton, Qt::LeftButton);
    sendMouse(&renderer, QEvent::MouseMove, QPoint(14, 10), Qt::NoButton, Qt::LeftButton);
    sendMouse(&renderer, QEvent::MouseMove, QPoint(10, 10), Qt::NoButton, Qt::LeftButton);
    QCOMPARE(renderer.yRotation(), 0);
    QVERIFY(renderer.isInteracting());
    const QImage reduced = renderer.grabFramebuffer().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(renderer.lastFrameDivisor(), 4);
    QCOMPARE(reduced.size(), full.size());
    int differing = 0;
    QVERIFY(largestDifference(reduced, full, &differing) > 0);
    const double difference = blockDifference(reduced, full, 8);
    if (difference > 6.0) {
        QFAIL(qPrintable(QStringLiteral("8x8 blocks differ by %1 on average; %2")
                             .arg(difference)
                             .arg(keepImages(QStringLiteral("reduced"), reduced, full))));
    }
    QCOMPARE(renderer.grabFrame(), full);
    QCOMPARE(renderer.lastFrameDivisor(), 1);

    renderer.show();
    QVERIFY(QTest::qWaitForWindowExposed(&renderer));
    sendMouse(&renderer, QEvent::MouseMove, QPoint(20, 10), Qt::NoButton, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(renderer.lastFrameDivisor(), 4, 2000);
    QTRY_VERIFY_WITH_TIMEOUT(!renderer.isInteracting(), 2000);
    QTRY_COMPARE_WITH_TIMEOUT(renderer.lastFrameDivisor(), 1, 2000);
}

// The window's renderer keeps drawing its layers when the volume under them
// changes (the next volume of a series, a region), also where the volume
// itself shows nothing: their bricks are marked again in the new volume's.
void RenderGlTest::layersOutliveANewVolume()
{
    const Volume first = uniformVolume(16, 16, 16, 0.2f);
    const Volume next = uniformVolume(16, 16, 16, 0.3f);
    Volume labels = makeVolume(16, 16, 16, [](int x, int y, int z) {
        return x > 4 && x < 11 && y > 4 && y < 11 && z > 4 && z < 11 ? 1.0f : 0.0f;
    });
    labels.valueRange = {0.0, 1.0};
    LayerAppearance appearance = defaultLabelAppearance({0, 1});
    appearance.opacity = 1.0;
    OffscreenFrame frame(QSize(32, 32));
    frame.setRenderingOptions(plainOptions());
    frame.setGradientStops(constantStops(QColor(0, 0, 0, 0)));
    frame.setVolume(&first);
    frame.setLayers({{&labels, &appearance, QString()}});
    const OffscreenResult before = frame.grab();
    QVERIFY2(before.ok, qPrintable(before.message));
    QVERIFY(countNonBlack(before.image) > 20); // the cube's face, about 6 x 6 pixels
    frame.setVolume(&next);
    const OffscreenResult after = frame.grab();
    QVERIFY2(after.ok, qPrintable(after.message));
    QCOMPARE(countNonBlack(after.image), countNonBlack(before.image));
    frame.setLayers({});
}

QTEST_MAIN(RenderGlTest)
#include "tst_rendergl.moc"
