#pragma once

#include "layerslice.h"
#include "slicegeometry.h"
#include "windowlevel.h"

#include <QImage>
#include <QString>

struct CommandLine;
struct Volume;

// What --slice and --window ask for: one plane's slice (the middle one where
// index is -1) with a window: the full range, the automatic one, or given in
// data units.
struct SliceRequest
{
    enum class Window
    {
        FullRange,
        Automatic,
        Given
    };

    SlicePlane plane = SlicePlane::Axial;
    int index = -1;
    Window window = Window::FullRange;
    WindowLevel given; // used where window is Given
    int scale = 1;     // whole-number magnification of the image, nearest
};

// Parses "axial", "coronal" or "sagittal", optionally followed by ":INDEX";
// false for anything else.
bool parseSlicePlane(const QString &text, SliceRequest *request);
// Parses "W,L" (W positive), "auto" or "full"; false for anything else.
bool parseSliceWindow(const QString &text, SliceRequest *request);

// The slice as the views show it (orientation, window), without crosshair or
// labels, at one pixel per the volume's finest spacing, with the layers
// blended over it. A null image with a reason when the index lies outside the
// plane's slices.
QImage sliceOutputImage(const Volume &volume, const SliceRequest &request, QString *reason,
                        const std::vector<ShownLayer> &layers = {});

// Loads the command line's file and writes its slice as PNG. Returns the exit
// status: 0 on success, 1 when the file cannot be loaded, the slice does not
// exist or the image cannot be written (each with a message on standard
// error). Needs no display.
int writeSliceBatch(const CommandLine &commandLine);
