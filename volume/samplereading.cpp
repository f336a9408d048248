#include "samplereading.h"

#include "scanfileaccess.h"

#include <cstring>

namespace {

bool allocateSamples(RawScan &scan, std::uint64_t &bytes)
{
    const std::uint64_t count =
        std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] * scan.frames * scan.components;
    bytes = count * sampleSize(scan.type);
    return scan.samples.allocate(bytes);
}

// Counts the samples that did not arrive whole; the bytes of a sample that
// arrived in part are cleared, so that it reads as 0 like the others.
void countMissing(RawScan &scan, std::uint64_t bytes, std::uint64_t delivered)
{
    const std::uint64_t width = sampleSize(scan.type);
    const std::uint64_t whole = delivered / width;
    std::memset(scan.samples.data() + whole * width, 0, std::size_t(delivered - whole * width));
    scan.missingSamples = bytes / width - whole;
}

std::string compressedDamage(const InflateStream &stream)
{
    if (stream.state() == InflateStream::State::Cut)
        return "The compressed data is cut off before its end.";
    return "The compressed data is damaged (" + stream.damage() + ").";
}

} // namespace

ScanReadResult readRawSamples(const std::string &path, std::uint64_t offset, RawScan &scan)
{
    std::uint64_t fileSize = 0;
    std::string reason;
    if (!regularFileSize(path, fileSize, reason))
        return scanRefusal(reason);
    if (offset > fileSize)
        return scanRefusal("The data would start at byte " + std::to_string(offset) +
                           ", beyond the " + std::to_string(fileSize) + " bytes of '" + path +
                           "'.");
    std::uint64_t bytes = 0;
    if (!allocateSamples(scan, bytes))
        return scanRefusal("There is not enough memory for the image.");
    const FileBytesRead read = readFileBytes(path, offset, scan.samples.data(), bytes);
    if (!read.ok)
        return scanRefusal(read.reason);
    countMissing(scan, bytes, read.read);
    return {true, {}};
}

ScanReadResult inflateSamples(InflateStream &stream, RawScan &scan)
{
    std::uint64_t bytes = 0;
    if (!allocateSamples(scan, bytes))
        return scanRefusal("There is not enough memory for the image.");
    const std::uint64_t produced = stream.read(scan.samples.data(), bytes);
    // Whatever follows the samples must still end the stream properly: a cut
    // or damaged tail means the check sum was never seen. Very long tails are
    // left unchecked rather than inflated for nothing.
    if (produced == bytes)
        stream.drain(std::uint64_t(64) << 20);
    if (stream.state() == InflateStream::State::Cut ||
        stream.state() == InflateStream::State::Damaged)
        return scanRefusal(compressedDamage(stream));
    countMissing(scan, bytes, produced);
    return {true, {}};
}
