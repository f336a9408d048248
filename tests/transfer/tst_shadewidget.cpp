#include "shadewidget.h"

#include "hoverpoints.h"

#include <QEvent>
#include <QPalette>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

namespace {

// Counts the paint events a widget receives.
class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// The channel's own byte of a sample (alpha for the alpha strip).
int value(QRgb rgba, ShadeChannel channel)
{
    return ControlPoints::channelValue(rgba, channel);
}

} // namespace

class TestShadeWidget : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void construction();
    void initialPointsAreClampedIntoInitialSize();
    void colorsChangedFollowsPointChanges();
    void channelShade_data();
    void channelShade();
    void sampleCoversSpanOfPoints();
    void sampleAtRightEdgeUsesLastColumn();
    void sampleOfVerticalFirstSegment();
    void sampleNeedsTwoPoints();
    void alphaBackdropIsOpaque();
    void alphaBackdropIgnoredByColourStrips();
    void resizeRescalesPointsAndShade();
    void stripWithoutArea();
};

void TestShadeWidget::init()
{
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TestShadeWidget::construction()
{
    ShadeWidget red(RedChannel);
    ShadeWidget alpha(AlphaChannel);
    for (ShadeWidget *strip : {&red, &alpha}) {
        QCOMPARE(strip->sizeHint(), QSize(150, 40));
        QCOMPARE(strip->sizePolicy().horizontalPolicy(), QSizePolicy::Preferred);
        QCOMPARE(strip->sizePolicy().verticalPolicy(), QSizePolicy::Fixed);
        QCOMPARE(strip->pointEditor()->parent(), strip);
        QCOMPARE(strip->pointEditor()->lockFlags(0), uint(HoverPoints::LockLeftEdge));
        QCOMPARE(strip->pointEditor()->lockFlags(1), uint(HoverPoints::LockRightEdge));
    }
    QVERIFY(red.testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(!red.autoFillBackground());

    // The alpha strip shows a 20 x 20 checkerboard behind its shade.
    QVERIFY(!alpha.testAttribute(Qt::WA_OpaquePaintEvent));
    QVERIFY(alpha.autoFillBackground());
    const QImage tile = alpha.palette().brush(alpha.backgroundRole()).texture().toImage();
    QCOMPARE(tile.size(), QSize(20, 20));
    QCOMPARE(QColor(tile.pixel(0, 0)), QColor(Qt::lightGray));
    QCOMPARE(QColor(tile.pixel(19, 19)), QColor(Qt::lightGray));
    QCOMPARE(QColor(tile.pixel(0, 10)), QColor(Qt::darkGray));
    QCOMPARE(QColor(tile.pixel(10, 9)), QColor(Qt::darkGray));
}

void TestShadeWidget::initialPointsAreClampedIntoInitialSize()
{
    ShadeWidget window(GreenChannel); // a hidden window starts 640 x 480
    QCOMPARE(window.pointEditor()->controlPoints(), QPolygonF({QPointF(0, 40), QPointF(150, 0)}));

    QWidget parent;
    ShadeWidget child(GreenChannel, &parent); // a child starts 100 x 30
    QCOMPARE(child.pointEditor()->controlPoints(), QPolygonF({QPointF(0, 30), QPointF(100, 0)}));
}

void TestShadeWidget::colorsChangedFollowsPointChanges()
{
    ShadeWidget strip(BlueChannel);
    strip.resize(150, 40);
    QSignalSpy spy(&strip, &ShadeWidget::colorsChanged);

    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 40), QPointF(150, 0)}));
    strip.setAlphaBackdrop({{0.0, QColor(Qt::red)}});
    QCOMPARE(spy.count(), 0);

    // A press adds a point; the strip itself does not take the move.
    QTest::mousePress(&strip, Qt::LeftButton, {}, QPoint(75, 30));
    QTest::mouseMove(&strip, QPoint(80, 10));
    QTest::mouseRelease(&strip, Qt::LeftButton, {}, QPoint(80, 10));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(strip.pointEditor()->controlPoints().at(1), QPointF(80, 10));
}

void TestShadeWidget::channelShade_data()
{
    QTest::addColumn<int>("channel");
    QTest::newRow("red") << int(RedChannel);
    QTest::newRow("green") << int(GreenChannel);
    QTest::newRow("blue") << int(BlueChannel);
    QTest::newRow("alpha") << int(AlphaChannel);
}

void TestShadeWidget::channelShade()
{
    QFETCH(int, channel);
    const auto shadeChannel = ShadeChannel(channel);
    ShadeWidget strip(shadeChannel);
    strip.resize(150, 40);

    // Top edge: row 0, the full channel; bottom edge: row 39, next to nothing.
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    const QRgb top = strip.sampleColor(70);
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 40), QPointF(150, 40)}));
    const QRgb bottom = strip.sampleColor(70);

    QVERIFY2(value(top, shadeChannel) >= 245, qPrintable(QString::number(top, 16)));
    QVERIFY2(value(bottom, shadeChannel) <= 10, qPrintable(QString::number(bottom, 16)));
    if (shadeChannel != AlphaChannel) {
        QCOMPARE(qAlpha(top), 255);
        QCOMPARE(qAlpha(bottom), 255);
        // Only the strip's own channel is lit.
        QCOMPARE(qRed(top) + qGreen(top) + qBlue(top), value(top, shadeChannel));
    }
}

void TestShadeWidget::sampleCoversSpanOfPoints()
{
    ShadeWidget strip(RedChannel);
    strip.resize(150, 40);
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 40), QPointF(150, 0)}));

    int previous = -1;
    for (int x = 0; x <= 150; ++x) {
        const QRgb sample = strip.sampleColor(x);
        QCOMPARE(qAlpha(sample), 255); // covered: not the 0 of a miss
        QVERIFY(qRed(sample) >= previous);
        previous = qRed(sample);
    }
    QVERIFY(qRed(strip.sampleColor(0)) <= 10);
    QVERIFY(qRed(strip.sampleColor(150)) >= 245);
    QCOMPARE(strip.sampleColor(-1), 0u);
    QCOMPARE(strip.sampleColor(151), 0u);

    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(20, 40), QPointF(120, 0)}));
    QCOMPARE(strip.sampleColor(19), 0u);
    QCOMPARE(strip.sampleColor(121), 0u);
    QVERIFY(strip.sampleColor(20) != 0u);
}

void TestShadeWidget::sampleAtRightEdgeUsesLastColumn()
{
    ShadeWidget strip(AlphaChannel);
    strip.resize(150, 40);
    strip.setAlphaBackdrop({{0.0, QColor(Qt::black)}, {1.0, QColor(Qt::blue)}});
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    QCOMPARE(strip.sampleColor(150), strip.sampleColor(149));
    QVERIFY(qBlue(strip.sampleColor(150)) > qBlue(strip.sampleColor(148)));
}

void TestShadeWidget::sampleOfVerticalFirstSegment()
{
    ShadeWidget strip(GreenChannel);
    strip.resize(150, 40);
    strip.pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 40), QPointF(0, 0), QPointF(150, 0)}));
    // The segment's end point: the top row, as at every other column.
    QCOMPARE(strip.sampleColor(0), strip.sampleColor(75));
}

void TestShadeWidget::sampleNeedsTwoPoints()
{
    ShadeWidget strip(RedChannel);
    strip.resize(150, 40);
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(30, 0)}));
    QCOMPARE(strip.sampleColor(30), 0u);
    strip.pointEditor()->setControlPoints(QPolygonF());
    QCOMPARE(strip.sampleColor(0), 0u);
}

void TestShadeWidget::alphaBackdropIsOpaque()
{
    ShadeWidget strip(AlphaChannel);
    strip.resize(150, 40);
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0), QPointF(150, 0)}));

    strip.setAlphaBackdrop({{0.0, QColor(255, 0, 0)}, {1.0, QColor(0, 0, 255)}});
    const QRgb opaqueLeft = strip.sampleColor(0);
    const QRgb opaqueRight = strip.sampleColor(150);
    strip.setAlphaBackdrop({{0.0, QColor(255, 0, 0, 128)}, {1.0, QColor(0, 0, 255, 10)}});
    QCOMPARE(strip.sampleColor(0), opaqueLeft);
    QCOMPARE(strip.sampleColor(150), opaqueRight);

    // Premultiplied: the colour is as strong as the vertical fade's opacity.
    QVERIFY(qAlpha(opaqueLeft) >= 245);
    QVERIFY(qAbs(qRed(opaqueLeft) - qAlpha(opaqueLeft)) <= 1);
    QVERIFY(qBlue(opaqueLeft) <= 2);
    QVERIFY(qAbs(qBlue(opaqueRight) - qAlpha(opaqueRight)) <= 1);

    // Lower down the same colour fades out.
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 30), QPointF(150, 30)}));
    const QRgb lower = strip.sampleColor(0);
    QVERIFY(qAlpha(lower) < qAlpha(opaqueLeft));
    QVERIFY(qAbs(qRed(lower) - qAlpha(lower)) <= 1);
}

void TestShadeWidget::alphaBackdropIgnoredByColourStrips()
{
    ShadeWidget strip(RedChannel);
    strip.resize(150, 40);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    PaintCounter counter;
    strip.installEventFilter(&counter);
    const QRgb before = strip.sampleColor(75);

    strip.setAlphaBackdrop({{0.0, QColor(Qt::green)}, {1.0, QColor(Qt::blue)}});
    QTest::qWait(50);
    QCOMPARE(counter.paints, 0);
    QCOMPARE(strip.sampleColor(75), before);

    // The alpha strip does repaint.
    ShadeWidget alpha(AlphaChannel);
    alpha.resize(150, 40);
    alpha.show();
    QVERIFY(QTest::qWaitForWindowExposed(&alpha));
    PaintCounter alphaCounter;
    alpha.installEventFilter(&alphaCounter);
    alpha.setAlphaBackdrop({{0.0, QColor(Qt::green)}});
    QTRY_VERIFY(alphaCounter.paints > 0);
}

void TestShadeWidget::resizeRescalesPointsAndShade()
{
    ShadeWidget strip(BlueChannel);
    strip.resize(150, 40);
    strip.show();
    QVERIFY(QTest::qWaitForWindowExposed(&strip));
    strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 40), QPointF(150, 0)}));
    strip.pointEditor()->setLockFlags(0, HoverPoints::LockLeftEdge);
    strip.pointEditor()->setLockFlags(1, HoverPoints::LockRightEdge);
    QSignalSpy spy(&strip, &ShadeWidget::colorsChanged);

    strip.resize(300, 80);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(strip.pointEditor()->controlPoints(), QPolygonF({QPointF(0, 80), QPointF(300, 0)}));
    // Sampled from a shade of the new size: column 300 is valid.
    QVERIFY(qBlue(strip.sampleColor(300)) >= 245);
    QVERIFY(qBlue(strip.sampleColor(150)) > 100);
}

void TestShadeWidget::stripWithoutArea()
{
    for (ShadeChannel channel : {RedChannel, AlphaChannel}) {
        ShadeWidget strip(channel);
        strip.resize(0, 40);
        strip.pointEditor()->setControlPoints(QPolygonF({QPointF(0, 40), QPointF(0, 0)}));
        strip.setAlphaBackdrop({{0.0, QColor(Qt::red)}});
        QCOMPARE(strip.sampleColor(0), 0u);
        strip.resize(150, 0);
        QCOMPARE(strip.sampleColor(0), 0u);
    }
}

QTEST_MAIN(TestShadeWidget)
#include "tst_shadewidget.moc"
