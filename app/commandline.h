#pragma once

#include "gradientstopstext.h"
#include "viewsettings.h"

#include <QGradient>
#include <QSize>
#include <QString>
#include <QStringList>

#include <array>

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
        UsageError
    };

    Mode mode = Mode::Window;
    QString text; // help or version text, the preset names, or the usage error

    QString file;   // volume to open; empty for none
    QString output; // PNG file of batch mode
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
};

// Takes Qt's own options (-style NAME, -platform NAME, -reverse, --style=NAME,
// ...) out of the arguments: QApplication reads those from argv itself. False
// with a reason when such an option lacks its value.
bool removeToolkitOptions(QStringList *arguments, QString *reason);

// Parses the arguments (the first one is the program), ignoring Qt's own
// options. Never exits the process.
CommandLine parseCommandLine(const QStringList &arguments);
