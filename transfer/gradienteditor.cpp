#include "gradienteditor.h"

#include "controlpoints.h"
#include "hoverpoints.h"
#include "shadewidget.h"

#include <QColor>
#include <QVBoxLayout>

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
