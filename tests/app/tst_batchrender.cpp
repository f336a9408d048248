#include "batchrender.h"
#include "commandline.h"
#include "offscreenframe.h"
#include "patientorientation.h"
#include "renderchecks.h"

#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

const QSize imageSize(40, 40);

// Opaque white from value 0.35 up, nothing below: the balls' surfaces.
QGradientStops surfaceStops()
{
    return {
        {0.0, QColor(0, 0, 0, 0)}, {0.3, QColor(0, 0, 0, 0)}, {0.35, Qt::white}, {1.0, Qt::white}};
}

// A ball of about radius voxels about the centre: 1 inside, falling to 0 over
// two voxels, so that the surface (0.35) has smooth normals.
float ball(int x, int y, int z, double cx, double cy, double cz, double radius)
{
    const double value = (radius + 1.0 - std::hypot(x - cx, y - cy, z - cz)) / 2.0;
    return float(std::clamp(value, 0.0, 1.0));
}

// One frame as batch mode draws it for the file's arguments plus options.
OffscreenResult renderBatchFrame(const QStringList &options, const Volume &volume)
{
    const CommandLine commandLine =
        parseCommandLine(QStringList{"kelvara", "v.dat", "--output", "o.png"} + options);
    if (commandLine.mode != CommandLine::Mode::Batch)
        return {false, commandLine.text, QImage()};
    OffscreenFrame frame(imageSize);
    setUpBatchFrame(commandLine, frame);
    frame.setGradientStops(surfaceStops());
    frame.setVolume(&volume);
    return frame.grab();
}

double meanGrey(const QImage &image)
{
    double sum = 0.0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            sum += qGray(image.pixel(x, y));
    return sum / (image.width() * image.height());
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
};

void TestBatchRender::optionsReachThePicture_data()
{
    // How the mean grey of a lit ball must move against the defaults.
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("change"); // 1 brighter, -1 darker, 0 different
    QTest::newRow("no light") << QStringList{"--light", "#000000"} << -1;
    QTest::newRow("full ambient") << QStringList{"--ambient", "#ffffff"} << 1;
    QTest::newRow("no diffuse") << QStringList{"--diffuse", "#000000"} << -1;
    QTest::newRow("no specular") << QStringList{"--specular", "#000000"} << -1;
    QTest::newRow("broad highlight") << QStringList{"--exponent", "1"} << 1;
    QTest::newRow("no depth cueing") << QStringList{"--depth-cueing", "0,0"} << 1;
    QTest::newRow("no jitter") << QStringList{"--no-jitter"} << 0;
}

void TestBatchRender::optionsReachThePicture()
{
    QFETCH(QStringList, options);
    QFETCH(int, change);
    const Volume volume = makeVolume(
        16, 16, 16, [](int x, int y, int z) { return ball(x, y, z, 7.5, 7.5, 7.5, 6.5); });
    // Zoomed in so that the ball fills most of the small image.
    const OffscreenResult plain = renderBatchFrame({"--zoom", "2"}, volume);
    QVERIFY2(plain.ok, qPrintable(plain.message));
    const OffscreenResult changed = renderBatchFrame(options + QStringList{"--zoom", "2"}, volume);
    QVERIFY2(changed.ok, qPrintable(changed.message));

    const double before = meanGrey(plain.image);
    const double after = meanGrey(changed.image);
    // Half a grey level on average is far beyond rounding and well within
    // what each option does to the lit ball.
    const bool asExpected = change > 0   ? after > before + 0.5
                            : change < 0 ? after < before - 0.5
                                         : changed.image != plain.image;
    if (!asExpected)
        QFAIL(qPrintable(QString("mean grey %1 by default, %2 with %3; %4")
                             .arg(before)
                             .arg(after)
                             .arg(options.join(' '))
                             .arg(keepImages("changed", changed.image, plain.image))));
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
    // A single small ball towards high x, low y and high z: in a scan the
    // patient's left, anterior and superior (LPS).
    const Volume volume =
        makeVolume(16, 16, 16, [](int x, int y, int z) { return ball(x, y, z, 12, 3, 12, 2.5); });
    const OffscreenResult result = renderBatchFrame({"--view-from", side}, volume);
    QVERIFY2(result.ok, qPrintable(result.message));

    double sumX = 0.0, sumY = 0.0;
    int lit = 0;
    for (int y = 0; y < result.image.height(); ++y)
        for (int x = 0; x < result.image.width(); ++x)
            if (!isBlack(result.image.pixel(x, y))) {
                sumX += x + 0.5;
                sumY += y + 0.5;
                ++lit;
            }
    QVERIFY2(lit > 0, qPrintable(keepImages("marker", result.image)));
    // Image rows grow downwards: above the centre is a smaller y.
    const double right = sumX / lit - imageSize.width() / 2.0;
    const double up = imageSize.height() / 2.0 - sumY / lit;

    const std::array<int, 3> angles = rotationViewingFrom(*patientSideNamed(side));
    const OrientationLetters letters = orientationLetters(angles[0], angles[1], angles[2]);
    const QStringList marker{"L", "A", "S"};
    QVERIFY(marker.contains(letters.left) != marker.contains(letters.right));
    QVERIFY(marker.contains(letters.top) != marker.contains(letters.bottom));
    // The ball's centre lies 4.5 voxels (5.6 pixels) off the centre along
    // each axis.
    const bool rightSide = marker.contains(letters.right) ? right > 3 : right < -3;
    const bool upSide = marker.contains(letters.top) ? up > 3 : up < -3;
    if (!rightSide || !upSide)
        QFAIL(qPrintable(QString("marker at (%1, %2) from the centre, letters %3 %4 %5 %6; %7")
                             .arg(right)
                             .arg(up)
                             .arg(letters.left, letters.right, letters.top, letters.bottom,
                                  keepImages("marker", result.image))));
}

QTEST_MAIN(TestBatchRender)
#include "tst_batchrender.moc"
