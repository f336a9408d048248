#pragma once

class OffscreenFrame;
struct CommandLine;

// Loads the command line's file, renders one frame with the window's renderer
// and shader (never shown) and writes it as PNG. Returns the exit status: 0 on
// success, 1 when the file or the transfer function (a preset or a file)
// cannot be loaded, the frame cannot be rendered or the image cannot be
// written (each with a message on standard error). Both are loaded before the
// GUI application starts, so load failures need no display.
int renderBatch(int &argc, char **argv, const CommandLine &commandLine);

// Sets everything of the command line that the frame shows besides the volume
// and the transfer function: rendering options, rotation, zoom and pan,
// cropping, mode and jitter.
void setUpBatchFrame(const CommandLine &commandLine, OffscreenFrame &frame);
