#include "scrollbarkeys.h"

#include <QKeyEvent>
#include <QScrollBar>

ScrollBarKeys::ScrollBarKeys(QScrollBar *target, QObject *parent)
    : QObject(parent), scrollBar(target)
{
}

bool ScrollBarKeys::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() != QEvent::KeyPress || !scrollBar)
        return QObject::eventFilter(watched, event);
    QAbstractSlider::SliderAction action = QAbstractSlider::SliderNoAction;
    switch (static_cast<QKeyEvent *>(event)->key()) {
    case Qt::Key_Up:
    case Qt::Key_Right:
        action = QAbstractSlider::SliderSingleStepAdd;
        break;
    case Qt::Key_Down:
    case Qt::Key_Left:
        action = QAbstractSlider::SliderSingleStepSub;
        break;
    case Qt::Key_PageUp:
        action = QAbstractSlider::SliderPageStepAdd;
        break;
    case Qt::Key_PageDown:
        action = QAbstractSlider::SliderPageStepSub;
        break;
    default:
        return QObject::eventFilter(watched, event);
    }
    scrollBar->triggerAction(action);
    return true;
}
