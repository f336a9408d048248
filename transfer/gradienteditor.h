#pragma once

#include <QGradient>
#include <QList>
#include <QWidget>

class Histogram;
class ShadeWidget;
struct TransferFunction;

// The transfer-function editor: four channel strips (red, green, blue, alpha,
// top to bottom) whose control points it merges into gradient stops, and onto
// which it distributes a given stop list. Stop positions are 0..1 across the
// alpha strip's width.
class GradientEditor : public QWidget
{
    Q_OBJECT

public:
    explicit GradientEditor(QWidget *parent = nullptr);

    // Places one control point per stop on every strip, the first locked to
    // the left edge and the last to the right edge. Emits nothing: the strips'
    // backdrop and the receivers of gradientStopsChanged are not told. An
    // empty list clears the strips.
    void setGradientStops(const QGradientStops &stops);

    // The stops sampled from the strips now, ending before the first point
    // beyond the alpha strip's width. The result lives in one static container
    // shared by all callers and refilled by every call: the reference stays
    // valid but shows the latest call's stops, so copy what you keep.
    // Not re-entrant; GUI thread only.
    const QGradientStops &gradientStops();

    // Places the function's points on the strips, each exactly (x * width,
    // height - y * height) with its lock word, and shows the function's colours
    // behind the alpha strip. Emits nothing, as setGradientStops.
    void setTransferFunction(const TransferFunction &function);

    // The strips' points now, in the function's normalised coordinates
    // (x / width, (height - y) / height, clamped into 0..1), with their locks.
    TransferFunction transferFunction() const;

    // Drawn behind every strip; an empty histogram removes it.
    void setHistogram(const Histogram &histogram);

    ShadeWidget *redStrip() const { return redShade; }
    ShadeWidget *greenStrip() const { return greenShade; }
    ShadeWidget *blueStrip() const { return blueShade; }
    ShadeWidget *alphaStrip() const { return alphaShade; }

public slots:
    // Rebuilds the stops from the strips, shows them behind the alpha strip and
    // emits gradientStopsChanged. A point beyond the alpha strip's width drops
    // the whole update (nothing shown, nothing emitted).
    void pointsUpdated();

signals:
    void gradientStopsChanged(const QGradientStops &stops);

private:
    // red, green, blue, alpha: the order of ShadeChannel.
    QList<ShadeWidget *> strips() const;

    ShadeWidget *redShade;
    ShadeWidget *greenShade;
    ShadeWidget *blueShade;
    ShadeWidget *alphaShade;
};
