#include "benchcommands.h"
#include "processmemory.h"
#include "timing.h"

#include "gradientstopstext.h"
#include "layerloading.h"
#include "loadplan.h"
#include "memorylimit.h"
#include "volumefile.h"
#include "offscreenframe.h"
#include "transferfunctiontable.h"
#include "volume.h"
#include "volumerenderer.h"

#include <QApplication>
#include <QOpenGLContext>
#include <QOpenGLFunctions>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

bool parseNumbers(const std::string &text, int count, double *values)
{
    std::istringstream stream(text);
    for (int i = 0; i < count; ++i) {
        if (!(stream >> values[i]))
            return false;
        if (i + 1 < count && stream.get() != ',')
            return false;
    }
    return stream.peek() == std::char_traits<char>::eof();
}

// The process's peak resident memory in MiB (llvmpipe keeps textures in host
// memory, so this includes them), or -1 where /proc does not tell.
double peakResidentMegabytes()
{
    const long kilobytes = statusKilobytes("VmHWM:");
    return kilobytes < 0 ? -1.0 : kilobytes / 1024.0;
}

QColor grey(double level)
{
    const int v = int(std::clamp(level, 0.0, 1.0) * 255.0 + 0.5);
    return QColor(v, v, v);
}

} // namespace

int benchFrame(int &argc, char **argv, const std::vector<std::string> &argumentList)
{
    std::vector<std::string> arguments = argumentList;
    const bool quick = takeFlag(arguments, "--quick");
    const bool noSkipping = takeFlag(arguments, "--no-skipping");
    const bool noJitter = takeFlag(arguments, "--no-jitter");
    const bool noStoredGradients = takeFlag(arguments, "--no-stored-gradients");
    const std::string sizeText = takeOption(arguments, "--size", "512x512");
    const int samples = std::atoi(takeOption(arguments, "--samples", "100").c_str());
    const int frames = std::atoi(takeOption(arguments, "--frames", quick ? "3" : "10").c_str());
    const std::string stopsText = takeOption(arguments, "--stops", "");
    const std::string lightingText = takeOption(arguments, "--lighting", "");
    const std::string cueingText = takeOption(arguments, "--depth-cueing", "");
    const long long budgetMiB = std::atoll(takeOption(arguments, "--gpu-budget", "0").c_str());
    // Layers over the volume: the frames are then timed without and with
    // them, one after the other in this run.
    const std::string overlayFile = takeOption(arguments, "--overlay", "");
    const std::string labelsFile = takeOption(arguments, "--labels", "");
    int width = 0, height = 0;
    char extra = 0;
    if (arguments.size() != 1 ||
        std::sscanf(sizeText.c_str(), "%dx%d%c", &width, &height, &extra) != 2 || width < 1 ||
        height < 1 || samples < 1 || frames < 1) {
        std::cerr << "usage: kelvara-bench frame FILE [--size WxH] [--samples N] [--frames K]\n"
                     "       [--stops POS:#AARRGGBB,...] [--lighting AMBIENT,DIFFUSE,SPECULAR,"
                     "EXPONENT]\n       [--depth-cueing K1,K2] [--no-skipping] [--no-jitter]\n"
                     "       [--no-stored-gradients] [--gpu-budget MIB] [--overlay FILE]\n"
                     "       [--labels FILE] [--quick]"
                  << std::endl;
        return 2;
    }

    RenderingOptions options;
    options.samples = samples;
    if (!lightingText.empty()) {
        double lighting[4];
        if (!parseNumbers(lightingText, 4, lighting)) {
            std::cerr << "kelvara-bench: bad --lighting" << std::endl;
            return 2;
        }
        options.ambient = grey(lighting[0]);
        options.diffuse = grey(lighting[1]);
        options.specular = grey(lighting[2]);
        options.exponent = float(lighting[3]);
    }
    if (!cueingText.empty()) {
        double cueing[2];
        if (!parseNumbers(cueingText, 2, cueing)) {
            std::cerr << "kelvara-bench: bad --depth-cueing" << std::endl;
            return 2;
        }
        options.k1 = float(cueing[0]);
        options.k2 = float(cueing[1]);
    }
    QGradientStops stops = blackToWhiteStops();
    if (!stopsText.empty()) {
        QString reason;
        if (!parseStops(QString::fromStdString(stopsText), &stops, &reason)) {
            std::cerr << "kelvara-bench: " << reason.toStdString() << std::endl;
            return 2;
        }
    }

    Volume volume;
    std::ostringstream discard;
    Timings load;
    bool loaded = false;
    // As the window loads: this machine's memory rule and texture budget.
    VolumeReadOptions readOptions;
    readOptions.maxDataBytes = loadableDataBytes();
    readOptions.gpuBudgetBytes =
        budgetMiB > 0 ? std::uint64_t(budgetMiB) << 20 : defaultLoadLimits().gpuBudgetBytes;
    load.measure(1, [&] {
        loaded = readVolumeFile(arguments[0], volume, discard, discard, readOptions).ok;
    });
    if (!loaded) {
        std::cerr << "kelvara-bench: cannot load " << arguments[0] << std::endl;
        return 1;
    }

    std::vector<LoadedLayer> layers;
    for (const auto &[file, kind] :
         {std::pair(overlayFile, LayerKind::Image), std::pair(labelsFile, LayerKind::Labels)}) {
        if (file.empty())
            continue;
        LayerRequest request;
        request.file = QString::fromStdString(file);
        request.kind = kind;
        LoadedLayer layer =
            loadLayer(request, volume, readOptions.gpuBudgetBytes, discard, discard);
        if (!layer.ok) {
            std::cerr << "kelvara-bench: cannot load layer " << file << ": "
                      << layer.reason.toStdString() << std::endl;
            return 1;
        }
        layers.push_back(std::move(layer));
    }

    QApplication application(argc, argv);
    OffscreenFrame frame(QSize(width, height));
    frame.setRenderingOptions(options);
    // The plain ray caster, for the gain of empty-space skipping in one run.
    frame.renderer().setEmptySpaceSkipping(!noSkipping);
    // Samples at fixed step midpoints, for the cost of jitter in one run.
    frame.renderer().setJitter(!noJitter);
    // Gradients from six neighbours, as without a gradient texture.
    frame.renderer().setStoredGradients(!noStoredGradients);
    std::ostringstream probe; // the table's probe line is not part of the figures
    std::streambuf *previous = std::cout.rdbuf(probe.rdbuf());
    frame.setGradientStops(stops);
    std::cout.rdbuf(previous);
    frame.setVolume(&volume);

    // The first frame builds the program and uploads the textures: excluded.
    Timings first, timings;
    OffscreenResult result;
    first.measure(1, [&] { result = frame.renderAndFinish(); });
    if (!result.ok) {
        std::cerr << "kelvara-bench: " << result.message.toStdString() << std::endl;
        return 1;
    }
    frame.renderer().makeCurrent();
    const char *rendererName = reinterpret_cast<const char *>(
        QOpenGLContext::currentContext()->functions()->glGetString(GL_RENDERER));
    const std::string renderer = rendererName ? rendererName : "unknown";

    const auto timeFrames = [&](Timings &into) {
        for (int i = 1; i <= frames; ++i) {
            // A new orientation every frame, so nothing of the last one is reused.
            frame.setRotation(7 * i, 11 * i, 3 * i);
            into.measure(1, [&] { result = frame.renderAndFinish(); });
            if (!result.ok)
                return false;
        }
        return true;
    };
    if (!timeFrames(timings)) {
        std::cerr << "kelvara-bench: " << result.message.toStdString() << std::endl;
        return 1;
    }
    Timings layered;
    if (!layers.empty()) {
        std::vector<ShownLayer> shown;
        for (const LoadedLayer &layer : layers)
            shown.push_back({layer.volume.get(), &layer.appearance, layer.file});
        frame.setLayers(shown);
        // The layer program is built at its first frame: excluded too.
        result = frame.renderAndFinish();
        if (!result.ok || !timeFrames(layered)) {
            std::cerr << "kelvara-bench: " << result.message.toStdString() << std::endl;
            return 1;
        }
    }
    // first_ms: the first frame, which builds the program and uploads the
    // textures; load_ms: reading the file.
    const char *gradients = !frame.renderer().gradientsStored() ? "computed"
                            : noStoredGradients                 ? "stored-unused"
                                                                : "stored";
    // level: the 3D view's voxels are 2^level apart; blocks: its textures.
    std::printf("frame file=%s size=%dx%d samples=%d frames=%d skipping=%s jitter=%s "
                "gradients=%s level=%d blocks=%d %s first_ms=%.1f load_ms=%.1f peak_mb=%.0f "
                "renderer=\"%s\"\n",
                arguments[0].c_str(), width, height, samples, frames, noSkipping ? "off" : "on",
                noJitter ? "off" : "on", gradients, volume.level, frame.renderer().blockCount(),
                timings.summary().c_str(), first.median(), load.median(), peakResidentMegabytes(),
                renderer.c_str());
    if (!layers.empty())
        // The same frames with the layers, and their cost against the volume alone.
        std::printf("frame-with-layers layers=%d %s ratio=%.3f\n", int(layers.size()),
                    layered.summary().c_str(), layered.median() / timings.median());
    return 0;
}
