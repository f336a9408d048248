#include "gradienteditor.h"

#include "controlpoints.h"
#include "hoverpoints.h"
#include "shadewidget.h"
#include "transferfunction.h"

#include <QColor>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace {

// Merges the strips' points and samples them into stops, positions relative to
// the alpha strip's width.
ControlPoints::StopList sampleStops(ShadeWidget *red, ShadeWidget *green, ShadeWidget *blue,
                                    ShadeWidget *alpha)
{
    QPolygonF merged;
    merged << red->pointEditor()->controlPoints() << green->pointEditor()->controlPoints()
           << blue->pointEditor()->controlPoints() << alpha->pointEditor()->controlPoints();
    return ControlPoints::stopsFromColumns(
        ControlPoints::mergedSampleColumns(merged), alpha->width(), [&](int column) {
            return ControlPoints::stopColour(red->sampleColor(column), green->sampleColor(column),
                                             blue->sampleColor(column), alpha->sampleColor(column));
        });
}

} // namespace

GradientEditor::GradientEditor(QWidget *parent) : QWidget(parent)
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(1);
    layout->setContentsMargins(1, 1, 1, 1);

    redShade = new ShadeWidget(RedChannel, this);
    greenShade = new ShadeWidget(GreenChannel, this);
    blueShade = new ShadeWidget(BlueChannel, this);
    alphaShade = new ShadeWidget(AlphaChannel, this);

    for (ShadeWidget *strip : {redShade, greenShade, blueShade, alphaShade}) {
        layout->addWidget(strip);
        connect(strip, &ShadeWidget::colorsChanged, this, &GradientEditor::pointsUpdated);
    }
}

void GradientEditor::setGradientStops(const QGradientStops &stops)
{
    const std::pair<ShadeWidget *, ShadeChannel> strips[] = {{redShade, RedChannel},
                                                             {greenShade, GreenChannel},
                                                             {blueShade, BlueChannel},
                                                             {alphaShade, AlphaChannel}};
    for (const auto &[strip, channel] : strips) {
        HoverPoints *editor = strip->pointEditor();
        editor->setControlPoints(
            ControlPoints::channelPointsFromStops(stops, channel, QSizeF(strip->size())));
        // With one stop the single point ends up locked right only; with none
        // there is nothing to lock.
        if (!stops.isEmpty()) {
            editor->setLockFlags(0, HoverPoints::LockLeftEdge);
            editor->setLockFlags(int(stops.size()) - 1, HoverPoints::LockRightEdge);
        }
        strip->update();
    }
}

const QGradientStops &GradientEditor::gradientStops()
{
    // Callers hold on to this reference (the main window reads it right after
    // the change signal), so the container outlives every call.
    static QGradientStops result;
    result = sampleStops(redShade, greenShade, blueShade, alphaShade).stops;
    return result;
}

void GradientEditor::pointsUpdated()
{
    const ControlPoints::StopList sampled =
        sampleStops(redShade, greenShade, blueShade, alphaShade);
    if (!sampled.complete)
        return;
    alphaShade->setAlphaBackdrop(sampled.stops);
    emit gradientStopsChanged(sampled.stops);
}

void GradientEditor::setTransferFunction(const TransferFunction &function)
{
    const QList<ShadeWidget *> all = strips();
    for (int c = 0; c < all.size(); ++c) {
        ShadeWidget *strip = all.at(c);
        const ChannelPoints &channel = function.channels[std::size_t(c)];
        const double w = strip->width();
        const double h = strip->height();
        QPolygonF points;
        points.reserve(channel.points.size());
        for (const QPointF &p : channel.points)
            points.append(QPointF(p.x() * w, h - p.y() * h));
        HoverPoints *editor = strip->pointEditor();
        editor->setControlPoints(points);
        for (int i = 0; i < channel.locks.size(); ++i)
            editor->setLockFlags(i, channel.locks.at(i));
        strip->update();
    }
    alphaShade->setAlphaBackdrop(function.toStops());
}

TransferFunction GradientEditor::transferFunction() const
{
    TransferFunction function;
    const QList<ShadeWidget *> all = strips();
    for (int c = 0; c < all.size(); ++c) {
        const ShadeWidget *strip = all.at(c);
        const double w = strip->width();
        const double h = strip->height();
        const auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
        const HoverPoints *editor = strip->pointEditor();
        ChannelPoints &channel = function.channels[std::size_t(c)];
        const QPolygonF points = editor->controlPoints();
        for (int i = 0; i < points.size(); ++i) {
            channel.points.append(
                QPointF(unit(points.at(i).x() / w), unit((h - points.at(i).y()) / h)));
            channel.locks.append(editor->lockFlags(i));
        }
    }
    return function;
}

void GradientEditor::setHistogram(const Histogram &histogram)
{
    for (ShadeWidget *strip : strips())
        strip->setHistogram(histogram);
}

QList<ShadeWidget *> GradientEditor::strips() const
{
    return {redShade, greenShade, blueShade, alphaShade};
}
