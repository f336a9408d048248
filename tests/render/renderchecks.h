#pragma once

#include "framegeometry.h"
#include "batchframe.h"
#include "renderingoptions.h"
#include "viewsettings.h"
#include "volume.h"

#include <QColor>
#include <QGradient>
#include <QImage>
#include <QSize>
#include <QString>

#include <functional>

struct SampleVolume;

// How the ray of one pixel meets the cropping box of the geometry (the
// data-set box, centred on the origin with edge lengths volumeSize, when
// nothing is cropped).
enum class Coverage
{
    Inside,  // meets the box shrunk by the margin on every side
    Outside, // misses the box grown by the margin
    Edge     // neither: too close to the silhouette to judge
};

// Pixel (column, row) of an image of the viewport, row 0 at the top, sampled at
// the pixel centre as the rasteriser does. margin is in pixels.
Coverage pixelCoverage(const FrameGeometry &geometry, QSize viewport, int column, int row,
                       double marginPixels);

// Length of the pixel's ray inside the cropping box (0 when it misses).
double rayLengthInBox(const FrameGeometry &geometry, QSize viewport, int column, int row);

// Pixels of an image of an opaque white box that contradict the geometry
// (margin 1 pixel): dark inside or not black outside. reference receives the
// expected picture (edge pixels copied from the image).
int silhouetteMismatches(const QImage &image, const FrameGeometry &geometry, QImage *reference);

// Empty when the image matches the geometry's silhouette; else the failure
// message, with the images kept (see keepImages()). litPixels, when given,
// receives the number of non-black pixels the silhouette expects.
QString silhouetteFailure(const QImage &image, const FrameGeometry &geometry,
                          int *litPixels = nullptr);

// A data set with value(x, y, z) in 0..1 for every voxel.
Volume makeVolume(int width, int height, int depth,
                  const std::function<float(int x, int y, int z)> &value);
Volume uniformVolume(int width, int height, int depth, float value);
// A synthetic DAT-style volume (0..4095) as the loader would normalise it.
Volume toVolume(const SampleVolume &sample);

// The default options with depth cueing off, so that pictures have closed forms.
RenderingOptions plainOptions();
QGradientStops constantStops(const QColor &colour);

// Everything one frame of the batch path depends on.
struct RenderCase
{
    Volume volume = uniformVolume(8, 8, 8, 1.0f);
    RenderingOptions options = plainOptions();
    QGradientStops stops = constantStops(Qt::white);
    int x = 0;
    int y = 0;
    int z = 0;
    QSize size = QSize(32, 32);
    ViewTransform view;
    CropBox crop;
    SliceCut sliceCut;
    RenderMode mode = RenderMode::Composite;
    bool jitter = true; // the default; closed forms hold with it too
    std::vector<ShownLayer> layers;
};

// One frame through the batch path, without a display (EGL).
OffscreenResult render(const RenderCase &scene);

bool isBlack(QRgb pixel);
int countNonBlack(const QImage &image);
// Each channel within tolerance of the colour's.
bool closeTo(QRgb pixel, const QColor &colour, int tolerance);
QString rgbText(QRgb pixel);

// Keeps images of a failed check under $KELVARA_TEST_TMP/render: the produced
// image, the reference (if any) and their absolute difference, named after the
// test function and data tag plus label. Returns a note for the failure message.
QString keepImages(const QString &label, const QImage &produced,
                   const QImage &reference = QImage());
