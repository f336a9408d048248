#include "controlpoints.h"

#include <QColor>
#include <QPoint>
#include <QRectF>
#include <QSize>
#include <QSizeF>
#include <QTest>

#include <cmath>

using namespace ControlPoints;

Q_DECLARE_METATYPE(std::optional<QPointF>)

class TestControlPoints : public QObject
{
    Q_OBJECT

private slots:
    void clamp_data();
    void clamp();
    void insertion_data();
    void insertion();
    void resortFollowsActivePoint();
    void resortOfEqualPointsPicksFirst();
    void resortWithoutSortOrderOrActive();
    void resortIsStableAndReportsNewIndices();
    void touch_data();
    void touch();
    void scalingFromNoSize_data();
    void scalingFromNoSize();
    void scalingToZeroSize();
    void columnSample_data();
    void columnSample();
    void pixel_data();
    void pixel();
    void mergedColumns_data();
    void mergedColumns();
    void stopsBeyondWidth();
    void stopsOfZeroWidthStrip();
    void stopColourTakesOneByteOfEachStrip();
    void defaultStopsToPoints();
};

void TestControlPoints::clamp_data()
{
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<uint>("locks");
    QTest::addColumn<QPointF>("expected");

    // Limits (10, 20) .. (110, 70).
    QTest::newRow("inside") << QPointF(50, 40) << 0u << QPointF(50, 40);
    QTest::newRow("edges included") << QPointF(110, 70) << 0u << QPointF(110, 70);
    QTest::newRow("top-left edges") << QPointF(10, 20) << 0u << QPointF(10, 20);
    QTest::newRow("left of") << QPointF(-5, 40) << 0u << QPointF(10, 40);
    QTest::newRow("right of, below") << QPointF(500, 71) << 0u << QPointF(110, 70);
    QTest::newRow("above") << QPointF(50, 0) << 0u << QPointF(50, 20);
    QTest::newRow("left lock") << QPointF(80, 40) << uint(LockLeftEdge) << QPointF(10, 40);
    QTest::newRow("left lock, y still clamped")
        << QPointF(80, 100) << uint(LockLeftEdge) << QPointF(10, 70);
    QTest::newRow("right lock") << QPointF(80, 40) << uint(LockRightEdge) << QPointF(110, 40);
    QTest::newRow("right lock past left edge")
        << QPointF(-30, 40) << uint(LockRightEdge) << QPointF(110, 40);
    QTest::newRow("bottom lock above top")
        << QPointF(50, -30) << uint(LockBottomEdge) << QPointF(50, 70);
    QTest::newRow("left wins over right")
        << QPointF(200, 40) << uint(LockLeftEdge | LockRightEdge) << QPointF(10, 40);
    QTest::newRow("top wins over bottom")
        << QPointF(50, 40) << uint(LockTopEdge | LockBottomEdge) << QPointF(50, 20);
    QTest::newRow("all four") << QPointF(50, 40) << 15u << QPointF(10, 20);
}

void TestControlPoints::clamp()
{
    QFETCH(QPointF, point);
    QFETCH(uint, locks);
    QFETCH(QPointF, expected);
    QCOMPARE(clampToLimits(point, QRectF(10, 20, 100, 50), locks), expected);
}

void TestControlPoints::insertion_data()
{
    QTest::addColumn<int>("order");
    QTest::addColumn<QPointF>("pos");
    QTest::addColumn<int>("expected");

    // Points (0, 10), (50, 20), (100, 40): ascending in x and in y.
    QTest::newRow("x between") << int(SortByX) << QPointF(30, 0) << 1;
    QTest::newRow("x left of all") << int(SortByX) << QPointF(-1, 0) << 0;
    QTest::newRow("x right of all goes first") << int(SortByX) << QPointF(120, 0) << 0;
    QTest::newRow("x equal is not greater") << int(SortByX) << QPointF(50, 0) << 2;
    QTest::newRow("y between") << int(SortByY) << QPointF(200, 15) << 1;
    QTest::newRow("y below all goes first") << int(SortByY) << QPointF(0, 45) << 0;
    QTest::newRow("unsorted") << int(Unsorted) << QPointF(70, 30) << 0;
}

void TestControlPoints::insertion()
{
    QFETCH(int, order);
    QFETCH(QPointF, pos);
    QFETCH(int, expected);
    const QPolygonF points({QPointF(0, 10), QPointF(50, 20), QPointF(100, 40)});
    QCOMPARE(insertionIndex(points, pos, SortOrder(order)), expected);
    QCOMPARE(insertionIndex(QPolygonF(), pos, SortOrder(order)), 0);
}

void TestControlPoints::resortFollowsActivePoint()
{
    // A point added right of all others sits at index 0 until the re-sort.
    QPolygonF points({QPointF(120, 5), QPointF(0, 40), QPointF(50, 10), QPointF(100, 20)});
    const int active = sortKeepingActive(points, SortByX, 0);
    QCOMPARE(points,
             QPolygonF({QPointF(0, 40), QPointF(50, 10), QPointF(100, 20), QPointF(120, 5)}));
    QCOMPARE(active, 3);

    QPolygonF byY({QPointF(1, 30), QPointF(2, 10), QPointF(3, 20)});
    QCOMPARE(sortKeepingActive(byY, SortByY, 0), 2);
    QCOMPARE(byY, QPolygonF({QPointF(2, 10), QPointF(3, 20), QPointF(1, 30)}));
}

void TestControlPoints::resortOfEqualPointsPicksFirst()
{
    QPolygonF points({QPointF(80, 5), QPointF(30, 7), QPointF(30, 7), QPointF(10, 1)});
    QCOMPARE(sortKeepingActive(points, SortByX, 2), 1);
}

void TestControlPoints::resortWithoutSortOrderOrActive()
{
    const QPolygonF original({QPointF(80, 5), QPointF(30, 7)});
    QPolygonF points = original;
    QCOMPARE(sortKeepingActive(points, Unsorted, 0), 0);
    QCOMPARE(points, original);

    QCOMPARE(sortKeepingActive(points, SortByX, -1), -1);
    QCOMPARE(points, QPolygonF({QPointF(30, 7), QPointF(80, 5)}));
}

void TestControlPoints::resortIsStableAndReportsNewIndices()
{
    // More points than an insertion sort handles, many sharing one x: their
    // order (and with it which of them holds an index's lock) must not change.
    QPolygonF points;
    for (int i = 0; i < 40; ++i)
        points.append(QPointF(i % 3 == 0 ? 0.0 : 100.0 - i, i));
    const QPolygonF original = points;
    QList<int> newIndices;
    sortKeepingActive(points, SortByX, -1, &newIndices);

    QCOMPARE(newIndices.size(), original.size());
    for (int i = 0; i < original.size(); ++i)
        QCOMPARE(points.at(newIndices.at(i)), original.at(i));
    for (int i = 1; i < points.size(); ++i) {
        QVERIFY(points.at(i - 1).x() <= points.at(i).x());
        if (points.at(i - 1).x() == points.at(i).x())
            QVERIFY(points.at(i - 1).y() < points.at(i).y());
    }
}

void TestControlPoints::touch_data()
{
    QTest::addColumn<QPolygonF>("points");
    QTest::addColumn<QList<int>>("driven");
    QTest::addColumn<QPointF>("pos");
    QTest::addColumn<int>("expected");

    const QPolygonF three({QPointF(0, 0), QPointF(100, 0), QPointF(300, 0)});
    QTest::newRow("nearest") << three << QList<int>() << QPointF(60, 0) << 1;
    QTest::newRow("tie takes lower index") << three << QList<int>() << QPointF(50, 0) << 0;
    QTest::newRow("driven point skipped") << three << QList<int>{1} << QPointF(90, 0) << 0;
    QTest::newRow("radius exclusive") << three << QList<int>() << QPointF(432, 0) << -1;
    QTest::newRow("just inside radius") << three << QList<int>() << QPointF(431.9, 0) << 2;
    QTest::newRow("all driven") << three << QList<int>{0, 1, 2} << QPointF(0, 0) << -1;

    const QPolygonF two({QPointF(0, 0), QPointF(1000, 0)});
    QTest::newRow("two points, first driven") << two << QList<int>{0} << QPointF(0, 0) << 1;
    QTest::newRow("two points, second driven") << two << QList<int>{1} << QPointF(999, 0) << 0;
    QTest::newRow("two points, none driven, far") << two << QList<int>() << QPointF(500, 0) << -1;
    QTest::newRow("two points, both driven") << two << QList<int>{0, 1} << QPointF(0, 0) << -1;
}

void TestControlPoints::touch()
{
    QFETCH(QPolygonF, points);
    QFETCH(QList<int>, driven);
    QFETCH(QPointF, pos);
    QFETCH(int, expected);
    QCOMPARE(touchTarget(points, driven, pos, 132.0), expected);
}

void TestControlPoints::scalingFromNoSize_data()
{
    QTest::addColumn<QSize>("oldSize");
    QTest::newRow("zero width") << QSize(0, 30);
    QTest::newRow("zero height") << QSize(100, 0);
    QTest::newRow("first show") << QSize(-1, -1);
}

void TestControlPoints::scalingFromNoSize()
{
    QFETCH(QSize, oldSize);
    const QPolygonF points({QPointF(0, 30), QPointF(100, 0)});
    QVERIFY(!scaledPoints(points, {}, oldSize, QSize(200, 60), QRectF(0, 0, 200, 60)));
}

void TestControlPoints::scalingToZeroSize()
{
    const QPolygonF points({QPointF(10, 30), QPointF(100, 0)});
    const auto scaled =
        scaledPoints(points, {0, LockRightEdge}, QSize(100, 30), QSize(0, 0), QRectF(0, 0, 0, 0));
    QVERIFY(scaled);
    QCOMPARE(*scaled, QPolygonF({QPointF(0, 0), QPointF(0, 0)}));
}

void TestControlPoints::columnSample_data()
{
    QTest::addColumn<QPolygonF>("points");
    QTest::addColumn<int>("x");
    QTest::addColumn<std::optional<QPointF>>("expected");

    const QPolygonF ramp({QPointF(0, 40), QPointF(100, 0), QPointF(150, 20)});
    QTest::newRow("first column") << ramp << 0 << std::optional(QPointF(0, 40));
    QTest::newRow("interpolated") << ramp << 25 << std::optional(QPointF(25, 30));
    QTest::newRow("shared point uses first segment")
        << ramp << 100 << std::optional(QPointF(100, 0));
    QTest::newRow("second segment") << ramp << 125 << std::optional(QPointF(125, 10));
    QTest::newRow("last column") << ramp << 150 << std::optional(QPointF(150, 20));
    QTest::newRow("right of last") << ramp << 151 << std::optional<QPointF>();
    QTest::newRow("left of first")
        << QPolygonF({QPointF(10, 0), QPointF(20, 0)}) << 9 << std::optional<QPointF>();
    QTest::newRow("one point") << QPolygonF({QPointF(0, 0)}) << 0 << std::optional<QPointF>();
    QTest::newRow("vertical first segment")
        << QPolygonF({QPointF(0, 40), QPointF(0, 10), QPointF(100, 0)}) << 0
        << std::optional(QPointF(0, 10));
    QTest::newRow("null segment") << QPolygonF({QPointF(30, 5), QPointF(30, 5)}) << 30
                                  << std::optional(QPointF(30, 5));
}

void TestControlPoints::columnSample()
{
    QFETCH(QPolygonF, points);
    QFETCH(int, x);
    QFETCH(std::optional<QPointF>, expected);
    const std::optional<QPointF> actual = columnSamplePoint(points, x);
    QCOMPARE(actual.has_value(), expected.has_value());
    if (expected) {
        QVERIFY(std::isfinite(actual->x()) && std::isfinite(actual->y()));
        QCOMPARE(*actual, *expected);
    }
}

void TestControlPoints::pixel_data()
{
    QTest::addColumn<QPointF>("point");
    QTest::addColumn<QSize>("imageSize");
    QTest::addColumn<QPoint>("expected");

    QTest::newRow("inside") << QPointF(10, 20) << QSize(150, 40) << QPoint(10, 20);
    QTest::newRow("half rounds up") << QPointF(10.5, 20.49) << QSize(150, 40) << QPoint(11, 20);
    QTest::newRow("right and bottom edge") << QPointF(150, 40) << QSize(150, 40) << QPoint(149, 39);
    QTest::newRow("just left of the clamp")
        << QPointF(148.6, 38.4) << QSize(150, 40) << QPoint(149, 38);
    QTest::newRow("empty image") << QPointF(10, 20) << QSize(0, 0) << QPoint(0, 0);
}

void TestControlPoints::pixel()
{
    QFETCH(QPointF, point);
    QFETCH(QSize, imageSize);
    QFETCH(QPoint, expected);
    QCOMPARE(samplePixel(point, imageSize), expected);
}

void TestControlPoints::mergedColumns_data()
{
    QTest::addColumn<QPolygonF>("points");
    QTest::addColumn<QList<int>>("expected");

    QTest::newRow("same integral x")
        << QPolygonF({QPointF(10, 0), QPointF(10, 40), QPointF(10, 5)}) << QList<int>{10};
    QTest::newRow("same fractional x")
        << QPolygonF({QPointF(10.5, 0), QPointF(10.5, 40)}) << QList<int>{10, 10};
    QTest::newRow("same column, different x")
        << QPolygonF({QPointF(10.7, 0), QPointF(10.2, 40)}) << QList<int>{10, 10};
    QTest::newRow("integral then fractional")
        << QPolygonF({QPointF(10, 0), QPointF(10.5, 40)}) << QList<int>{10, 10};
    QTest::newRow("sorted by x") << QPolygonF({QPointF(150, 0), QPointF(0, 40), QPointF(0, 0),
                                               QPointF(150, 40), QPointF(70.9, 1)})
                                 << QList<int>{0, 70, 150};
    QTest::newRow("empty") << QPolygonF() << QList<int>();
}

void TestControlPoints::mergedColumns()
{
    QFETCH(QPolygonF, points);
    QFETCH(QList<int>, expected);
    QCOMPARE(mergedSampleColumns(points), expected);
}

void TestControlPoints::stopsBeyondWidth()
{
    QList<int> sampled;
    const auto colourAt = [&](int column) {
        sampled.append(column);
        return QColor(column, 0, 0);
    };
    const StopList stops = stopsFromColumns({0, 50, 100, 150, 160}, 100, colourAt);
    QVERIFY(!stops.complete);
    QCOMPARE(stops.stops,
             QGradientStops(
                 {{0.0, QColor(0, 0, 0)}, {0.5, QColor(50, 0, 0)}, {1.0, QColor(100, 0, 0)}}));
    QCOMPARE(sampled, QList<int>({0, 50, 100}));

    // x = w is still inside, w + 1 is not.
    QVERIFY(stopsFromColumns({0, 100}, 100, colourAt).complete);
    QVERIFY(!stopsFromColumns({0, 101}, 100, colourAt).complete);
}

void TestControlPoints::stopsOfZeroWidthStrip()
{
    const auto colourAt = [](int) { return QColor(Qt::white); };
    const StopList edge = stopsFromColumns({0}, 0, colourAt);
    QVERIFY(edge.complete);
    QCOMPARE(edge.stops, QGradientStops({{0.0, QColor(Qt::white)}}));

    const StopList beyond = stopsFromColumns({0, 3}, 0, colourAt);
    QVERIFY(!beyond.complete);
    QCOMPARE(beyond.stops.size(), 1);
    QCOMPARE(beyond.stops.first().first, 0.0);
}

void TestControlPoints::stopColourTakesOneByteOfEachStrip()
{
    const QColor colour = stopColour(0xff112233, 0x80445566, 0x40778899, 0x20aabbcc);
    QCOMPARE(colour.rgba(), 0x20115599u);
}

void TestControlPoints::defaultStopsToPoints()
{
    const QGradientStops stops{{0.0, QColor::fromRgba(0xff000000)},
                               {1.0, QColor::fromRgba(0xffffffff)}};
    const QSizeF size(150, 40);
    for (ShadeChannel channel : {RedChannel, GreenChannel, BlueChannel})
        QCOMPARE(channelPointsFromStops(stops, channel, size),
                 QPolygonF({QPointF(0, 40), QPointF(150, 0)}));
    QCOMPARE(channelPointsFromStops(stops, AlphaChannel, size),
             QPolygonF({QPointF(0, 0), QPointF(150, 0)}));

    const QGradientStops mixed{{0.25, QColor::fromRgba(0x33ff0080)}};
    QCOMPARE(channelPointsFromStops(mixed, RedChannel, QSizeF(100, 51)),
             QPolygonF({QPointF(25, 0)}));
    QCOMPARE(channelPointsFromStops(mixed, GreenChannel, QSizeF(100, 51)),
             QPolygonF({QPointF(25, 51)}));
    QCOMPARE(channelPointsFromStops(mixed, BlueChannel, QSizeF(100, 51)),
             QPolygonF({QPointF(25, 25.4)}));
    QCOMPARE(channelPointsFromStops(mixed, AlphaChannel, QSizeF(100, 51)),
             QPolygonF({QPointF(25, 40.8)}));
}

QTEST_GUILESS_MAIN(TestControlPoints)
#include "tst_controlpoints.moc"
