#include "rendereroverlay.h"

#include "volumerenderer.h"

#include <QEvent>

RendererOverlay::RendererOverlay(VolumeRenderer *covered, const char *objectName)
    : QWidget(covered), renderer(covered)
{
    setObjectName(QString::fromLatin1(objectName));
    setAttribute(Qt::WA_TransparentForMouseEvents);
    setAttribute(Qt::WA_NoSystemBackground);
    setFocusPolicy(Qt::NoFocus);
    setGeometry(covered->rect());
    covered->installEventFilter(this);
}

bool RendererOverlay::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        setGeometry(parentWidget()->rect());
    // The renderer's frame is composed as a texture: its repaints do not
    // repaint children.
    if (watched == parentWidget() && event->type() == QEvent::Paint && hasContent())
        update();
    return QWidget::eventFilter(watched, event);
}
