#include "shadewidget.h"

#include "hoverpoints.h"

#include <QPainter>
#include <QPainterPath>
#include <QPalette>
#include <QPixmap>

ShadeWidget::ShadeWidget(ShadeChannel shadeChannel, QWidget *parent)
    : QWidget(parent), channel(shadeChannel), alphaBackdrop(0, 0, 0, 0)
{
    if (channel == AlphaChannel) {
        // A checkerboard behind the opacity shade makes transparency visible.
        QPixmap tile(20, 20);
        QPainter tilePainter(&tile);
        tilePainter.fillRect(0, 0, 10, 10, Qt::lightGray);
        tilePainter.fillRect(10, 10, 10, 10, Qt::lightGray);
        tilePainter.fillRect(0, 10, 10, 10, Qt::darkGray);
        tilePainter.fillRect(10, 0, 10, 10, Qt::darkGray);
        tilePainter.end();
        QPalette pal = palette();
        pal.setBrush(backgroundRole(), QBrush(tile));
        setAutoFillBackground(true);
        setPalette(pal);
    } else {
        setAttribute(Qt::WA_OpaquePaintEvent);
    }

    hoverPoints = new HoverPoints(this, HoverPoints::EllipseMarker);
    hoverPoints->setControlPoints(QPolygonF({QPointF(0, 40), QPointF(150, 0)}));
    hoverPoints->setLockFlags(0, HoverPoints::LockLeftEdge);
    hoverPoints->setLockFlags(1, HoverPoints::LockRightEdge);
    hoverPoints->setSortOrder(HoverPoints::SortByX);

    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);

    connect(hoverPoints, &HoverPoints::pointsChanged, this, &ShadeWidget::colorsChanged);
}

QSize ShadeWidget::sizeHint() const
{
    return QSize(150, 40);
}

void ShadeWidget::paintEvent(QPaintEvent *)
{
    ensureShadeImage();
    QPainter painter(this);
    if (!shadeImage.isNull())
        painter.drawImage(0, 0, shadeImage);
    paintHistogram(painter);
    painter.setPen(QColor(146, 146, 146));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(0, 0, width() - 1, height() - 1);
}

void ShadeWidget::setHistogram(const Histogram &newHistogram)
{
    dataHistogram = newHistogram;
    update();
}

void ShadeWidget::paintHistogram(QPainter &painter) const
{
    if (dataHistogram.isEmpty() || width() <= 0 || height() <= 0)
        return;
    // One bar per bin, grown from the bottom edge; light and translucent so
    // that the shade stays readable beneath it.
    const int bins = dataHistogram.binCount();
    const double binWidth = double(width()) / bins;
    QPainterPath bars;
    for (int bin = 0; bin < bins; ++bin) {
        const double barHeight = dataHistogram.logHeight(bin) * height();
        if (barHeight > 0.0)
            bars.addRect(QRectF(bin * binWidth, height() - barHeight, binWidth, barHeight));
    }
    painter.fillPath(bars, QColor(255, 255, 255, 70));
}

void ShadeWidget::ensureShadeImage()
{
    if (!shadeImage.isNull() && shadeImage.size() == size())
        return;
    // A strip without area has nothing to shade (and a QPainter on an empty
    // image only complains).
    if (width() <= 0 || height() <= 0) {
        shadeImage = QImage();
        return;
    }

    const int w = width();
    const int h = height();
    if (channel == AlphaChannel) {
        shadeImage = QImage(w, h, QImage::Format_ARGB32_Premultiplied);
        shadeImage.fill(0);
        QPainter painter(&shadeImage);
        painter.fillRect(shadeImage.rect(), alphaBackdrop);
        // Keep each column's backdrop colour, fading from opaque at the top to
        // transparent at the bottom.
        painter.setCompositionMode(QPainter::CompositionMode_DestinationIn);
        QLinearGradient fade(0, 0, 0, h);
        fade.setColorAt(0, QColor(0, 0, 0, 255));
        fade.setColorAt(1, QColor(0, 0, 0, 0));
        painter.fillRect(shadeImage.rect(), fade);
    } else {
        shadeImage = QImage(w, h, QImage::Format_RGB32);
        QLinearGradient shade(0, 0, 0, h);
        shade.setColorAt(1, Qt::black);
        if (channel == RedChannel)
            shade.setColorAt(0, Qt::red);
        else if (channel == GreenChannel)
            shade.setColorAt(0, Qt::green);
        else
            shade.setColorAt(0, Qt::blue);
        QPainter painter(&shadeImage);
        painter.fillRect(shadeImage.rect(), shade);
    }
}

QRgb ShadeWidget::sampleColor(int x)
{
    ensureShadeImage();
    if (shadeImage.isNull())
        return 0;
    const std::optional<QPointF> p =
        ControlPoints::columnSamplePoint(hoverPoints->controlPoints(), x);
    if (!p)
        return 0;
    const QPoint pixel = ControlPoints::samplePixel(*p, shadeImage.size());
    return shadeImage.pixel(pixel);
}

void ShadeWidget::setAlphaBackdrop(const QGradientStops &stops)
{
    if (channel != AlphaChannel)
        return;
    alphaBackdrop = QLinearGradient(0, 0, width(), 0);
    // Only the vertical fade sets the opacity; the stops' own alpha is shown by
    // the curve, not by the backdrop.
    for (const QGradientStop &stop : stops) {
        QColor opaque = stop.second;
        opaque.setAlpha(255);
        alphaBackdrop.setColorAt(stop.first, opaque);
    }
    shadeImage = QImage();
    ensureShadeImage();
    update();
}
