#pragma once

#include "controlpoints.h"
#include "histogram.h"

#include <QGradient>
#include <QImage>
#include <QLinearGradient>
#include <QWidget>

class HoverPoints;
class QPainter;

// One channel strip of the transfer-function editor: a vertical shade of one
// channel (full value at the top edge, zero at the bottom; the alpha strip
// shows opacity over a colour backdrop on a checkerboard) carrying a polyline
// of control points edited through its HoverPoints. The horizontal axis is the
// data value, in widget pixels.
class ShadeWidget : public QWidget
{
    Q_OBJECT

public:
    ShadeWidget(ShadeChannel channel, QWidget *parent = nullptr);

    // The strip's control-point editor; owned by the strip.
    HoverPoints *pointEditor() const { return hoverPoints; }

    // The strip's colour at pixel column x, sampled on the straight polyline
    // through the control points: the shade image's pixel (0xAARRGGBB; the
    // alpha strip's is premultiplied). 0 when fewer than two points, when no
    // segment spans x, or when the strip has no area.
    QRgb sampleColor(int x);

    // Alpha strip only: paints the stops' colours (made opaque) as the
    // horizontal backdrop of the opacity shade and repaints. Other strips
    // ignore it.
    void setAlphaBackdrop(const QGradientStops &stops);

    // The data set's histogram, drawn over the shade and under the points
    // across the strip's width; an empty one draws nothing. It never enters
    // the shade image, so sampleColor is not affected.
    void setHistogram(const Histogram &newHistogram);
    const Histogram &histogram() const { return dataHistogram; }

    QSize sizeHint() const override;

signals:
    // Every change of the control points by mouse, touch or resize.
    void colorsChanged();

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void ensureShadeImage();
    void paintHistogram(QPainter &painter) const;

    ShadeChannel channel;
    QImage shadeImage; // cached shade, rebuilt when missing or of another size
    HoverPoints *hoverPoints;
    QLinearGradient alphaBackdrop;
    Histogram dataHistogram;
};
