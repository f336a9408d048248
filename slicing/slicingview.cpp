#include "slicingview.h"

#include "sliceimage.h"
#include "volume.h"

#include <QPainter>
#include <QRectF>

SlicingView::SlicingView(QWidget *parent) : QWidget(parent) {}

void SlicingView::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    if (!volume) {
        painter.fillRect(rect(), QColor(0, 0, 0, 255));
        return;
    }
    // An invalid axis or slice paints nothing at all: the widget keeps whatever
    // its background is.
    const bool unchanged = volume->fullResolution && !imageStore.expired() &&
                           imageStore.lock() == volume->fullResolution && imageAxis == axis &&
                           imageSlice == slice && imageMapping == greyMapping;
    if (!unchanged) {
        lastSliceImage = makeSliceImage(*volume, axis, slice, greyMapping);
        imageStore = volume->fullResolution;
        imageAxis = axis;
        imageSlice = slice;
        imageMapping = greyMapping;
    }
    if (lastSliceImage.isNull())
        return;
    painter.drawImage(QRectF(0, 0, width(), height()), lastSliceImage,
                      QRectF(0, 0, lastSliceImage.width(), lastSliceImage.height()));
}
