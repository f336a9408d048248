#include "timecourseplot.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>

TimeCoursePlot::TimeCoursePlot(QWidget *parent) : QWidget(parent)
{
    setMinimumSize(120, 36);
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed);
}

void TimeCoursePlot::setCourse(std::vector<double> course, int current)
{
    values = std::move(course);
    shown = current;
    update();
}

void TimeCoursePlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const QRectF area = QRectF(rect()).adjusted(3.5, 3.5, -3.5, -3.5);
    painter.fillRect(rect(), palette().base());
    painter.setPen(palette().mid().color());
    painter.drawRect(area);
    double low = INFINITY, high = -INFINITY;
    for (double value : values)
        if (std::isfinite(value)) {
            low = std::min(low, value);
            high = std::max(high, value);
        }
    if (values.size() < 2 || !(low <= high))
        return;
    // A flat course runs along the middle.
    const double span = high > low ? high - low : 1.0;
    const double middle = high > low ? 0.0 : 0.5;
    auto pointOf = [&](std::size_t frame) {
        const double x = area.left() + area.width() * double(frame) / double(values.size() - 1);
        const double y = area.bottom() - area.height() * ((values[frame] - low) / span + middle);
        return QPointF(x, y);
    };
    painter.setRenderHint(QPainter::Antialiasing);
    QPainterPath path;
    bool drawing = false;
    for (std::size_t frame = 0; frame < values.size(); ++frame) {
        if (!std::isfinite(values[frame])) {
            drawing = false;
            continue;
        }
        if (drawing)
            path.lineTo(pointOf(frame));
        else
            path.moveTo(pointOf(frame));
        drawing = true;
    }
    painter.setPen(QPen(palette().text().color(), 1.2));
    painter.drawPath(path);
    if (shown >= 0 && std::size_t(shown) < values.size()) {
        const double x = pointOf(std::size_t(shown)).x();
        painter.setPen(QPen(palette().highlight().color(), 1.0));
        painter.drawLine(QPointF(x, area.top()), QPointF(x, area.bottom()));
        if (std::isfinite(values[std::size_t(shown)])) {
            painter.setBrush(palette().highlight());
            painter.drawEllipse(pointOf(std::size_t(shown)), 2.5, 2.5);
        }
    }
}
