// Layers over a base volume on other grids: every slice pixel must show the
// layer voxel that the world geometry of both grids puts under it.

#include "imagegrid.h"
#include "layerappearance.h"
#include "layerloading.h"
#include "layersampler.h"
#include "layerslice.h"
#include "slicegeometry.h"
#include "sliceimage.h"
#include "volume.h"
#include "volumegrid.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

Q_DECLARE_METATYPE(SlicePlane)

namespace {

// A grid of w x h x d voxels placed by origin, spacing and direction
// columns, its values from value(x, y, z) over the file range 0..maximum.
template <typename Value>
Volume placedVolume(const std::array<int, 3> &size, const ImageGrid &grid, double maximum,
                    Value value)
{
    Volume volume;
    volume.width = size[0];
    volume.height = size[1];
    volume.depth = size[2];
    volume.patientFrame = true;
    volume.spacing = grid.spacing;
    volume.worldOrigin = grid.origin;
    volume.worldDirection = grid.direction;
    volume.valueRange = {0.0, maximum};
    volume.data.resize(std::size_t(size[0]) * std::size_t(size[1]) * std::size_t(size[2]));
    for (int z = 0; z < size[2]; ++z)
        for (int y = 0; y < size[1]; ++y)
            for (int x = 0; x < size[0]; ++x)
                volume.data[std::size_t(x + size[0] * (y + size[1] * z))] =
                    float(value(x, y, z) / maximum);
    return volume;
}

Volume baseVolume()
{
    ImageGrid grid;
    grid.origin = {-5.0, 3.0, 1.0};
    grid.spacing = {1.0, 1.0, 2.0};
    return placedVolume({12, 10, 8}, grid, 1.0, [](int, int, int) { return 0.0; });
}

// A label map of coarser voxels whose first axis runs against the base's X
// and whose second and third are exchanged (a stored axis order of its own),
// every voxel its own label, shifted off the base's voxel centres so that no
// base voxel lies on a boundary.
constexpr std::array<int, 3> labelSize{{7, 6, 5}};
int labelOf(int x, int y, int z)
{
    return 1 + x + labelSize[0] * (y + labelSize[1] * z);
}
Volume labelVolume()
{
    ImageGrid grid;
    grid.origin = {7.3, 2.6, 0.7};
    grid.spacing = {2.0, 3.0, 2.5};
    grid.direction = {-1.0, 0.0, 0.0, 0.0, 0.0, 1.0, 0.0, 1.0, 0.0};
    return placedVolume(labelSize, grid, 255.0, labelOf);
}

} // namespace

class TestLayers : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void labelsLandWhereTheWorldPutsThem_data();
    void labelsLandWhereTheWorldPutsThem();
    void signedMapShowsBothSides();
    void outlinesDrawOnlyBoundaries();
    void layerOutsideTheBaseIsTold();
    void labelMapsHoldWholeNumbers();
    void requestsOverTheDefaults();
};

void TestLayers::labelsLandWhereTheWorldPutsThem_data()
{
    QTest::addColumn<SlicePlane>("plane");
    QTest::addColumn<int>("slice");
    QTest::newRow("axial") << SlicePlane::Axial << 3;
    QTest::newRow("coronal") << SlicePlane::Coronal << 4;
    QTest::newRow("sagittal") << SlicePlane::Sagittal << 6;
}

void TestLayers::labelsLandWhereTheWorldPutsThem()
{
    QFETCH(SlicePlane, plane);
    QFETCH(int, slice);
    const Volume base = baseVolume();
    const Volume labels = labelVolume();
    std::vector<int> values;
    QString reason;
    QVERIFY(labelValuesOf(labels, values, &reason));
    QCOMPARE(int(values.size()), labelSize[0] * labelSize[1] * labelSize[2]);
    LayerAppearance appearance = defaultLabelAppearance(values);
    appearance.opacity = 1.0;

    const SliceGeometry geometry = SliceGeometry::of(base, plane);
    QImage image(geometry.columns(), geometry.rows(), QImage::Format_RGB32);
    image.fill(Qt::black);
    blendLayers(image, base, geometry, slice, {{&labels, &appearance, QString()}});

    const ImageGrid baseGrid = fullResolutionGrid(base);
    const ImageGrid labelGrid = fullResolutionGrid(labels);
    int labelled = 0;
    for (int j = 0; j < geometry.rows(); ++j)
        for (int i = 0; i < geometry.columns(); ++i) {
            const VoxelIndex voxel = geometry.voxelAt(QPointF(i + 0.5, j + 0.5), slice);
            const std::array<double, 3> index = *labelGrid.indexOf(
                baseGrid.worldOf({double(voxel[0]), double(voxel[1]), double(voxel[2])}));
            QRgb expected = qRgb(0, 0, 0);
            bool inside = true;
            std::array<int, 3> nearest{};
            for (std::size_t a = 0; a < 3; ++a) {
                nearest[a] = int(std::floor(index[a] + 0.5));
                inside = inside && nearest[a] >= 0 && nearest[a] < labelSize[a];
            }
            if (inside) {
                const QColor colour =
                    appearance.labels.find(labelOf(nearest[0], nearest[1], nearest[2]))->colour;
                expected = colour.rgb();
                ++labelled;
            }
            QCOMPARE(image.pixel(i, j), expected);
        }
    QVERIFY(labelled > 10);
}

void TestLayers::signedMapShowsBothSides()
{
    const Volume base = baseVolume();
    ImageGrid grid = fullResolutionGrid(base);
    // Values -6..5 along X: a signed map on the base's own grid.
    const Volume stat = placedVolume({12, 10, 8}, grid, 1.0, [](int, int, int) { return 0.0; });
    Volume signedMap = stat;
    signedMap.valueRange = {-6.0, 5.0};
    for (int z = 0; z < 8; ++z)
        for (int y = 0; y < 10; ++y)
            for (int x = 0; x < 12; ++x)
                signedMap.data[std::size_t(x + 12 * (y + 10 * z))] = float(x) / 11.0f;

    LayerAppearance appearance = defaultImageAppearance(1.0, 5.0);
    appearance.colorMap = *ColorMaps::named("red-yellow");
    appearance.negativeMap = *ColorMaps::named("blue-green");
    appearance.rangeMinimum = 1.5;
    appearance.rangeMaximum = 5.5; // no value falls on a threshold or between two entries

    const SliceGeometry geometry = SliceGeometry::of(signedMap, SlicePlane::Axial);
    QImage image(geometry.columns(), geometry.rows(), QImage::Format_RGB32);
    image.fill(Qt::black);
    blendLayers(image, signedMap, geometry, 2, {{&signedMap, &appearance, QString()}});
    for (int i = 0; i < geometry.columns(); ++i) {
        const double value = -6.0 + geometry.voxelOfColumn(i);
        QRgb expected = qRgb(0, 0, 0);
        if (value >= 1.5)
            expected = appearance.colorMap.at(std::min(1.0, (value - 1.5) / 4.0));
        else if (value <= -1.5)
            expected = appearance.negativeMap->at(std::min(1.0, (-value - 1.5) / 4.0));
        QCOMPARE(image.pixel(i, 0) & 0xffffffu, expected & 0xffffffu);
    }
    // Half opaque: half the colour over the grey below.
    appearance.opacity = 0.5;
    image.fill(qRgb(100, 100, 100));
    blendLayers(image, signedMap, geometry, 2, {{&signedMap, &appearance, QString()}});
    const int column = geometry.columnsReversed() ? 0 : 11; // value 5
    const QRgb top = appearance.colorMap.at((5.0 - 1.5) / 4.0);
    QVERIFY(std::abs(qRed(image.pixel(column, 0)) - (100 + qRed(top)) / 2) <= 1);
    QVERIFY(std::abs(qGreen(image.pixel(column, 0)) - (100 + qGreen(top)) / 2) <= 1);
}

void TestLayers::outlinesDrawOnlyBoundaries()
{
    const Volume base = baseVolume();
    // A block of label 2 in the middle of the base's own grid.
    const Volume labels =
        placedVolume({12, 10, 8}, fullResolutionGrid(base), 2.0, [](int x, int y, int) {
            return x >= 3 && x <= 8 && y >= 2 && y <= 7 ? 2.0 : 0.0;
        });
    LayerAppearance appearance = defaultLabelAppearance({0, 2});
    appearance.opacity = 1.0;
    appearance.outline = true;
    const SliceGeometry geometry = SliceGeometry::of(base, SlicePlane::Axial);
    QImage image(geometry.columns(), geometry.rows(), QImage::Format_RGB32);
    image.fill(Qt::black);
    blendLayers(image, base, geometry, 0, {{&labels, &appearance, QString()}});
    int drawn = 0;
    for (int j = 0; j < image.height(); ++j)
        for (int i = 0; i < image.width(); ++i)
            drawn += image.pixel(i, j) != qRgb(0, 0, 0);
    QCOMPARE(drawn, 6 * 6 - 4 * 4); // the ring of the 6 x 6 block
    appearance.visible = false;
    image.fill(Qt::black);
    blendLayers(image, base, geometry, 0, {{&labels, &appearance, QString()}});
    QCOMPARE(image.pixel(5, 5), qRgb(0, 0, 0));
}

void TestLayers::layerOutsideTheBaseIsTold()
{
    const Volume base = baseVolume();
    Volume labels = labelVolume();
    QVERIFY(layerMeetsBase(base, labels));
    labels.worldOrigin = {300.0, 0.0, 0.0};
    QVERIFY(!layerMeetsBase(base, labels));
    const LayerSampler sampler(base, labels, LayerSampler::Interpolation::Nearest);
    QVERIFY(std::isnan(sampler.valueAt({0.0, 0.0, 0.0})));
}

void TestLayers::labelMapsHoldWholeNumbers()
{
    Volume labels = labelVolume();
    labels.data[3] = 0.5f / 255.0f;
    std::vector<int> values;
    QString reason;
    QVERIFY(!labelValuesOf(labels, values, &reason));
    QVERIFY2(reason.contains("0.5"), qPrintable(reason));
}

// What a command line or a menu asks for goes over the defaults: a table
// names its labels and the map's other labels keep generated colours; a bad
// map or table leaves the appearance as it was, naming the file.
void TestLayers::requestsOverTheDefaults()
{
    QTemporaryDir dir;
    QFile table(dir.filePath("atlas.txt"));
    QVERIFY(table.open(QIODevice::WriteOnly));
    table.write("3 Caudate left\n");
    table.close();
    LayerAppearance appearance = defaultLabelAppearance({0, 3, 9});
    const QColor nine = appearance.labels.find(9)->colour;
    LayerRequest request;
    request.labelTable = table.fileName();
    request.opacity = 1.5; // held at 1
    request.outline = true;
    QString reason;
    QVERIFY(applyLayerRequest(request, appearance, &reason));
    QCOMPARE(appearance.labels.find(3)->name, QString("Caudate left"));
    QCOMPARE(appearance.labels.find(9)->colour, nine);
    QVERIFY(!appearance.labels.find(0)->visible);
    QCOMPARE(appearance.opacity, 1.0);
    QVERIFY(appearance.outline);

    const LayerAppearance before = appearance;
    LayerRequest bad;
    bad.colorMap = dir.filePath("missing.lut");
    QVERIFY(!applyLayerRequest(bad, appearance, &reason));
    QVERIFY2(reason.contains("missing.lut"), qPrintable(reason));
    QVERIFY(appearance == before);
}

QTEST_GUILESS_MAIN(TestLayers)
#include "tst_layers.moc"
