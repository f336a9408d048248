// libFuzzer target for the DAT reader: each input is read as a whole file and
// the outcome is checked against an independent decoding of the same bytes.
// Any disagreement traps, so libFuzzer keeps the input as a crash artifact.

#include "fuzzsupport.h"
#include "datreader.h"
#include "volume.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <streambuf>

namespace {

// Big enough for every code path of the reader (many conversion blocks per
// slice, headers on both sides of the limit, more samples than the longest
// input holds), small enough to keep the zeroing and conversion of the array
// from dominating each run (1 MiB runs about five times faster than 16 MiB).
// It also stays under the voxel allocator's mmap threshold, so every array
// comes from the heap, where AddressSanitizer guards its ends.
constexpr std::uint64_t fuzzDataBytes = std::uint64_t(1) << 20;

constexpr std::size_t headerBytes = 6;

unsigned little16(const std::uint8_t *bytes)
{
    return unsigned(bytes[0]) | (unsigned(bytes[1]) << 8);
}

// What sample i must read as: the file's value clamped to 4095 and scaled, or 0
// where the file holds no complete sample i.
float expectedValue(const std::uint8_t *data, std::size_t size, std::uint64_t i)
{
    const std::uint64_t offset = headerBytes + 2 * i;
    if (offset + 2 > size)
        return 0.0f;
    return float(std::min(little16(data + offset), 4095u)) / 4095.0f;
}

bool sameVolume(const Volume &a, const Volume &b)
{
    return a.width == b.width && a.height == b.height && a.depth == b.depth &&
           a.data.size() == b.data.size() &&
           std::memcmp(a.data.data(), b.data.data(), a.data.size() * sizeof(float)) == 0;
}

// Values no sample maps to (0.25 * 4095 is no integer), so that a partial
// update on failure shows.
Volume startVolume()
{
    Volume volume;
    volume.width = 3;
    volume.height = 1;
    volume.depth = 1;
    volume.data = {0.25f, 0.5f, 0.75f};
    return volume;
}

void checkLoad(const std::uint8_t *data, std::size_t size)
{
    // fmemopen (POSIX, not std) wants a writable buffer; "rb" never writes to it.
    static std::uint8_t emptyInput[1];
    std::FILE *file = ::fmemopen(size ? const_cast<std::uint8_t *>(data) : emptyInput, size, "rb");
    require(file != nullptr);

    DiscardBuffer discard;
    std::ostream out(&discard);
    std::ostream err(&discard);
    DatReadOptions options;
    options.maxDataBytes = fuzzDataBytes;

    const Volume before = startVolume();
    Volume target = before;
    const DatReadResult result = readDatStream(file, target, out, err, options);
    std::fclose(file);

    // Whether the load may succeed follows from the header alone.
    bool loadable = size >= headerBytes;
    std::uint64_t width = 0, height = 0, depth = 0, count = 0;
    if (loadable) {
        width = little16(data);
        height = little16(data + 2);
        depth = little16(data + 4);
        count = width * height * depth;
        loadable = count * sizeof(float) <= options.maxDataBytes;
    }
    require(result.ok == loadable);

    if (!result.ok) {
        require(sameVolume(target, before));
        require(result.missingSamples == 0);
        return;
    }

    require(result.reason.empty());
    require(std::uint64_t(target.width) == width && std::uint64_t(target.height) == height &&
            std::uint64_t(target.depth) == depth);
    require(target.data.size() == count);
    const std::uint64_t present = std::min<std::uint64_t>(count, (size - headerBytes) / 2);
    require(result.missingSamples == count - present);
    for (std::uint64_t i = 0; i < count; ++i) {
        const float value = target.data[i];
        require(!std::isnan(value) && value >= 0.0f && value <= 1.0f);
        require(value == expectedValue(data, size, i));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    checkLoad(data, size);
    return 0;
}
