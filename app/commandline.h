#pragma once

#include "batchframe.h"
#include "gradientstopstext.h"
#include "layerloading.h"
#include "renderingoptions.h"
#include "slicebatch.h"
#include "viewsettings.h"

#include <QGradient>
#include <QSize>
#include <QString>
#include <QStringList>

#include <array>
#include <optional>
#include <vector>

// What the command line asks for: the window (optionally opening a file), one
// rendered frame written to a PNG file, help, the version, or a usage error.
struct CommandLine
{
    enum class Mode
    {
        Window,
        Batch,
        Help,
        Version,
        ListPresets,
        Info,            // --info: describe each file
        Probe,           // --probe: look values up at world points
        LabelStatistics, // --label-stats: each label's volume and values
        UsageError
    };

    Mode mode = Mode::Window;
    QString text; // help or version text, the preset names, or the usage error

    QString file;   // volume to open; empty for none
    QString output; // PNG file of batch mode (one FILE)
    // --output-dir: batch mode renders every FILE into this folder; files then
    // holds them all (file is the first).
    QString outputDirectory;
    QStringList files;
    // --turntable N: N frames turning once about the view's vertical axis,
    // numbered OUT-0000.png ...; 0 for one frame.
    int turntable = 0;
    // --movie: the turntable's frames encoded into this video by ffmpeg (an
    // optional tool); empty for none. Only with --output.
    QString movie;
    // --backend: how batch mode reaches OpenGL.
    FrameBackend backend = FrameBackend::Auto;
    // --gpu-budget: texture memory in MiB that batch mode plans loads with
    // (0: a quarter of this machine's memory).
    int gpuBudgetMiB = 0;
    // --full-resolution: a volume held at a reduced level is rendered as the
    // part --crop keeps, at full resolution.
    bool fullResolutionRegion = false;
    QSize size = QSize(400, 400);
    std::array<int, 3> rotation = {0, 0, 0}; // degrees about X, Y, Z
    int samples = 100;
    QGradientStops stops; // the window's start-up ramp unless --stops is given
    // --transfer-function: a preset's name or a file, read by the window (after
    // its start-up default) or by batch mode (instead of stops); empty for none.
    QString transferFunction;
    ViewTransform view;                            // --zoom and --pan
    CropBox crop;                                  // --crop
    RenderMode renderMode = RenderMode::Composite; // --mode
    // --light, --ambient, --diffuse, --specular, --exponent and --depth-cueing
    // (k1, k2); its samples field is not read: samples above holds --samples.
    RenderingOptions lighting;
    bool jitter = true;      // --no-jitter: every ray samples at its step midpoints
    bool useSettings = true; // --no-settings: the window neither reads nor writes settings
    // --probe: world points (RAS mm in a scan) to look up in each file.
    std::vector<std::array<double, 3>> probes;
    bool json = false; // --json: --info and --probe print JSON lines
    // --frame N: the volume of a series (4D image) that batch mode, --slice
    // and --probe show, 0-based; --frames all: batch mode writes one picture
    // of each, numbered OUT-0000.png ...
    int frame = 0;
    bool allFrames = false;
    // --spacing X,Y,Z: the voxel size in mm along the file's stored axes, in
    // place of the file's own (the window's FILE, batch mode, --info and
    // --probe).
    std::optional<std::array<double, 3>> spacing;
    // --slice and --window: batch mode writes that slice instead of a
    // rendering; none for a rendering.
    std::optional<SliceRequest> slice;
    // --overlay and --labels, in their order (the first lowest), each with
    // the options written after it: shown over FILE in the window, batch
    // pictures, --slice and --probe.
    std::vector<LayerRequest> layers;
    // FILE as a scene (.kelvara): its layers and view, which the options
    // given override; --base replaces its base layer's file.
    QString sceneFile;
    QString baseFile;
    // --save-scene: the scene the options describe is written there (batch
    // mode, with or without --output).
    QString saveScene;
    // --layout four: batch mode draws the four-view layout (the three slice
    // views and the rendering) at --size; --scale N magnifies slice images N
    // times, nearest.
    bool fourViewLayout = false;
    int scale = 1;
    // --label-stats: the statistics of each label of the first --labels map
    // over FILE, as CSV.
    QString labelStatistics;
    // The names of the options given, for a scene to keep what they leave out.
    QStringList given;
    bool isGiven(const char *option) const { return given.contains(QLatin1String(option)); }

    // What batch mode renders with: lighting with samples.
    RenderingOptions renderingOptions() const
    {
        RenderingOptions options = lighting;
        options.samples = samples;
        return options;
    }
};

// The panel's spin boxes for k1, k2 and the specular exponent hold 0..99.99 in
// steps of 0.01; batch mode takes exactly those values, so that every batch
// picture can be set up in the window too.
constexpr double maximumPanelCoefficient = 99.99;
constexpr int panelCoefficientDecimals = 2;

// Takes Qt's own options (-style NAME, -platform NAME, -reverse, --style=NAME,
// ...) out of the arguments: QApplication reads those from argv itself. False
// with a reason when such an option lacks its value.
bool removeToolkitOptions(QStringList *arguments, QString *reason);

// Parses the arguments (the first one is the program), ignoring Qt's own
// options. Never exits the process.
CommandLine parseCommandLine(const QStringList &arguments);
