#pragma once

#include "imagegrid.h"
#include "measurement.h"
#include "rendereroverlay.h"

#include <vector>

class VolumeRenderer;

// The measurements drawn over the rendering, projected with the geometry of
// its frame.
class MeasurementOverlay : public RendererOverlay
{
    Q_OBJECT

public:
    explicit MeasurementOverlay(VolumeRenderer *renderer);

    // The measurements and the grid of the data the renderer draws (its world
    // placement); repaints.
    void setMeasurements(const std::vector<Measurement> &measurements, const ImageGrid &grid);

protected:
    bool hasContent() const override { return !shown.empty(); }
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<Measurement> shown;
    ImageGrid dataGrid;
};
