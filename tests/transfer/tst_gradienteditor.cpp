#include "gradienteditor.h"

#include "hoverpoints.h"
#include "histogram.h"
#include "shadewidget.h"
#include "transferfunction.h"

#include <QLayout>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>

#include <cmath>

namespace {

const QGradientStops defaultStops{{0.0, QColor::fromRgba(0xff000000)},
                                  {1.0, QColor::fromRgba(0xffffffff)}};

QList<ShadeWidget *> stripsOf(const GradientEditor &editor)
{
    return {editor.redStrip(), editor.greenStrip(), editor.blueStrip(), editor.alphaStrip()};
}

// An editor laid out at its size hint: four strips of 150 x 40.
struct LaidOutEditor
{
    LaidOutEditor()
    {
        editor.resize(editor.sizeHint());
        editor.layout()->activate();
    }
    GradientEditor editor;
};

} // namespace

class TestGradientEditor : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void layout();
    void defaultStopsBecomePoints();
    void singleAndEmptyStopLists();
    void stopsSampleTheStrips();
    void sameIntegralXGivesOneStop();
    void halfPositionOnOddWidth();
    void pointBeyondAlphaWidth();
    void gradientStopsSharesOneContainer();
    void zeroWidthStrips();
    void dragEmitsStops();
    void transferFunctionToStripsAndBack();
    void histogramLeavesSamplesAlone();
};

void TestGradientEditor::init()
{
    // The offscreen platform cannot pass a shown layout's size hints on to a
    // window system and says so; anything else is a fault.
    QTest::failOnWarning(QRegularExpression("^(?!This plugin does not support).*"));
}

void TestGradientEditor::layout()
{
    GradientEditor editor;
    QCOMPARE(editor.sizeHint(), QSize(152, 165));
    const auto *box = editor.layout();
    QCOMPARE(box->spacing(), 1);
    QCOMPARE(box->contentsMargins(), QMargins(1, 1, 1, 1));

    editor.resize(editor.sizeHint());
    editor.layout()->activate();
    const QList<ShadeWidget *> strips = stripsOf(editor);
    for (int i = 0; i < strips.size(); ++i) {
        QCOMPARE(strips.at(i)->parentWidget(), &editor);
        QCOMPARE(box->itemAt(i)->widget(), strips.at(i));
        QCOMPARE(strips.at(i)->geometry(), QRect(1, 1 + 41 * i, 150, 40));
    }
}

void TestGradientEditor::defaultStopsBecomePoints()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    QSignalSpy stopsSpy(&editor, &GradientEditor::gradientStopsChanged);
    QList<QSignalSpy *> colourSpies;
    for (ShadeWidget *strip : stripsOf(editor))
        colourSpies.append(new QSignalSpy(strip, &ShadeWidget::colorsChanged));

    editor.setGradientStops(defaultStops);

    for (ShadeWidget *strip : {editor.redStrip(), editor.greenStrip(), editor.blueStrip()})
        QCOMPARE(strip->pointEditor()->controlPoints(),
                 QPolygonF({QPointF(0, 40), QPointF(150, 0)}));
    QCOMPARE(editor.alphaStrip()->pointEditor()->controlPoints(),
             QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    for (ShadeWidget *strip : stripsOf(editor)) {
        QCOMPARE(strip->pointEditor()->lockFlags(0), uint(HoverPoints::LockLeftEdge));
        QCOMPARE(strip->pointEditor()->lockFlags(1), uint(HoverPoints::LockRightEdge));
    }
    QCOMPARE(stopsSpy.count(), 0);
    for (QSignalSpy *spy : colourSpies) {
        QCOMPARE(spy->count(), 0);
        delete spy;
    }
}

void TestGradientEditor::singleAndEmptyStopLists()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;

    editor.setGradientStops({{0.5, QColor::fromRgba(0xff0000ff)}});
    for (ShadeWidget *strip : stripsOf(editor)) {
        QCOMPARE(strip->pointEditor()->controlPoints().size(), 1);
        QCOMPARE(strip->pointEditor()->lockFlags(0), uint(HoverPoints::LockRightEdge));
    }
    QCOMPARE(editor.blueStrip()->pointEditor()->controlPoints(), QPolygonF({QPointF(75, 0)}));

    editor.setGradientStops({});
    for (ShadeWidget *strip : stripsOf(editor))
        QVERIFY(strip->pointEditor()->controlPoints().isEmpty());
    QVERIFY(editor.gradientStops().isEmpty());

    // An empty merge is still shown and emitted.
    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);
    editor.pointsUpdated();
    QCOMPARE(spy.count(), 1);
    QVERIFY(spy.first().at(0).value<QGradientStops>().isEmpty());
}

void TestGradientEditor::stopsSampleTheStrips()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    editor.setGradientStops(defaultStops);
    // Red full across, green rising, blue off, alpha falling.
    editor.redStrip()->pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    editor.blueStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 40), QPointF(150, 40)}));
    editor.alphaStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 0), QPointF(150, 40)}));

    const QGradientStops stops = editor.gradientStops();
    QCOMPARE(stops.size(), 2);
    QCOMPARE(stops.at(0).first, 0.0);
    QCOMPARE(stops.at(1).first, 1.0);
    const QRgb left = stops.at(0).second.rgba();
    const QRgb right = stops.at(1).second.rgba();
    QVERIFY(qRed(left) >= 245 && qRed(right) >= 245);
    QVERIFY(qGreen(left) <= 10 && qGreen(right) >= 245);
    QVERIFY(qBlue(left) <= 10 && qBlue(right) <= 10);
    QVERIFY(qAlpha(left) >= 245 && qAlpha(right) <= 10);

    // The emitted stops are the same sampling, and they colour the backdrop.
    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);
    QVERIFY(QMetaObject::invokeMethod(&editor, "pointsUpdated"));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(spy.first().at(0).value<QGradientStops>(), stops);
    editor.alphaStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    const QRgb backdrop = editor.alphaStrip()->sampleColor(0);
    QVERIFY(qRed(backdrop) >= 240 && qGreen(backdrop) <= 10);
}

void TestGradientEditor::sameIntegralXGivesOneStop()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    editor.setGradientStops(defaultStops);
    QCOMPARE(editor.gradientStops().size(), 2); // eight points, two columns

    editor.redStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 40), QPointF(75, 20), QPointF(150, 0)}));
    editor.alphaStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 0), QPointF(75, 0), QPointF(150, 0)}));
    const QGradientStops stops = editor.gradientStops();
    QCOMPARE(stops.size(), 3);
    QCOMPARE(stops.at(1).first, 0.5);
}

void TestGradientEditor::halfPositionOnOddWidth()
{
    GradientEditor editor;
    editor.resize(203, 165);
    editor.layout()->activate();
    QCOMPARE(editor.alphaStrip()->width(), 201);

    editor.setGradientStops(
        {{0.0, QColor(Qt::black)}, {0.5, QColor(Qt::white)}, {1.0, QColor(Qt::black)}});
    QCOMPARE(editor.redStrip()->pointEditor()->controlPoints().at(1), QPointF(100.5, 0));
    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);
    editor.pointsUpdated();
    // Each strip's point at 100.5 is sampled at column 100: four equal stops.
    const QGradientStops stops = spy.first().at(0).value<QGradientStops>();
    QCOMPARE(stops.size(), 6);
    for (int i = 1; i <= 4; ++i)
        QCOMPARE(stops.at(i).first, 100.0 / 201.0);
}

void TestGradientEditor::pointBeyondAlphaWidth()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    editor.setGradientStops(defaultStops);
    editor.pointsUpdated(); // backdrop: the black-to-white ramp

    // A strip wider than the alpha strip (the layout never makes one).
    editor.alphaStrip()->resize(100, 40);
    editor.alphaStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 0), QPointF(100, 0)}));
    for (ShadeWidget *strip : {editor.redStrip(), editor.greenStrip(), editor.blueStrip()})
        strip->pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    editor.redStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 0), QPointF(101, 0), QPointF(150, 0)}));
    const QRgb backdrop = editor.alphaStrip()->sampleColor(50);

    // All white now, but the update is dropped: no signal, backdrop unchanged.
    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);
    editor.pointsUpdated();
    QCOMPARE(spy.count(), 0);
    QCOMPARE(editor.alphaStrip()->sampleColor(50), backdrop);
    QVERIFY(qGreen(backdrop) < 200);

    // On demand the stops up to the alpha strip's width are kept.
    const QGradientStops stops = editor.gradientStops();
    QCOMPARE(stops.size(), 2);
    QCOMPARE(stops.at(0).first, 0.0);
    QCOMPARE(stops.at(1).first, 1.0);

    // Points at 0 and 150 only: one stop.
    editor.redStrip()->pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0), QPointF(150, 0)}));
    editor.alphaStrip()->pointEditor()->setControlPoints(QPolygonF({QPointF(0, 0)}));
    QCOMPARE(editor.gradientStops().size(), 1);
    editor.pointsUpdated();
    QCOMPARE(spy.count(), 0);
}

void TestGradientEditor::gradientStopsSharesOneContainer()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    editor.setGradientStops(defaultStops);
    const QGradientStops &first = editor.gradientStops();
    QCOMPARE(first.size(), 2);

    editor.redStrip()->pointEditor()->setControlPoints(
        QPolygonF({QPointF(0, 40), QPointF(30, 0), QPointF(150, 0)}));
    const QGradientStops &second = editor.gradientStops();
    QCOMPARE(&second, &first);
    QCOMPARE(first.size(), 3);
}

void TestGradientEditor::zeroWidthStrips()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    editor.setGradientStops(defaultStops);
    for (ShadeWidget *strip : stripsOf(editor))
        strip->resize(0, 40);
    editor.setGradientStops(defaultStops);

    const QGradientStops stops = editor.gradientStops();
    QCOMPARE(stops.size(), 1);
    QCOMPARE(stops.at(0).first, 0.0);

    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);
    editor.pointsUpdated();
    QCOMPARE(spy.count(), 1);
    for (const QGradientStop &stop : spy.first().at(0).value<QGradientStops>())
        QVERIFY(std::isfinite(stop.first));
}

void TestGradientEditor::dragEmitsStops()
{
    GradientEditor editor;
    editor.show();
    QVERIFY(QTest::qWaitForWindowExposed(&editor));
    editor.setGradientStops(defaultStops);
    ShadeWidget *green = editor.greenStrip();
    QCOMPARE(green->width(), editor.alphaStrip()->width());
    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);

    // Press on the right end point (right edge, top row) and drag it down.
    const QPoint end(green->width() - 2, 1);
    QTest::mousePress(green, Qt::LeftButton, {}, end);
    QCOMPARE(spy.count(), 0);
    QTest::mouseMove(green, QPoint(end.x(), green->height()));
    QTest::mouseRelease(green, Qt::LeftButton, {}, QPoint(end.x(), green->height()));
    QCOMPARE(spy.count(), 1);

    const QGradientStops stops = spy.first().at(0).value<QGradientStops>();
    QCOMPARE(stops, editor.gradientStops());
    QCOMPARE(stops.last().first, 1.0);
    QVERIFY(qGreen(stops.last().second.rgba()) <= 10);
    QVERIFY(qRed(stops.last().second.rgba()) >= 245);
}

void TestGradientEditor::transferFunctionToStripsAndBack()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    TransferFunction function;
    function.channels[RedChannel] = {QPolygonF({QPointF(0, 1.0 / 3), QPointF(1, 0.1)}),
                                     {HoverPoints::LockLeftEdge, HoverPoints::LockRightEdge}};
    function.channels[GreenChannel] = {
        QPolygonF({QPointF(0, 0), QPointF(0.123, 0.77), QPointF(0.5, 1), QPointF(1, 0)}),
        {1, 0, 4, 2}};
    function.channels[AlphaChannel] = {QPolygonF({QPointF(0.5, 0.5)}), {0}};
    QSignalSpy spy(&editor, &GradientEditor::gradientStopsChanged);
    editor.setTransferFunction(function);
    QCOMPARE(spy.count(), 0);

    // Each strip holds its own points, unmixed with the other strips'.
    QCOMPARE(editor.redStrip()->pointEditor()->controlPoints(),
             QPolygonF({QPointF(0, 40 - 40.0 / 3), QPointF(150, 36)}));
    QCOMPARE(editor.greenStrip()->pointEditor()->lockFlags(2), uint(HoverPoints::LockTopEdge));
    const TransferFunction back = editor.transferFunction();
    for (int c = 0; c < 4; ++c) {
        const ChannelPoints &got = back.channels[c];
        const ChannelPoints &want = function.channels[c];
        QCOMPARE(got.locks, want.locks);
        QCOMPARE(got.points.size(), want.points.size());
        for (int i = 0; i < want.points.size(); ++i) {
            QVERIFY(std::abs(got.points[i].x() - want.points[i].x()) < 1e-12);
            QVERIFY(std::abs(got.points[i].y() - want.points[i].y()) < 1e-12);
        }
    }
}

void TestGradientEditor::histogramLeavesSamplesAlone()
{
    LaidOutEditor laidOut;
    GradientEditor &editor = laidOut.editor;
    editor.setGradientStops(defaultStops);
    ShadeWidget *red = editor.redStrip();
    QList<QRgb> before;
    for (int x = 0; x <= red->width(); ++x)
        before << red->sampleColor(x);
    const QImage plain = red->grab().toImage();

    // Values in the lowest tenth only: bars over the first 15 columns.
    std::vector<float> values(1000);
    for (std::size_t i = 0; i < values.size(); ++i)
        values[i] = float(i) / 10000.0f;
    editor.setHistogram(Histogram::of(values.data(), values.size()));
    QVERIFY(!editor.alphaStrip()->histogram().isEmpty());
    QList<QRgb> after;
    for (int x = 0; x <= red->width(); ++x)
        after << red->sampleColor(x);
    QCOMPARE(after, before);

    // Drawn at the bottom of the data's columns only (clear of the markers).
    const QImage drawn = red->grab().toImage();
    QVERIFY(qGray(drawn.pixel(8, 30)) > qGray(plain.pixel(8, 30)));
    QCOMPARE(drawn.pixel(75, 30), plain.pixel(75, 30));
}

QTEST_MAIN(TestGradientEditor)
#include "tst_gradienteditor.moc"
