#include "benchcommands.h"
#include "processmemory.h"
#include "timing.h"

#include "mappedscan.h"
#include "volume.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// The layout of a DAT file, or of its samples read as a little-endian int16
// scan (the path whose range is measured during the reduction).
bool datLayout(const std::string &path, bool asScan, ScanLayout &layout)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    unsigned char header[6];
    const bool read = file && std::fread(header, 1, 6, file) == 6;
    if (file)
        std::fclose(file);
    struct stat info;
    if (!read || stat(path.c_str(), &info) != 0)
        return false;
    for (int axis = 0; axis < 3; ++axis)
        layout.size[axis] = std::uint64_t(header[2 * axis] | (header[2 * axis + 1] << 8));
    layout.format = asScan ? VolumeFormat::Nifti : VolumeFormat::Dat;
    layout.type = asScan ? SampleType::Int16 : SampleType::UInt16;
    layout.twelveBitSamples = !asScan;
    layout.dataPath = path;
    layout.dataOffset = 6;
    layout.dataFileBytes = std::uint64_t(info.st_size);
    return true;
}

} // namespace

// kelvara-bench mapped FILE.dat [--level K] [--as-int16]: the reduced level
// built through the map (the first build also measures the value range),
// with its throughput over the file's bytes and the peak resident memory
// against the file and the target; then one full-resolution slice per axis.
int benchMapped(const std::vector<std::string> &arguments)
{
    std::vector<std::string> rest = arguments;
    const bool asScan = takeFlag(rest, "--as-int16");
    const int level = std::atoi(takeOption(rest, "--level", "1").c_str());
    if (rest.size() != 1) {
        std::cerr << "usage: kelvara-bench mapped FILE.dat [--level K] [--as-int16]" << std::endl;
        return 2;
    }
    ScanLayout layout;
    if (!datLayout(rest[0], asScan, layout)) {
        std::cerr << "cannot read the header of " << rest[0] << std::endl;
        return 1;
    }
    const double fileMiB = double(layout.dataFileBytes) / (1 << 20);
    MappedScan scan;
    const ScanReadResult opened = scan.open(layout);
    if (!opened.ok) {
        std::cerr << opened.reason << std::endl;
        return 1;
    }

    std::ostringstream progress;
    Timings firstBuild, builds;
    long peakKiB = -1, targetKiB = 0;
    for (int run = 0; run < 4; ++run) {
        Volume reduced;
        const bool peakReset = resetPeakResident();
        const long before = statusKilobytes("VmRSS:");
        bool ok = false;
        (run == 0 ? firstBuild : builds).measure(1, [&] {
            ok = scan.buildReducedVolume(level, reduced, progress).ok;
        });
        if (!ok) {
            std::cerr << "the reduction failed" << std::endl;
            return 1;
        }
        targetKiB = long(reduced.data.size() * sizeof(float) / 1024);
        if (run == 0 && peakReset)
            peakKiB = statusKilobytes("VmHWM:") - before;
    }
    const double first = firstBuild.median();
    std::printf("mapped_reduce level=%d file_mib=%.0f first_ms=%.1f first_mib_s=%.0f "
                "median_ms=%.1f min_ms=%.1f max_ms=%.1f median_mib_s=%.0f "
                "peak_growth_mib=%.1f target_mib=%.1f\n",
                level, fileMiB, first, fileMiB / first * 1000.0, builds.median(), builds.min(),
                builds.max(), fileMiB / builds.median() * 1000.0, peakKiB / 1024.0,
                targetKiB / 1024.0);

    const std::array<int, 3> size = scan.size();
    for (int axis = 0; axis < 3; ++axis) {
        Timings slices;
        std::vector<float> slice;
        slices.measure(5, [&] { (void)scan.normalisedSlice(axis, size[axis] / 2, slice); });
        std::printf("mapped_slice axis=%c median_ms=%.2f min_ms=%.2f max_ms=%.2f\n", 'X' + axis,
                    slices.median(), slices.min(), slices.max());
    }
    std::printf("mapped_rss_after_mib=%.1f\n", statusKilobytes("VmRSS:") / 1024.0);
    return 0;
}
