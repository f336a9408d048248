#pragma once

#include "windowlevel.h"

#include <QImage>
#include <QWidget>

#include <memory>

class MappedScan;
struct Volume;

// Shows one axis-aligned slice of a volume as a grey image stretched over the
// whole widget. The owner writes volume, axis and slice and then repaints; the
// view does not notice changes by itself and never owns the volume.
class SlicingView : public QWidget
{
public:
    explicit SlicingView(QWidget *parent = nullptr);

    Volume *volume = nullptr; // not owned; null until the first load
    int axis = 0;             // 0 X, 1 Y, 2 Z
    int slice = 0;            // index along axis
    // The grey window; the default is the plain 255 * v mapping.
    GreyMapping greyMapping;

    // The image built by the last paint with a volume; null when that slice was
    // invalid or nothing was painted yet.
    const QImage &sliceImage() const { return lastSliceImage; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage lastSliceImage;
    // A slice of a volume read from its file (Volume::fullResolution) is
    // read again only when what it shows changes, not on every paint: an X
    // slice of a file of gigabytes touches every page of it.
    std::weak_ptr<MappedScan> imageStore;
    int imageAxis = -1;
    int imageSlice = -1;
    GreyMapping imageMapping;
};
