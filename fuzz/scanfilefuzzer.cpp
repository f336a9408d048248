// libFuzzer target for the scan path (NIfTI, NRRD, MetaImage, MGH, MRC, VTK
// image data; series of volumes and colour volumes among them): each input is
// written to a file whose name its first byte picks, then format detection,
// the header checks and the read run as in the window, under a small memory
// limit. A load must either fail with a reason and leave the target as it was,
// or give a volume of the size it says with every value in 0..1; anything else
// traps, so libFuzzer keeps the input.

#include "fuzzsupport.h"
#include "volume.h"
#include "volumefile.h"
#include "volumeseries.h"

#include <stdlib.h>
#include <unistd.h>

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <ostream>
#include <streambuf>
#include <string>

namespace {

// Small enough that each run stays quick, large enough for every reader's
// conversion blocks; what a header asks beyond it is refused by the memory rule.
constexpr std::uint64_t fuzzDataBytes = std::uint64_t(1) << 20;

// One folder per process for the scan files; the names repeat, so each input
// replaces the last one's files.
const std::string &workFolder()
{
    static const std::string folder = [] {
        char name[] = "/tmp/kelvara-scan-fuzz-XXXXXX";
        require(::mkdtemp(name) != nullptr);
        return std::string(name);
    }();
    return folder;
}

// The first byte picks the name; the contents decide the reader where they
// show a format, so a NIfTI named .nrrd is fuzzed as well. A .hdr input is
// split: its first 348 bytes are the header, the rest the .img beside it.
constexpr const char *suffixes[] = {".nii", ".nii.gz", ".nrrd", ".mha", ".hdr",
                                    ".mhd", ".vti",    ".mgh",  ".mrc"};

void checkLoad(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return;
    const std::string suffix = suffixes[data[0] % (sizeof suffixes / sizeof *suffixes)];
    ++data;
    --size;
    const std::string base = workFolder() + "/scan";
    const std::string path = base + suffix;
    ::unlink((base + ".img").c_str());
    if (suffix == ".hdr" && size > 348) {
        writeFile(path, data, 348);
        writeFile(base + ".img", data + 348, size - 348);
    } else {
        writeFile(path, data, size);
    }

    DiscardBuffer discard;
    std::ostream out(&discard);
    std::ostream err(&discard);
    VolumeReadOptions options;
    options.maxDataBytes = fuzzDataBytes;
    Volume target;
    target.data = {0.25f};
    const VolumeReadResult result = readVolumeFile(path, target, out, err, options);
    ::unlink(path.c_str());

    if (!result.ok) {
        require(!result.reason.empty());
        require(target.width == 1 && target.height == 1 && target.depth == 1);
        require(target.data.size() == 1 && target.data[0] == 0.25f);
        return;
    }
    const std::uint64_t count =
        std::uint64_t(target.width) * std::uint64_t(target.height) * std::uint64_t(target.depth);
    require(target.width > 0 && target.height > 0 && target.depth > 0);
    require(target.data.size() == count && count * sizeof(float) <= fuzzDataBytes);
    for (float value : target.data)
        require(value >= 0.0f && value <= 1.0f);
    for (double spacing : target.spacing)
        require(std::isfinite(spacing) && spacing > 0.0);
    // Every volume of a series, and a colour volume's components, belong to
    // the grid shown.
    if (target.series) {
        const int frames = target.series->frameCount();
        require(frames > 1 && target.series->timeCourse(0, 0, 0).size() == std::size_t(frames));
        std::string reason;
        require(selectSeriesFrame(target, frames - 1, reason));
        require(target.data.size() == count);
    }
    if (target.colours)
        require(target.colours->values.size() == count * std::size_t(target.colours->components));
    require(std::isfinite(target.valueRange.minimum) && std::isfinite(target.valueRange.maximum));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkLoad(data, size);
    return 0;
}
