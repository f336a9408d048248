#include "brickmap.h"
#include "framegeometry.h"
#include "gradienttexels.h"
#include "interactionresolution.h"
#include "layertextures.h"
#include "samplevolumes.h"
#include "shadersource.h"
#include "transferfunctiontable.h"
#include "viewsettings.h"
#include "renderstate.h"
#include "volume.h"
#include "volumegrid.h"
#include "volumerenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineF>
#include <QMatrix4x4>
#include <QMetaMethod>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <limits>
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

Volume volumeOf(int width, int height, int depth, std::vector<float> values)
{
    Volume volume;
    volume.width = width;
    volume.height = height;
    volume.depth = depth;
    volume.data.assign(values.begin(), values.end());
    return volume;
}

float voxelAt(const Volume &volume, int x, int y, int z)
{
    return volume
        .data[std::size_t(x) + std::size_t(volume.width) * (y + std::size_t(volume.height) * z)];
}

// The trilinear lookup of the shader at voxel position w (voxel centres at
// integers), clamped to the outermost voxel centres.
float trilinear(const Volume &volume, const std::array<double, 3> &w)
{
    const int counts[3] = {volume.width, volume.height, volume.depth};
    int low[3];
    int high[3];
    double fraction[3];
    for (int axis = 0; axis < 3; ++axis) {
        const double clamped = std::clamp(w[axis], 0.0, double(counts[axis] - 1));
        low[axis] = std::min(int(std::floor(clamped)), counts[axis] - 1);
        high[axis] = std::min(low[axis] + 1, counts[axis] - 1);
        fraction[axis] = clamped - low[axis];
    }
    double sum = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        double weight = 1.0;
        int index[3];
        for (int axis = 0; axis < 3; ++axis) {
            const bool upper = (corner >> axis) & 1;
            weight *= upper ? fraction[axis] : 1.0 - fraction[axis];
            index[axis] = upper ? high[axis] : low[axis];
        }
        sum += weight * voxelAt(volume, index[0], index[1], index[2]);
    }
    return float(sum);
}

// A table with the given alpha in entries [first, last] and 0 elsewhere; the
// colour is white throughout, so that only alpha can make an entry visible.
std::array<float, 4 * TransferFunctionTable::entryCount> alphaBand(int first, int last,
                                                                   float alpha = 1.0f)
{
    std::array<float, 4 * TransferFunctionTable::entryCount> entries{};
    for (int i = 0; i < TransferFunctionTable::entryCount; ++i) {
        entries[4 * i] = entries[4 * i + 1] = entries[4 * i + 2] = 1.0f;
        entries[4 * i + 3] = i >= first && i <= last ? alpha : 0.0f;
    }
    return entries;
}

} // namespace

Q_DECLARE_METATYPE(CropBox)
Q_DECLARE_METATYPE(ViewTransform)

class RenderUnitTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }

    void rendererMethodTable();
    void layerTexelsNameWhatShows();

    void viewGeometry_data();
    void viewGeometry();
    void rotationMatchesQtComposition();
    void volumeExtents_data();
    void volumeExtents();
    void zoomAndPan_data();
    void zoomAndPan();
    void zoomKeepsTheCentre_data();
    void zoomKeepsTheCentre();
    void framePositions_data();
    void framePositions();
    void nearestVoxel_data();
    void nearestVoxel();
    void textureFromWorldOfATurnedGrid();
    void cropBounds_data();
    void cropBounds();
    void angleNormalisation_data();
    void angleNormalisation();
    void shaderSearchOrder();
    void shippedShaderCopies();
    void definitionGoesAfterVersion_data();
    void definitionGoesAfterVersion();
    void gradientTexels();

    void brickRangesCoverTheirSamples_data();
    void brickRangesCoverTheirSamples();
    void brickRangesReachOneVoxelBeyond_data();
    void brickRangesReachOneVoxelBeyond();
    void brickMapOfUnusableData();
    void tableEntrySpans_data();
    void tableEntrySpans();
    void brickClassification();
    void noisyPhantomHasNoEmptySpace();
    void interactionDivisor_data();
    void interactionDivisor();
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
    // The shorter side spans [-1, 1]: one step length across and up.
    QTest::newRow("401x300") << 0 << 0 << 0 << QSize(401, 300) << forward
                             << QVector3D(2.0f / 300, 0, 0) << QVector3D(0, 2.0f / 300, 0);
    QTest::newRow("800x600") << 0 << 0 << 0 << QSize(800, 600) << forward
                             << QVector3D(1.0f / 300, 0, 0) << QVector3D(0, 1.0f / 300, 0);
    QTest::newRow("90 about X") << 90 << 0 << 0 << wide << QVector3D(0, 1, 0)
                                << QVector3D(2.0f / 300, 0, 0) << QVector3D(0, 0, 2.0f / 300);
    QTest::newRow("90 about Y") << 0 << 90 << 0 << wide << QVector3D(-1, 0, 0)
                                << QVector3D(0, 0, -2.0f / 300) << QVector3D(0, 2.0f / 300, 0);
    QTest::newRow("90 about Z") << 0 << 0 << 90 << wide << forward << QVector3D(0, 2.0f / 300, 0)
                                << QVector3D(-2.0f / 300, 0, 0);
    QTest::newRow("450 is 90") << 450 << 0 << 0 << wide << QVector3D(0, 1, 0)
                               << QVector3D(2.0f / 300, 0, 0) << QVector3D(0, 0, 2.0f / 300);
    QTest::newRow("-270 is 90") << -270 << 0 << 0 << wide << QVector3D(0, 1, 0)
                                << QVector3D(2.0f / 300, 0, 0) << QVector3D(0, 0, 2.0f / 300);
    QTest::newRow("5760 is 0") << 5760 << 5760 << 5760 << square << forward
                               << QVector3D(0.005f, 0, 0) << QVector3D(0, 0.005f, 0);
    // Rx(90) Ry(90): the order of the product matters (Ry Rx would give n0 = +y).
    QTest::newRow("90 about X then Y")
        << 90 << 90 << 0 << wide << QVector3D(-1, 0, 0) << QVector3D(0, 2.0f / 300, 0)
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
        QVERIFY2(fuzzyEqual(geometry.u, 2.0f * m.map(QVector3D(1.0f / 200, 0, 0))), angles);
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
    QTest::addColumn<QVector3D>("spacing");
    QTest::addColumn<QVector3D>("size");
    QTest::addColumn<QVector3D>("gradientScale");
    const QVector3D cubes(1, 1, 1);
    QTest::newRow("256x256x128") << 256 << 256 << 128 << cubes << QVector3D(1, 1, 0.5f) << cubes;
    QTest::newRow("100x50x25") << 100 << 50 << 25 << cubes << QVector3D(1, 0.5f, 0.25f) << cubes;
    QTest::newRow("deepest along z")
        << 10 << 20 << 40 << cubes << QVector3D(0.25f, 0.5f, 1) << cubes;
    QTest::newRow("no voxels") << 0 << 5 << 5 << cubes << QVector3D(0, 0, 0) << cubes;
    // A brain series of 0.86 x 0.86 x 7 mm voxels is about two thirds as high
    // as wide, not a thirteenth.
    QTest::newRow("thick slices") << 256 << 256 << 20 << QVector3D(0.86f, 0.86f, 7)
                                  << QVector3D(1, 1, 140 / 220.16f) << QVector3D(1, 1, 0.86f / 7);
    QTest::newRow("equal spacing of 2 mm")
        << 100 << 50 << 25 << QVector3D(2, 2, 2) << QVector3D(1, 0.5f, 0.25f) << cubes;
    QTest::newRow("zero spacing counts as 1")
        << 10 << 10 << 10 << QVector3D(0, 1, 1) << cubes << cubes;
}

void RenderUnitTest::volumeExtents()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(QVector3D, spacing);
    QFETCH(QVector3D, size);
    QFETCH(QVector3D, gradientScale);
    const FrameGeometry geometry = computeFrameGeometry(
        0, 0, 0, QSize(10, 10), width, height, depth, ViewTransform(), CropBox(), SliceCut(),
        {{double(spacing.x()), double(spacing.y()), double(spacing.z())}});
    QCOMPARE(geometry.volumeResolution, QVector3D(float(width), float(height), float(depth)));
    QVERIFY2(fuzzyEqual(geometry.volumeSize, size), qPrintable(text(geometry.volumeSize)));
    QVERIFY2(fuzzyEqual(geometry.gradientScale, gradientScale),
             qPrintable(text(geometry.gradientScale)));
}

void RenderUnitTest::zoomAndPan_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<QSize>("viewport");
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("pan");
    QTest::addColumn<double>("zoomUsed");
    const QSize wide(400, 300);
    QTest::newRow("zoom 2") << 0 << wide << 2.0 << QPointF() << 2.0;
    QTest::newRow("zoom 0.5, turned") << 30 << wide << 0.5 << QPointF() << 0.5;
    QTest::newRow("pan right and up") << 0 << wide << 1.0 << QPointF(0.5, 0.25) << 1.0;
    QTest::newRow("pan and zoom, odd size")
        << 45 << QSize(401, 301) << 3.0 << QPointF(-1, 2) << 3.0;
    QTest::newRow("zoom above 16") << 0 << wide << 100.0 << QPointF() << 16.0;
    QTest::newRow("zoom below 0.25") << 0 << wide << 0.01 << QPointF() << 0.25;
    QTest::newRow("zoom not a number") << 0 << wide << std::nan("") << QPointF() << 1.0;
}

// The view-plane steps shrink with the zoom, the pan shifts the quad's pixel
// offsets, and the rotation and data set are untouched.
void RenderUnitTest::zoomAndPan()
{
    QFETCH(int, y);
    QFETCH(QSize, viewport);
    QFETCH(double, zoom);
    QFETCH(QPointF, pan);
    QFETCH(double, zoomUsed);
    const FrameGeometry plain = computeFrameGeometry(10, y, 0, viewport, 20, 10, 5);
    const FrameGeometry zoomed =
        computeFrameGeometry(10, y, 0, viewport, 20, 10, 5, ViewTransform{zoom, pan});
    QCOMPARE(zoomed.n0, plain.n0);
    QCOMPARE(zoomed.volumeSize, plain.volumeSize);
    QVERIFY2(fuzzyEqual(zoomed.u, plain.u / float(zoomUsed)), qPrintable(text(zoomed.u)));
    QVERIFY2(fuzzyEqual(zoomed.v, plain.v / float(zoomUsed)), qPrintable(text(zoomed.v)));
    const int shorter = std::min(viewport.width(), viewport.height());
    const float shiftX = float(pan.x() * shorter / 2);
    const float shiftY = float(pan.y() * shorter / 2);
    for (int corner = 0; corner < 4; ++corner) {
        QCOMPARE(zoomed.quadTexCoords[2 * corner], plain.quadTexCoords[2 * corner] - shiftX);
        QCOMPARE(zoomed.quadTexCoords[2 * corner + 1],
                 plain.quadTexCoords[2 * corner + 1] - shiftY);
    }
    // The plain view is exactly the frame without a view transform.
    const FrameGeometry unit =
        computeFrameGeometry(10, y, 0, viewport, 20, 10, 5, ViewTransform(), CropBox());
    QCOMPARE(unit.u, plain.u);
    QCOMPARE(unit.v, plain.v);
    QCOMPARE(unit.quadTexCoords, plain.quadTexCoords);
}

// The ray at a viewport position against the view's own definition: half the
// shorter side is one view unit, view-plane point q is shown at zoom q + pan
// (y upwards), and q lies at q.x M(1, 0, 0) + q.y M(0, 1, 0).
void RenderUnitTest::framePositions_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<QSize>("viewport");
    QTest::addColumn<ViewTransform>("view");
    QTest::addColumn<QPointF>("position");
    QTest::newRow("centre") << 0 << QSize(400, 400) << ViewTransform() << QPointF(200, 200);
    QTest::newRow("top-left corner") << 0 << QSize(400, 400) << ViewTransform() << QPointF(0, 0);
    QTest::newRow("wide, zoomed and panned")
        << 30 << QSize(640, 480) << ViewTransform{2.0, QPointF(0.25, -0.5)}
        << QPointF(100.5, 400.25);
    QTest::newRow("tall, turned a quarter, zoomed out")
        << 90 << QSize(300, 500) << ViewTransform{0.5, QPointF(0.0, 0.1)} << QPointF(12, 250.5);
}

void RenderUnitTest::framePositions()
{
    QFETCH(int, y);
    QFETCH(QSize, viewport);
    QFETCH(ViewTransform, view);
    QFETCH(QPointF, position);
    const FrameGeometry geometry = computeFrameGeometry(20, y, 0, viewport, 20, 10, 5, view);
    const double half = std::min(viewport.width(), viewport.height()) / 2.0;
    const QPointF shown((position.x() - viewport.width() / 2.0) / half,
                        (viewport.height() / 2.0 - position.y()) / half);
    const QPointF q = (shown - view.pan) / view.zoom;
    QVector3D expected;
    for (int i = 0; i < 3; ++i)
        expected[i] = float(q.x() * geometry.rotation[std::size_t(3 * i)] +
                            q.y() * geometry.rotation[std::size_t(3 * i + 1)]);
    const FrameRay ray = frameRayAt(geometry, viewport, position);
    QVERIFY2(fuzzyEqual(ray.origin, expected, 1e-5f), qPrintable(text(ray.origin)));
    QCOMPARE(ray.direction, geometry.n0);
    // Every point of the ray is shown at the position.
    for (const float t : {-0.7f, 0.0f, 0.4f}) {
        const QPointF back = framePositionOf(geometry, viewport, ray.origin + t * ray.direction);
        QVERIFY2(QLineF(back, position).length() < 1e-3,
                 qPrintable(QStringLiteral("%1, %2").arg(back.x()).arg(back.y())));
    }
}

// A 20 x 10 x 5 grid: object x spans -0.5..0.5 over 20 voxels, y -0.25..0.25
// over 10, z -0.125..0.125 over 5.
void RenderUnitTest::nearestVoxel_data()
{
    QTest::addColumn<QVector3D>("object");
    QTest::addColumn<QVector3D>("voxelPosition");
    QTest::addColumn<QVector3D>("nearest");
    QTest::newRow("box centre") << QVector3D(0, 0, 0) << QVector3D(9.5f, 4.5f, 2.0f)
                                << QVector3D(10, 5, 2); // halves round away from zero
    QTest::newRow("first voxel's centre")
        << QVector3D(-0.475f, -0.225f, -0.1f) << QVector3D(0, 0, 0) << QVector3D(0, 0, 0);
    QTest::newRow("on the near faces")
        << QVector3D(-0.5f, 0.25f, 0.125f) << QVector3D(-0.5f, 9.5f, 4.5f) << QVector3D(0, 9, 4);
    QTest::newRow("beyond the box is clamped")
        << QVector3D(2.0f, -1.0f, 0.2f) << QVector3D(49.5f, -15.5f, 6.0f) << QVector3D(19, 0, 4);
}

void RenderUnitTest::nearestVoxel()
{
    QFETCH(QVector3D, object);
    QFETCH(QVector3D, voxelPosition);
    QFETCH(QVector3D, nearest);
    const FrameGeometry geometry = computeFrameGeometry(0, 0, 0, QSize(64, 64), 20, 10, 5);
    QVERIFY2(fuzzyEqual(voxelPositionOf(geometry, object), voxelPosition, 1e-4f),
             qPrintable(text(voxelPositionOf(geometry, object))));
    QVERIFY(fuzzyEqual(objectPositionOfVoxel(geometry, voxelPosition), object, 1e-5f));
    const std::array<int, 3> voxel = ::nearestVoxel(geometry, object);
    QCOMPARE(QVector3D(float(voxel[0]), float(voxel[1]), float(voxel[2])), nearest);
}

void RenderUnitTest::zoomKeepsTheCentre_data()
{
    QTest::addColumn<double>("zoom");
    QTest::addColumn<QPointF>("pan");
    QTest::addColumn<int>("wheel");
    QTest::addColumn<double>("expectedZoom");
    QTest::newRow("one notch closer") << 1.0 << QPointF(0.4, -0.2) << 120 << std::pow(2.0, 0.25);
    QTest::newRow("four notches back") << 2.0 << QPointF(0.4, -0.2) << -480 << 1.0;
    QTest::newRow("stops at 16") << 15.0 << QPointF(1, 1) << 480 << 16.0;
    QTest::newRow("stops at 0.25") << 0.25 << QPointF(-0.1, 0.3) << -120 << 0.25;
}

// The view-plane point shown at the viewport centre, -pan / zoom, stays where
// it is while the wheel zooms.
void RenderUnitTest::zoomKeepsTheCentre()
{
    QFETCH(double, zoom);
    QFETCH(QPointF, pan);
    QFETCH(int, wheel);
    QFETCH(double, expectedZoom);
    const ViewTransform before{zoom, pan};
    const ViewTransform after = zoomedAboutCentre(before, wheelZoomFactor(wheel));
    QVERIFY(qFuzzyCompare(after.zoom, expectedZoom));
    const QPointF centreBefore = -before.pan / before.zoom;
    const QPointF centreAfter = -after.pan / after.zoom;
    QVERIFY(std::abs(centreAfter.x() - centreBefore.x()) < 1e-12);
    QVERIFY(std::abs(centreAfter.y() - centreBefore.y()) < 1e-12);
}

// The frame places the drawn data in the world: a turned, moved grid maps
// the world centre of each voxel to its texel centre.
void RenderUnitTest::textureFromWorldOfATurnedGrid()
{
    Volume volume;
    volume.width = 3;
    volume.height = 2;
    volume.depth = 4;
    volume.data.assign(24, 0.0f);
    volume.spacing = {{2.0, 4.0, 6.0}};
    volume.worldOrigin = {{-5.0, 7.0, 100.0}};
    volume.worldDirection = {{0, -1, 0, 1, 0, 0, 0, 0, 1}};
    const FrameGeometry geometry = computeFrameGeometry(RenderState(), QSize(8, 8), volume);
    const std::array<double, 16> &m = geometry.textureFromWorld;
    for (int x = 0; x < 3; ++x) {
        const std::array<double, 3> world = dataGrid(volume).worldOf({{double(x), 1.0, 2.0}});
        const double texture[3] = {(x + 0.5) / 3.0, 1.5 / 2.0, 2.5 / 4.0};
        for (std::size_t row = 0; row < 3; ++row)
            QVERIFY(std::fabs(m[4 * row] * world[0] + m[4 * row + 1] * world[1] +
                              m[4 * row + 2] * world[2] + m[4 * row + 3] - texture[row]) < 1e-12);
    }
}

void RenderUnitTest::cropBounds_data()
{
    QTest::addColumn<CropBox>("box");
    QTest::addColumn<CropBox>("expected");
    const double nan = std::nan("");
    QTest::newRow("full") << CropBox() << CropBox();
    QTest::newRow("inside") << CropBox{{0.1, 0.2, 0.3}, {0.9, 0.8, 0.7}}
                            << CropBox{{0.1, 0.2, 0.3}, {0.9, 0.8, 0.7}};
    QTest::newRow("beyond the ends") << CropBox{{-1, 0, 0}, {1, 2, 1}} << CropBox();
    QTest::newRow("inverted keeps nothing")
        << CropBox{{0.7, 0, 0}, {0.2, 1, 1}} << CropBox{{0.7, 0, 0}, {0.7, 1, 1}};
    QTest::newRow("not a number") << CropBox{{nan, 0, 0}, {1, nan, 1}} << CropBox();
    const QVector3D forward(0, 0, -1);
    const CropBox cutZ = cutAtSlice(CropBox(), sliceCutAt(2, 3, 8), forward);
    QTest::newRow("slice 3 of 8 along Z") << cutZ << CropBox{{0, 0, 0}, {1, 1, 0.4375}};
    QTest::newRow("seen from behind, the upper side stays")
        << cutAtSlice(CropBox(), sliceCutAt(2, 3, 8), QVector3D(0.3f, 0, 0.9f))
        << CropBox{{0, 0, 0.4375}, {1, 1, 1}};
    QTest::newRow("cut within a cropping box")
        << cutAtSlice(CropBox{{0, 0, 0.5}, {1, 1, 1}}, sliceCutAt(2, 3, 8), forward)
        << CropBox{{0, 0, 0.5}, {1, 1, 0.5}};
    QTest::newRow("last slice along X")
        << cutAtSlice(CropBox(), sliceCutAt(0, 9, 10), forward) << CropBox{{0, 0, 0}, {0.95, 1, 1}};
    QTest::newRow("slice beyond the end") << cutAtSlice(CropBox(), sliceCutAt(1, 50, 4), forward)
                                          << CropBox{{0, 0, 0}, {1, 0.875, 1}};
    QTest::newRow("axis out of range")
        << cutAtSlice(CropBox(), sliceCutAt(3, 1, 4), forward) << CropBox();
    QTest::newRow("no slices") << cutAtSlice(CropBox(), sliceCutAt(0, 0, 0), forward) << CropBox();
}

// Bounds are normalised and reach the shader as object coordinates, fraction f
// at (f - 0.5) * volumeSize.
void RenderUnitTest::cropBounds()
{
    QFETCH(CropBox, box);
    QFETCH(CropBox, expected);
    const CropBox normalised = normalisedCropBox(box);
    for (int axis = 0; axis < 3; ++axis) {
        QCOMPARE(normalised.lower[axis], expected.lower[axis]);
        QCOMPARE(normalised.upper[axis], expected.upper[axis]);
    }
    const FrameGeometry geometry =
        computeFrameGeometry(0, 0, 0, QSize(10, 10), 100, 50, 25, ViewTransform(), box);
    const QVector3D size = geometry.volumeSize;
    for (int axis = 0; axis < 3; ++axis) {
        QVERIFY(qFuzzyCompare(1.0f + geometry.cropMinimum[axis],
                              1.0f + float((expected.lower[axis] - 0.5) * size[axis])));
        QVERIFY(qFuzzyCompare(1.0f + geometry.cropMaximum[axis],
                              1.0f + float((expected.upper[axis] - 0.5) * size[axis])));
    }
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

void RenderUnitTest::brickRangesCoverTheirSamples_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("depth");
    QTest::addColumn<QVector<int>>("counts");
    QTest::newRow("13x8x17") << 13 << 8 << 17 << QVector<int>{2, 1, 3};
    QTest::newRow("one voxel thick") << 9 << 1 << 20 << QVector<int>{2, 1, 3};
    QTest::newRow("24x25x3") << 24 << 25 << 3 << QVector<int>{3, 4, 1};
}

// Every trilinear sample lies within the range of its brick, also when rounding
// puts the sample up to (almost) a voxel away from where its brick was found.
void RenderUnitTest::brickRangesCoverTheirSamples()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, depth);
    QFETCH(QVector<int>, counts);
    std::mt19937 random(11);
    std::uniform_real_distribution<float> value(0.0f, 1.0f);
    std::vector<float> values(std::size_t(width) * height * depth);
    for (float &v : values)
        v = value(random);
    const Volume volume = volumeOf(width, height, depth, values);
    const BrickMap map = computeBrickMap(volume);
    QCOMPARE(map.counts, (std::array<int, 3>{counts[0], counts[1], counts[2]}));
    QCOMPARE(map.minimum.size(), std::size_t(counts[0] * counts[1] * counts[2]));
    QCOMPARE(map.maximum.size(), map.minimum.size());

    const int sizes[3] = {width, height, depth};
    std::uniform_real_distribution<double> offset(-0.9, 0.9);
    for (int trial = 0; trial < 20000; ++trial) {
        std::array<double, 3> position;
        std::array<int, 3> brick;
        for (int axis = 0; axis < 3; ++axis) {
            // Half a voxel beyond the outermost centres, as at the box faces.
            std::uniform_real_distribution<double> along(-0.5, sizes[axis] - 0.5);
            position[axis] = along(random);
            const double misplaced =
                std::clamp(position[axis] + offset(random), 0.0, double(sizes[axis] - 1));
            brick[axis] = int(std::floor(misplaced / BrickMap::brickSize));
        }
        const std::size_t index =
            (std::size_t(brick[2]) * counts[1] + brick[1]) * counts[0] + brick[0];
        const float sample = trilinear(volume, position);
        if (sample < map.minimum[index] - 1e-6f || sample > map.maximum[index] + 1e-6f) {
            QFAIL(qPrintable(QStringLiteral("sample %1 at (%2, %3, %4) outside [%5, %6] of brick "
                                            "(%7, %8, %9)")
                                 .arg(sample)
                                 .arg(position[0])
                                 .arg(position[1])
                                 .arg(position[2])
                                 .arg(map.minimum[index])
                                 .arg(map.maximum[index])
                                 .arg(brick[0])
                                 .arg(brick[1])
                                 .arg(brick[2])));
        }
    }
}

void RenderUnitTest::brickRangesReachOneVoxelBeyond_data()
{
    QTest::addColumn<int>("voxel");
    QTest::addColumn<QVector<int>>("bricks"); // those whose range holds the voxel
    QTest::newRow("6") << 6 << QVector<int>{0};
    QTest::newRow("7: apron of brick 1") << 7 << QVector<int>{0, 1};
    QTest::newRow("8: read from brick 0") << 8 << QVector<int>{0, 1};
    QTest::newRow("9: apron of brick 0") << 9 << QVector<int>{0, 1};
    QTest::newRow("10") << 10 << QVector<int>{1};
    QTest::newRow("0") << 0 << QVector<int>{0};
    QTest::newRow("last voxel, brick 2 owns only 16..19") << 19 << QVector<int>{2};
    QTest::newRow("NaN at 12") << -12 << QVector<int>{1};
}

// One voxel of 0.5 (NaN for a negative index) in a row of zeros, 20 voxels long
// (bricks 0..7, 8..15, 16..19): only the bricks that read it, or lie within a
// voxel of reading it, take it into their range.
void RenderUnitTest::brickRangesReachOneVoxelBeyond()
{
    QFETCH(int, voxel);
    QFETCH(QVector<int>, bricks);
    std::vector<float> values(20, 0.0f);
    const bool nan = voxel < 0;
    values[std::size_t(std::abs(voxel))] = nan ? std::numeric_limits<float>::quiet_NaN() : 0.5f;
    const BrickMap map = computeBrickMap(volumeOf(20, 1, 1, values));
    QCOMPARE(map.counts, (std::array<int, 3>{3, 1, 1}));
    for (int brick = 0; brick < 3; ++brick) {
        const bool holds = bricks.contains(brick);
        QCOMPARE(map.minimum[brick], 0.0f);
        QCOMPARE(map.maximum[brick], holds ? (nan ? 1.0f : 0.5f) : 0.0f);
    }
}

void RenderUnitTest::brickMapOfUnusableData()
{
    QVERIFY(computeBrickMap(volumeOf(2, 2, 2, std::vector<float>(7, 0.0f))).minimum.empty());
    const BrickMap none = computeBrickMap(volumeOf(0, 4, 4, {}));
    QVERIFY(none.minimum.empty());
    QCOMPARE(none.counts, (std::array<int, 3>{0, 0, 0}));
    const BrickMap single = computeBrickMap(volumeOf(1, 1, 1, {0.25f}));
    QCOMPARE(single.counts, (std::array<int, 3>{1, 1, 1}));
    QCOMPARE(single.minimum.at(0), 0.25f);
    QCOMPARE(single.maximum.at(0), 0.25f);
}

void RenderUnitTest::tableEntrySpans_data()
{
    QTest::addColumn<float>("low");
    QTest::addColumn<float>("high");
    QTest::addColumn<int>("first");
    QTest::addColumn<int>("last");
    const float nan = std::numeric_limits<float>::quiet_NaN();
    QTest::newRow("0 reads entry 0 alone") << 0.0f << 0.0f << 0 << 0;
    QTest::newRow("just above 0 blends entry 1 in") << 0.0f << 1e-5f << 0 << 1;
    QTest::newRow("1 reads entry 1023 alone") << 1.0f << 1.0f << 1023 << 1023;
    QTest::newRow("just below 1 blends entry 1022 in") << 0.99999f << 1.0f << 1022 << 1023;
    QTest::newRow("between entries 511 and 512") << 0.5f << 0.5f << 511 << 512;
    QTest::newRow("on entry 512: either neighbour") << 512.0f / 1023 << 512.0f / 1023 << 511 << 513;
    QTest::newRow("a range") << 0.25f << 0.75f << 255 << 768;
    QTest::newRow("beyond 0..1 clamps") << -1.0f << 2.0f << 0 << 1023;
    QTest::newRow("NaN: the whole table") << nan << nan << 0 << 1023;
}

void RenderUnitTest::tableEntrySpans()
{
    QFETCH(float, low);
    QFETCH(float, high);
    QFETCH(int, first);
    QFETCH(int, last);
    const TableEntrySpan span = tableEntrySpan(low, high);
    QCOMPARE(span.first, first);
    QCOMPARE(span.last, last);
}

// A brick is visible exactly when some entry its values can blend has alpha.
void RenderUnitTest::brickClassification()
{
    BrickMap map;
    map.counts = {3, 2, 1};
    // Entry position = value * 1023; the band of visible entries is 600..700.
    map.minimum = {0.0f, 0.55f, 0.58f, 0.65f, 0.6845f, 0.686f};
    map.maximum = {0.5f, 0.58f, 0.586f, 0.80f, 0.9f, 1.0f};
    const std::vector<unsigned char> expected = {0, 0, 255, 255, 255, 0};
    const auto band = alphaBand(600, 700);
    BrickVisibility visibility = classifyBricks(map, band.data());
    QCOMPARE(visibility.flags, expected);
    QVERIFY(visibility.anyVisible());
    QCOMPARE(visibility.lower, (std::array<int, 3>{0, 0, 0}));
    QCOMPARE(visibility.upper, (std::array<int, 3>{3, 2, 1}));

    // Only the brick at (1, 1): the box shrinks to it.
    map.minimum = {0.0f, 0.0f, 0.0f, 0.0f, 0.6f, 0.0f};
    map.maximum = {0.1f, 0.1f, 0.1f, 0.1f, 0.6f, 0.1f};
    visibility = classifyBricks(map, band.data());
    QCOMPARE(visibility.flags, (std::vector<unsigned char>{0, 0, 0, 0, 255, 0}));
    QCOMPARE(visibility.lower, (std::array<int, 3>{1, 1, 0}));
    QCOMPARE(visibility.upper, (std::array<int, 3>{2, 2, 1}));

    // An opacity far below a byte's resolution still shows.
    visibility = classifyBricks(map, alphaBand(600, 700, 1.0e-6f).data());
    QCOMPARE(visibility.flags, (std::vector<unsigned char>{0, 0, 0, 0, 255, 0}));

    // A table transparent everywhere: nothing to draw.
    const auto transparent = alphaBand(1, 0);
    visibility = classifyBricks(map, transparent.data());
    QCOMPARE(visibility.flags, std::vector<unsigned char>(6, 0));
    QVERIFY(!visibility.anyVisible());
    QCOMPARE(visibility.upper, (std::array<int, 3>{0, 0, 0}));

    // The start of a ramp from transparent black: value 0 stays invisible when
    // entry 0 has no alpha, even though entry 1 has.
    map.minimum = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.0f};
    map.maximum = {0.0f, 0.0f, 0.0f, 0.0f, 0.0f, 0.5f / 1023};
    const auto ramp = alphaBand(1, 1023);
    visibility = classifyBricks(map, ramp.data());
    QCOMPARE(visibility.flags, (std::vector<unsigned char>{0, 0, 0, 0, 0, 255}));
}

// Callers that invoke the renderer through the meta-object by index (and the
// dispatcher's own arithmetic) rely on exactly these seven methods in this order.
void RenderUnitTest::rendererMethodTable()
{
    const QMetaObject &meta = VolumeRenderer::staticMetaObject;
    QCOMPARE(meta.className(), "VolumeRenderer");
    const struct
    {
        QMetaMethod::MethodType type;
        const char *signature;
        const char *parameter;
    } expected[] = {{QMetaMethod::Signal, "xRotationChanged(int)", "angle"},
                    {QMetaMethod::Signal, "yRotationChanged(int)", "angle"},
                    {QMetaMethod::Signal, "zRotationChanged(int)", "angle"},
                    {QMetaMethod::Slot, "setGradientStops(QGradientStops)", "stops"},
                    {QMetaMethod::Slot, "setXRotation(int)", "angle"},
                    {QMetaMethod::Slot, "setYRotation(int)", "angle"},
                    {QMetaMethod::Slot, "setZRotation(int)", "angle"}};
    QCOMPARE(meta.methodCount() - meta.methodOffset(), int(std::size(expected)));
    for (int i = 0; i < int(std::size(expected)); ++i) {
        const QMetaMethod method = meta.method(meta.methodOffset() + i);
        QCOMPARE(method.methodSignature(), QByteArray(expected[i].signature));
        QCOMPARE(method.methodType(), expected[i].type);
        QCOMPARE(method.parameterNames(), QList<QByteArray>{expected[i].parameter});
        if (expected[i].type == QMetaMethod::Slot)
            QCOMPARE(method.access(), QMetaMethod::Public);
    }
}

// The noisy phantom stands in for a real scan in benchmarks: the same head,
// but nothing for empty-space skipping to find under a ramp that is
// transparent only at 0, and the same samples every time.
void RenderUnitTest::definitionGoesAfterVersion_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("expected");
    QTest::newRow("version first") << QByteArray("#version 120\nvoid main() {}\n")
                                   << QByteArray("#version 120\n#define A 1\nvoid main() {}\n");
    QTest::newRow("comment first")
        << QByteArray("// c\n#version 120\nx") << QByteArray("// c\n#version 120\n#define A 1\nx");
    QTest::newRow("no version") << QByteArray("x\n") << QByteArray("#define A 1\nx\n");
    QTest::newRow("version only, no line end")
        << QByteArray("#version 120") << QByteArray("#version 120\n#define A 1\n");
}

void RenderUnitTest::definitionGoesAfterVersion()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, expected);
    QCOMPARE(withDefinition(text, "A 1"), expected);
}

// The stored differences decode to those of the 16-bit values, with the
// neighbours clamped at the faces like the shader's lookups.
void RenderUnitTest::gradientTexels()
{
    QCOMPARE(gradienttexels::quantized(-0.5f), std::uint16_t(0));
    QCOMPARE(gradienttexels::quantized(1.5f), std::uint16_t(65535));
    QCOMPARE(gradienttexels::quantized(std::nanf("")), std::uint16_t(0));
    QCOMPARE(gradienttexels::quantized(0.5f), std::uint16_t(32768)); // 32767.5, ties to even

    const int w = 4, h = 3, d = 5;
    const auto value = [](int x, int y, int z) { return float(x * x + 3 * y + 7 * z) / 64.0f; };
    Volume volume;
    volume.width = w;
    volume.height = h;
    volume.depth = d;
    volume.data.resize(std::size_t(w * h * d));
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                volume.data[std::size_t((z * h + y) * w + x)] = value(x, y, z);
    const auto q = [&](int x, int y, int z) {
        return int(gradienttexels::quantized(
            value(std::clamp(x, 0, w - 1), std::clamp(y, 0, h - 1), std::clamp(z, 0, d - 1))));
    };
    // Slabs of two slices and a last one of one, as the upload cuts them.
    std::vector<std::uint16_t> texels(std::size_t(4 * w * h * d));
    for (int z = 0; z < d; z += 2)
        gradienttexels::fill(volume, z, std::min(2, d - z), texels.data() + 4 * w * h * z);
    // As the shader decodes them, in 65535ths: within half of one of d.
    const auto error = [](std::uint16_t t, int difference) {
        return std::abs(2.0 * t - 65535.5 - difference);
    };
    for (int z = 0; z < d; ++z) {
        for (int y = 0; y < h; ++y) {
            for (int x = 0; x < w; ++x) {
                const std::uint16_t *t = &texels[std::size_t(4 * ((z * h + y) * w + x))];
                const int dx = q(x + 1, y, z) - q(x - 1, y, z);
                const int dy = q(x, y + 1, z) - q(x, y - 1, z);
                const int dz = q(x, y, z + 1) - q(x, y, z - 1);
                QCOMPARE(error(t[0], dx), 0.5);
                QCOMPARE(error(t[1], dy), 0.5);
                QCOMPARE(error(t[2], dz), 0.5);
                QCOMPARE(int(t[3]), q(x, y, z));
            }
        }
    }
}

void RenderUnitTest::noisyPhantomHasNoEmptySpace()
{
    const SampleVolume clean = makeHeadPhantom(40, 36, 32);
    const SampleVolume noisy = makeNoisyHeadPhantom(40, 36, 32);
    QCOMPARE(makeNoisyHeadPhantom(40, 36, 32).samples, noisy.samples);
    QVERIFY(makeNoisyHeadPhantom(40, 36, 32, 2).samples != noisy.samples);
    QVERIFY(*std::min_element(noisy.samples.begin(), noisy.samples.end()) > 0);

    // Entry 1 would already take in value 0 (the filter blends it in).
    const auto ramp = alphaBand(2, TransferFunctionTable::entryCount - 1);
    const auto visibleBricks = [&](const SampleVolume &sample) {
        Volume volume;
        volume.width = sample.width;
        volume.height = sample.height;
        volume.depth = sample.depth;
        volume.data.resize(sample.samples.size());
        for (std::size_t i = 0; i < sample.samples.size(); ++i)
            volume.data[i] = sample.samples[i] / 4095.0f;
        const BrickVisibility visibility = classifyBricks(computeBrickMap(volume), ramp.data());
        return std::count(visibility.flags.begin(), visibility.flags.end(), 255);
    };
    const auto bricks = std::size_t(5 * 5 * 4);
    QVERIFY(std::size_t(visibleBricks(clean)) < bricks);
    QCOMPARE(std::size_t(visibleBricks(noisy)), bricks);
}

void RenderUnitTest::interactionDivisor_data()
{
    QTest::addColumn<double>("fullFrame");
    QTest::addColumn<int>("current");
    QTest::addColumn<double>("budget");
    QTest::addColumn<int>("divisor");
    QTest::newRow("fits") << 39.0 << 1 << 40.0 << 1;
    QTest::newRow("a quarter of the pixels fits") << 150.0 << 1 << 40.0 << 2;
    QTest::newRow("a sixteenth") << 161.0 << 1 << 40.0 << 4;
    QTest::newRow("even a sixteenth is too slow") << 2000.0 << 1 << 40.0 << 4;
    // Back to a finer divisor only with a quarter of the budget to spare.
    QTest::newRow("near the budget stays coarse") << 35.0 << 2 << 40.0 << 2;
    QTest::newRow("well under goes finer") << 29.0 << 2 << 40.0 << 1;
    QTest::newRow("from 4 to 2") << 110.0 << 4 << 40.0 << 2;
    QTest::newRow("no budget") << 0.0 << 1 << 0.0 << 4;
}

void RenderUnitTest::interactionDivisor()
{
    QFETCH(double, fullFrame);
    QFETCH(int, current);
    QFETCH(double, budget);
    QFETCH(int, divisor);
    QCOMPARE(InteractionResolution::divisorFor(fullFrame, current, budget), divisor);
}

// What the ray caster reads of a layer: the labels shown by index, with
// their boundary's direction; an image's shown ends; the bricks they reach.
void RenderUnitTest::layerTexelsNameWhatShows()
{
    for (const int bits : {4, 3}) {
        const double tolerance = bits == 4 ? 0.2 : 0.4; // half a cell's diagonal, in radians
        for (const std::array<double, 3> &d : {std::array<double, 3>{1, 0, 0},
                                               {0, -1, 0},
                                               {0, 0, -1},
                                               {0.3, -0.5, 0.8},
                                               {-0.7, 0.2, -0.6}}) {
            const std::array<double, 3> back = octahedralDirection(octahedralCode(d, bits), bits);
            const double length = std::sqrt(d[0] * d[0] + d[1] * d[1] + d[2] * d[2]);
            const double cosine = (back[0] * d[0] + back[1] * d[1] + back[2] * d[2]) / length;
            QVERIFY2(std::acos(std::min(1.0, cosine)) < tolerance,
                     qPrintable(QString::number(bits)));
        }
    }

    // Labels 0, 3 (hidden) and 7 along x; a layer of 300 shown labels needs
    // ten bits of index.
    Volume labels;
    labels.width = 3;
    labels.data = VoxelArray{0.0f, 3.0f / 300.0f, 7.0f / 300.0f};
    labels.valueRange = {0.0, 300.0};
    LayerAppearance appearance = defaultLabelAppearance({0, 3, 7});
    appearance.labels.find(3)->visible = false;
    LayerTexels texels = layerTexels(labels, appearance);
    QCOMPARE(texels.indexBits, 8);
    QCOMPARE(int(texels.labelTexels[0]), 0);
    QCOMPARE(int(texels.labelTexels[2]), 0); // hidden: nothing to read
    QCOMPARE(int(texels.labelTexels[4]), 1);
    QVERIFY(!texels.shows(1) && texels.shows(2));
    const QColor seven = appearance.labels.find(7)->colour;
    QCOMPARE(texels.table[4 + 0], float(seven.red()) / 255.0f);
    QCOMPARE(texels.table[4 + 3], std::round(255.0f * float(appearance.opacity)) / 255.0f);
    std::vector<int> many;
    for (int value = 0; value <= 300; ++value)
        many.push_back(value);
    labels.width = 301;
    labels.data.resize(301);
    for (int value = 0; value <= 300; ++value)
        labels.data[std::size_t(value)] = float(value) / 300.0f;
    texels = layerTexels(labels, defaultLabelAppearance(many));
    QCOMPARE(texels.indexBits, 10);
    QCOMPARE(int(texels.labelTexels[2 * 300]) + 256 * (texels.labelTexels[2 * 300 + 1] & 3), 300);

    // An image shown from 2 up: its low voxel shows nothing, and only the
    // bricks near its high voxel are flagged.
    Volume image;
    image.width = 20;
    image.data = VoxelArray(20, 0.0f);
    image.data[19] = 1.0f;
    image.valueRange = {0.0, 4.0};
    LayerAppearance map = defaultImageAppearance(2.0, 4.0);
    texels = layerTexels(image, map);
    QVERIFY(!texels.shows(0) && texels.shows(19));
    std::vector<unsigned char> flags(3, 0);
    ImageGrid grid;
    markLayerBricks(grid, grid, texels, {3, 1, 1}, 8, 4, flags);
    QCOMPARE(int(flags[0]), 0);
    QCOMPARE(int(flags[2]), 4);
}

QTEST_MAIN(RenderUnitTest)
#include "tst_renderunit.moc"
