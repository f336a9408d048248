#include "commandline.h"

#include "patientorientation.h"
#include "scenefile.h"
#include "transferfunctionpresets.h"
#include "transferfunctiontable.h"

#include <QColor>
#include <QCommandLineParser>

#include <cctype>
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <vector>

namespace {

CommandLine usageError(const QString &message)
{
    CommandLine result;
    result.mode = CommandLine::Mode::UsageError;
    result.text = message + "\nTry 'kelvara --help'.";
    return result;
}

// The options that QApplication (with the xcb platform) takes out of the
// command line itself, whether written with one dash or two. Those with a value
// take the next argument; "-style=NAME" and "-stylesheet=FILE" also work.
struct ToolkitOption
{
    const char *name;
    bool takesValue;
};
constexpr ToolkitOption toolkitOptions[] = {{"platform", true},        {"platformpluginpath", true},
                                            {"platformtheme", true},   {"plugin", true},
                                            {"qwindowgeometry", true}, {"geometry", true},
                                            {"qwindowtitle", true},    {"title", true},
                                            {"qwindowicon", true},     {"icon", true},
                                            {"session", true},         {"qmljsdebugger", true},
                                            {"style", true},           {"stylesheet", true},
                                            {"display", true},         {"name", true},
                                            {"visual", true},          {"reverse", false},
                                            {"widgetcount", false},    {"nograb", false},
                                            {"dograb", false},         {"sync", false},
                                            {"testability", false}};

const ToolkitOption *findToolkitOption(const QString &name)
{
    for (const ToolkitOption &option : toolkitOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

// Exactly `count` finite numbers separated by commas, or nothing.
std::vector<double> parseNumbers(const QString &text, int count)
{
    const QStringList parts = text.split(',');
    std::vector<double> numbers;
    for (const QString &part : parts) {
        bool ok = false;
        const double number = part.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(number))
            return {};
        numbers.push_back(number);
    }
    return int(numbers.size()) == count ? numbers : std::vector<double>();
}

// "#RRGGBB" as an opaque colour; nothing for names, "#RGB" or "#AARRGGBB",
// which the panel's swatches do not show either.
std::optional<QColor> parseColour(const QString &text)
{
    bool ok = text.size() == 7 && text.startsWith('#');
    for (int i = 1; ok && i < 7; ++i)
        ok = std::isxdigit(static_cast<unsigned char>(text[i].toLatin1())) != 0;
    if (!ok)
        return std::nullopt;
    return QColor::fromRgb(QRgb(0xff000000u | text.mid(1).toUInt(nullptr, 16)));
}

// Whether the panel's spin boxes can hold the value exactly (see
// maximumPanelCoefficient).
bool isPanelCoefficient(double value)
{
    const double steps = value * std::pow(10.0, panelCoefficientDecimals);
    return value >= 0.0 && value <= maximumPanelCoefficient &&
           std::fabs(steps - std::round(steps)) < 1e-6;
}

// --slice and --window into the result; a usage message when they are
// malformed or stand with options they do not go with, else empty.
QString takeSliceOptions(const QCommandLineParser &parser, const QCommandLineOption &slice,
                         const QCommandLineOption &window, CommandLine *result)
{
    if (!parser.isSet(slice)) {
        if (parser.isSet(window))
            return "--window needs --slice";
        return QString();
    }
    SliceRequest request;
    if (!parseSlicePlane(parser.value(slice), &request))
        return "bad --slice: expected axial, coronal or sagittal, optionally :INDEX (0 or more)";
    if (parser.isSet(window) && !parseSliceWindow(parser.value(window), &request))
        return "bad --window: expected W,L (window above 0, in the file's units), auto or full";
    for (const char *rendering : {"size", "rotation", "samples", "stops", "transfer-function",
                                  "zoom", "pan", "crop", "mode", "light", "ambient", "diffuse",
                                  "specular", "exponent", "depth-cueing", "no-jitter", "view-from"})
        if (parser.isSet(rendering))
            return QString("--%1 applies to renderings, not to --slice").arg(rendering);
    result->slice = request;
    return QString();
}

// The options of the layers over FILE; those after --overlay or --labels
// apply to that layer, so they are read in their order, which
// QCommandLineParser does not keep.
struct LayerOption
{
    const char *name;
    LayerKind kind;
    bool takesValue;
};
constexpr LayerOption layerOptions[] = {
    {"overlay", LayerKind::Image, true},          {"labels", LayerKind::Labels, true},
    {"overlay-colormap", LayerKind::Image, true}, {"overlay-range", LayerKind::Image, true},
    {"overlay-negative", LayerKind::Image, true}, {"overlay-opacity", LayerKind::Image, true},
    {"label-table", LayerKind::Labels, true},     {"label-opacity", LayerKind::Labels, true},
    {"label-outline", LayerKind::Labels, false}};

std::optional<double> parseOpacity(const QString &text)
{
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !(value >= 0.0 && value <= 1.0))
        return std::nullopt;
    return value;
}

// Applies one option to the layers; a usage message when it is malformed or
// has no layer of its kind before it.
QString takeLayerOption(const LayerOption &option, const QString &value,
                        std::vector<LayerRequest> &layers)
{
    const QString name = QString::fromLatin1(option.name);
    if (name == QLatin1String("overlay") || name == QLatin1String("labels")) {
        if (value.isEmpty())
            return QString("--%1 needs a file").arg(name);
        LayerRequest layer;
        layer.file = value;
        layer.kind = option.kind;
        layers.push_back(layer);
        return QString();
    }
    const bool image = option.kind == LayerKind::Image;
    if (layers.empty() || layers.back().kind != option.kind)
        return QString("--%1 applies to the layer named before it: put it after %2 FILE")
            .arg(name, image ? "--overlay" : "--labels");
    LayerRequest &layer = layers.back();
    if (name == QLatin1String("overlay-colormap") || name == QLatin1String("overlay-negative")) {
        if (value.isEmpty())
            return QString("--%1 needs a colour map's name or file").arg(name);
        (name == QLatin1String("overlay-colormap") ? layer.colorMap : layer.negativeMap) = value;
    } else if (name == QLatin1String("overlay-range")) {
        const std::vector<double> range = parseNumbers(value, 2);
        if (range.empty() || !(range[0] <= range[1]))
            return "bad --overlay-range: expected MIN,MAX in the file's units, MIN not above MAX";
        layer.range = std::array<double, 2>{{range[0], range[1]}};
    } else if (name == QLatin1String("overlay-opacity") || name == QLatin1String("label-opacity")) {
        layer.opacity = parseOpacity(value);
        if (!layer.opacity)
            return QString("bad --%1: expected a number from 0 to 1").arg(name);
    } else if (name == QLatin1String("label-table")) {
        if (value.isEmpty())
            return "--label-table needs a file";
        layer.labelTable = value;
    } else {
        layer.outline = true;
    }
    return QString();
}

QString takeLayerOptions(const QStringList &arguments, std::vector<LayerRequest> &layers)
{
    for (int i = 1; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument == QLatin1String("--"))
            break;
        if (!argument.startsWith(QLatin1String("--")))
            continue;
        const int equals = argument.indexOf('=');
        const QString name = argument.mid(2, equals < 0 ? -1 : equals - 2);
        for (const LayerOption &option : layerOptions) {
            if (name != QLatin1String(option.name))
                continue;
            QString value;
            if (option.takesValue)
                value = equals >= 0 ? argument.mid(equals + 1)
                                    : (i + 1 < arguments.size() ? arguments[++i] : QString());
            const QString problem = takeLayerOption(option, value, layers);
            if (!problem.isEmpty())
                return problem;
        }
    }
    return QString();
}

} // namespace

bool removeToolkitOptions(QStringList *arguments, QString *reason)
{
    QStringList kept;
    for (int i = 0; i < arguments->size(); ++i) {
        const QString &argument = arguments->at(i);
        if (i == 0 || !argument.startsWith('-') || argument == "--") {
            kept.append(argument);
            continue;
        }
        const QString name = argument.mid(argument.startsWith("--") ? 2 : 1);
        if (name.startsWith("style=") || name.startsWith("stylesheet=") ||
            name.startsWith("qmljsdebugger="))
            continue;
        if (const ToolkitOption *option = findToolkitOption(name)) {
            if (option->takesValue && ++i == arguments->size()) {
                *reason = QString("option '%1' needs a value").arg(argument);
                return false;
            }
            continue;
        }
        kept.append(argument);
    }
    *arguments = kept;
    return true;
}

CommandLine parseCommandLine(const QStringList &allArguments)
{
    QStringList arguments = allArguments;
    QString toolkitError;
    if (!removeToolkitOptions(&arguments, &toolkitError))
        return usageError(toolkitError);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Kelvara: a viewer for 3D scalar volumes with slices and GPU ray casting.\n"
        "Reads DAT (.dat), NIfTI (.nii, .nii.gz, .hdr/.img), NRRD (.nrrd, .nhdr),\n"
        "MetaImage (.mha, .mhd), DICOM (a .dcm file or a folder of a series),\n"
        "MGH (.mgh, .mgz) and MRC/CCP4 (.mrc, .mrcs, .map, .ccp4, .rec, .st, .ali).\n"
        "With --output, renders one frame of FILE to a PNG image and exits\n"
        "(exit status 0 on success, 1 when FILE cannot be loaded or rendered, 2 on bad "
        "arguments).");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption output("output", "Render FILE into the PNG image OUT and exit.",
                                    "OUT");
    const QCommandLineOption size("size", "Image size of --output (default 400x400).", "WxH");
    const QCommandLineOption rotation("rotation",
                                      "Rotation of --output in degrees (default 0,0,0).", "X,Y,Z");
    const QCommandLineOption samples("samples", "Samples per ray of --output (default 100).", "N");
    const QCommandLineOption stops(
        "stops", "Transfer function of --output (default: black to white ramp, opaque).",
        "POS:#AARRGGBB,...");
    const QCommandLineOption transferFunction(
        "transfer-function",
        "Transfer function: a preset (see --list-presets) or a file (ours or a ParaView colour "
        "map). The window applies it after its start-up default; --output renders with it.",
        "FILE|PRESET");
    const QCommandLineOption listPresets("list-presets",
                                         "Print the names of the transfer-function presets.");
    const QCommandLineOption zoom("zoom", "Zoom of --output, 0.25..16 (default 1).", "F");
    const QCommandLineOption pan(
        "pan",
        "Pan of --output in view units, the shorter side spanning 2; positive "
        "values move the picture right and up (default 0,0).",
        "X,Y");
    const QCommandLineOption crop("crop",
                                  "Part of the volume --output shows, as fractions of each axis "
                                  "(default 0,1,0,1,0,1).",
                                  "X0,X1,Y0,Y1,Z0,Z1");
    const QCommandLineOption mode("mode",
                                  "Rendering of --output: composite (default) or mip (maximum "
                                  "intensity projection).",
                                  "composite|mip");
    const QCommandLineOption light("light", "Light colour of --output (default #ffffff).",
                                   "#RRGGBB");
    const QCommandLineOption ambient("ambient", "Ambient colour of --output (default #373737).",
                                     "#RRGGBB");
    const QCommandLineOption diffuse("diffuse", "Diffuse colour of --output (default #c8c8c8).",
                                     "#RRGGBB");
    const QCommandLineOption specular("specular", "Specular colour of --output (default #ffffff).",
                                      "#RRGGBB");
    const QCommandLineOption exponent(
        "exponent", "Specular exponent of --output, 0..99.99 in steps of 0.01 (default 16).", "F");
    const QCommandLineOption depthCueing("depth-cueing",
                                         "Depth-cueing coefficients of --output, each 0..99.99 in "
                                         "steps of 0.01 (default 1,1).",
                                         "K1,K2");
    const QCommandLineOption noJitter(
        "no-jitter", "Sample every ray of --output at the midpoints of its steps, without the "
                     "per-pixel offset of the first sample (default: offset on).");
    const QCommandLineOption viewFrom(
        "view-from",
        "Standard view of --output, looking at that side of the patient: anterior, posterior, "
        "left, right (superior up), superior or inferior (anterior up); instead of --rotation.",
        "SIDE");
    const QCommandLineOption outputDirectory(
        "output-dir",
        "Render every FILE into a PNG image in DIR, named after the file, and exit (exit status "
        "1 when any file failed).",
        "DIR");
    const QCommandLineOption turntable(
        "turntable",
        "Render N frames (1..3600) turning once about the view's vertical axis, numbered "
        "OUT-0000.png, OUT-0001.png, ... (with --output-dir: NAME-0000.png, ...).",
        "N");
    const QCommandLineOption movie(
        "movie",
        "Encode the frames of --turntable into the video MOVIE (e.g. turn.mp4) with ffmpeg, "
        "which must be installed; the frames stay.",
        "MOVIE");
    const QCommandLineOption backend(
        "backend",
        "How --output reaches OpenGL: egl (no display needed), glx (the display's GL) or auto "
        "(default: egl where it works, else glx).",
        "auto|egl|glx");
    const QCommandLineOption gpuBudget(
        "gpu-budget",
        "Texture memory in MiB for the 3D view (default: a quarter of this machine's memory); "
        "a volume beyond it, or beyond memory, is rendered at a reduced resolution.",
        "MIB");
    const QCommandLineOption fullResolution(
        "full-resolution",
        "For a volume shown at a reduced resolution (see --gpu-budget): render the part --crop "
        "keeps at full resolution instead, where it fits.");
    parser.addOptions(
        {output,   size,     rotation,    samples,       stops,    transferFunction, listPresets,
         zoom,     pan,      crop,        mode,          light,    ambient,          diffuse,
         specular, exponent, depthCueing, noJitter,      viewFrom, outputDirectory,  turntable,
         movie,    backend,  gpuBudget,   fullResolution});
    // Slices instead of a rendering.
    const QCommandLineOption slice(
        "slice",
        "Write that slice of FILE to --output instead of a rendering, as the slice views show "
        "it (radiological orientation, one pixel per finest voxel spacing); the middle slice "
        "unless INDEX is given.",
        "axial|coronal|sagittal[:INDEX]");
    const QCommandLineOption window(
        "window",
        "Grey window of --slice in the file's units (Hounsfield units for CT): width and "
        "level, auto (1st to 99th percentile) or full (the whole range, default).",
        "W,L|auto|full");
    parser.addOptions({slice, window});
    // Settings: what the window remembers between runs.
    const QCommandLineOption noSettings(
        "no-settings", "Start the window with its built-in defaults and remember nothing (also "
                       "when the environment variable KELVARA_NO_SETTINGS is set).");
    parser.addOption(noSettings);
    // Looking at files without a window.
    const QCommandLineOption info(
        "info", "Print what each FILE holds (format, size, type, spacing, voxel-to-RAS matrix, "
                "orientation, value range, warnings) and exit (1 when a file cannot be read).");
    const QCommandLineOption probe(
        "probe",
        "Print the voxel of FILE nearest to the world point X,Y,Z (RAS mm; a DAT file's own "
        "X, Y, Z) and its value in the file's units; may be given several times.",
        "X,Y,Z");
    const QCommandLineOption json("json", "With --info or --probe: print one JSON object a line.");
    parser.addOptions({info, probe, json});
    // Series of volumes (4D images).
    const QCommandLineOption frame(
        "frame",
        "The volume N (0-based, default 0) of a series of volumes (4D image) that --output, "
        "--slice and --probe show.",
        "N");
    const QCommandLineOption frames(
        "frames",
        "With --output: one picture of each volume of a series, numbered OUT-0000.png, "
        "OUT-0001.png, ...",
        "all");
    parser.addOptions({frame, frames});
    const QCommandLineOption spacing(
        "spacing",
        "The voxel size in mm along the file's own axes (columns, rows, slices), in place of "
        "the one the file gives (image stacks and TIFF files often give none); for FILE only.",
        "X,Y,Z");
    const QCommandLineOption series(
        "series",
        "Open the numbered 2D images that the printf pattern names (slice_%04d.png, numbers "
        "from 0 or 1 on) as one volume: the same as giving the pattern as FILE.",
        "PATTERN");
    parser.addOptions({spacing, series});
    const QCommandLineOption saveScene(
        "save-scene",
        "Write the scene the other options describe (FILE, its layers, the view) to SCENE "
        "(.kelvara) and exit; with --output the picture is written too.",
        "SCENE");
    const QCommandLineOption base(
        "base",
        "With a scene as FILE: show this file as its base layer instead of the scene's "
        "own, so that one scene makes the same figure for another subject.",
        "FILE");
    const QCommandLineOption labelStats(
        "label-stats",
        "Write each label's voxel count, volume and FILE's mean, sd, minimum, maximum and "
        "median inside it, for the first --labels map, to OUT.csv and exit.",
        "OUT.csv");
    parser.addOptions({saveScene, base, labelStats});
    const QCommandLineOption layout(
        "layout",
        "With --output: single (the rendering, default) or four (the axial, coronal and "
        "sagittal slices at the cursor and the rendering, as the window's four views, at "
        "--size).",
        "single|four");
    const QCommandLineOption scale(
        "scale", "With --slice: magnify the slice image N times (1..16), each voxel a flat patch.",
        "N");
    parser.addOptions({layout, scale});
    parser.addOptions(
        {{"overlay",
          "A volume to show over FILE (a statistical map, a PET, another scan), placed by the "
          "world geometry of both; repeatable, the options below apply to the layer named "
          "before them.",
          "FILE"},
         {"overlay-colormap",
          "The overlay's colour map: grey, hot, cool, red-yellow, blue-green, viridis, ... or a "
          "file (a 768-byte lookup table, ParaView colour-map JSON).",
          "NAME|FILE"},
         {"overlay-range",
          "The overlay's display range in its file's units; below MIN nothing "
          "is drawn.",
          "MIN,MAX"},
         {"overlay-negative",
          "Also show the overlay's values from -MIN to -MAX through this colour map.", "NAME|FILE"},
         {"overlay-opacity", "The overlay's opacity, 0..1 (default 1).", "A"},
         {"labels", "A label map to show over FILE (whole numbers naming regions); repeatable.",
          "FILE"},
         {"label-table",
          "The label map's names and colours: ITK-SNAP label descriptions, a FreeSurfer or "
          "3D Slicer colour table, or a list of index and name.",
          "FILE"},
         {"label-opacity", "The label map's opacity, 0..1 (default 0.5).", "A"},
         {"label-outline", "Draw the labels' outlines in the slices instead of filling them."}});
    parser.addPositionalArgument(
        "FILE",
        "Volume to open: DAT, NIfTI, NRRD, MetaImage, MGH, MRC, or a DICOM file or "
        "folder.",
        "[FILE...]");

    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    CommandLine result;
    result.useSettings = !parser.isSet(noSettings);
    if (parser.isSet(help)) {
        result.mode = CommandLine::Mode::Help;
        result.text = parser.helpText().replace("<executable_name>", "kelvara");
        return result;
    }
    if (parser.isSet(version)) {
        result.mode = CommandLine::Mode::Version;
        result.text = QString("kelvara %1").arg(KELVARA_VERSION);
        return result;
    }

    if (parser.isSet(listPresets)) {
        result.mode = CommandLine::Mode::ListPresets;
        QStringList names;
        for (const TransferFunctionPreset &preset : transferFunctionPresets())
            names << preset.name;
        names << automaticPresetName;
        result.text = names.join('\n');
        return result;
    }

    QStringList files = parser.positionalArguments();
    std::vector<LayerRequest> layers;
    const QString layerProblem = takeLayerOptions(arguments, layers);
    if (!layerProblem.isEmpty())
        return usageError(layerProblem);
    if (!layers.empty() && (files.isEmpty() || parser.isSet(info)))
        return usageError("--overlay and --labels show layers over a FILE (not with --info)");
    if (!layers.empty() && files.size() > 1 && !parser.isSet(outputDirectory))
        return usageError("--overlay and --labels go with one FILE (or --output-dir)");
    if (parser.isSet(series)) {
        const QString pattern = parser.value(series);
        if (!pattern.contains(QLatin1Char('%')))
            return usageError("bad --series: expected a printf pattern such as slice_%04d.png");
        files.prepend(pattern);
    }
    if (parser.isSet(spacing)) {
        const std::vector<double> value = parseNumbers(parser.value(spacing), 3);
        const bool positive =
            value.size() == 3 && std::all_of(value.begin(), value.end(),
                                             [](double v) { return std::isfinite(v) && v > 0.0; });
        if (!positive)
            return usageError("bad --spacing: expected X,Y,Z in mm, each above 0");
        result.spacing = std::array<double, 3>{{value[0], value[1], value[2]}};
        if (files.isEmpty())
            return usageError("--spacing needs a FILE");
    }
    if (parser.isSet(frame)) {
        bool ok = false;
        result.frame = parser.value(frame).toInt(&ok);
        if (!ok || result.frame < 0 || result.frame > 65534)
            return usageError("bad --frame: expected a volume number, 0..65534");
        if (parser.isSet(frames))
            return usageError("--frame and --frames cannot be used together");
    }
    if (parser.isSet(frames)) {
        if (parser.value(frames) != QLatin1String("all"))
            return usageError("bad --frames: expected all");
        if (!parser.isSet(output) && !parser.isSet(outputDirectory))
            return usageError("--frames needs --output");
        if (parser.isSet(turntable) || parser.isSet(movie) || parser.isSet(slice))
            return usageError("--frames all writes one picture per volume: leave out "
                              "--turntable, --movie and --slice");
        result.allFrames = true;
    }
    if (parser.isSet(frame) && parser.isSet(info))
        return usageError("--info describes every volume of a series: leave out --frame");
    if (parser.isSet(frame) && !parser.isSet(probe) && !parser.isSet(output) &&
        !parser.isSet(outputDirectory))
        return usageError("--frame needs --output or --probe");
    if (parser.isSet(labelStats)) {
        const bool labelMap = std::any_of(layers.begin(), layers.end(), [](const LayerRequest &l) {
            return l.kind == LayerKind::Labels;
        });
        if (files.size() != 1 || !labelMap || parser.value(labelStats).isEmpty())
            return usageError("--label-stats needs one FILE, a --labels map and a file name");
        for (const QCommandLineOption *option : {&output, &outputDirectory, &info, &probe})
            if (parser.isSet(*option))
                return usageError("--label-stats writes a table: leave out --output, "
                                  "--output-dir, --info and --probe");
        result.mode = CommandLine::Mode::LabelStatistics;
        result.file = files.first();
        result.files = files;
        result.layers = layers;
        result.labelStatistics = parser.value(labelStats);
        return result;
    }
    if (parser.isSet(info) || parser.isSet(probe)) {
        if (parser.isSet(info) && parser.isSet(probe))
            return usageError("--info and --probe cannot be used together");
        if (files.isEmpty())
            return usageError(
                QString("--%1 needs at least one FILE").arg(parser.isSet(info) ? "info" : "probe"));
        if (parser.isSet(output) || parser.isSet(outputDirectory))
            return usageError("--info and --probe print to the terminal: leave out --output");
        result.mode = parser.isSet(info) ? CommandLine::Mode::Info : CommandLine::Mode::Probe;
        for (const QString &point : parser.values(probe)) {
            const std::vector<double> value = parseNumbers(point, 3);
            if (value.empty())
                return usageError("bad --probe: expected X,Y,Z in mm");
            result.probes.push_back({{value[0], value[1], value[2]}});
        }
        result.files = files;
        result.file = files.first();
        result.json = parser.isSet(json);
        result.layers = layers;
        return result;
    }
    if (parser.isSet(json))
        return usageError("--json goes with --info or --probe");
    if (files.size() > 1 && !parser.isSet(outputDirectory))
        return usageError("only one FILE can be opened (several need --output-dir)");
    result.files = files;
    result.layers = layers;
    if (!files.isEmpty())
        result.file = files.first();
    result.given = parser.optionNames();
    if (!files.isEmpty() && SceneFile::isSceneFileName(files.first())) {
        if (files.size() > 1)
            return usageError("a scene is opened on its own: give one .kelvara file");
        result.sceneFile = files.first();
    }
    if (parser.isSet(base)) {
        if (result.sceneFile.isEmpty())
            return usageError("--base needs a scene (.kelvara) as FILE");
        result.baseFile = parser.value(base);
    }
    if (parser.isSet(saveScene)) {
        result.saveScene = parser.value(saveScene);
        if (result.file.isEmpty() || result.saveScene.isEmpty())
            return usageError("--save-scene needs a FILE and a scene file name");
        if (parser.isSet(outputDirectory) || parser.isSet(slice))
            return usageError("--save-scene writes one scene: leave out --output-dir and --slice");
    }
    result.stops = blackToWhiteStops();
    if (parser.isSet(transferFunction)) {
        result.transferFunction = parser.value(transferFunction);
        if (result.transferFunction.isEmpty())
            return usageError("--transfer-function needs a file or a preset name");
        if (parser.isSet(stops))
            return usageError("--stops and --transfer-function cannot be used together");
    }

    bool batchOnly = false;
    for (const QCommandLineOption *option :
         {&size, &rotation, &samples, &stops, &zoom, &pan, &crop, &mode})
        batchOnly = batchOnly || parser.isSet(*option);
    if (!parser.isSet(output) && !parser.isSet(outputDirectory) && !parser.isSet(saveScene)) {
        if (parser.isSet(slice) || parser.isSet(window))
            return usageError("--slice and --window need --output");
        if (batchOnly)
            return usageError("--size, --rotation, --samples, --stops, --zoom, --pan, --crop and "
                              "--mode need --output");
        for (const QCommandLineOption *option :
             {&light, &ambient, &diffuse, &specular, &exponent, &depthCueing, &noJitter, &viewFrom,
              &turntable, &movie, &backend, &gpuBudget, &fullResolution, &layout, &scale})
            if (parser.isSet(*option))
                return usageError(QString("--%1 needs --output").arg(option->names().first()));
        return result;
    }

    result.mode = CommandLine::Mode::Batch;
    if (parser.isSet(outputDirectory)) {
        if (parser.isSet(output))
            return usageError("--output and --output-dir cannot be used together");
        result.outputDirectory = parser.value(outputDirectory);
        if (result.outputDirectory.isEmpty())
            return usageError("--output-dir needs a folder");
        if (result.files.isEmpty())
            return usageError("--output-dir needs at least one FILE to render");
    } else if (parser.isSet(output)) {
        result.output = parser.value(output);
        if (result.file.isEmpty())
            return usageError("--output needs a FILE to render");
        if (result.output.isEmpty())
            return usageError("--output needs a file name");
    }
    if (parser.isSet(turntable)) {
        bool ok = false;
        result.turntable = parser.value(turntable).toInt(&ok);
        if (!ok || result.turntable < 1 || result.turntable > 3600)
            return usageError("bad --turntable: expected a number of frames, 1..3600");
    }
    if (parser.isSet(movie)) {
        result.movie = parser.value(movie);
        if (result.movie.isEmpty() || result.turntable < 2)
            return usageError("--movie needs a file name and --turntable of at least 2 frames");
        if (!result.outputDirectory.isEmpty())
            return usageError("--movie goes with --output, not with --output-dir");
    }
    if (parser.isSet(backend)) {
        const QString name = parser.value(backend);
        if (name == QLatin1String("auto"))
            result.backend = FrameBackend::Auto;
        else if (name == QLatin1String("egl"))
            result.backend = FrameBackend::Egl;
        else if (name == QLatin1String("glx"))
            result.backend = FrameBackend::Glx;
        else
            return usageError("bad --backend: expected auto, egl or glx");
    }
    if (parser.isSet(gpuBudget)) {
        bool ok = false;
        result.gpuBudgetMiB = parser.value(gpuBudget).toInt(&ok);
        if (!ok || result.gpuBudgetMiB < 1)
            return usageError("bad --gpu-budget: expected a number of MiB, at least 1");
    }
    result.fullResolutionRegion = parser.isSet(fullResolution);
    if (parser.isSet(layout)) {
        const QString name = parser.value(layout);
        if (name != QLatin1String("single") && name != QLatin1String("four"))
            return usageError("bad --layout: expected single or four");
        result.fourViewLayout = name == QLatin1String("four");
        if (result.fourViewLayout && (parser.isSet(slice) || parser.isSet(turntable)))
            return usageError("--layout four draws one picture: leave out --slice and --turntable");
    }
    if (parser.isSet(scale)) {
        bool ok = false;
        result.scale = parser.value(scale).toInt(&ok);
        if (!ok || result.scale < 1 || result.scale > 16)
            return usageError("bad --scale: expected a whole number, 1..16");
        if (!parser.isSet(slice))
            return usageError("--scale needs --slice");
    }
    const QString sliceProblem = takeSliceOptions(parser, slice, window, &result);
    if (!sliceProblem.isEmpty())
        return usageError(sliceProblem);
    if (result.slice)
        result.slice->scale = result.scale;
    if (result.slice && !result.outputDirectory.isEmpty())
        return usageError("--slice writes one image: use --output, not --output-dir");
    if (result.slice && (parser.isSet(turntable) || parser.isSet(movie) || parser.isSet(backend)))
        return usageError("--turntable, --movie and --backend apply to renderings, not to --slice");

    if (parser.isSet(size)) {
        const QStringList parts = parser.value(size).split('x');
        bool wOk = false, hOk = false;
        const int w = parts.size() == 2 ? parts[0].toInt(&wOk) : 0;
        const int h = parts.size() == 2 ? parts[1].toInt(&hOk) : 0;
        if (!wOk || !hOk || w < 1 || h < 1 || w > 8192 || h > 8192)
            return usageError("bad --size: expected WxH, each 1..8192");
        result.size = QSize(w, h);
    }
    if (parser.isSet(rotation)) {
        const QStringList parts = parser.value(rotation).split(',');
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i)
            result.rotation[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return usageError("bad --rotation: expected X,Y,Z in whole degrees");
    }
    if (parser.isSet(samples)) {
        bool ok = false;
        result.samples = parser.value(samples).toInt(&ok);
        if (!ok || result.samples < 2 || result.samples > 999)
            return usageError("bad --samples: expected a whole number in 2..999");
    }
    if (parser.isSet(stops)) {
        QString reason;
        if (!parseStops(parser.value(stops), &result.stops, &reason))
            return usageError("bad --stops: " + reason);
    }
    if (parser.isSet(zoom)) {
        const std::vector<double> value = parseNumbers(parser.value(zoom), 1);
        if (value.empty() || value[0] < minimumZoom || value[0] > maximumZoom)
            return usageError("bad --zoom: expected a number in 0.25..16");
        result.view.zoom = value[0];
    }
    if (parser.isSet(pan)) {
        const std::vector<double> value = parseNumbers(parser.value(pan), 2);
        if (value.empty())
            return usageError("bad --pan: expected X,Y");
        result.view.pan = QPointF(value[0], value[1]);
    }
    if (parser.isSet(crop)) {
        const std::vector<double> value = parseNumbers(parser.value(crop), 6);
        bool ok = !value.empty();
        for (int axis = 0; ok && axis < 3; ++axis) {
            const double lower = value[2 * axis];
            const double upper = value[2 * axis + 1];
            ok = lower >= 0.0 && lower <= upper && upper <= 1.0;
            result.crop.lower[axis] = lower;
            result.crop.upper[axis] = upper;
        }
        if (!ok)
            return usageError("bad --crop: expected X0,X1,Y0,Y1,Z0,Z1 with 0 <= low <= high <= 1");
    }
    if (parser.isSet(mode)) {
        const QString name = parser.value(mode);
        if (name == "mip")
            result.renderMode = RenderMode::MaximumIntensity;
        else if (name != "composite")
            return usageError("bad --mode: expected composite or mip");
    }

    const std::pair<const QCommandLineOption *, QColor *> colours[] = {
        {&light, &result.lighting.light},
        {&ambient, &result.lighting.ambient},
        {&diffuse, &result.lighting.diffuse},
        {&specular, &result.lighting.specular}};
    for (const auto &[option, colour] : colours) {
        if (!parser.isSet(*option))
            continue;
        const std::optional<QColor> value = parseColour(parser.value(*option));
        if (!value)
            return usageError(QString("bad --%1: expected a colour #RRGGBB (six hex digits)")
                                  .arg(option->names().first()));
        *colour = *value;
    }
    if (parser.isSet(exponent)) {
        const std::vector<double> value = parseNumbers(parser.value(exponent), 1);
        if (value.empty() || !isPanelCoefficient(value[0]))
            return usageError("bad --exponent: expected a number in 0..99.99 with at most two "
                              "decimals");
        result.lighting.exponent = float(value[0]);
    }
    if (parser.isSet(depthCueing)) {
        const std::vector<double> value = parseNumbers(parser.value(depthCueing), 2);
        if (value.empty() || !isPanelCoefficient(value[0]) || !isPanelCoefficient(value[1]))
            return usageError("bad --depth-cueing: expected K1,K2, each a number in 0..99.99 "
                              "with at most two decimals");
        result.lighting.k1 = float(value[0]);
        result.lighting.k2 = float(value[1]);
    }
    result.jitter = !parser.isSet(noJitter);
    if (parser.isSet(viewFrom)) {
        if (parser.isSet(rotation))
            return usageError("--rotation and --view-from cannot be used together");
        const std::optional<PatientSide> side = patientSideNamed(parser.value(viewFrom));
        if (!side)
            return usageError("bad --view-from: expected anterior, posterior, left, right, "
                              "superior or inferior");
        result.rotation = rotationViewingFrom(*side);
    }
    return result;
}
