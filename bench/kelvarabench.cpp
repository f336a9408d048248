// kelvara-bench: figures for loading, slicing, re-classifying and rendering.
//
//   kelvara-bench load FILE [--quick]
//   kelvara-bench slice FILE|--cube N [--quick]
//   kelvara-bench planes [--cube N] [--size WxH] [--quick]
//   kelvara-bench mapped FILE.dat [--level K] [--as-int16]
//   kelvara-bench table [--quick]
//   kelvara-bench frame FILE [--size WxH] [--samples N] [--frames K]
//                            [--stops POS:#AARRGGBB,...] [--quick]
//
// Each case prints one line "NAME key=value ..." with median, min and max in
// milliseconds and, where it applies, a baseline measured in the same run and
// the ratio to it. Timings are wall-clock; run on a quiet machine and compare
// ratios, not absolute figures, between runs.

#include "benchcommands.h"

#include <cstring>
#include <iostream>
#include <string>
#include <vector>

namespace {

int usage()
{
    std::cerr << "usage: kelvara-bench load FILE [--quick]\n"
                 "       kelvara-bench slice FILE|--cube N [--quick]\n"
                 "       kelvara-bench planes [--cube N] [--size WxH] [--quick]\n"
                 "       kelvara-bench mapped FILE.dat [--level K] [--as-int16]\n"
                 "       kelvara-bench table [--quick]\n"
                 "       kelvara-bench frame FILE [--size WxH] [--samples N] [--frames K]\n"
                 "                           [--stops POS:#AARRGGBB,...] [--quick]"
              << std::endl;
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    const std::string command = argv[1];
    std::vector<std::string> arguments(argv + 2, argv + argc);
    if (command == "load")
        return benchLoad(arguments);
    if (command == "slice")
        return benchSlice(arguments);
    if (command == "planes")
        return benchPlanes(arguments);
    if (command == "mapped")
        return benchMapped(arguments);
    if (command == "table")
        return benchTable(argc, argv, arguments);
    if (command == "frame")
        return benchFrame(argc, argv, arguments);
    return usage();
}
