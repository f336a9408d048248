#include "batchrender.h"
#include "commandline.h"
#include "offscreenframe.h"
#include "patientorientation.h"
#include "renderchecks.h"
#include "scene.h"

#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

// A ball in a 16^3 grid: 1 inside radius, falling to 0 over two voxels, so
// that its surface (opaque white from 0.35 on) has smooth normals.
Volume ball(double cx, double cy, double cz, double radius)
{
    return makeVolume(16, 16, 16, [=](int x, int y, int z) {
        const double value = (radius + 1.0 - std::hypot(x - cx, y - cy, z - cz)) / 2.0;
        return float(std::clamp(value, 0.0, 1.0));
    });
}

// One 40 x 40 frame as batch mode draws it with the given options.
OffscreenResult renderBatchFrame(const QStringList &options, const Volume &volume)
{
    const CommandLine commandLine =
        parseCommandLine(QStringList{"kelvara", "v.dat", "--output", "o.png"} + options);
    if (commandLine.mode != CommandLine::Mode::Batch)
        return {false, commandLine.text, QImage()};
    OffscreenFrame frame(QSize(40, 40));
    setUpBatchFrame(commandLine, frame);
    frame.setGradientStops({{0.0, QColor(0, 0, 0, 0)},
                            {0.3, QColor(0, 0, 0, 0)},
                            {0.35, Qt::white},
                            {1.0, Qt::white}});
    frame.setVolume(&volume);
    return frame.grab();
}

} // namespace

class TestBatchRender : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void optionsReachThePicture_data();
    void optionsReachThePicture();
    void viewsPutThePatientWhereTheLettersSay_data();
    void viewsPutThePatientWhereTheLettersSay();
    void optionsGivenOverAScene();
};

void TestBatchRender::optionsReachThePicture_data()
{
    QTest::addColumn<QStringList>("options");
    QTest::newRow("light") << QStringList{"--light", "#000000"};
    QTest::newRow("ambient") << QStringList{"--ambient", "#ffffff"};
    QTest::newRow("diffuse") << QStringList{"--diffuse", "#000000"};
    QTest::newRow("specular") << QStringList{"--specular", "#000000"};
    QTest::newRow("exponent") << QStringList{"--exponent", "1"};
    QTest::newRow("depth cueing") << QStringList{"--depth-cueing", "0,0"};
    QTest::newRow("no jitter") << QStringList{"--no-jitter"};
}

void TestBatchRender::optionsReachThePicture()
{
    QFETCH(QStringList, options);
    const Volume volume = ball(7.5, 7.5, 7.5, 6.5);
    // Zoomed in, so that the lit ball fills most of the image.
    const OffscreenResult plain = renderBatchFrame({"--zoom", "2"}, volume);
    const OffscreenResult changed = renderBatchFrame(options + QStringList{"--zoom", "2"}, volume);
    QVERIFY2(plain.ok && changed.ok, qPrintable(plain.message + changed.message));
    QVERIFY2(changed.image != plain.image,
             qPrintable(keepImages("unchanged", changed.image, plain.image)));
}

void TestBatchRender::viewsPutThePatientWhereTheLettersSay_data()
{
    QTest::addColumn<QString>("side");
    for (const char *side : {"anterior", "posterior", "left", "right", "superior", "inferior"})
        QTest::newRow(side) << QString(side);
}

void TestBatchRender::viewsPutThePatientWhereTheLettersSay()
{
    QFETCH(QString, side);
    // A small ball towards high x, low y and high z: in a scan the patient's
    // left, anterior and superior (LPS). Its centre lies 5.6 pixels off the
    // image centre along both screen axes.
    const OffscreenResult result = renderBatchFrame({"--view-from", side}, ball(12, 3, 12, 2.5));
    QVERIFY2(result.ok, qPrintable(result.message));
    double right = 0.0, up = 0.0;
    const int lit = countNonBlack(result.image);
    QVERIFY(lit > 0);
    for (int y = 0; y < result.image.height(); ++y)
        for (int x = 0; x < result.image.width(); ++x)
            if (!isBlack(result.image.pixel(x, y))) {
                right += (x + 0.5 - result.image.width() / 2.0) / lit;
                up += (result.image.height() / 2.0 - y - 0.5) / lit;
            }

    const std::array<int, 3> angles = rotationViewingFrom(*patientSideNamed(side));
    const OrientationLetters letters = orientationLetters(angles[0], angles[1], angles[2]);
    const QStringList marker{"L", "A", "S"};
    const bool rightSide = marker.contains(letters.right) ? right > 3 : right < -3;
    const bool upSide = marker.contains(letters.top) ? up > 3 : up < -3;
    if (!rightSide || !upSide)
        QFAIL(qPrintable(QString("marker at (%1, %2) from the centre, letters %3 %4 %5 %6; %7")
                             .arg(right)
                             .arg(up)
                             .arg(letters.left, letters.right, letters.top, letters.bottom,
                                  keepImages("marker", result.image))));
}

// Over a scene read from a file only the options given replace its values;
// without a scene every value is the command line's.
void TestBatchRender::optionsGivenOverAScene()
{
    Scene scene;
    scene.camera.rotation = {25, 40, 0};
    scene.camera.view.zoom = 2.0;
    scene.options.samples = 333;
    scene.options.ambient = QColor(1, 2, 3);
    scene.jitter = false;
    scene.crop = {{0.1, 0.2, 0.3}, {0.9, 0.8, 0.7}};
    scene.layer().transferFunction = TransferFunction::fromStops({{0.0, Qt::red}, {1.0, Qt::blue}});

    const CommandLine line =
        parseCommandLine({"kelvara", "case.kelvara", "--output", "o.png", "--rotation", "0,90,0",
                          "--samples", "50", "--ambient", "#101010"});
    QCOMPARE(int(line.mode), int(CommandLine::Mode::Batch));
    const Scene over = batchScene(line, &scene);
    QCOMPARE(over.camera.rotation, (std::array<int, 3>{{0, 90, 0}}));
    QCOMPARE(over.options.samples, 50);
    QCOMPARE(over.options.ambient, QColor("#101010"));
    // Not given: the scene's.
    QCOMPARE(over.camera.view.zoom, 2.0);
    QVERIFY(!over.jitter);
    QCOMPARE(over.crop, scene.crop);
    QCOMPARE(over.options.diffuse, scene.options.diffuse);
    QCOMPARE(over.layer().transferFunction, scene.layer().transferFunction);

    const Scene plain = batchScene(line);
    QCOMPARE(plain.camera.view.zoom, 1.0);
    QVERIFY(plain.jitter);
    QVERIFY(plain.crop.isFull());
}

QTEST_MAIN(TestBatchRender)
#include "tst_batchrender.moc"
