// kelvara-make-volume: writes synthetic DAT volumes.
//
//   kelvara-make-volume KIND WIDTHxHEIGHTxDEPTH OUT.dat
//
// KIND is head (a Shepp-Logan-style head phantom), noisy-head (the same head as
// an MRI scan shows it: noisy, with no sample exactly 0), marschner-lobb, box (a
// centred box of full density), uniform (every sample 4095) or zero.

#include "samplevolumes.h"

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <string>

namespace {

int usage()
{
    std::cerr << "usage: kelvara-make-volume head|noisy-head|marschner-lobb|box|uniform|zero "
                 "WIDTHxHEIGHTxDEPTH OUT.dat"
              << std::endl;
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        return usage();
    const std::string kind = argv[1];
    int w = 0, h = 0, d = 0;
    char extra = 0;
    if (std::sscanf(argv[2], "%dx%dx%d%c", &w, &h, &d, &extra) != 3 || w < 1 || h < 1 || d < 1 ||
        w > 65535 || h > 65535 || d > 65535)
        return usage();

    SampleVolume volume;
    if (kind == "head")
        volume = makeHeadPhantom(w, h, d);
    else if (kind == "noisy-head")
        volume = makeNoisyHeadPhantom(w, h, d);
    else if (kind == "marschner-lobb")
        volume = makeMarschnerLobb(w, h, d);
    else if (kind == "box")
        volume = makeCentredBox(w, h, d, std::max(1, std::min({w, h, d}) / 4), 4095);
    else if (kind == "uniform")
        volume = makeUniform(w, h, d, 4095);
    else if (kind == "zero")
        volume = makeUniform(w, h, d, 0);
    else
        return usage();

    std::string reason;
    if (!writeDatFile(argv[3], volume, &reason)) {
        std::cerr << "kelvara-make-volume: " << reason << std::endl;
        return 1;
    }
    return 0;
}
