#include "hoverpoints.h"

#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QPointingDevice>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QSignalSpy>
#include <QTest>
#include <QWidget>

namespace {

// A black widget that accepts every mouse event it is given, so a test sees
// which events the point editor lets through.
class Canvas : public QWidget
{
public:
    int paints = 0;
    int presses = 0;
    int moves = 0;

protected:
    void paintEvent(QPaintEvent *) override
    {
        ++paints;
        QPainter(this).fillRect(rect(), Qt::black);
    }
    void mousePressEvent(QMouseEvent *event) override
    {
        ++presses;
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent *event) override
    {
        ++moves;
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent *event) override { event->accept(); }
};

QPolygonF lastPoints(const QSignalSpy &spy)
{
    return spy.last().at(0).value<QPolygonF>();
}

} // namespace

class TestHoverPoints : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void construction();
    void pressOnMarkerSelectsWithoutMoving();
    void hitTest_data();
    void hitTest();
    void insertionRightOfAllFollowsResort();
    void unsortedInsertionShiftsLockWords();
    void lockWordsStayWithIndicesWhenDragging();
    void dragToLockedEdgeKeepsFollowing();
    void rightPress();
    void addRemoveDisallowedPassesPresses();
    void removalDuringDragEndsDrag();
    void setControlPointsReplacesAndEndsDrag();
    void setLockFlagsIgnoresMissingIndex();
    void resizeScalesPoints();
    void resizeFromZeroSizeDoesNothing();
    void squeezedToZeroAndBackKeepsPoints();
    void paintsOverlayAfterWidget();
    void disablingRepaintsAndLetsEventsThrough();
    void touchDrivesNearestPoints();
    void touchFarFromPointsIsLeftToWidget();
    void fingerKeepsItsPointPastNeighbour();

private:
    QPointingDevice *touchScreen = nullptr;
};

void TestHoverPoints::init()
{
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TestHoverPoints::construction()
{
    Canvas canvas;
    canvas.resize(100, 30);
    auto *points = new HoverPoints(&canvas, HoverPoints::EllipseMarker);
    QCOMPARE(points->parent(), &canvas);
    QVERIFY(canvas.testAttribute(Qt::WA_AcceptTouchEvents));
    QVERIFY(points->controlPoints().isEmpty());
    QVERIFY(points->isEnabled());
    QCOMPARE(points->activePointIndex(), -1);
    QCOMPARE(points->effectiveLimits(), QRectF(0, 0, 100, 30));

    points->setLimitRect(QRectF(5, 5, 0, 10));
    QCOMPARE(points->effectiveLimits(), QRectF(0, 0, 100, 30));
    points->setLimitRect(QRectF(5, 5, 20, 10));
    QCOMPARE(points->effectiveLimits(), QRectF(5, 5, 20, 10));

    // The editor dies with its widget.
    auto *other = new Canvas;
    QSignalSpy destroyed(new HoverPoints(other, HoverPoints::RectMarker), &QObject::destroyed);
    delete other;
    QCOMPARE(destroyed.count(), 1);
}

void TestHoverPoints::pressOnMarkerSelectsWithoutMoving()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(20, 15), QPointF(80, 15)}));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(23, 17));
    QCOMPARE(spy.count(), 0);
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(20, 15), QPointF(80, 15)}));
    QCOMPARE(points.activePointIndex(), 0);
    QCOMPARE(canvas.presses, 0); // consumed

    QTest::mouseMove(&canvas, QPoint(40, 10));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(40, 10), QPointF(80, 15)}));
    QCOMPARE(canvas.moves, 1); // the widget still sees the move

    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(40, 10));
    QCOMPARE(points.activePointIndex(), -1);
    // A hand that trembles while it clicks (or double-clicks) off a point's
    // centre leaves the point where it is.
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(78, 17));
    QTest::mouseMove(&canvas, QPoint(79, 16));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(79, 16));
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(40, 10), QPointF(80, 15)}));
    QTest::mousePress(&canvas, Qt::RightButton, {}, QPoint(60, 25));
    QTest::mouseMove(&canvas, QPoint(50, 5));
    QTest::mouseRelease(&canvas, Qt::RightButton, {}, QPoint(50, 5));
    QCOMPARE(spy.count(), 1);
}

void TestHoverPoints::hitTest_data()
{
    QTest::addColumn<int>("shape");
    QTest::addColumn<QPoint>("offset");
    QTest::addColumn<bool>("hit");

    QTest::newRow("ellipse, inside radius")
        << int(HoverPoints::EllipseMarker) << QPoint(5, 0) << true;
    QTest::newRow("ellipse, corner of its box")
        << int(HoverPoints::EllipseMarker) << QPoint(5, 5) << false;
    QTest::newRow("ellipse, outside radius")
        << int(HoverPoints::EllipseMarker) << QPoint(0, 6) << false;
    QTest::newRow("rect, corner") << int(HoverPoints::RectMarker) << QPoint(5, 5) << true;
    QTest::newRow("rect, outside") << int(HoverPoints::RectMarker) << QPoint(6, 0) << false;
}

void TestHoverPoints::hitTest()
{
    QFETCH(int, shape);
    QFETCH(QPoint, offset);
    QFETCH(bool, hit);

    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::MarkerShape(shape));
    points.setControlPoints(QPolygonF({QPointF(50, 15)}));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(50, 15) + offset);
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(50, 15) + offset);
    // A miss adds a point (and emits), a hit only selects.
    QCOMPARE(points.controlPoints().size(), hit ? 1 : 2);
    QCOMPARE(spy.count(), hit ? 0 : 1);
}

void TestHoverPoints::insertionRightOfAllFollowsResort()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(10, 15), QPointF(50, 15)}));
    points.setLockFlags(0, HoverPoints::LockLeftEdge);
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    // Inserted at index 0, then sorted to the end; the drag follows it.
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(90, 5));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(10, 15), QPointF(50, 15), QPointF(90, 5)}));
    QCOMPARE(points.activePointIndex(), 2);
    // The new lock word went in at index 0 and the sort moved only points.
    QCOMPARE(points.lockFlags(0), 0u);
    QCOMPARE(points.lockFlags(1), uint(HoverPoints::LockLeftEdge));
    QCOMPARE(points.lockFlags(2), 0u);

    QTest::mouseMove(&canvas, QPoint(95, 20));
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(10, 15), QPointF(50, 15), QPointF(95, 20)}));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(95, 20));
}

void TestHoverPoints::unsortedInsertionShiftsLockWords()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::RectMarker);
    points.setControlPoints(QPolygonF({QPointF(10, 15), QPointF(50, 15)}));
    points.setLockFlags(1, HoverPoints::LockRightEdge);

    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(70, 5));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(70, 5));
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(70, 5), QPointF(10, 15), QPointF(50, 15)}));
    QCOMPARE(points.lockFlags(0), 0u);
    QCOMPARE(points.lockFlags(2), uint(HoverPoints::LockRightEdge));
}

void TestHoverPoints::lockWordsStayWithIndicesWhenDragging()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(10, 15), QPointF(50, 15)}));
    points.setLockFlags(0, HoverPoints::LockTopEdge);
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(50, 15));
    QTest::mouseMove(&canvas, QPoint(5, 20)); // past the neighbour: indices swap
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(5, 20), QPointF(10, 15)}));
    QCOMPARE(points.activePointIndex(), 0);
    // Now at index 0, the dragged point obeys index 0's top lock.
    QTest::mouseMove(&canvas, QPoint(7, 25));
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(7, 0), QPointF(10, 15)}));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(7, 25));
}

void TestHoverPoints::dragToLockedEdgeKeepsFollowing()
{
    // A strip with many points: the dragged one reaches the left edge, where
    // the locked end point sits, and must come away from it again.
    Canvas canvas;
    canvas.resize(400, 40);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    QPolygonF initial;
    for (int i = 0; i < 24; ++i)
        initial.append(QPointF(i * 400.0 / 23, i % 2 ? 10 : 30));
    points.setControlPoints(initial);
    points.setLockFlags(0, HoverPoints::LockLeftEdge);
    points.setLockFlags(23, HoverPoints::LockRightEdge);

    for (int target : {5, 12, 20}) {
        const QPoint start = points.controlPoints().at(target).toPoint();
        QTest::mousePress(&canvas, Qt::LeftButton, {}, start);
        QTest::mouseMove(&canvas, QPoint(-20, 20));
        QTest::mouseMove(&canvas, QPoint(-5, 25));
        QTest::mouseMove(&canvas, QPoint(start.x(), 20));
        QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(start.x(), 20));
        const QPolygonF now = points.controlPoints();
        QCOMPARE(now.first(), QPointF(0, 30));
        QVERIFY2(now.contains(QPointF(start.x(), 20)), qPrintable(QString::number(target)));
    }
}

void TestHoverPoints::rightPress()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    const QPolygonF initial({QPointF(0, 30), QPointF(50, 15), QPointF(100, 0)});
    points.setControlPoints(initial);
    points.setLockFlags(0, HoverPoints::LockLeftEdge);
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    // Locked: kept, but consumed and still announced.
    QTest::mousePress(&canvas, Qt::RightButton, {}, QPoint(1, 29));
    QTest::mouseRelease(&canvas, Qt::RightButton, {}, QPoint(1, 29));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastPoints(spy), initial);
    QCOMPARE(canvas.presses, 0);

    QTest::mousePress(&canvas, Qt::RightButton, {}, QPoint(50, 15));
    QTest::mouseRelease(&canvas, Qt::RightButton, {}, QPoint(50, 15));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(0, 30), QPointF(100, 0)}));
    QCOMPARE(points.lockFlags(0), uint(HoverPoints::LockLeftEdge));

    // Right press on empty space goes to the widget.
    QTest::mousePress(&canvas, Qt::RightButton, {}, QPoint(50, 15));
    QTest::mouseRelease(&canvas, Qt::RightButton, {}, QPoint(50, 15));
    QCOMPARE(spy.count(), 2);
    QCOMPARE(canvas.presses, 1);
}

void TestHoverPoints::addRemoveDisallowedPassesPresses()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setAddRemoveAllowed(false);
    points.setControlPoints(QPolygonF({QPointF(50, 15)}));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseClick(&canvas, Qt::RightButton, {}, QPoint(50, 15));
    QCOMPARE(canvas.presses, 2);
    QCOMPARE(spy.count(), 0);
    QCOMPARE(points.controlPoints().size(), 1);

    // Selecting and dragging still works.
    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(50, 15));
    QTest::mouseMove(&canvas, QPoint(60, 5));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(60, 5));
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(60, 5)}));
}

void TestHoverPoints::removalDuringDragEndsDrag()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(20, 15), QPointF(80, 15)}));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(80, 15));
    QTest::mousePress(&canvas, Qt::RightButton, {}, QPoint(20, 15));
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(80, 15)}));
    QCOMPARE(points.activePointIndex(), -1);
    // Without the drag, moves change nothing (index 1 is gone).
    QTest::mouseMove(&canvas, QPoint(40, 5));
    QTest::mouseRelease(&canvas, Qt::RightButton, {}, QPoint(40, 5));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(40, 5));
    QCOMPARE(spy.count(), 1);
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(80, 15)}));
}

void TestHoverPoints::setControlPointsReplacesAndEndsDrag()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setControlPoints(QPolygonF({QPointF(20, 15), QPointF(80, 15)}));
    points.setLockFlags(1, HoverPoints::LockRightEdge);
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    QTest::mousePress(&canvas, Qt::LeftButton, {}, QPoint(80, 15));
    QCOMPARE(points.activePointIndex(), 1);
    points.setControlPoints(QPolygonF({QPointF(-5, 50), QPointF(120, 10), QPointF(30, 3)}));
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(0, 30), QPointF(100, 10), QPointF(30, 3)}));
    QCOMPARE(points.activePointIndex(), -1);
    QCOMPARE(points.lockFlags(1), 0u);

    QTest::mouseMove(&canvas, QPoint(40, 5));
    QTest::mouseRelease(&canvas, Qt::LeftButton, {}, QPoint(40, 5));
    QCOMPARE(spy.count(), 0);
}

void TestHoverPoints::setLockFlagsIgnoresMissingIndex()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setLockFlags(0, HoverPoints::LockLeftEdge);
    points.setControlPoints(QPolygonF({QPointF(20, 15)}));
    points.setLockFlags(1, HoverPoints::LockLeftEdge);
    points.setLockFlags(-1, HoverPoints::LockLeftEdge);
    QCOMPARE(points.lockFlags(0), 0u);
}

void TestHoverPoints::resizeScalesPoints()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(0, 30), QPointF(40, 7.5), QPointF(100, 0)}));
    points.setLockFlags(2, HoverPoints::LockRightEdge);
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    // The first show reports no old size: the points stay as they are.
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QCOMPARE(spy.count(), 0);

    canvas.resize(200, 60);
    QCOMPARE(spy.count(), 1);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(0, 60), QPointF(80, 15), QPointF(200, 0)}));

    canvas.resize(50, 60);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(0, 60), QPointF(20, 15), QPointF(50, 0)}));
}

void TestHoverPoints::resizeFromZeroSizeDoesNothing()
{
    Canvas canvas;
    canvas.resize(200, 60);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    const QPolygonF initial({QPointF(10, 30), QPointF(100, 0)});
    points.setControlPoints(initial);
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    for (const QSize &oldSize : {QSize(0, 30), QSize(100, 0), QSize(0, 0)}) {
        QResizeEvent resize(QSize(200, 60), oldSize);
        QCoreApplication::sendEvent(&canvas, &resize);
    }
    QCOMPARE(spy.count(), 0);
    QCOMPARE(points.controlPoints(), initial);

    // Shrinking to nothing is fine too: everything lands on the origin.
    canvas.resize(0, 0);
    QResizeEvent collapse(QSize(0, 0), QSize(200, 60));
    QCoreApplication::sendEvent(&canvas, &collapse);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(0, 0), QPointF(0, 0)}));
}

void TestHoverPoints::squeezedToZeroAndBackKeepsPoints()
{
    Canvas canvas;
    canvas.resize(200, 60);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    const QPolygonF initial({QPointF(0, 60), QPointF(50, 20), QPointF(200, 0)});
    points.setControlPoints(initial);
    points.setLockFlags(0, HoverPoints::LockLeftEdge);
    points.setLockFlags(2, HoverPoints::LockRightEdge);
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    // Squeezed away (a splitter pulled shut), then given twice the room.
    canvas.resize(0, 60);
    canvas.resize(0, 0);
    QCOMPARE(lastPoints(spy).at(1).x(), 0.0);
    canvas.resize(400, 120);
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(0, 120), QPointF(100, 40), QPointF(400, 0)}));

    // Points set while squeezed replace the remembered ones; a resize from
    // no size then has nothing to scale from.
    canvas.resize(0, 0);
    points.setControlPoints(QPolygonF({QPointF(0, 0)}));
    const int emitted = spy.count();
    canvas.resize(400, 120);
    QCOMPARE(spy.count(), emitted);
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(0, 0)}));
}

void TestHoverPoints::paintsOverlayAfterWidget()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setLinkStyle(HoverPoints::StraightLink);
    points.setControlPoints(QPolygonF({QPointF(20, 15), QPointF(80, 15)}));

    const QImage image = canvas.grab().toImage();
    QCOMPARE(canvas.paints, 1);               // the forwarded paint is not filtered again
    QVERIFY(qGray(image.pixel(20, 11)) > 50); // marker over the black widget
    QVERIFY(qGray(image.pixel(50, 15)) > 50); // link
    QCOMPARE(image.pixel(50, 5), qRgb(0, 0, 0));

    points.setLinkStyle(HoverPoints::NoLink);
    QCOMPARE(canvas.grab().toImage().pixel(50, 15), qRgb(0, 0, 0));
}

void TestHoverPoints::disablingRepaintsAndLetsEventsThrough()
{
    Canvas canvas;
    canvas.resize(100, 30);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setControlPoints(QPolygonF({QPointF(20, 15)}));
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QTRY_VERIFY(canvas.paints > 0);
    QTest::qWait(20);

    int paints = canvas.paints;
    points.setDisabled(true);
    QTRY_VERIFY(canvas.paints > paints);
    QVERIFY(!points.isEnabled());
    QCOMPARE(canvas.grab().toImage().pixel(20, 15), qRgb(0, 0, 0));

    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(20, 15));
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(60, 15));
    QCOMPARE(canvas.presses, 2);
    QCOMPARE(points.controlPoints(), QPolygonF({QPointF(20, 15)}));

    QTest::qWait(20);
    paints = canvas.paints;
    points.setDisabled(true);
    QTest::qWait(50);
    QCOMPARE(canvas.paints, paints);

    points.setEnabled(true);
    QTRY_VERIFY(canvas.paints > paints);
    QVERIFY(qGray(canvas.grab().toImage().pixel(20, 15)) > 50);
}

void TestHoverPoints::touchDrivesNearestPoints()
{
    if (!touchScreen)
        touchScreen = QTest::createTouchDevice();
    Canvas canvas;
    canvas.resize(400, 100);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(20, 50), QPointF(200, 50), QPointF(380, 50)}));
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    auto touch = QTest::touchEvent(&canvas, touchScreen, false);
    touch.press(0, QPoint(60, 50)).commit();
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(60, 50), QPointF(200, 50), QPointF(380, 50)}));

    touch.stationary(0).press(1, QPoint(340, 40)).commit();
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(60, 50), QPointF(200, 50), QPointF(340, 40)}));

    // While fingers drive points the mouse has no effect.
    const int emitted = spy.count();
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(120, 20));
    QCOMPARE(spy.count(), emitted);
    QCOMPARE(canvas.presses, 0);

    touch.move(0, QPoint(70, 40)).stationary(1).commit();
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(70, 40), QPointF(200, 50), QPointF(340, 40)}));
    touch.release(0, QPoint(75, 45)).stationary(1).commit();
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(75, 45), QPointF(200, 50), QPointF(340, 40)}));
    touch.release(1, QPoint(330, 45)).commit();
    QCOMPARE(lastPoints(spy), QPolygonF({QPointF(75, 45), QPointF(200, 50), QPointF(330, 45)}));

    // All fingers up: the mouse works again.
    QTest::mouseClick(&canvas, Qt::LeftButton, {}, QPoint(120, 20));
    QCOMPARE(points.controlPoints().size(), 4);
}

void TestHoverPoints::touchFarFromPointsIsLeftToWidget()
{
    if (!touchScreen)
        touchScreen = QTest::createTouchDevice();
    Canvas canvas;
    canvas.resize(1000, 100);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(0, 50), QPointF(500, 50), QPointF(1000, 50)}));
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));
    QSignalSpy spy(&points, &HoverPoints::pointsChanged);

    // 250 px from the nearest point: no finger assignment, so the touch is
    // ignored and Qt's mouse emulation adds and drags a point instead.
    auto touch = QTest::touchEvent(&canvas, touchScreen, false);
    touch.press(0, QPoint(250, 50)).commit();
    QCOMPARE(points.controlPoints(),
             QPolygonF({QPointF(0, 50), QPointF(250, 50), QPointF(500, 50), QPointF(1000, 50)}));
    touch.release(0, QPoint(260, 50)).commit();
    QCOMPARE(points.controlPoints(),
             QPolygonF({QPointF(0, 50), QPointF(260, 50), QPointF(500, 50), QPointF(1000, 50)}));
    QCOMPARE(points.activePointIndex(), -1);
}

void TestHoverPoints::fingerKeepsItsPointPastNeighbour()
{
    if (!touchScreen)
        touchScreen = QTest::createTouchDevice();
    Canvas canvas;
    canvas.resize(400, 100);
    HoverPoints points(&canvas, HoverPoints::EllipseMarker);
    points.setSortOrder(HoverPoints::SortByX);
    points.setControlPoints(QPolygonF({QPointF(20, 50), QPointF(150, 50), QPointF(380, 50)}));
    canvas.show();
    QVERIFY(QTest::qWaitForWindowExposed(&canvas));

    auto touch = QTest::touchEvent(&canvas, touchScreen, false);
    touch.press(0, QPoint(25, 50)).commit();
    touch.move(0, QPoint(200, 40)).commit(); // past the middle point: indices swap
    QCOMPARE(points.controlPoints(),
             QPolygonF({QPointF(150, 50), QPointF(200, 40), QPointF(380, 50)}));
    touch.move(0, QPoint(250, 30)).commit();
    touch.release(0, QPoint(260, 30)).commit();
    QCOMPARE(points.controlPoints(),
             QPolygonF({QPointF(150, 50), QPointF(260, 30), QPointF(380, 50)}));
}

QTEST_MAIN(TestHoverPoints)
#include "tst_hoverpoints.moc"
