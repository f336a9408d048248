#include "batchrender.h"

#include "commandline.h"
#include "datarange.h"
#include "histogram.h"

#include "offscreenframe.h"
#include "transferfunctionpresets.h"
#include "volume.h"
#include "volumefile.h"
#include "volumerenderer.h"

#include <QApplication>
#include <QFile>

#include <iostream>

void setUpBatchFrame(const CommandLine &commandLine, OffscreenFrame &frame)
{
    frame.setRenderingOptions(commandLine.renderingOptions());
    frame.setRotation(commandLine.rotation[0], commandLine.rotation[1], commandLine.rotation[2]);
    frame.setViewTransform(commandLine.view);
    frame.setCropBox(commandLine.crop);
    frame.setRenderMode(commandLine.renderMode);
    frame.renderer().setJitter(commandLine.jitter);
}

int renderBatch(int &argc, char **argv, const CommandLine &commandLine)
{
    Volume volume;
    // The loader prints its own progress and error lines.
    if (!loadVolumeFile(QFile::encodeName(commandLine.file).toStdString(), volume).ok)
        return 1;

    QGradientStops stops = commandLine.stops;
    if (!commandLine.transferFunction.isEmpty()) {
        const Histogram histogram = Histogram::of(volume.data.data(), volume.data.size());
        const TransferFunctionFile::ReadResult read =
            presetOrFile(commandLine.transferFunction, dataRangeOf(&volume), &histogram);
        if (!read.ok) {
            std::cerr << "+ Error loading transfer function " << read.reason.toStdString()
                      << std::endl;
            return 1;
        }
        stops = read.function.toStops();
    }

    QApplication application(argc, argv);
    OffscreenFrame frame(commandLine.size);
    setUpBatchFrame(commandLine, frame);
    frame.setGradientStops(stops);
    frame.setVolume(&volume);
    const OffscreenResult result = frame.grab();
    if (!result.ok) {
        std::cerr << "+ Error rendering frame: " << result.message.toStdString() << std::endl;
        return 1;
    }
    if (!result.image.save(commandLine.output, "PNG")) {
        std::cerr << "+ Error saving image '" << QFile::encodeName(commandLine.output).toStdString()
                  << "'." << std::endl;
        return 1;
    }
    return 0;
}
