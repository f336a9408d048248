#include "benchcommands.h"
#include "timing.h"

#include "slicegeometry.h"
#include "sliceimage.h"
#include "sliceviewport.h"
#include "volume.h"
#include "windowlevel.h"

#include <QImage>
#include <QPainter>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>

// kelvara-bench planes [--cube N] [--size WxH] [--quick]: what a slice view
// does per slice step, for each plane of an N^3 cube (default 512) with a CT
// window set: extract and map the slice, then draw it scaled (nearest
// neighbour) into a view of WxH (default 1024x1024). The single slice
// view's unwindowed image of the same slice is the baseline.
int benchPlanes(const std::vector<std::string> &argumentList)
{
    std::vector<std::string> arguments = argumentList;
    const bool quick = takeFlag(arguments, "--quick");
    const int n = std::atoi(takeOption(arguments, "--cube", "512").c_str());
    const std::string sizeText = takeOption(arguments, "--size", "1024x1024");
    int viewWidth = 0, viewHeight = 0;
    if (n < 1 || n > 1024 || std::sscanf(sizeText.c_str(), "%dx%d", &viewWidth, &viewHeight) != 2 ||
        viewWidth < 1 || viewHeight < 1 || !arguments.empty()) {
        std::cerr << "usage: kelvara-bench planes [--cube N] [--size WxH] [--quick]" << std::endl;
        return 2;
    }

    Volume volume;
    volume.width = volume.height = volume.depth = n;
    volume.data.resize(std::size_t(n) * n * n);
    for (std::size_t i = 0; i < volume.data.size(); ++i)
        volume.data[i] = float(i % 4096) / 4095.0f;
    volume.valueRange = {-1024.0, 3071.0};
    volume.patientFrame = true;
    const GreyMapping mapping = GreyMapping::of({400.0, 40.0}, volume.valueRange);

    const int repetitions = quick ? 10 : 50;
    QImage view(viewWidth, viewHeight, QImage::Format_RGB32);
    const struct
    {
        const char *name;
        SlicePlane plane;
        int baselineAxis;
    } planes[] = {{"axial", SlicePlane::Axial, 2},
                  {"coronal", SlicePlane::Coronal, 1},
                  {"sagittal", SlicePlane::Sagittal, 0}};
    for (const auto &entry : planes) {
        const SliceGeometry geometry = SliceGeometry::of(volume, entry.plane);
        const QRectF target =
            SliceViewport().imageRect(QSizeF(view.size()), geometry.physicalSize());
        Timings baseline, windowed;
        std::size_t checksum = 0;
        int slice = 0;
        // Successive slices, as a wheel or a key moves through them.
        baseline.measure(repetitions, [&] {
            const QImage image = makeSliceImage(volume, entry.baselineAxis, slice++ % n);
            checksum += std::size_t(image.pixel(0, 0));
        });
        windowed.measure(repetitions, [&] {
            const QImage image = makePlaneImage(volume, geometry, slice++ % n, mapping);
            QPainter painter(&view);
            painter.fillRect(view.rect(), Qt::black);
            painter.drawImage(target, image);
            painter.end();
            checksum += std::size_t(view.pixel(viewWidth / 2, viewHeight / 2));
        });
        std::printf("planes cube=%d plane=%s view=%dx%d %s %s ratio=%.2f checksum=%zu\n", n,
                    entry.name, viewWidth, viewHeight, windowed.summary().c_str(),
                    baseline.summary("baseline_").c_str(),
                    windowed.median() / std::max(baseline.median(), 1e-9), checksum);
    }
    return 0;
}
