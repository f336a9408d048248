// Pictures against what the data and the drawn function say they must be:
// proportions at any viewport shape, the colours and opacities of the curves,
// a jitter without pattern, whole rays at the box faces, and the same picture
// from a volume held in blocks as from one texture.
#include "renderchecks.h"

#include "headlessframe.h"
#include "imagegrid.h"
#include "layerappearance.h"

#include <QRegularExpression>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

struct LitBox
{
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};

LitBox litBox(const QImage &image)
{
    int left = image.width();
    int right = -1;
    int top = image.height();
    int bottom = -1;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (isBlack(image.pixel(x, y)))
                continue;
            left = std::min(left, x);
            right = std::max(right, x);
            top = std::min(top, y);
            bottom = std::max(bottom, y);
        }
    }
    return {left, top, right - left + 1, bottom - top + 1};
}

// Pearson correlation of the grey levels of pixels (x, y) and (x + dx, y + dy)
// over the region.
double neighbourCorrelation(const QImage &image, const QRect &region, int dx, int dy)
{
    double sumA = 0, sumB = 0, sumAA = 0, sumBB = 0, sumAB = 0;
    int count = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            const double a = qGray(image.pixel(x, y));
            const double b = qGray(image.pixel(x + dx, y + dy));
            sumA += a;
            sumB += b;
            sumAA += a * a;
            sumBB += b * b;
            sumAB += a * b;
            ++count;
        }
    }
    const double covariance = sumAB / count - (sumA / count) * (sumB / count);
    const double varianceA = sumAA / count - (sumA / count) * (sumA / count);
    const double varianceB = sumBB / count - (sumB / count) * (sumB / count);
    return covariance / std::sqrt(varianceA * varianceB);
}

} // namespace

Q_DECLARE_METATYPE(ViewTransform)

struct BlockScene
{
    int x = 0;
    int y = 0;
    RenderMode mode = RenderMode::Composite;
    bool jitter = true;
    bool skipping = true;
    CropBox crop;
    SliceCut cut;
    QSize size = QSize(160, 160);
};
Q_DECLARE_METATYPE(BlockScene)

class RenderPictureTest : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void proportionsAtAnyViewportShape_data();
    void proportionsAtAnyViewportShape();
    void tableFollowsTheCurves_data();
    void tableFollowsTheCurves();
    void faintOpacitiesAccumulate_data();
    void faintOpacitiesAccumulate();
    void jitterIsNoise();
    void wholeRaysAtTheFaces_data();
    void wholeRaysAtTheFaces();
    void pickFindsTheNearSurface_data();
    void pickFindsTheNearSurface();
    void framesLiveSideBySide();
    void labelsLandWhereTheWorldPutsThem_data();
    void labelsLandWhereTheWorldPutsThem();
    void signedMapShowsBothSidesInThreeD();
    void blocksDrawTheSamePicture_data();
    void blocksDrawTheSamePicture();
};

// A 96 x 64 x 32 box seen along z: the view square fits the shorter side, so
// a data unit (the longest side) is half that side in pixels whatever the
// viewport's shape.
void RenderPictureTest::proportionsAtAnyViewportShape_data()
{
    QTest::addColumn<QSize>("size");
    QTest::newRow("wide") << QSize(384, 192);
    QTest::newRow("tall") << QSize(192, 384);
    QTest::newRow("the window's shape") << QSize(400, 665);
    QTest::newRow("reduced frame of it") << QSize(100, 166);
}

void RenderPictureTest::proportionsAtAnyViewportShape()
{
    QFETCH(QSize, size);
    RenderCase scene;
    scene.volume = uniformVolume(96, 64, 32, 1.0f);
    scene.size = size;
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    const double unit = std::min(size.width(), size.height()) / 2.0;
    const LitBox box = litBox(result.image);
    const QString seen = QStringLiteral("%1 x %2 at (%3, %4)")
                             .arg(box.width)
                             .arg(box.height)
                             .arg(box.left)
                             .arg(box.top);
    QVERIFY2(std::abs(box.width - unit) <= 1.0, qPrintable(seen));
    QVERIFY2(std::abs(box.height - unit * 64 / 96) <= 1.0, qPrintable(seen));
    // Centred.
    QVERIFY2(std::abs(2 * box.left + box.width - size.width()) <= 2, qPrintable(seen));
    QVERIFY2(std::abs(2 * box.top + box.height - size.height()) <= 2, qPrintable(seen));
}

// A uniform volume at 0.5: its colour is the function's at 0.5, which between
// a transparent black and an opaque white point is a half-opaque mid grey.
void RenderPictureTest::tableFollowsTheCurves_data()
{
    QTest::addColumn<QGradientStops>("stops");
    QTest::addColumn<int>("grey");
    const QGradientStops ramp{{0.0, QColor(0, 0, 0, 0)}, {1.0, QColor(255, 255, 255, 255)}};
    // rgb * a = 0.5 * 0.5.
    QTest::newRow("grey ramp") << ramp << 64;
    // Opacity rises alone: the colour stays white, shown at opacity 0.5.
    QTest::newRow("opacity ramp under white")
        << QGradientStops{{0.0, QColor(255, 255, 255, 0)}, {1.0, QColor(255, 255, 255, 255)}}
        << 128;
    // Four points, each channel its own curve: red 0.25 at 0.5, opacity 1.
    QTest::newRow("points of several channels") << QGradientStops{{0.0, QColor(0, 0, 0, 0)},
                                                                  {0.25, QColor(0, 0, 0, 255)},
                                                                  {0.75, QColor(128, 0, 0, 255)},
                                                                  {1.0, QColor(128, 0, 0, 0)}}
                                                << qGray(64, 0, 0);
}

void RenderPictureTest::tableFollowsTheCurves()
{
    QFETCH(QGradientStops, stops);
    QFETCH(int, grey);
    RenderCase scene;
    scene.volume = uniformVolume(16, 16, 16, 0.5f);
    scene.stops = stops;
    scene.mode = RenderMode::MaximumIntensity;
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    const QRgb centre = result.image.pixel(16, 16);
    QVERIFY2(std::abs(qGray(centre) - grey) <= 3, qPrintable(rgbText(centre)));
}

// Seen along z through a cube, a ray crosses 100 slabs of the opacity's
// reference thickness: 1 - (1 - a)^100 of white over black, unlit (a
// homogeneous volume has no gradient: ambient + diffuse = 1).
void RenderPictureTest::faintOpacitiesAccumulate_data()
{
    QTest::addColumn<double>("opacity");
    for (double opacity : {0.001, 0.002, 0.004, 0.006, 0.01})
        QTest::newRow(qPrintable(QString::number(opacity))) << opacity;
}

void RenderPictureTest::faintOpacitiesAccumulate()
{
    QFETCH(double, opacity);
    RenderCase scene;
    scene.volume = uniformVolume(16, 16, 16, 0.5f);
    scene.stops = constantStops(QColor::fromRgbF(1, 1, 1, float(opacity)));
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    const double exact = 255.0 * (1.0 - std::pow(1.0 - opacity, 100.0));
    const QRgb centre = result.image.pixel(16, 16);
    QVERIFY2(std::abs(qRed(centre) - exact) <= 3.0,
             qPrintable(QStringLiteral("%1, exact %2").arg(rgbText(centre)).arg(exact)));
}

// One sample per ray through a volume that rises along z shows each ray's
// first-sample offset as a grey level: neighbouring offsets must be as
// unrelated as noise at every short distance, and the same frame twice the
// same picture.
void RenderPictureTest::jitterIsNoise()
{
    RenderCase scene;
    scene.volume = makeVolume(64, 64, 64, [](int, int, int z) { return z / 63.0f; });
    scene.stops = {{0.0, QColor(0, 0, 0, 255)}, {1.0, QColor(255, 255, 255, 255)}};
    scene.mode = RenderMode::MaximumIntensity;
    scene.options.samples = 1;
    scene.size = QSize(160, 160);
    scene.view.zoom = 2.0; // the box's face fills the view
    const OffscreenResult first = render(scene);
    const OffscreenResult second = render(scene);
    QVERIFY2(first.ok, qPrintable(first.message));
    QVERIFY(first.image == second.image);

    const QRect region(8, 8, 136, 136);
    double worst = 0.0;
    QString where;
    for (int dy = 0; dy <= 4; ++dy) {
        for (int dx = -4; dx <= 4; ++dx) {
            if (dy == 0 && dx <= 0)
                continue;
            const double correlation = neighbourCorrelation(first.image, region, dx, dy);
            if (std::abs(correlation) > std::abs(worst)) {
                worst = correlation;
                where = QStringLiteral("%1 at (%2, %3)").arg(correlation).arg(dx).arg(dy);
            }
        }
    }
    // White noise over 136^2 pixels: about 0.007 either way.
    if (std::abs(worst) > 0.05)
        QFAIL(qPrintable(where + QStringLiteral("; ") + keepImages("offsets", first.image)));
    // The offsets cover a step: the greys span most of the ramp.
    int darkest = 255;
    int brightest = 0;
    for (int y = region.top(); y <= region.bottom(); ++y) {
        for (int x = region.left(); x <= region.right(); ++x) {
            darkest = std::min(darkest, qGray(first.image.pixel(x, y)));
            brightest = std::max(brightest, qGray(first.image.pixel(x, y)));
        }
    }
    QVERIFY2(darkest < 10 && brightest > 245,
             qPrintable(QStringLiteral("%1..%2").arg(darkest).arg(brightest)));
}

// Sizes at which the box's faces fall on pixel centres: the rays there lie in
// a face, and must cross the whole depth like their neighbours (or miss).
void RenderPictureTest::wholeRaysAtTheFaces_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::newRow("190 x 190") << QSize(190, 190) << 0 << 0;
    QTest::newRow("190 x 190, from the side") << QSize(190, 190) << 0 << 90;
    QTest::newRow("300 x 190") << QSize(300, 190) << 0 << 0;
    QTest::newRow("from above") << QSize(190, 190) << 90 << 0;
}

void RenderPictureTest::wholeRaysAtTheFaces()
{
    QFETCH(QSize, size);
    QFETCH(int, x);
    QFETCH(int, y);
    RenderCase scene;
    scene.volume = uniformVolume(95, 63, 47, 0.5f);
    scene.stops = constantStops(QColor::fromRgbF(1, 1, 1, 0.01f));
    scene.size = size;
    scene.x = x;
    scene.y = y;
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    const QImage &image = result.image;
    const QRgb centre = image.pixel(size.width() / 2, size.height() / 2);
    int darker = 0;
    QString first;
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            const QRgb pixel = image.pixel(column, row);
            if (isBlack(pixel) || std::abs(qRed(pixel) - qRed(centre)) <= 2)
                continue;
            if (darker++ == 0)
                first = QStringLiteral("(%1, %2) %3 against %4")
                            .arg(column)
                            .arg(row)
                            .arg(rgbText(pixel), rgbText(centre));
        }
    }
    if (darker > 0)
        QFAIL(qPrintable(QStringLiteral("%1 pixels unlike the centre, first %2; %3")
                             .arg(darker)
                             .arg(first, keepImages("faces", image))));
}

// A ball of radius 9 voxels about voxel (16, 14, 15) of a 32^3 grid whose
// values fall linearly from 1 to 0 across two voxels at its surface, so the
// interpolated value is one half on the surface; the table turns opaque
// from 0.4 to 0.6. A pick must land on the near surface of the pixel's ray.
void RenderPictureTest::pickFindsTheNearSurface_data()
{
    QTest::addColumn<int>("y");
    QTest::addColumn<QSize>("size");
    QTest::addColumn<ViewTransform>("view");
    QTest::addColumn<QPointF>("position");
    QTest::addColumn<bool>("hit");
    QTest::newRow("front, centre pixel")
        << 0 << QSize(64, 64) << ViewTransform() << QPointF(32, 32) << true;
    QTest::newRow("turned a quarter, off centre")
        << 90 << QSize(64, 64) << ViewTransform() << QPointF(29.7, 37.2) << true;
    QTest::newRow("wide, zoomed and panned, off centre")
        << 30 << QSize(96, 64) << ViewTransform{1.5, QPointF(0.1, -0.2)} << QPointF(44.8, 34.1)
        << true;
    QTest::newRow("in the box, beside the ball")
        << 0 << QSize(64, 64) << ViewTransform() << QPointF(18, 18) << false;
    QTest::newRow("beside the box")
        << 0 << QSize(64, 64) << ViewTransform() << QPointF(4, 60) << false;
    QTest::newRow("outside the frame")
        << 0 << QSize(64, 64) << ViewTransform() << QPointF(32, 64) << false;
}

void RenderPictureTest::pickFindsTheNearSurface()
{
    QFETCH(int, y);
    QFETCH(QSize, size);
    QFETCH(ViewTransform, view);
    QFETCH(QPointF, position);
    QFETCH(bool, hit);
    const QVector3D centre(16, 14, 15);
    const float radius = 9.0f;
    const Volume ball = makeVolume(32, 32, 32, [&](int i, int j, int k) {
        const float distance = (QVector3D(float(i), float(j), float(k)) - centre).length();
        return std::clamp(0.5f + (radius - distance) / 2.0f, 0.0f, 1.0f);
    });
    HeadlessFrame frame(size);
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    // Frames of 12 samples step 2.7 voxels: the pick must take finer ones.
    RenderingOptions coarse = plainOptions();
    coarse.samples = 12;
    frame.setRenderingOptions(coarse);
    frame.setGradientStops({{0.0, QColor(0, 0, 0, 0)},
                            {0.4, QColor(255, 255, 255, 0)},
                            {0.6, QColor(255, 255, 255)},
                            {1.0, QColor(255, 255, 255)}});
    frame.setVolume(&ball);
    frame.setRotation(0, y, 0);
    frame.setViewTransform(view);
    const FrameRenderer::Pick pick = frame.pick(position);
    QVERIFY2(pick.ok, qPrintable(pick.message));
    QCOMPARE(pick.hit, hit);
    if (!hit)
        return;

    // Where the ray through the pixel's centre enters the ball, in voxels
    // (one object unit is 32 voxels along every axis of a cube).
    const FrameGeometry geometry = computeFrameGeometry(0, y, 0, size, 32, 32, 32, view);
    const QPointF pixelCentre(std::floor(position.x()) + 0.5, std::floor(position.y()) + 0.5);
    const FrameRay ray = frameRayAt(geometry, size, pixelCentre);
    const QVector3D origin = voxelPositionOf(geometry, ray.origin) - centre;
    const float along = -QVector3D::dotProduct(origin, ray.direction);
    const float across = (origin + along * ray.direction).lengthSquared();
    QVERIFY2(across < (radius - 1) * (radius - 1), "the row's ray does not cross the ball");
    const QVector3D surface =
        centre + origin + (along - std::sqrt(radius * radius - across)) * ray.direction;

    const QVector3D picked = voxelPositionOf(geometry, pick.objectPosition);
    const QString seen = QStringLiteral("picked (%1, %2, %3), surface at (%4, %5, %6)")
                             .arg(picked.x())
                             .arg(picked.y())
                             .arg(picked.z())
                             .arg(surface.x())
                             .arg(surface.y())
                             .arg(surface.z());
    QVERIFY2((picked - surface).length() <= 1.0f, qPrintable(seen));
    for (int axis = 0; axis < 3; ++axis)
        QVERIFY2(std::abs(float(pick.voxel[std::size_t(axis)]) - surface[axis]) <= 1.0f,
                 qPrintable(seen));
}

// Contexts share one display: a frame that goes must not end the others.
void RenderPictureTest::framesLiveSideBySide()
{
    RenderCase scene;
    const auto first = makeHeadlessFrame(QSize(16, 16), nullptr);
    QVERIFY(first);
    first->setRenderingOptions(scene.options);
    first->setGradientStops(scene.stops);
    first->setVolume(&scene.volume);
    QVERIFY(render(scene).ok); // a second frame, made and gone
    const OffscreenResult again = first->grab();
    QVERIFY2(again.ok, qPrintable(again.message));
    QVERIFY(countNonBlack(again.image) > 0);
}

void RenderPictureTest::blocksDrawTheSamePicture_data()
{
    QTest::addColumn<BlockScene>("scene");
    const auto turned = [](int x, int y) {
        BlockScene scene;
        scene.x = x;
        scene.y = y;
        return scene;
    };
    QTest::newRow("turned, translucent, skipping") << turned(30, 40);
    // Rays along the block faces: a ray on a face must be taken once.
    BlockScene front = turned(0, 0);
    front.jitter = false;
    QTest::newRow("from the front, no jitter") << front;
    BlockScene side = turned(0, 90);
    side.skipping = false;
    side.size = QSize(240, 160);
    QTest::newRow("from the side, wide, not skipping") << side;
    BlockScene projection = turned(20, 200);
    projection.mode = RenderMode::MaximumIntensity;
    QTest::newRow("maximum intensity") << projection;
    BlockScene cropped = turned(10, 60);
    cropped.crop.lower = {0.2, 0.0, 0.3};
    cropped.crop.upper = {0.9, 0.6, 1.0};
    QTest::newRow("cropped") << cropped;
    BlockScene cut = turned(70, 20);
    cut.cut = SliceCut{1, 0.45};
    QTest::newRow("slice cut") << cut;
}

// A volume beyond one texture is drawn as several, one pass per block; odd
// sizes put block faces at every kind of place, and the shapes cross them.
void RenderPictureTest::blocksDrawTheSamePicture()
{
    QFETCH(BlockScene, scene);
    const QVector3D centre(70, 60, 45);
    const Volume volume = makeVolume(150, 131, 97, [&](int i, int j, int k) {
        const float distance = (QVector3D(float(i), float(j), float(k)) - centre).length();
        const float shell = std::clamp(1.0f - std::abs(distance - 62.0f) / 5.0f, 0.0f, 1.0f);
        const float bars = 0.5f + 0.5f * std::sin(0.3f * float(i + 2 * j) + 0.2f * float(k));
        return std::max(shell, 0.3f + 0.3f * bars);
    });
    HeadlessFrame frame(scene.size);
    QVERIFY2(frame.isValid(), qPrintable(frame.errorMessage()));
    frame.setRenderingOptions(plainOptions());
    frame.setGradientStops({{0.0, QColor(0, 0, 0, 0)},
                            {0.3, QColor(40, 90, 255, 6)},
                            {0.6, QColor(255, 160, 60, 40)},
                            {1.0, QColor(255, 255, 255, 255)}});
    frame.setRotation(scene.x, scene.y, 0);
    frame.setRenderMode(scene.mode);
    frame.setJitter(scene.jitter);
    frame.setEmptySpaceSkipping(scene.skipping);
    frame.setCropBox(scene.crop);
    frame.setSliceCut(scene.cut);
    // Blocks compute gradients from neighbours; so does the reference.
    frame.setStoredGradients(false);

    frame.setVolume(&volume);
    QCOMPARE(frame.blockCount(), 1);
    const OffscreenResult single = frame.grab();
    QVERIFY2(single.ok, qPrintable(single.message));
    const FrameRenderer::Pick singlePick = frame.pick(QPointF(80.5, 60.5));

    frame.setMaximumTextureSide(64);
    frame.setVolume(&volume);
    QVERIFY(frame.blockCount() > 8);
    const OffscreenResult blocked = frame.grab();
    QVERIFY2(blocked.ok, qPrintable(blocked.message));
    const int lit = countNonBlack(single.image);
    QVERIFY2(lit > scene.size.width() * scene.size.height() / 20, qPrintable(QString::number(lit)));

    int worst = 0;
    for (int y = 0; y < single.image.height(); ++y) {
        for (int x = 0; x < single.image.width(); ++x) {
            const QRgb a = single.image.pixel(x, y);
            const QRgb b = blocked.image.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(a) - qRed(b)), std::abs(qGreen(a) - qGreen(b)),
                              std::abs(qBlue(a) - qBlue(b))});
        }
    }
    QVERIFY2(worst <= 3, qPrintable(QStringLiteral("channels differ by up to %1; %2")
                                        .arg(worst)
                                        .arg(worst > 3 ? keepImages(QStringLiteral("blocks"),
                                                                    blocked.image, single.image)
                                                       : QString())));

    const FrameRenderer::Pick blockedPick = frame.pick(QPointF(80.5, 60.5));
    QVERIFY2(blockedPick.ok, qPrintable(blockedPick.message));
    QCOMPARE(blockedPick.hit, singlePick.hit);
    if (scene.mode == RenderMode::Composite && singlePick.hit)
        QVERIFY((blockedPick.objectPosition - singlePick.objectPosition).length() < 1.0e-3f);
}

void RenderPictureTest::labelsLandWhereTheWorldPutsThem_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::newRow("front") << 0 << 0;
    QTest::newRow("turned") << 35 << -50;
    QTest::newRow("from above") << 90 << 0;
}

// A box of the world drawn twice: once as the base volume's own values
// through its transfer function, once as a label map on a grid of its own
// (other spacing, origin and stored axis order) over a transparent base.
// Both pictures must cover the same pixels, up to a voxel at the edges.
void RenderPictureTest::labelsLandWhereTheWorldPutsThem()
{
    QFETCH(int, x);
    QFETCH(int, y);
    const auto inBox = [](const std::array<double, 3> &world) {
        return world[0] >= 4.0 && world[0] <= 13.0 && world[1] >= 3.0 && world[1] <= 11.0 &&
               world[2] >= 9.0 && world[2] <= 20.0;
    };
    RenderCase plain;
    plain.size = QSize(96, 96);
    plain.x = x;
    plain.y = y;
    plain.jitter = false;
    ImageGrid baseGrid;
    baseGrid.spacing = {1.0, 1.0, 1.5};
    plain.volume = makeVolume(24, 20, 16, [&](int i, int j, int k) {
        return inBox(baseGrid.worldOf({double(i), double(j), double(k)})) ? 1.0f : 0.0f;
    });
    plain.volume.spacing = baseGrid.spacing;
    plain.volume.patientFrame = true;
    plain.stops = {
        {0.0, QColor(0, 0, 0, 0)}, {0.49, QColor(0, 0, 0, 0)}, {0.51, Qt::red}, {1.0, Qt::red}};

    ImageGrid labelGrid;
    labelGrid.origin = {22.6, -0.4, 0.3};
    labelGrid.spacing = {1.3, 1.1, 1.2};
    // Stored i runs to the right-to-left (-x), j along z, k along y.
    labelGrid.direction = {-1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 1.0, 0.0};
    Volume labels = makeVolume(20, 22, 14, [&](int i, int j, int k) {
        return inBox(labelGrid.worldOf({double(i), double(j), double(k)})) ? 1.0f : 0.0f;
    });
    labels.spacing = labelGrid.spacing;
    labels.worldOrigin = labelGrid.origin;
    labels.worldDirection = labelGrid.direction;
    labels.patientFrame = true;
    labels.valueRange = {0.0, 1.0};
    LayerAppearance appearance = defaultLabelAppearance({0, 1});
    appearance.opacity = 1.0;
    appearance.labels.find(1)->colour = Qt::red;

    RenderCase layered = plain;
    layered.stops = constantStops(QColor(0, 0, 0, 0));
    layered.layers = {{&labels, &appearance, QString()}};

    const OffscreenResult expected = render(plain);
    const OffscreenResult drawn = render(layered);
    QVERIFY2(expected.ok && drawn.ok, qPrintable(expected.message + drawn.message));
    const LitBox want = litBox(expected.image);
    const LitBox got = litBox(drawn.image);
    QVERIFY(want.width > 10 && want.height > 10);
    // A voxel is about three pixels here.
    QVERIFY2(std::abs(got.left - want.left) <= 4 && std::abs(got.top - want.top) <= 4 &&
                 std::abs(got.width - want.width) <= 6 && std::abs(got.height - want.height) <= 6,
             qPrintable(QString("lit %1,%2 %3x%4, expected %5,%6 %7x%8")
                            .arg(got.left)
                            .arg(got.top)
                            .arg(got.width)
                            .arg(got.height)
                            .arg(want.left)
                            .arg(want.top)
                            .arg(want.width)
                            .arg(want.height)));
    // The label is drawn in its own colour (with a white highlight).
    const QRgb centre = drawn.image.pixel(got.left + got.width / 2, got.top + got.height / 2);
    QVERIFY2(qRed(centre) > qGreen(centre) + 30 && qGreen(centre) == qBlue(centre),
             qPrintable(QString::number(centre, 16)));
}

// A signed map over a transparent volume: its positive part through its map
// on one side of the picture, its negative part through the other map on the
// other side, nothing of the values in between.
void RenderPictureTest::signedMapShowsBothSidesInThreeD()
{
    RenderCase scene;
    scene.size = QSize(64, 64);
    scene.jitter = false;
    scene.volume = uniformVolume(16, 16, 16, 0.5f);
    scene.volume.patientFrame = true;
    scene.stops = constantStops(QColor(0, 0, 0, 0));
    // Values -4..4 along x on a coarser grid of the same box: the left
    // columns strongly negative, the right strongly positive.
    Volume map = makeVolume(8, 8, 8, [](int x, int, int) { return float(x) / 7.0f; });
    map.spacing = {2.0, 2.0, 2.0};
    map.worldOrigin = {0.5, 0.5, 0.5};
    map.patientFrame = true;
    map.valueRange = {-4.0, 4.0};
    LayerAppearance appearance = defaultImageAppearance(0.5, 4.0);
    appearance.rangeMinimum = 2.0;
    appearance.colorMap = *ColorMaps::named("red");
    appearance.negativeMap = *ColorMaps::named("blue");
    scene.layers = {{&map, &appearance, QString()}};
    const OffscreenResult result = render(scene);
    QVERIFY2(result.ok, qPrintable(result.message));
    int reddish = 0, bluish = 0, wrongSide = 0;
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x) {
            const QRgb pixel = result.image.pixel(x, y);
            const bool red = qRed(pixel) > qBlue(pixel) + 20;
            const bool blue = qBlue(pixel) > qRed(pixel) + 20;
            reddish += red;
            bluish += blue;
            // The front view shows x growing to the right.
            wrongSide += (red && x < 28) || (blue && x > 36);
        }
    QVERIFY2(reddish > 100 && bluish > 100 && wrongSide == 0,
             qPrintable(QString("%1 red, %2 blue, %3 on the wrong side")
                            .arg(reddish)
                            .arg(bluish)
                            .arg(wrongSide)));
}

QTEST_MAIN(RenderPictureTest)
#include "tst_renderpicture.moc"
