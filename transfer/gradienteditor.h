#pragma once

#include <QGradient>
#include <QList>
#include <QPolygonF>
#include <QWidget>

#include <array>
#include <memory>

class Histogram;
class ShadeWidget;
struct ChannelPoints;
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
    ~GradientEditor() override;

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

    // Makes function the one the editor shows and edits: its points go on
    // the strips, each exactly (x * width, height - y * height) with its lock
    // word, and its colours behind the alpha strip. Emits nothing, as
    // setGradientStops.
    void setTransferFunction(const TransferFunction &function);

    // The function the strips show, in its normalised coordinates: the one
    // last set (setGradientStops() sets TransferFunction::fromStops()) with the
    // user's edits since. An edit changes only the channel of the strip it was
    // made on (x / width, (height - y) / height, clamped into 0..1); resizing
    // the strips changes nothing, they are drawn again from the function.
    const TransferFunction &transferFunction() const;

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
    // Puts the function's points on every strip at its size now.
    void placeFunction();
    // The points of one strip in the function's coordinates.
    ChannelPoints channelOfStrip(const ShadeWidget *strip) const;
    // Takes the strips' edits into the function: a strip whose points
    // differ from those last put on it was edited; a strip of another size
    // was resized, and all are drawn again from the function.
    void followStrips();

    // The truth the strips show: pixel positions are only its picture.
    std::unique_ptr<TransferFunction> function;
    // Each strip's size and points when the function was last put on it or
    // taken from it.
    std::array<QSize, 4> placedSizes;
    std::array<QPolygonF, 4> placedPoints;

    ShadeWidget *redShade;
    ShadeWidget *greenShade;
    ShadeWidget *blueShade;
    ShadeWidget *alphaShade;
};
