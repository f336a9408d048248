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

GradientEditor::GradientEditor(QWidget *parent)
    : QWidget(parent), function(std::make_unique<TransferFunction>())
{
    auto *layout = new QVBoxLayout(this);
    layout->setSpacing(1);
    layout->setContentsMargins(1, 1, 1, 1);

    redShade = new ShadeWidget(RedChannel, this);
    greenShade = new ShadeWidget(GreenChannel, this);
    blueShade = new ShadeWidget(BlueChannel, this);
    alphaShade = new ShadeWidget(AlphaChannel, this);

    const QList<ShadeWidget *> all = strips();
    for (int c = 0; c < all.size(); ++c) {
        layout->addWidget(all.at(c));
        connect(all.at(c), &ShadeWidget::colorsChanged, this, &GradientEditor::pointsUpdated);
        // The strips start with points of their own.
        function->channels[std::size_t(c)] = channelOfStrip(all.at(c));
        placedSizes[std::size_t(c)] = all.at(c)->size();
        placedPoints[std::size_t(c)] = all.at(c)->pointEditor()->controlPoints();
    }
}

GradientEditor::~GradientEditor() = default;

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
    *function = TransferFunction::fromStops(stops);
    for (const auto &[strip, channel] : strips) {
        placedSizes[std::size_t(channel)] = strip->size();
        placedPoints[std::size_t(channel)] = strip->pointEditor()->controlPoints();
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
    followStrips();
    const ControlPoints::StopList sampled =
        sampleStops(redShade, greenShade, blueShade, alphaShade);
    if (!sampled.complete)
        return;
    alphaShade->setAlphaBackdrop(sampled.stops);
    emit gradientStopsChanged(sampled.stops);
}

void GradientEditor::setTransferFunction(const TransferFunction &shown)
{
    *function = shown;
    placeFunction();
    alphaShade->setAlphaBackdrop(function->toStops());
}

const TransferFunction &GradientEditor::transferFunction() const
{
    return *function;
}

void GradientEditor::placeFunction()
{
    const QList<ShadeWidget *> all = strips();
    for (int c = 0; c < all.size(); ++c) {
        ShadeWidget *strip = all.at(c);
        const ChannelPoints &channel = function->channels[std::size_t(c)];
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
        placedSizes[std::size_t(c)] = strip->size();
        placedPoints[std::size_t(c)] = editor->controlPoints();
        strip->update();
    }
}

ChannelPoints GradientEditor::channelOfStrip(const ShadeWidget *strip) const
{
    const double w = strip->width();
    const double h = strip->height();
    const auto unit = [](double v) { return std::isfinite(v) ? std::clamp(v, 0.0, 1.0) : 0.0; };
    const HoverPoints *editor = strip->pointEditor();
    ChannelPoints channel;
    const QPolygonF points = editor->controlPoints();
    for (int i = 0; i < points.size(); ++i) {
        channel.points.append(
            QPointF(unit(points.at(i).x() / w), unit((h - points.at(i).y()) / h)));
        channel.locks.append(editor->lockFlags(i));
    }
    return channel;
}

void GradientEditor::followStrips()
{
    const QList<ShadeWidget *> all = strips();
    for (int c = 0; c < all.size(); ++c)
        if (all.at(c)->size() != placedSizes[std::size_t(c)]) {
            // A resize rescaled the points in pixels: the function stays, the
            // strips show it again at their new sizes.
            placeFunction();
            return;
        }
    for (int c = 0; c < all.size(); ++c) {
        const QPolygonF points = all.at(c)->pointEditor()->controlPoints();
        if (points == placedPoints[std::size_t(c)])
            continue;
        function->channels[std::size_t(c)] = channelOfStrip(all.at(c));
        placedPoints[std::size_t(c)] = points;
    }
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
