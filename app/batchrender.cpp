#include "batchrender.h"

#include "batchlayers.h"
#include "commandline.h"
#include "scenefile.h"
#include "datarange.h"
#include "filenamebytes.h"
#include "fullresolutionregion.h"
#include "mappedscan.h"
#include "histogram.h"

#include "batchframe.h"
#include "offscreenframe.h"
#include "transferfunctionpresets.h"
#include "volume.h"
#include "volumefile.h"
#include "volumeseries.h"
#include "scene.h"
#include "slicebatch.h"
#include "slicegeometry.h"
#include "volumegrid.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <QProcess>
#include <QSaveFile>
#include <QSet>
#include <QStandardPaths>

#include <iostream>
#include <memory>

namespace {

// A frame of the backend the command line asks for, with the Qt application
// it needs in *application; null with the reasons of every backend tried.
std::unique_ptr<BatchFrame> makeFrame(int &argc, char **argv, const CommandLine &commandLine,
                                      std::unique_ptr<QCoreApplication> *application, QString *why)
{
    QStringList tried;
    if (commandLine.backend != FrameBackend::Glx) {
        // No window system: a core application, for the executable's folder
        // where the shader is looked for.
        *application = std::make_unique<QCoreApplication>(argc, argv);
        QString reason;
        std::unique_ptr<BatchFrame> frame = makeHeadlessFrame(commandLine.size, &reason);
        if (frame)
            return frame;
        tried << QStringLiteral("egl: %1").arg(reason);
        application->reset();
    }
    if (commandLine.backend != FrameBackend::Egl) {
        // Qt aborts the process when it cannot reach a display: ask first.
        if (qEnvironmentVariableIsEmpty("DISPLAY") &&
            qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
            tried << QStringLiteral("glx: no display (DISPLAY is not set)");
        } else {
            *application = std::make_unique<QApplication>(argc, argv);
            return std::make_unique<OffscreenFrame>(commandLine.size);
        }
    }
    *why = tried.join(QStringLiteral("; "));
    return nullptr;
}

bool saveImage(const QImage &image, const QString &path)
{
    // Written whole or not at all: a parallel job or a reader never sees half
    // an image, and a failed write leaves no file behind.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && image.save(&file, "PNG") && file.commit())
        return true;
    std::cerr << "+ Error saving image '" << QFile::encodeName(path).toStdString() << "'."
              << std::endl;
    return false;
}

// A volume file with the transfer function the command line gives for it
// (presets and ParaView maps depend on the data's range).
struct LoadedFile
{
    bool ok = false;
    QString file;
    std::unique_ptr<Volume> volume;
    TransferFunction function;
    // The volume is the cropped part at full resolution: drawn uncropped.
    bool region = false;
    std::vector<LoadedLayer> layers; // over the volume, the lowest first
};

// The part of loaded's volume that --crop keeps, at full resolution, in place
// of its reduced level; false (with a message) where it does not fit.
bool showRegionAtFullResolution(const CommandLine &commandLine, LoadedFile &loaded)
{
    const Volume &reduced = *loaded.volume;
    const FullResolutionRegion region = fullResolutionRegion(
        reduced, commandLine.crop, std::uint64_t(commandLine.gpuBudgetMiB) << 20);
    auto shown = std::make_unique<Volume>();
    const ScanReadResult built =
        region.fits ? reduced.fullResolution->buildRegion(region.lower, region.upper, *shown)
                    : ScanReadResult{false, region.reason};
    if (!built.ok) {
        std::cerr << "+ Error: " << built.reason << std::endl;
        return false;
    }
    shown->fullResolution = reduced.fullResolution;
    shown->origin = region.lower;
    loaded.volume = std::move(shown);
    loaded.region = true;
    return true;
}

LoadedFile loadFile(const CommandLine &commandLine, const QString &file, const Scene *fromFile)
{
    LoadedFile loaded;
    loaded.file = file;
    loaded.volume = std::make_unique<Volume>();
    // The loader prints its own progress and error lines.
    if (!loadVolumeFile(fileNameBytes(file).toStdString(), *loaded.volume,
                        std::uint64_t(commandLine.gpuBudgetMiB) << 20, commandLine.spacing)
             .ok)
        return loaded;
    if (commandLine.fullResolutionRegion && loaded.volume->fullResolution &&
        !showRegionAtFullResolution(commandLine, loaded))
        return loaded;
    std::string reason;
    // --frame over the scene's volume of the series.
    const int frame =
        fromFile && !commandLine.isGiven("frame") ? fromFile->frame : commandLine.frame;
    if (!selectSeriesFrame(*loaded.volume, frame, reason)) {
        std::cerr << "+ Error: " << reason << std::endl;
        return loaded;
    }
    // A scene's layers keep the look it gives them; the command line's go on
    // top.
    std::vector<LayerRequest> requests;
    if (fromFile)
        for (std::size_t i = 1; i < fromFile->layers.size(); ++i) {
            LayerRequest request;
            request.file = fromFile->layers[i].file;
            request.kind = fromFile->layers[i].appearance.kind;
            requests.push_back(request);
        }
    requests.insert(requests.end(), commandLine.layers.begin(), commandLine.layers.end());
    if (!loadBatchLayers(requests, *loaded.volume, std::uint64_t(commandLine.gpuBudgetMiB) << 20,
                         loaded.layers))
        return loaded;
    for (std::size_t i = 1; fromFile && i < fromFile->layers.size(); ++i)
        loaded.layers[i - 1].appearance = fromFile->layers[i].appearance;
    loaded.function = fromFile && !commandLine.isGiven("stops")
                          ? fromFile->layer().transferFunction
                          : TransferFunction::fromStops(commandLine.stops);
    if (!commandLine.transferFunction.isEmpty()) {
        const Volume &volume = *loaded.volume;
        // "auto" is made from the data's histogram.
        const Histogram histogram = Histogram::of(volume.data.data(), volume.data.size());
        const TransferFunctionFile::ReadResult read =
            presetOrFile(commandLine.transferFunction, dataRangeOf(&volume), &histogram);
        if (!read.ok) {
            std::cerr << "+ Error loading transfer function " << read.reason.toStdString()
                      << std::endl;
            return loaded;
        }
        loaded.function = read.function;
    }
    loaded.ok = true;
    return loaded;
}

// Writes the images of one loaded file: the turntable's, or one of each
// volume of a series; false (with a message) on any failure.
// The window's four-view layout of size pixels: the axial, coronal and
// sagittal slices through the scene's cursor (the centre without one), each
// fitted into its quarter, and the rendering in the fourth.
QImage fourViewPicture(const QImage &rendering, const Volume &volume, const Scene &scene,
                       const std::vector<ShownLayer> &layers, QSize size)
{
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    const QSize quarter(size.width() / 2, size.height() / 2);
    VoxelIndex cursor = centreVoxel(volume);
    if (scene.cursor) {
        const std::optional<std::array<int, 3>> voxel = voxelAtWorld(volume, *scene.cursor);
        if (voxel)
            cursor = *voxel;
    }
    const struct
    {
        SlicePlane plane;
        int row;
        int column;
    } places[] = {
        {SlicePlane::Axial, 0, 0}, {SlicePlane::Coronal, 0, 1}, {SlicePlane::Sagittal, 1, 0}};
    QPainter painter(&picture);
    for (const auto &place : places) {
        SliceRequest request;
        request.plane = place.plane;
        request.index = cursor[std::size_t(SliceGeometry::of(volume, place.plane).normalAxis())];
        if (scene.layer().windowLevel) {
            request.window = SliceRequest::Window::Given;
            request.given = *scene.layer().windowLevel;
        }
        QString reason;
        const QImage slice = sliceOutputImage(volume, request, &reason, layers);
        if (slice.isNull())
            continue;
        const QImage fitted = slice.scaled(quarter, Qt::KeepAspectRatio, Qt::FastTransformation);
        painter.drawImage(
            QPoint(place.column * quarter.width() + (quarter.width() - fitted.width()) / 2,
                   place.row * quarter.height() + (quarter.height() - fitted.height()) / 2),
            fitted);
    }
    painter.drawImage(QPoint(quarter.width(), quarter.height()), rendering);
    return picture;
}

// The scene of one loaded file: the command line's (over the scene file's),
// with the file's function and layers.
Scene sceneOf(const CommandLine &commandLine, const LoadedFile &loaded, const Scene *fromFile)
{
    Scene scene = batchScene(commandLine, fromFile);
    scene.layer().file = loaded.file;
    scene.layer().transferFunction = loaded.function;
    scene.layers.resize(1);
    for (const LoadedLayer &layer : loaded.layers) {
        SceneLayer shown;
        shown.file = layer.file;
        shown.appearance = layer.appearance;
        scene.layers.push_back(shown);
    }
    return scene;
}

bool renderFile(BatchFrame &frame, const CommandLine &commandLine, LoadedFile &loaded,
                const QString &stem, const Scene *fromFile)
{
    Scene scene = sceneOf(commandLine, loaded, fromFile);
    if (loaded.region)
        scene.crop = CropBox();
    const std::vector<ShownLayer> layers = shownLayersOf(loaded.layers);
    Volume &volume = *loaded.volume;
    const int count =
        commandLine.allFrames ? seriesFrameCount(volume) : std::max(1, commandLine.turntable);
    bool ok = true;
    for (int index = 0; index < count && ok; ++index) {
        if (commandLine.allFrames) {
            std::string reason;
            // The frame lets go of the data before it changes.
            frame.setVolume(nullptr);
            if (!selectSeriesFrame(volume, index, reason)) {
                std::cerr << "+ Error: " << reason << std::endl;
                ok = false;
                break;
            }
        }
        if (index == 0 || commandLine.allFrames) {
            frame.setVolume(&volume);
            frame.setLayers(layers);
            showScene(scene, &volume, frame);
        }
        if (!commandLine.allFrames)
            frame.setTurn(360.0 * index / count);
        const OffscreenResult result = frame.grab();
        if (!result.ok) {
            std::cerr << "+ Error rendering frame: " << result.message.toStdString() << std::endl;
            ok = false;
        } else {
            ok = saveImage(commandLine.fourViewLayout ? fourViewPicture(result.image, volume, scene,
                                                                        layers, commandLine.size)
                                                      : result.image,
                           batchImagePath(stem, index, count));
        }
    }
    // The frame must not read the volume or layers after they are gone.
    frame.setLayers({});
    frame.setVolume(nullptr);
    frame.setTurn(0.0);
    return ok;
}

// Encodes the turntable's frames of stem into the movie with ffmpeg, found on
// the PATH; false (with a message) when it is missing or fails.
bool encodeMovie(const QString &stem, const QString &movie)
{
    const QString ffmpeg = QStandardPaths::findExecutable(QStringLiteral("ffmpeg"));
    if (ffmpeg.isEmpty()) {
        std::cerr << "+ Error encoding the movie: ffmpeg is not installed (the frames are "
                     "written)."
                  << std::endl;
        return false;
    }
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(ffmpeg, {QStringLiteral("-y"), QStringLiteral("-loglevel"),
                           QStringLiteral("error"), QStringLiteral("-framerate"),
                           QStringLiteral("24"), QStringLiteral("-i"), stem + "-%04d.png",
                           QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), movie});
    if (!process.waitForFinished(-1) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0) {
        std::cerr << "+ Error encoding the movie '" << QFile::encodeName(movie).toStdString()
                  << "': ffmpeg failed." << std::endl;
        return false;
    }
    return true;
}

} // namespace

Scene batchScene(const CommandLine &commandLine, const Scene *fromFile)
{
    Scene scene = fromFile ? *fromFile : Scene();
    const auto take = [&](std::initializer_list<const char *> options) {
        if (!fromFile)
            return true;
        for (const char *option : options)
            if (commandLine.isGiven(option))
                return true;
        return false;
    };
    const RenderingOptions given = commandLine.renderingOptions();
    RenderingOptions &options = scene.options;
    if (take({"light"}))
        options.light = given.light;
    if (take({"ambient"}))
        options.ambient = given.ambient;
    if (take({"diffuse"}))
        options.diffuse = given.diffuse;
    if (take({"specular"}))
        options.specular = given.specular;
    if (take({"exponent"}))
        options.exponent = given.exponent;
    if (take({"depth-cueing"})) {
        options.k1 = given.k1;
        options.k2 = given.k2;
    }
    if (take({"samples"}))
        options.samples = given.samples;
    if (take({"mode"}))
        scene.mode = commandLine.renderMode;
    if (take({"no-jitter"}))
        scene.jitter = commandLine.jitter;
    if (take({"frame"}))
        scene.frame = commandLine.frame;
    if (take({"rotation", "view-from"}))
        scene.camera.rotation = commandLine.rotation;
    if (take({"zoom"}))
        scene.camera.view.zoom = commandLine.view.zoom;
    if (take({"pan"}))
        scene.camera.view.pan = commandLine.view.pan;
    if (take({"crop"}))
        scene.crop = commandLine.crop;
    if (take({"stops"}))
        scene.layer().transferFunction = TransferFunction::fromStops(commandLine.stops);
    return scene;
}

void setUpBatchFrame(const CommandLine &commandLine, BatchFrame &frame)
{
    showScene(batchScene(commandLine), nullptr, frame);
}

QString batchImageStem(const CommandLine &commandLine, const QString &file)
{
    if (commandLine.outputDirectory.isEmpty()) {
        QString stem = commandLine.output;
        if (stem.endsWith(QLatin1String(".png"), Qt::CaseInsensitive))
            stem.chop(4);
        return stem;
    }
    QString name = QFileInfo(QDir::cleanPath(file)).fileName();
    if (name.endsWith(QLatin1String(".gz"), Qt::CaseInsensitive))
        name.chop(3);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    if (dot > 0)
        name.truncate(dot);
    return QDir(commandLine.outputDirectory).filePath(name);
}

QString batchImagePath(const QString &stem, int index, int count)
{
    if (count <= 1)
        return stem + QStringLiteral(".png");
    return QStringLiteral("%1-%2.png").arg(stem).arg(index, 4, 10, QLatin1Char('0'));
}

int renderBatch(int &argc, char **argv, const CommandLine &commandLine)
{
    QStringList files =
        commandLine.files.isEmpty() ? QStringList{commandLine.file} : commandLine.files;
    std::optional<Scene> fromFile;
    if (!commandLine.sceneFile.isEmpty()) {
        SceneFile::ReadResult read = SceneFile::readFile(commandLine.sceneFile);
        if (!read.ok) {
            std::cerr << "+ Error loading scene: " << read.reason.toStdString() << std::endl;
            return 1;
        }
        for (const QString &warning : read.warnings)
            std::cerr << "+ Warning: scene: " << warning.toStdString() << std::endl;
        if (!commandLine.baseFile.isEmpty())
            read.scene.layer().file = commandLine.baseFile;
        for (const SceneLayer &layer : read.scene.layers)
            if (!QFileInfo::exists(layer.file)) {
                std::cerr << "+ Error loading scene: '"
                          << QFile::encodeName(layer.file).toStdString() << "' is missing"
                          << std::endl;
                return 1;
            }
        fromFile = read.scene;
        files = {fromFile->layer().file};
    }
    const Scene *scene = fromFile ? &*fromFile : nullptr;
    if (!commandLine.outputDirectory.isEmpty() && !QDir().mkpath(commandLine.outputDirectory)) {
        std::cerr << "+ Error creating folder '"
                  << QFile::encodeName(commandLine.outputDirectory).toStdString() << "'."
                  << std::endl;
        return 1;
    }

    // Each file is loaded before the frame exists, so that load failures
    // need no GL context and no display.
    std::unique_ptr<QCoreApplication> application;
    std::unique_ptr<BatchFrame> frame;
    int failed = 0;
    QSet<QString> stems;
    for (int i = 0; i < files.size(); ++i) {
        QString stem = batchImageStem(commandLine, files[i]);
        // Two files of one name (scan.nii and scan.nrrd) must not overwrite
        // each other's images.
        for (int copy = 2; stems.contains(stem); ++copy)
            stem = batchImageStem(commandLine, files[i]) + QStringLiteral("-%1").arg(copy);
        stems.insert(stem);
        if (files.size() > 1)
            std::cout << "- File " << i + 1 << " of " << files.size() << ": "
                      << fileNameBytes(files[i]).toStdString() << std::endl;
        LoadedFile loaded = loadFile(commandLine, files[i], scene);
        if (loaded.ok && !commandLine.saveScene.isEmpty()) {
            QString reason;
            if (!SceneFile::writeFile(commandLine.saveScene, sceneOf(commandLine, loaded, scene),
                                      &reason)) {
                std::cerr << "+ Error saving scene: " << reason.toStdString() << std::endl;
                return 1;
            }
            if (commandLine.output.isEmpty())
                return 0;
        }
        if (!loaded.ok && !commandLine.saveScene.isEmpty())
            return 1;
        if (loaded.ok && !frame) {
            QString why;
            frame = makeFrame(argc, argv, commandLine, &application, &why);
            if (!frame) {
                std::cerr << "+ Error rendering frame: no OpenGL context (" << why.toStdString()
                          << ")" << std::endl;
                return 1;
            }
            setUpBatchFrame(commandLine, *frame);
            // The rendering takes the layout's fourth quarter.
            if (commandLine.fourViewLayout)
                frame->setSize(QSize(commandLine.size.width() / 2, commandLine.size.height() / 2));
        }
        const bool rendered = loaded.ok && renderFile(*frame, commandLine, loaded, stem, scene);
        if (!rendered || (!commandLine.movie.isEmpty() && !encodeMovie(stem, commandLine.movie))) {
            ++failed;
            if (files.size() > 1)
                std::cerr << "+ Not rendered: " << fileNameBytes(files[i]).toStdString()
                          << std::endl;
        }
    }
    if (files.size() > 1)
        std::cout << "- " << files.size() - failed << " of " << files.size() << " files rendered"
                  << std::endl;
    return failed == 0 ? 0 : 1;
}
