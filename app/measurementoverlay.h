#pragma once

#include "measurement.h"
#include "imagegrid.h"

#include <QWidget>

#include <vector>

class VolumeRenderer;

// The measurements drawn over the rendering, projected with the geometry of
// its frame: a transparent child over the renderer like CursorOverlay, so
// they never enter saved images, repainted after each of the renderer's
// paints. Lets every mouse event through.
class MeasurementOverlay : public QWidget
{
    Q_OBJECT

public:
    explicit MeasurementOverlay(VolumeRenderer *renderer);

    // The measurements and the grid of the data the renderer draws (its world
    // placement); repaints.
    void setMeasurements(const std::vector<Measurement> &measurements, const ImageGrid &grid);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    VolumeRenderer *renderer;
    std::vector<Measurement> shown;
    ImageGrid dataGrid;
};
