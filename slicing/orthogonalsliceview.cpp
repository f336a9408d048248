#include "orthogonalsliceview.h"

#include "layerslice.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "volume.h"
#include "volumegrid.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

namespace {

const char *planeName(SlicePlane plane)
{
    switch (plane) {
    case SlicePlane::Axial:
        return "Axial";
    case SlicePlane::Coronal:
        return "Coronal";
    case SlicePlane::Sagittal:
        break;
    }
    return "Sagittal";
}

// Text readable on any grey: light with a dark shadow.
void drawLabel(QPainter &painter, const QRectF &area, int flags, const QString &text)
{
    painter.setPen(QColor(0, 0, 0));
    painter.drawText(area.translated(1, 1), flags, text);
    painter.setPen(QColor(255, 220, 80));
    painter.drawText(area, flags, text);
}

} // namespace

OrthogonalSliceView::OrthogonalSliceView(SlicePlane plane, SliceSession *observed, QWidget *parent)
    : QWidget(parent), slicePlane(plane), session(observed)
{
    // Focus on click, so that the arrow keys move this view's slices and
    // never reach a control that had focus before.
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);
    setMinimumSize(120, 120);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setToolTip(tr("%1 slice: click to set the cursor, wheel or arrow keys to move through slices, "
                  "Ctrl+wheel to zoom, middle drag to pan, right drag for window (horizontal) "
                  "and level (vertical), double click to fit")
                   .arg(planeName(plane)));
    if (session) {
        connect(session, &SliceSession::volumeChanged, this, [this] {
            imageStale = true;
            fit();
        });
        connect(session, &SliceSession::cursorChanged, this, [this] { update(); });
        connect(session, &SliceSession::windowLevelChanged, this, [this] {
            imageStale = true;
            update();
        });
        connect(session, &SliceSession::layersChanged, this, [this] {
            imageStale = true;
            update();
        });
        connect(session, &SliceSession::measurementsChanged, this, [this] { update(); });
    }
}

SliceGeometry OrthogonalSliceView::geometry() const
{
    return session && session->volume() ? SliceGeometry::of(*session->volume(), slicePlane)
                                        : SliceGeometry();
}

int OrthogonalSliceView::slice() const
{
    if (!session || !session->volume())
        return -1;
    return session->cursor()[std::size_t(geometry().normalAxis())];
}

QRectF OrthogonalSliceView::imageRect() const
{
    if (!session || !session->volume())
        return QRectF();
    return view.imageRect(QSizeF(size()), geometry().physicalSize());
}

bool OrthogonalSliceView::voxelAtWidgetPosition(const QPointF &position, VoxelIndex *voxel) const
{
    const QRectF area = imageRect();
    if (area.isEmpty() || !area.contains(position))
        return false;
    const SliceGeometry layout = geometry();
    const QPointF imagePosition((position.x() - area.left()) / area.width() * layout.columns(),
                                (position.y() - area.top()) / area.height() * layout.rows());
    *voxel = layout.voxelAt(imagePosition, slice());
    return true;
}

bool OrthogonalSliceView::worldAtWidgetPosition(const QPointF &position,
                                                std::array<double, 3> *world) const
{
    const QRectF area = imageRect();
    if (!session || !session->volume() || area.isEmpty() || !area.contains(position))
        return false;
    const SliceGeometry layout = geometry();
    // Image positions put pixel i's centre at i + 0.5; indices put voxel
    // centres at whole numbers.
    const double column = (position.x() - area.left()) / area.width() * layout.columns() - 0.5;
    const double row = (position.y() - area.top()) / area.height() * layout.rows() - 0.5;
    std::array<double, 3> index{};
    index[std::size_t(layout.columnAxis())] =
        layout.columnsReversed() ? layout.columns() - 1 - column : column;
    index[std::size_t(layout.rowAxis())] = layout.rowsReversed() ? layout.rows() - 1 - row : row;
    index[std::size_t(layout.normalAxis())] = slice();
    *world = fullResolutionGrid(*session->volume()).worldOf(index);
    return true;
}

bool OrthogonalSliceView::widgetPositionOfWorld(const std::array<double, 3> &world,
                                                QPointF *position) const
{
    const QRectF area = imageRect();
    if (!session || !session->volume() || area.isEmpty())
        return false;
    const std::optional<std::array<double, 3>> index =
        fullResolutionGrid(*session->volume()).indexOf(world);
    const SliceGeometry layout = geometry();
    if (!index || std::abs((*index)[std::size_t(layout.normalAxis())] - slice()) > 0.5)
        return false;
    double column = (*index)[std::size_t(layout.columnAxis())];
    double row = (*index)[std::size_t(layout.rowAxis())];
    if (layout.columnsReversed())
        column = layout.columns() - 1 - column;
    if (layout.rowsReversed())
        row = layout.rows() - 1 - row;
    *position = QPointF(area.left() + (column + 0.5) / layout.columns() * area.width(),
                        area.top() + (row + 0.5) / layout.rows() * area.height());
    return true;
}

void OrthogonalSliceView::setTool(Tool tool)
{
    activeTool = tool;
    pendingPoints.clear();
    setCursor(tool == Tool::Cursor ? Qt::ArrowCursor : Qt::CrossCursor);
    update();
}

void OrthogonalSliceView::showToolMenu(const QPoint &globalPosition)
{
    QMenu menu(this);
    const struct
    {
        const char *text;
        Tool tool;
    } entries[] = {{QT_TR_NOOP("Cursor"), Tool::Cursor},
                   {QT_TR_NOOP("Lineal (M)"), Tool::Ruler},
                   {QT_TR_NOOP("Winkel"), Tool::Angle}};
    for (const auto &entry : entries) {
        QAction *action = menu.addAction(tr(entry.text));
        action->setCheckable(true);
        action->setChecked(activeTool == entry.tool);
        const Tool tool = entry.tool;
        connect(action, &QAction::triggered, this, [this, tool] { setTool(tool); });
    }
    menu.exec(globalPosition);
}

void OrthogonalSliceView::contextMenuEvent(QContextMenuEvent *event)
{
    // A right drag sets the window; the menu comes with a right click only
    // (mouseReleaseEvent), and from the keyboard's menu key.
    if (event->reason() == QContextMenuEvent::Keyboard)
        showToolMenu(event->globalPos());
    event->accept();
}

void OrthogonalSliceView::drawMeasurements(QPainter &painter) const
{
    if (!session)
        return;
    painter.setRenderHint(QPainter::Antialiasing, true);
    for (const Measurement &measurement : session->measurements()) {
        std::vector<QPointF> points;
        for (const std::array<double, 3> &world : measurement.points) {
            QPointF position;
            if (!widgetPositionOfWorld(world, &position))
                break;
            points.push_back(position);
        }
        if (points.size() == measurement.points.size())
            drawMeasurement(painter, measurement, points);
    }
    // The measurement being made, up to the pointer.
    if (!pendingPoints.empty()) {
        Measurement pending;
        pending.kind =
            activeTool == Tool::Angle ? Measurement::Kind::Angle : Measurement::Kind::Distance;
        pending.points = pendingPoints;
        std::vector<QPointF> points;
        for (const std::array<double, 3> &world : pendingPoints) {
            QPointF position;
            if (widgetPositionOfWorld(world, &position))
                points.push_back(position);
        }
        std::array<double, 3> pointer{};
        if (worldAtWidgetPosition(pointerPosition, &pointer)) {
            pending.points.push_back(pointer);
            points.push_back(pointerPosition);
        }
        drawMeasurement(painter, pending, points);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
}

QPointF OrthogonalSliceView::cursorWidgetPosition() const
{
    const QRectF area = imageRect();
    if (area.isEmpty())
        return QPointF();
    const SliceGeometry layout = geometry();
    const QPointF imagePosition = layout.imagePositionOf(session->cursor());
    return QPointF(area.left() + imagePosition.x() / layout.columns() * area.width(),
                   area.top() + imagePosition.y() / layout.rows() * area.height());
}

void OrthogonalSliceView::fit()
{
    view = SliceViewport();
    update();
}

const QImage &OrthogonalSliceView::currentImage()
{
    const int shown = slice();
    if (imageStale || shown != imageSlice) {
        const SliceGeometry layout = geometry();
        image = makePlaneImage(*session->volume(), layout, shown, session->greyMapping());
        blendLayers(image, *session->volume(), layout, shown, session->layers());
        imageSlice = shown;
        imageStale = false;
    }
    return image;
}

void OrthogonalSliceView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    if (!session || !session->volume())
        return;
    const QRectF area = imageRect();
    const QImage &picture = currentImage();
    if (!picture.isNull())
        painter.drawImage(area, picture);

    const QPointF cross = cursorWidgetPosition();
    painter.setPen(QPen(QColor(40, 200, 255, 200), 1));
    painter.drawLine(QPointF(area.left(), cross.y()), QPointF(area.right(), cross.y()));
    painter.drawLine(QPointF(cross.x(), area.top()), QPointF(cross.x(), area.bottom()));

    const SliceGeometry layout = geometry();
    const EdgeLabels labels = layout.edgeLabels();
    const QRectF inner = QRectF(rect()).adjusted(4, 2, -4, -2);
    drawLabel(painter, inner, Qt::AlignLeft | Qt::AlignVCenter, labels.left);
    drawLabel(painter, inner, Qt::AlignRight | Qt::AlignVCenter, labels.right);
    drawLabel(painter, inner, Qt::AlignTop | Qt::AlignHCenter, labels.top);
    drawLabel(painter, inner, Qt::AlignBottom | Qt::AlignHCenter, labels.bottom);
    const int shown = slice();
    drawLabel(painter, inner, Qt::AlignTop | Qt::AlignLeft,
              QString("%1 %2/%3\n%4")
                  .arg(tr(planeName(slicePlane)))
                  .arg(shown)
                  .arg(layout.sliceCount() - 1)
                  .arg(slicePositionText(*session->volume(), layout.normalAxis(), session->cursor(),
                                         shown)));
    drawMeasurements(painter);
}

void OrthogonalSliceView::setCursorAt(const QPointF &position)
{
    const QRectF area = imageRect();
    if (area.isEmpty())
        return;
    // A drag beyond the image keeps the cursor on its edge.
    const QPointF inside(std::clamp(position.x(), area.left(), area.right() - 1e-6),
                         std::clamp(position.y(), area.top(), area.bottom() - 1e-6));
    VoxelIndex voxel{};
    if (voxelAtWidgetPosition(inside, &voxel))
        session->setCursor(voxel);
}

void OrthogonalSliceView::stepSlices(int steps)
{
    if (session && session->volume())
        session->stepCursor(geometry().normalAxis(), steps);
}

void OrthogonalSliceView::mousePressEvent(QMouseEvent *event)
{
    if (!session || !session->volume())
        return;
    dragStart = event->position().toPoint();
    viewAtDragStart = view;
    windowAtDragStart = session->windowLevel();
    switch (event->button()) {
    case Qt::LeftButton: {
        if (activeTool == Tool::Cursor) {
            drag = Drag::Cursor;
            setCursorAt(event->position());
            break;
        }
        std::array<double, 3> world{};
        if (!worldAtWidgetPosition(event->position(), &world))
            break;
        drag = Drag::Measure;
        pointerPosition = event->position();
        if (activeTool == Tool::Ruler)
            pendingPoints = {world};
        else
            pendingPoints.push_back(world);
        update();
        break;
    }
    case Qt::MiddleButton:
        drag = Drag::Pan;
        break;
    case Qt::RightButton:
        drag = Drag::Window;
        break;
    default:
        drag = Drag::None;
        break;
    }
}

void OrthogonalSliceView::mouseMoveEvent(QMouseEvent *event)
{
    if (!session || !session->volume())
        return;
    const QPointF moved = event->position() - QPointF(dragStart);
    switch (drag) {
    case Drag::Cursor:
        setCursorAt(event->position());
        break;
    case Drag::Pan:
        view.pan = viewAtDragStart.pan + moved;
        update();
        break;
    case Drag::Window: {
        // The whole range over about 500 pixels of drag, as in the peers:
        // right widens the window, down raises the level (darker image).
        const Volume::ValueRange &range = session->volume()->valueRange;
        const double perPixel = (range.maximum - range.minimum) / 500.0;
        session->setWindowLevel({windowAtDragStart.window + moved.x() * perPixel,
                                 windowAtDragStart.level + moved.y() * perPixel});
        break;
    }
    case Drag::Measure:
    case Drag::None:
        break;
    }
    if (!pendingPoints.empty()) {
        pointerPosition = event->position();
        update();
    }
    VoxelIndex voxel{};
    if (voxelAtWidgetPosition(event->position(), &voxel))
        emit hovered(voxel);
    else
        emit hoverLeft();
}

void OrthogonalSliceView::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = (event->position().toPoint() - dragStart).manhattanLength() < 3;
    if (drag == Drag::Window && click) {
        drag = Drag::None;
        showToolMenu(event->globalPosition().toPoint());
        return;
    }
    if (drag == Drag::Window)
        update();
    if (drag == Drag::Measure) {
        std::array<double, 3> world{};
        const bool onImage = worldAtWidgetPosition(event->position(), &world);
        if (activeTool == Tool::Ruler && !click && onImage) {
            Measurement distance;
            distance.points = {pendingPoints.front(), world};
            pendingPoints.clear();
            session->addMeasurement(distance);
        } else if (activeTool == Tool::Angle && pendingPoints.size() == 3) {
            Measurement angle;
            angle.kind = Measurement::Kind::Angle;
            angle.points = pendingPoints;
            pendingPoints.clear();
            session->addMeasurement(angle);
        } else if (activeTool == Tool::Ruler) {
            pendingPoints.clear();
        }
        update();
    }
    drag = Drag::None;
}

void OrthogonalSliceView::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        fit();
}

void OrthogonalSliceView::wheelEvent(QWheelEvent *event)
{
    if (!session || !session->volume())
        return;
    wheelRemainder += event->angleDelta().y();
    const int steps = wheelRemainder / 120;
    wheelRemainder -= steps * 120;
    if (steps == 0)
        return;
    if (event->modifiers() & Qt::ControlModifier) {
        view = view.zoomedAbout(std::pow(1.25, steps), cursorWidgetPosition(), QSizeF(size()),
                                geometry().physicalSize());
        update();
    } else {
        stepSlices(steps);
    }
    event->accept();
}

void OrthogonalSliceView::keyPressEvent(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        stepSlices(1);
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        stepSlices(-1);
        break;
    case Qt::Key_PageUp:
        stepSlices(10);
        break;
    case Qt::Key_PageDown:
        stepSlices(-10);
        break;
    case Qt::Key_M:
        setTool(activeTool == Tool::Ruler ? Tool::Cursor : Tool::Ruler);
        break;
    case Qt::Key_Escape:
        setTool(Tool::Cursor);
        break;
    default:
        QWidget::keyPressEvent(event);
        return;
    }
    event->accept();
}

void OrthogonalSliceView::leaveEvent(QEvent *event)
{
    emit hoverLeft();
    QWidget::leaveEvent(event);
}
