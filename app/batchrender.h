#pragma once

struct CommandLine;

// Loads the command line's file, renders one frame with the window's renderer
// and shader (never shown) and writes it as PNG. Returns the exit status: 0 on
// success, 1 when the file or the transfer function (a preset or a file)
// cannot be loaded, the frame cannot be rendered or the image cannot be
// written (each with a message on standard error). Both are loaded before the
// GUI application starts, so load failures need no display.
int renderBatch(int &argc, char **argv, const CommandLine &commandLine);
