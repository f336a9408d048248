#include "framegeometry.h"
#include "shadersource.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMatrix4x4>
#include <QTemporaryDir>
#include <QTest>

#include <climits>
#include <random>

namespace {

bool fuzzyEqual(const QVector3D &a, const QVector3D &b, float tolerance = 1e-6f)
{
    return (a - b).length() <= tolerance;
}

QString text(const QVector3D &v)
{
    return QStringLiteral("(%1, %2, %3)").arg(v.x()).arg(v.y()).arg(v.z());
}

// The normalisation as a loop, the way it is defined.
int normaliseByLoop(int angle)
{
    while (angle < 0)
        angle += maximumRotationAngle;
    while (angle > maximumRotationAngle)
        angle -= maximumRotationAngle;
    return angle;
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
}

} // namespace

class RenderUnitTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void viewGeometry_data();
    void viewGeometry();
    void rotationMatchesQtComposition();
    void volumeExtents_data();
    void volumeExtents();
    void angleNormalisation_data();
    void angleNormalisation();
    void shaderSearchOrder();
    void shippedShaderCopies();
};

void RenderUnitTest::viewGeometry_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("z");
    QTest::addColumn<QSize>("viewport");
    QTest::addColumn<QVector3D>("n0");
    QTest::addColumn<QVector3D>("u");
    QTest::addColumn<QVector3D>("v");

    const QVector3D forward(0, 0, -1);
    const QSize square(400, 400);
    const QSize wide(400, 300);
    QTest::newRow("400x400") << 0 << 0 << 0 << square << forward << QVector3D(0.005f, 0, 0)
                             << QVector3D(0, 0.005f, 0);
    QTest::newRow("401x300") << 0 << 0 << 0 << QSize(401, 300) << forward
                             << QVector3D(2.0f / 401, 0, 0) << QVector3D(0, 2.0f / 300, 0);
    QTest::newRow("800x600") << 0 << 0 << 0 << QSize(800, 600) << forward
                             << QVector3D(0.0025f, 0, 0) << QVector3D(0, 1.0f / 300, 0);
    QTest::newRow("90 about X") << 90 << 0 << 0 << wide << QVector3D(0, 1, 0)
                                << QVector3D(2.0f / 400, 0, 0) << QVector3D(0, 0, 2.0f / 300);
    QTest::newRow("90 about Y") << 0 << 90 << 0 << wide << QVector3D(-1, 0, 0)
                                << QVector3D(0, 0, -2.0f / 400) << QVector3D(0, 2.0f / 300, 0);
    QTest::newRow("90 about Z") << 0 << 0 << 90 << wide << forward << QVector3D(0, 2.0f / 400, 0)
                                << QVector3D(-2.0f / 300, 0, 0);
    QTest::newRow("450 is 90") << 450 << 0 << 0 << wide << QVector3D(0, 1, 0)
                               << QVector3D(2.0f / 400, 0, 0) << QVector3D(0, 0, 2.0f / 300);
    QTest::newRow("-270 is 90") << -270 << 0 << 0 << wide << QVector3D(0, 1, 0)
                                << QVector3D(2.0f / 400, 0, 0) << QVector3D(0, 0, 2.0f / 300);
    QTest::newRow("5760 is 0") << 5760 << 5760 << 5760 << square << forward
                               << QVector3D(0.005f, 0, 0) << QVector3D(0, 0.005f, 0);
    // Rx(90) Ry(90): the order of the product matters (Ry Rx would give n0 = +y).
    QTest::newRow("90 about X then Y")
        << 90 << 90 << 0 << wide << QVector3D(-1, 0, 0) << QVector3D(0, 2.0f / 400, 0)
        << QVector3D(0, 0, 2.0f / 300);
}

void RenderUnitTest::viewGeometry()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, z);
    QFETCH(QSize, viewport);
    QFETCH(QVector3D, n0);
    QFETCH(QVector3D, u);
    QFETCH(QVector3D, v);
    const FrameGeometry geometry = computeFrameGeometry(x, y, z, viewport, 8, 8, 8);
    QVERIFY2(fuzzyEqual(geometry.n0, n0), qPrintable(text(geometry.n0)));
    QVERIFY2(fuzzyEqual(geometry.u, u), qPrintable(text(geometry.u)));
    QVERIFY2(fuzzyEqual(geometry.v, v), qPrintable(text(geometry.v)));

    // Corners at the viewport's half size in whole pixels (401 gives 200).
    const float hw = float(viewport.width() / 2);
    const float hh = float(viewport.height() / 2);
    const std::array<float, 8> corners = {hw, hh, -hw, hh, -hw, -hh, hw, -hh};
    QCOMPARE(geometry.quadTexCoords, corners);
}

// Any angles: the frame agrees with Qt's rotate() composition, and u, v, n0 are
// orthogonal with u x v opposite to n0.
void RenderUnitTest::rotationMatchesQtComposition()
{
    std::mt19937 random(7);
    std::uniform_int_distribution<int> angle(-6000, 12000);
    for (int i = 0; i < 200; ++i) {
        const int x = angle(random);
        const int y = angle(random);
        const int z = angle(random);
        const FrameGeometry geometry = computeFrameGeometry(x, y, z, QSize(300, 200), 4, 4, 4);
        QMatrix4x4 m;
        m.rotate(float(x % 360), 1, 0, 0);
        m.rotate(float(y % 360), 0, 1, 0);
        m.rotate(float(z % 360), 0, 0, 1);
        const QByteArray angles = QStringLiteral("%1 %2 %3").arg(x).arg(y).arg(z).toLatin1();
        QVERIFY2(fuzzyEqual(geometry.n0, m.map(QVector3D(0, 0, -1)), 1e-5f), angles);
        QVERIFY2(fuzzyEqual(geometry.u, 2.0f * m.map(QVector3D(1.0f / 300, 0, 0))), angles);
        QVERIFY2(fuzzyEqual(geometry.v, 2.0f * m.map(QVector3D(0, 1.0f / 200, 0))), angles);
        QVERIFY(qAbs(QVector3D::dotProduct(geometry.u, geometry.n0)) < 1e-6f);
        QVERIFY(qAbs(QVector3D::dotProduct(geometry.v, geometry.n0)) < 1e-6f);
        QVERIFY(qAbs(QVector3D::dotProduct(geometry.u, geometry.v)) < 1e-8f);
        const QVector3D normal = QVector3D::crossProduct(geometry.u, geometry.v).normalized();
        QVERIFY2(fuzzyEqual(normal, -geometry.n0, 1e-5f), angles);
    }
}

void RenderUnitTest::volumeExtents_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QVector3D>("size");
    QTest::newRow("256x256x128") << 256 << 256 << 128 << QVector3D(1, 1, 0.5f);
    QTest::newRow("100x50x25") << 100 << 50 << 25 << QVector3D(1, 0.5f, 0.25f);
    QTest::newRow("deepest along z") << 10 << 20 << 40 << QVector3D(0.25f, 0.5f, 1);
    QTest::newRow("no voxels") << 0 << 5 << 5 << QVector3D(0, 0, 0);
}

void RenderUnitTest::volumeExtents()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(QVector3D, size);
    const FrameGeometry geometry =
        computeFrameGeometry(0, 0, 0, QSize(10, 10), width, height, depth);
    QCOMPARE(geometry.volumeResolution, QVector3D(float(width), float(height), float(depth)));
    QVERIFY2(fuzzyEqual(geometry.volumeSize, size), qPrintable(text(geometry.volumeSize)));
}

void RenderUnitTest::angleNormalisation_data()
{
    QTest::addColumn<int>("angle");
    QTest::addColumn<int>("expected");
    QTest::newRow("-1") << -1 << 5759;
    QTest::newRow("5760 stays") << 5760 << 5760;
    QTest::newRow("5761") << 5761 << 1;
    QTest::newRow("11520") << 11520 << 5760;
    QTest::newRow("-5760") << -5760 << 0;
    QTest::newRow("INT_MIN") << INT_MIN << normaliseByLoop(INT_MIN);
    QTest::newRow("INT_MAX") << INT_MAX << normaliseByLoop(INT_MAX);
}

void RenderUnitTest::angleNormalisation()
{
    QFETCH(int, angle);
    QFETCH(int, expected);
    QCOMPARE(normaliseRotationAngle(angle), expected);
    // The closed form agrees with the loop over several turns either side.
    for (int a = -3 * maximumRotationAngle - 2; a <= 3 * maximumRotationAngle + 2; ++a)
        QCOMPARE(normaliseRotationAngle(a), normaliseByLoop(a));
}

void RenderUnitTest::shaderSearchOrder()
{
    QTemporaryDir first;
    QTemporaryDir second;
    QVERIFY(first.isValid() && second.isValid());
    const QString firstPath = first.filePath(QStringLiteral("FragmentShader.glsl"));
    const QString secondPath = second.filePath(QStringLiteral("FragmentShader.glsl"));
    QVERIFY(writeFile(secondPath, "second"));
    ShaderSource source = loadShaderSource({firstPath, secondPath});
    QVERIFY(source.found);
    QCOMPARE(source.text, QByteArray("second"));
    QCOMPARE(source.origin, secondPath);

    QVERIFY(writeFile(firstPath, "first"));
    QCOMPARE(loadShaderSource({firstPath, secondPath}).text, QByteArray("first"));

    // The working directory comes first, resolved when the shader is read.
    const QString oldDirectory = QDir::currentPath();
    QVERIFY(QDir::setCurrent(second.path()));
    source = loadShaderSource(defaultFragmentShaderCandidates());
    QDir::setCurrent(oldDirectory);
    QCOMPARE(source.text, QByteArray("second"));

    source = loadShaderSource({first.filePath(QStringLiteral("missing.glsl"))});
    QVERIFY(!source.found);
    QVERIFY2(source.problem.contains(QStringLiteral("missing.glsl")), qPrintable(source.problem));
}

// The build puts a copy beside the executables and, when asked to, one into
// the program; both hold the source file's text.
void RenderUnitTest::shippedShaderCopies()
{
    QFile original(QStringLiteral(KELVARA_SHADER_FILE));
    QVERIFY(original.open(QIODevice::ReadOnly));
    const QByteArray text = original.readAll();
    const QString beside =
        QDir(QCoreApplication::applicationDirPath()).filePath("FragmentShader.glsl");
    QCOMPARE(loadShaderSource({beside}).text, text);

    QStringList expected = {QStringLiteral("FragmentShader.glsl"), beside};
#ifdef KELVARA_EMBED_SHADER
    expected << embeddedFragmentShaderPath();
    QCOMPARE(loadShaderSource({embeddedFragmentShaderPath()}).text, text);
#else
    QVERIFY(embeddedFragmentShaderPath().isEmpty());
#endif
    QCOMPARE(defaultFragmentShaderCandidates(), expected);
}

QTEST_MAIN(RenderUnitTest)
#include "tst_renderunit.moc"
