#include "slicegeometry.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "sliceviewport.h"
#include "volume.h"
#include "windowlevel.h"

#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

Q_DECLARE_METATYPE(SlicePlane)

namespace {

// Voxel (x, y, z) holds (x + 10 y + 50 z) / 255, so every grey names its voxel.
Volume codedVolume(int w, int h, int d, bool patientFrame)
{
    Volume volume;
    volume.width = w;
    volume.height = h;
    volume.depth = d;
    volume.patientFrame = patientFrame;
    volume.data.resize(std::size_t(w) * h * d);
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                volume.data[std::size_t(x + w * (y + h * z))] = float(x + 10 * y + 50 * z) / 255.0f;
    return volume;
}

} // namespace

class TestSliceModel : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void planeLayout_data();
    void planeLayout();
    void planeImageShowsTheGeometrysVoxels_data() { planeLayout_data(); }
    void planeImageShowsTheGeometrysVoxels();
    void physicalProportions();
    void windowMapping_data();
    void windowMapping();
    void automaticWindowSpansThePercentiles();
    void sessionCursorAndWindow();
    void viewportFitsAndZoomsAboutAPoint();
};

void TestSliceModel::planeLayout_data()
{
    QTest::addColumn<SlicePlane>("plane");
    QTest::addColumn<bool>("patientFrame");
    QTest::addColumn<VoxelIndex>("topLeft"); // voxel of image pixel (0, 0), slice 1
    QTest::addColumn<QString>("leftTopRightBottom");
    // A 4 x 3 x 2 grid: columns and rows show which axis runs where, and
    // which runs backwards.
    QTest::newRow("axial scan") << SlicePlane::Axial << true << VoxelIndex{{0, 0, 1}} << "R A L P";
    QTest::newRow("coronal scan") << SlicePlane::Coronal << true << VoxelIndex{{0, 1, 1}}
                                  << "R S L I";
    QTest::newRow("sagittal scan")
        << SlicePlane::Sagittal << true << VoxelIndex{{1, 0, 1}} << "A S P I";
    QTest::newRow("axial dat") << SlicePlane::Axial << false << VoxelIndex{{0, 0, 1}}
                               << "-X -Y +X +Y";
    QTest::newRow("coronal dat") << SlicePlane::Coronal << false << VoxelIndex{{0, 1, 0}}
                                 << "-X -Z +X +Z";
    QTest::newRow("sagittal dat") << SlicePlane::Sagittal << false << VoxelIndex{{1, 0, 0}}
                                  << "-Y -Z +Y +Z";
}

void TestSliceModel::planeLayout()
{
    QFETCH(SlicePlane, plane);
    QFETCH(bool, patientFrame);
    QFETCH(VoxelIndex, topLeft);
    QFETCH(QString, leftTopRightBottom);
    const SliceGeometry geometry(plane, {{4, 3, 2}}, {{1, 1, 1}}, patientFrame);
    QCOMPARE(geometry.voxelAt(QPointF(0.2, 0.7), 1), topLeft);
    const EdgeLabels labels = geometry.edgeLabels();
    QCOMPARE(QStringList({labels.left, labels.top, labels.right, labels.bottom}).join(' '),
             leftTopRightBottom);

    // Every voxel of the slice has a pixel whose centre leads back to it;
    // positions beyond the image clamp to its edge.
    for (int j = 0; j < geometry.rows(); ++j)
        for (int i = 0; i < geometry.columns(); ++i) {
            const VoxelIndex voxel = geometry.voxelAt(QPointF(i + 0.5, j + 0.5), 1);
            QCOMPARE(geometry.imagePositionOf(voxel), QPointF(i + 0.5, j + 0.5));
        }
    QCOMPARE(geometry.voxelAt(QPointF(-5, -5), 9),
             geometry.voxelAt(QPointF(0, 0), geometry.sliceCount() - 1));
}

void TestSliceModel::planeImageShowsTheGeometrysVoxels()
{
    QFETCH(SlicePlane, plane);
    QFETCH(bool, patientFrame);
    const Volume volume = codedVolume(4, 3, 2, patientFrame);
    const SliceGeometry geometry = SliceGeometry::of(volume, plane);
    const int slice = geometry.sliceCount() - 1;
    const QImage image = makePlaneImage(volume, geometry, slice, GreyMapping());
    QCOMPARE(image.size(), QSize(geometry.columns(), geometry.rows()));
    for (int j = 0; j < image.height(); ++j)
        for (int i = 0; i < image.width(); ++i) {
            const VoxelIndex v = geometry.voxelAt(QPointF(i, j), slice);
            QCOMPARE(qRed(image.pixel(i, j)), v[0] + 10 * v[1] + 50 * v[2]);
        }
    QVERIFY(makePlaneImage(volume, geometry, geometry.sliceCount(), GreyMapping()).isNull());
}

void TestSliceModel::physicalProportions()
{
    // 0.5 x 0.5 x 2 mm: the coronal slice is four times as tall per voxel.
    const SliceGeometry coronal(SlicePlane::Coronal, {{40, 30, 10}}, {{0.5, 0.5, 2.0}}, true);
    QCOMPARE(coronal.physicalSize(), QSizeF(20.0, 20.0));
    QCOMPARE(coronal.finestPixelSize(), QSize(40, 40));
    QCOMPARE(coronal.sliceSpacing(), 0.5);
}

void TestSliceModel::windowMapping_data()
{
    QTest::addColumn<double>("window");
    QTest::addColumn<double>("level");
    QTest::addColumn<float>("value"); // normalised
    QTest::addColumn<int>("grey");
    // CT: -1024..3071 HU on 0..1, so HU h is v = (h + 1024) / 4095.
    auto hu = [](double h) { return float((h + 1024.0) / 4095.0); };
    const WindowLevel full = fullRangeWindow({-1024.0, 3071.0});
    // The full range is the slice view's own mapping, wrap-around included.
    QTest::newRow("full 0.5") << full.window << full.level << 0.5f << 127;
    QTest::newRow("full 1.0") << full.window << full.level << 1.0f << 255;
    QTest::newRow("full 1.5 wraps") << full.window << full.level << 1.5f << 126;
    QTest::newRow("full 0.999") << full.window << full.level << 0.999f << 254;
    QTest::newRow("brain bottom") << 80.0 << 40.0 << hu(0.0) << 0;
    QTest::newRow("brain level") << 80.0 << 40.0 << hu(40.0) << 127;
    QTest::newRow("brain top") << 80.0 << 40.0 << hu(80.0) << 255;
    QTest::newRow("brain bone clamps") << 80.0 << 40.0 << hu(1000.0) << 255;
    QTest::newRow("brain air clamps") << 80.0 << 40.0 << hu(-1000.0) << 0;
    QTest::newRow("lung quarter") << 1500.0 << -600.0 << hu(-975.0) << 63;
}

void TestSliceModel::windowMapping()
{
    QFETCH(double, window);
    QFETCH(double, level);
    QFETCH(float, value);
    QFETCH(int, grey);
    const GreyMapping mapping = GreyMapping::of({window, level}, {-1024.0, 3071.0});
    QCOMPARE(mapping.grey(value), grey);
    QCOMPARE(mapping.rgb(value), qRgb(grey, grey, grey));
}

void TestSliceModel::automaticWindowSpansThePercentiles()
{
    // A ramp over 0..1000 units: the 1st and 99th percentiles are 10 and 990,
    // within a bin (1000 / 4096).
    Volume volume;
    volume.width = 10000;
    volume.data.resize(10000);
    for (int i = 0; i < 10000; ++i)
        volume.data[std::size_t(i)] = float(i) / 9999.0f;
    volume.valueRange = {0.0, 1000.0};
    const WindowLevel window = automaticWindow(volume);
    QVERIFY2(std::abs(window.level - window.window / 2 - 10.0) < 0.5,
             qPrintable(QString::number(window.level)));
    QVERIFY(std::abs(window.level + window.window / 2 - 990.0) < 0.5);

    // A constant image has no spread: the full range stays.
    std::fill(volume.data.begin(), volume.data.end(), 0.25f);
    QCOMPARE(automaticWindow(volume), fullRangeWindow(volume.valueRange));
    QCOMPARE(presetWindow(WindowPreset::CtBone, volume), (WindowLevel{2000.0, 300.0}));
}

void TestSliceModel::sessionCursorAndWindow()
{
    const Volume volume = codedVolume(5, 4, 3, true);
    SliceSession session;
    QSignalSpy cursorSpy(&session, &SliceSession::cursorChanged);
    QSignalSpy windowSpy(&session, &SliceSession::windowLevelChanged);
    session.setCursor({{3, 3, 3}}); // no volume: nowhere to go
    QCOMPARE(cursorSpy.count(), 0);

    session.setVolume(&volume);
    QCOMPARE(session.cursor(), (VoxelIndex{{2, 1, 1}}));
    QCOMPARE(cursorSpy.count(), 1);
    session.setCursor({{9, -3, 2}});
    QCOMPARE(session.cursor(), (VoxelIndex{{4, 0, 2}}));
    session.setCursor({{4, 0, 2}}); // unchanged: no signal
    session.stepCursor(2, 5);
    QCOMPARE(cursorSpy.count(), 2);

    session.setWindowLevel({0.0, 100.0}); // no zero width
    QCOMPARE(session.windowLevel().window, minimumWindow(volume.valueRange));
    session.setWindowLevel({qQNaN(), 100.0});
    QCOMPARE(session.windowLevel().level, 100.0);
    session.applyPreset(WindowPreset::FullRange);
    QVERIFY(session.greyMapping().isFullRange());
    QCOMPARE(windowSpy.count(), 2);

    // MONOCHROME1 data starts inverted: high values dark, in any window.
    Volume inverted = codedVolume(5, 4, 3, true);
    inverted.invertedGrey = true;
    session.setVolume(&inverted);
    QVERIFY(session.isInvertedGrey());
    QCOMPARE(session.greyMapping().grey(1.0f), 0);
    session.setWindowLevel({1.0, inverted.valueRange.minimum + 0.5});
    QCOMPARE(session.greyMapping().grey(0.0f), 255);
    session.setInvertedGrey(false);
    QCOMPARE(session.greyMapping().grey(0.0f), 0);
    session.setVolume(&volume);
    QVERIFY(!session.isInvertedGrey());
}

void TestSliceModel::viewportFitsAndZoomsAboutAPoint()
{
    const QSizeF widget(200, 100);
    const QSizeF physical(50, 50);
    SliceViewport viewport;
    QCOMPARE(viewport.imageRect(widget, physical), QRectF(50, 0, 100, 100));

    const QPointF anchor(75, 30); // a quarter across, 30 % down
    const SliceViewport zoomed = viewport.zoomedAbout(2.0, anchor, widget, physical);
    const QRectF rect = zoomed.imageRect(widget, physical);
    QCOMPARE(rect.size(), QSizeF(200, 200));
    QCOMPARE(rect.left() + 0.25 * rect.width(), anchor.x());
    QCOMPARE(rect.top() + 0.3 * rect.height(), anchor.y());
    QCOMPARE(viewport.zoomedAbout(1e6, anchor, widget, physical).zoom, SliceViewport::maximumZoom);
}

QTEST_MAIN(TestSliceModel)
#include "tst_slicemodel.moc"
