#include "sliceviewport.h"

#include <algorithm>

QRectF SliceViewport::imageRect(const QSizeF &widget, const QSizeF &physical) const
{
    if (widget.isEmpty() || physical.isEmpty())
        return QRectF();
    const double fit =
        std::min(widget.width() / physical.width(), widget.height() / physical.height());
    const QSizeF size = physical * (fit * zoom);
    const QPointF centre(widget.width() / 2.0, widget.height() / 2.0);
    return QRectF(centre - QPointF(size.width(), size.height()) / 2.0 + pan, size);
}

SliceViewport SliceViewport::zoomedAbout(double factor, const QPointF &anchor, const QSizeF &widget,
                                         const QSizeF &physical) const
{
    const QRectF before = imageRect(widget, physical);
    if (before.isEmpty())
        return *this;
    SliceViewport result;
    result.zoom = std::clamp(zoom * factor, minimumZoom, maximumZoom);
    result.pan = QPointF();
    const QRectF unpanned = result.imageRect(widget, physical);
    // The anchor's fraction of the image stays where it is.
    const QPointF fraction((anchor.x() - before.left()) / before.width(),
                           (anchor.y() - before.top()) / before.height());
    const QPointF wantedTopLeft(anchor.x() - fraction.x() * unpanned.width(),
                                anchor.y() - fraction.y() * unpanned.height());
    result.pan = wantedTopLeft - unpanned.topLeft();
    return result;
}
