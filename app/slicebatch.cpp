#include "slicebatch.h"

#include "batchlayers.h"
#include "commandline.h"
#include "filenamebytes.h"

#include "sliceimage.h"
#include "volume.h"
#include "volumeseries.h"
#include "volumefile.h"

#include <QFile>
#include <QStringList>

#include <cmath>
#include <iostream>

bool parseSlicePlane(const QString &text, SliceRequest *request)
{
    const QStringList parts = text.split(':');
    if (parts.size() > 2)
        return false;
    const struct
    {
        const char *name;
        SlicePlane plane;
    } planes[] = {{"axial", SlicePlane::Axial},
                  {"coronal", SlicePlane::Coronal},
                  {"sagittal", SlicePlane::Sagittal}};
    bool known = false;
    for (const auto &entry : planes)
        if (parts[0] == QLatin1String(entry.name)) {
            request->plane = entry.plane;
            known = true;
        }
    if (!known)
        return false;
    request->index = -1;
    if (parts.size() == 2) {
        bool ok = false;
        request->index = parts[1].toInt(&ok);
        if (!ok || request->index < 0)
            return false;
    }
    return true;
}

bool parseSliceWindow(const QString &text, SliceRequest *request)
{
    if (text == "auto") {
        request->window = SliceRequest::Window::Automatic;
        return true;
    }
    if (text == "full") {
        request->window = SliceRequest::Window::FullRange;
        return true;
    }
    const QStringList parts = text.split(',');
    if (parts.size() != 2)
        return false;
    bool windowOk = false, levelOk = false;
    const double window = parts[0].trimmed().toDouble(&windowOk);
    const double level = parts[1].trimmed().toDouble(&levelOk);
    if (!windowOk || !levelOk || !(window > 0.0) || !std::isfinite(window) || !std::isfinite(level))
        return false;
    request->window = SliceRequest::Window::Given;
    request->given = {window, level};
    return true;
}

QImage sliceOutputImage(const Volume &volume, const SliceRequest &request, QString *reason,
                        const std::vector<ShownLayer> &layers)
{
    const SliceGeometry geometry = SliceGeometry::of(volume, request.plane);
    const int index = request.index < 0 ? (geometry.sliceCount() - 1) / 2 : request.index;
    if (index >= geometry.sliceCount()) {
        *reason = QString("slice %1 does not exist; this plane has slices 0..%2")
                      .arg(index)
                      .arg(geometry.sliceCount() - 1);
        return QImage();
    }
    WindowLevel window = fullRangeWindow(volume.valueRange);
    if (request.window == SliceRequest::Window::Automatic)
        window = automaticWindow(volume);
    else if (request.window == SliceRequest::Window::Given)
        window = request.given;
    QImage voxels = makePlaneImage(volume, geometry, index,
                                   GreyMapping::of(window, volume.valueRange, volume.invertedGrey));
    if (voxels.isNull()) {
        *reason = "the data set holds fewer values than its size says";
        return QImage();
    }
    blendLayers(voxels, volume, geometry, index, layers);
    // Nearest neighbour, as the views draw: every voxel stays one flat patch.
    return voxels.scaled(geometry.finestPixelSize() * std::max(1, request.scale),
                         Qt::IgnoreAspectRatio, Qt::FastTransformation);
}

int writeSliceBatch(const CommandLine &commandLine)
{
    Volume volume;
    // The loader prints its own progress and error lines.
    if (!loadVolumeFile(fileNameBytes(commandLine.file).toStdString(), volume,
                        std::uint64_t(commandLine.gpuBudgetMiB) << 20, commandLine.spacing)
             .ok)
        return 1;
    std::string frameProblem;
    if (!selectSeriesFrame(volume, commandLine.frame, frameProblem)) {
        std::cerr << "+ Error: " << frameProblem << std::endl;
        return 1;
    }
    std::vector<LoadedLayer> layers;
    if (!loadBatchLayers(commandLine.layers, volume, std::uint64_t(commandLine.gpuBudgetMiB) << 20,
                         layers))
        return 1;
    QString reason;
    const QImage image =
        sliceOutputImage(volume, *commandLine.slice, &reason, shownLayersOf(layers));
    if (image.isNull()) {
        std::cerr << "+ Error making slice: " << reason.toStdString() << std::endl;
        return 1;
    }
    if (!image.save(commandLine.output, "PNG")) {
        std::cerr << "+ Error saving image '" << QFile::encodeName(commandLine.output).toStdString()
                  << "'." << std::endl;
        return 1;
    }
    return 0;
}
