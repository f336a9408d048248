#pragma once

#include <QString>

class BatchFrame;
struct Scene;
struct CommandLine;

// Batch mode: loads each FILE of the command line, renders it with the
// window's renderer and shader and writes PNG images (one, or the frames of a
// turntable). Returns the exit status: 0 when every file was rendered, 1 when
// any file or its transfer function (a preset or a file) could not be loaded,
// a frame could not be rendered or an image not written (each with a message
// on standard error; later files are still rendered), or when no OpenGL
// context could be had (the message names each backend tried and why).
//
// The EGL backend needs no display and no GUI application; the GLX backend
// starts a QApplication on the display. Nothing is shared between processes:
// no temporary files (images are written atomically), no display with EGL.
int renderBatch(int &argc, char **argv, const CommandLine &commandLine);

// The scene the command line describes: rendering options, rotation, zoom and
// pan, cropping, mode, jitter and the --stops function (a --transfer-function
// depends on each file's data and replaces it per file). Over a scene read
// from a file, only the options given replace its values.
Scene batchScene(const CommandLine &commandLine, const Scene *fromFile = nullptr);

// Shows batchScene() on a frame without a volume.
void setUpBatchFrame(const CommandLine &commandLine, BatchFrame &frame);

// The images' path without ".png" for one FILE: OUT without its ".png" with
// --output, DIR/NAME with --output-dir (NAME: the file's name without its
// format's extensions, ".nii.gz" counting as one).
QString batchImageStem(const CommandLine &commandLine, const QString &file);

// The image of frame `index` of `count` for a stem: STEM.png for a single
// frame, STEM-0000.png ... for the frames of a turntable.
QString batchImagePath(const QString &stem, int index, int count);
