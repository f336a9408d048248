#include "renderchecks.h"

#include "samplevolumes.h"

#include <QDir>
#include <QTest>

#include <algorithm>
#include <cmath>

namespace {

struct Ray
{
    double origin[3];
    double direction[3];
};

Ray pixelRay(const FrameGeometry &geometry, QSize viewport, int column, int row)
{
    const int width = std::max(1, viewport.width());
    const int height = std::max(1, viewport.height());
    // The quad's texture coordinates run linearly from the left to the right
    // corner (bottom to top) across the viewport; the pan shifts both ends.
    const std::array<float, 8> &corners = geometry.quadTexCoords;
    const double left = corners[2];
    const double right = corners[0];
    const double bottom = corners[5];
    const double top = corners[1];
    const double tx = left + (column + 0.5) * ((right - left) / width);
    const double ty = bottom + (height - row - 0.5) * ((top - bottom) / height);
    Ray ray;
    const QVector3D &u = geometry.u;
    const QVector3D &v = geometry.v;
    const QVector3D &n0 = geometry.n0;
    for (int i = 0; i < 3; ++i) {
        ray.origin[i] = tx * double(u[i]) + ty * double(v[i]);
        ray.direction[i] = double(n0[i]);
    }
    return ray;
}

// Length of the ray inside the box lower..upper (negative if it misses).
double segmentLength(const Ray &ray, const double lower[3], const double upper[3])
{
    double near = -1e300;
    double far = 1e300;
    for (int i = 0; i < 3; ++i) {
        if (std::abs(ray.direction[i]) < 1e-12) {
            if (ray.origin[i] < lower[i] || ray.origin[i] > upper[i])
                return -1.0;
            continue;
        }
        double t0 = (lower[i] - ray.origin[i]) / ray.direction[i];
        double t1 = (upper[i] - ray.origin[i]) / ray.direction[i];
        if (t0 > t1)
            std::swap(t0, t1);
        near = std::max(near, t0);
        far = std::min(far, t1);
    }
    return far - near;
}

} // namespace

Coverage pixelCoverage(const FrameGeometry &geometry, QSize viewport, int column, int row,
                       double marginPixels)
{
    const Ray ray = pixelRay(geometry, viewport, column, row);
    // The margin in object units: pixels times the view-plane step.
    const double margin = marginPixels * std::max(geometry.u.length(), geometry.v.length());
    double shrunkLower[3];
    double shrunkUpper[3];
    double grownLower[3];
    double grownUpper[3];
    for (int i = 0; i < 3; ++i) {
        const double lower = geometry.cropMinimum[i];
        const double upper = geometry.cropMaximum[i];
        const double centre = 0.5 * (lower + upper);
        shrunkLower[i] = std::min(centre, lower + margin);
        shrunkUpper[i] = std::max(centre, upper - margin);
        grownLower[i] = lower - margin;
        grownUpper[i] = upper + margin;
    }
    if (segmentLength(ray, shrunkLower, shrunkUpper) > 0.0)
        return Coverage::Inside;
    if (segmentLength(ray, grownLower, grownUpper) < 0.0)
        return Coverage::Outside;
    return Coverage::Edge;
}

double rayLengthInBox(const FrameGeometry &geometry, QSize viewport, int column, int row)
{
    const Ray ray = pixelRay(geometry, viewport, column, row);
    double lower[3];
    double upper[3];
    for (int i = 0; i < 3; ++i) {
        lower[i] = geometry.cropMinimum[i];
        upper[i] = geometry.cropMaximum[i];
    }
    return std::max(0.0, segmentLength(ray, lower, upper));
}

QString silhouetteFailure(const QImage &image, const FrameGeometry &geometry, int *litPixels)
{
    QImage reference;
    const int wrong = silhouetteMismatches(image, geometry, &reference);
    if (litPixels)
        *litPixels = countNonBlack(reference);
    if (wrong == 0)
        return QString();
    return QStringLiteral("%1 pixels off the silhouette; %2")
        .arg(wrong)
        .arg(keepImages(QStringLiteral("frame"), image, reference));
}

Volume makeVolume(int width, int height, int depth,
                  const std::function<float(int x, int y, int z)> &value)
{
    Volume volume;
    volume.width = width;
    volume.height = height;
    volume.depth = depth;
    volume.data.resize(std::size_t(width) * height * depth);
    std::size_t index = 0;
    for (int z = 0; z < depth; ++z)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                volume.data[index++] = value(x, y, z);
    return volume;
}

Volume uniformVolume(int width, int height, int depth, float value)
{
    return makeVolume(width, height, depth, [value](int, int, int) { return value; });
}

Volume toVolume(const SampleVolume &sample)
{
    return makeVolume(sample.width, sample.height, sample.depth, [&](int x, int y, int z) {
        const std::size_t index =
            std::size_t(x) + std::size_t(sample.width) * (y + std::size_t(sample.height) * z);
        return float(std::min<int>(sample.samples[index], 4095)) / 4095.0f;
    });
}

RenderingOptions plainOptions()
{
    RenderingOptions options;
    options.k1 = 0.0f;
    options.k2 = 0.0f;
    return options;
}

QGradientStops constantStops(const QColor &colour)
{
    return QGradientStops{{0.0, colour}};
}

bool isBlack(QRgb pixel)
{
    return (pixel & 0x00ffffff) == 0;
}

int countNonBlack(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += isBlack(image.pixel(x, y)) ? 0 : 1;
    return count;
}

bool closeTo(QRgb pixel, const QColor &colour, int tolerance)
{
    return std::abs(qRed(pixel) - colour.red()) <= tolerance &&
           std::abs(qGreen(pixel) - colour.green()) <= tolerance &&
           std::abs(qBlue(pixel) - colour.blue()) <= tolerance;
}

QString rgbText(QRgb pixel)
{
    return QStringLiteral("(%1, %2, %3)").arg(qRed(pixel)).arg(qGreen(pixel)).arg(qBlue(pixel));
}

int silhouetteMismatches(const QImage &image, const FrameGeometry &geometry, QImage *reference)
{
    *reference = QImage(image.size(), QImage::Format_RGB32);
    int wrong = 0;
    for (int row = 0; row < image.height(); ++row) {
        for (int column = 0; column < image.width(); ++column) {
            const QRgb pixel = image.pixel(column, row);
            switch (pixelCoverage(geometry, image.size(), column, row, 1.0)) {
            case Coverage::Inside:
                reference->setPixel(column, row, qRgb(255, 255, 255));
                wrong += qRed(pixel) >= 250 ? 0 : 1;
                break;
            case Coverage::Outside:
                reference->setPixel(column, row, qRgb(0, 0, 0));
                wrong += isBlack(pixel) ? 0 : 1;
                break;
            case Coverage::Edge:
                reference->setPixel(column, row, pixel);
                break;
            }
        }
    }
    return wrong;
}

QString keepImages(const QString &label, const QImage &produced, const QImage &reference)
{
    QString folder = qEnvironmentVariable("KELVARA_TEST_TMP");
    if (folder.isEmpty())
        folder = QDir::tempPath();
    QDir directory(folder);
    if (!directory.mkpath(QStringLiteral("render")))
        return QStringLiteral("(could not create %1/render)").arg(folder);
    directory.cd(QStringLiteral("render"));

    QString base = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        base += QLatin1Char('-') + QString::fromLatin1(QTest::currentDataTag());
    base += QLatin1Char('-') + label;
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_.-]")), QStringLiteral("_"));

    const QString producedPath = directory.filePath(base + QStringLiteral("-produced.png"));
    produced.save(producedPath);
    if (!reference.isNull()) {
        reference.save(directory.filePath(base + QStringLiteral("-reference.png")));
        if (reference.size() == produced.size()) {
            QImage difference(produced.size(), QImage::Format_RGB32);
            for (int y = 0; y < produced.height(); ++y) {
                for (int x = 0; x < produced.width(); ++x) {
                    const QRgb a = produced.pixel(x, y);
                    const QRgb b = reference.pixel(x, y);
                    difference.setPixel(x, y,
                                        qRgb(std::abs(qRed(a) - qRed(b)),
                                             std::abs(qGreen(a) - qGreen(b)),
                                             std::abs(qBlue(a) - qBlue(b))));
                }
            }
            difference.save(directory.filePath(base + QStringLiteral("-difference.png")));
        }
    }
    return QStringLiteral("images kept as %1*").arg(directory.filePath(base));
}

OffscreenResult render(const RenderCase &scene)
{
    QString why;
    std::unique_ptr<BatchFrame> frame = makeHeadlessFrame(scene.size, &why);
    if (!frame)
        return {false, QStringLiteral("no EGL context: %1").arg(why), QImage()};
    frame->setRenderingOptions(scene.options);
    frame->setGradientStops(scene.stops);
    frame->setVolume(&scene.volume);
    frame->setLayers(scene.layers);
    frame->setRotation(scene.x, scene.y, scene.z);
    frame->setViewTransform(scene.view);
    frame->setCropBox(scene.crop);
    frame->setSliceCut(scene.sliceCut);
    frame->setRenderMode(scene.mode);
    frame->setJitter(scene.jitter);
    return frame->grab();
}
