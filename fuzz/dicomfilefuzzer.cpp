// libFuzzer target for DICOM files: each input is written to a file of its
// own folder and screened as a folder's files are; a file the screen passes
// is loaded as in the window (the series put together, GDCM or our own pixel
// reader), under a small memory limit. A refusal must give a reason and leave
// the target as it was, a load a volume of the size it says with every value
// in 0..1; anything else traps, so libFuzzer keeps the input.

#include "fuzzsupport.h"
#include "dicomscreen.h"
#include "volume.h"
#include "volumefile.h"

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

// As in the scan fuzzer: quick runs, and what a header asks beyond it is
// refused by the memory rule.
constexpr std::uint64_t fuzzDataBytes = std::uint64_t(1) << 20;

// One folder per process holding only the input's file, so that the load
// sees a series of that one file.
const std::string &slicePath()
{
    static const std::string path = [] {
        char name[] = "/tmp/kelvara-dicom-fuzz-XXXXXX";
        require(::mkdtemp(name) != nullptr);
        return std::string(name) + "/slice.dcm";
    }();
    return path;
}

void requireSoundLoad(const VolumeReadResult &result, const Volume &target)
{
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
    require(std::isfinite(target.valueRange.minimum) && std::isfinite(target.valueRange.maximum));
}

void checkDicom(const std::uint8_t *data, std::size_t size)
{
    const std::string &path = slicePath();
    writeFile(path, data, size);
    const DicomSliceFacts facts = screenDicomFile(path);
    if (!facts.problem.empty()) {
        ::unlink(path.c_str());
        return;
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
    requireSoundLoad(result, target);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkDicom(data, size);
    return 0;
}
