#include "strippointeditor.h"

#include "datarange.h"
#include "eventhook.h"
#include "transferfunctioncontroller.h"
#include "windowcontext.h"

#include "controlpoints.h"
#include "gradienteditor.h"
#include "hoverpoints.h"
#include "shadewidget.h"
#include "viewersession.h"

#include <QLineF>
#include <QMouseEvent>

#include <algorithm>

namespace {

const char *const channelNames[] = {
    QT_TRANSLATE_NOOP("MainWindow", "Red"), QT_TRANSLATE_NOOP("MainWindow", "Green"),
    QT_TRANSLATE_NOOP("MainWindow", "Blue"), QT_TRANSLATE_NOOP("MainWindow", "Opacity")};

// The point of the strip under position, -1 for none.
int pointAt(const ShadeWidget *strip, const QPointF &position)
{
    const QPolygonF points = strip->pointEditor()->controlPoints();
    int nearest = -1;
    double best = 8.0; // pixels: a little more than a point's radius
    for (int i = 0; i < points.size(); ++i) {
        const double distance = QLineF(points[i], position).length();
        if (distance <= best) {
            best = distance;
            nearest = i;
        }
    }
    return nearest;
}

// A point of the session's function in the data's units.
WindowDialogs::PointValues valuesOf(const WindowContext &context, int channel, int index)
{
    const DataRange range = dataRangeOf(context.session->volume());
    const QPointF p = context.session->transferFunction().channels[channel].points.value(index);
    return {range.minimum + p.x() * (range.maximum - range.minimum), p.y()};
}

} // namespace

StripPointEditor::StripPointEditor(WindowContext &windowContext,
                                   TransferFunctionController &transferController, QObject *parent)
    : QObject(parent), context(windowContext), controller(transferController)
{
    GradientEditor *editor = context.editor;
    const QList<ShadeWidget *> strips = {editor->redStrip(), editor->greenStrip(),
                                         editor->blueStrip(), editor->alphaStrip()};
    for (int channel = 0; channel < strips.size(); ++channel) {
        ShadeWidget *strip = strips[channel];
        strip->setMouseTracking(true);
        new EventHook(
            strip, [this, strip, channel](QEvent *event) { return handle(strip, channel, event); });
    }
}

bool StripPointEditor::handle(ShadeWidget *strip, int channel, QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        controller.setStripDragging(true);
        return false;
    case QEvent::MouseButtonRelease:
        controller.setStripDragging(false);
        controller.recordStep();
        return false;
    case QEvent::MouseMove: {
        const int index = pointAt(strip, static_cast<QMouseEvent *>(event)->position());
        if (index >= 0) {
            const WindowDialogs::PointValues values = valuesOf(context, channel, index);
            context.showMessage(tr("%1 point: data value %2, channel value %3 (the rendering "
                                   "runs straight between points)")
                                    .arg(tr(channelNames[channel]))
                                    .arg(values.dataValue, 0, 'g', 6)
                                    .arg(values.channelValue, 0, 'f', 3));
        }
        return false;
    }
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        const int index = pointAt(strip, mouse->position());
        if (index < 0 || mouse->button() != Qt::LeftButton)
            return false;
        controller.setStripDragging(false);
        editPoint(channel, index);
        return true;
    }
    default:
        return false;
    }
}

void StripPointEditor::editPoint(int channel, int index)
{
    const DataRange range = dataRangeOf(context.session->volume());
    const std::optional<WindowDialogs::PointValues> typed =
        context.dialogs->editPoint(context.window, tr(channelNames[channel]),
                                   valuesOf(context, channel, index), range.minimum, range.maximum);
    if (!typed)
        return;
    TransferFunction function = context.session->transferFunction();
    ChannelPoints &points = function.channels[channel];
    const double span = range.maximum - range.minimum;
    double x = span > 0 ? (typed->dataValue - range.minimum) / span : 0.0;
    // Points keep their order and edge locks: x stays between its
    // neighbours, and an end point stays at its end.
    const uint locks = points.locks.value(index);
    const double left = index > 0 ? points.points[index - 1].x() : 0.0;
    const double right = index + 1 < points.points.size() ? points.points[index + 1].x() : 1.0;
    x = std::clamp(x, left, right);
    if (locks & ControlPoints::LockLeftEdge)
        x = 0.0;
    if (locks & ControlPoints::LockRightEdge)
        x = 1.0;
    points.points[index] = QPointF(x, std::clamp(typed->channelValue, 0.0, 1.0));
    context.session->setTransferFunction(function);
    controller.recordStep();
}
