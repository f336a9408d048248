#include "sliceimage.h"
#include "slicingview.h"
#include "volume.h"

#include <QTest>

namespace {

// A volume whose voxel (x, y, z) holds a value that encodes its position, so a
// wrong index shows as a wrong grey.
Volume codedVolume(int w, int h, int d)
{
    Volume volume;
    volume.width = w;
    volume.height = h;
    volume.depth = d;
    volume.data.resize(std::size_t(w) * h * d);
    for (int z = 0; z < d; ++z)
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                volume.data[x + w * (y + h * z)] = float(x + 10 * y + 50 * z) / 255.0f;
    return volume;
}

int greyAt(const QImage &image, int i, int j)
{
    return qRed(image.pixel(i, j));
}

} // namespace

class TestSlicing : public QObject
{
    Q_OBJECT

private slots:
    void geometryPerAxis_data();
    void geometryPerAxis();
    void greyMapping_data();
    void greyMapping();
    void invalidSliceGivesNullImage();
    void viewIsBlackWithoutVolume();
    void viewPaintsNothingForInvalidSlice();
    void viewStretchesSlice();
    void displaySize_data();
    void displaySize();
};

void TestSlicing::geometryPerAxis_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("slice");
    QTest::addColumn<QSize>("size");
    QTest::newRow("X") << 0 << 3 << QSize(2, 3);
    QTest::newRow("Y") << 1 << 2 << QSize(4, 2);
    QTest::newRow("Z") << 2 << 1 << QSize(4, 3);
}

void TestSlicing::geometryPerAxis()
{
    QFETCH(int, axis);
    QFETCH(int, slice);
    QFETCH(QSize, size);
    const Volume volume = codedVolume(4, 3, 2);
    QCOMPARE(sliceImageSize(volume, axis), size);
    const QImage image = makeSliceImage(volume, axis, slice);
    QCOMPARE(image.size(), size);
    QCOMPARE(image.format(), QImage::Format_RGB32);
    for (int j = 0; j < size.height(); ++j)
        for (int i = 0; i < size.width(); ++i) {
            int x = i, y = j, z = slice;
            if (axis == 0) {
                x = slice;
                y = j;
                z = i;
            } else if (axis == 1) {
                x = i;
                y = slice;
                z = j;
            }
            QCOMPARE(greyAt(image, i, j), x + 10 * y + 50 * z);
        }
}

void TestSlicing::greyMapping_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<uint>("pixel");
    QTest::newRow("one") << 1.0f << 0xffffffffu;
    QTest::newRow("zero") << 0.0f << 0xff000000u;
    QTest::newRow("half truncates") << 0.5f << 0xff7f7f7fu;
    QTest::newRow("above one keeps low bits") << 1.5f << 0xff7e7e7eu;
}

void TestSlicing::greyMapping()
{
    QFETCH(float, value);
    QFETCH(uint, pixel);
    Volume volume;
    volume.data = {value};
    QCOMPARE(uint(makeSliceImage(volume, 2, 0).pixel(0, 0)), pixel);
}

void TestSlicing::invalidSliceGivesNullImage()
{
    const Volume volume = codedVolume(4, 3, 2);
    QVERIFY(makeSliceImage(volume, 0, 4).isNull());
    QVERIFY(makeSliceImage(volume, 1, -1).isNull());
    QVERIFY(makeSliceImage(volume, 2, 2).isNull());
    QVERIFY(makeSliceImage(volume, 3, 0).isNull());
    QVERIFY(!sliceImageSize(volume, 3).isValid());
    // A record whose data is shorter than its dimensions is never read past.
    Volume broken = codedVolume(4, 3, 2);
    broken.data.resize(5);
    QVERIFY(makeSliceImage(broken, 2, 0).isNull());
}

void TestSlicing::viewIsBlackWithoutVolume()
{
    SlicingView view;
    view.resize(20, 10);
    const QImage shot = view.grab().toImage();
    QCOMPARE(shot.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(shot.pixel(19, 9), qRgb(0, 0, 0));
}

void TestSlicing::viewPaintsNothingForInvalidSlice()
{
    Volume volume = codedVolume(4, 3, 2);
    SlicingView view;
    QPalette palette = view.palette();
    palette.setColor(QPalette::Window, Qt::red);
    view.setPalette(palette);
    view.setAutoFillBackground(true);
    view.resize(4, 3);
    view.volume = &volume;
    view.axis = 0;
    view.slice = 4; // equals the width: one past the last X slice
    const QImage shot = view.grab().toImage();
    QCOMPARE(shot.pixel(1, 1), qRgb(255, 0, 0));
    QVERIFY(view.sliceImage().isNull());
}

void TestSlicing::viewStretchesSlice()
{
    Volume volume = codedVolume(4, 3, 2);
    SlicingView view;
    view.resize(8, 9); // twice as wide, three times as high
    view.volume = &volume;
    view.axis = 2;
    view.slice = 1;
    const QImage shot = view.grab().toImage();
    QCOMPARE(qRed(shot.pixel(7, 8)), 3 + 10 * 2 + 50);
    QCOMPARE(qRed(shot.pixel(0, 0)), 50);
}

void TestSlicing::displaySize_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<QSize>("limit");
    QTest::addColumn<QSize>("size");
    // 40 x 30 x 10 voxels of 1 x 1 x 3 mm.
    const QSize roomy(1000, 1000);
    QTest::newRow("Z, equal spacing: a pixel per voxel") << 2 << roomy << QSize(40, 30);
    QTest::newRow("X, stretched across") << 0 << roomy << QSize(30, 30);
    QTest::newRow("Y, stretched down") << 1 << roomy << QSize(40, 30);
    QTest::newRow("scaled into the limit") << 2 << QSize(20, 100) << QSize(20, 15);
    QTest::newRow("stretched, then scaled") << 0 << QSize(100, 15) << QSize(15, 15);
    QTest::newRow("invalid axis") << 3 << roomy << QSize();
}

void TestSlicing::displaySize()
{
    QFETCH(int, axis);
    QFETCH(QSize, limit);
    QFETCH(QSize, size);
    Volume volume = codedVolume(40, 30, 10);
    volume.spacing = {{1.0, 1.0, 3.0}};
    QCOMPARE(sliceDisplaySize(volume, axis, limit), size);
    // A slice without pixels leaves the view's size alone.
    QVERIFY(!sliceDisplaySize(codedVolume(4, 3, 0), 0, limit).isValid());
}

QTEST_MAIN(TestSlicing)
#include "tst_slicing.moc"
