#include "mghreader.h"

#include "headerbytes.h"
#include "imagegrid.h"
#include "samplereading.h"
#include "scanfileaccess.h"
#include "scanlayout.h"

#include <cmath>
#include <optional>

namespace {

// The samples start after the full header, whatever of it is used.
constexpr std::size_t mghHeaderSize = 284;
// The fields the reader uses end with c_s.
constexpr std::size_t mghFieldBytes = 90;
constexpr std::int32_t largestAxis = 65535;

struct MghHeader
{
    std::int32_t version = 0;
    std::int32_t size[3] = {};
    std::int32_t frames = 0;
    std::int32_t type = 0;
    bool goodRas = false;
    float voxelSize[3] = {};
    // Columns: the RAS direction of each index axis (x_r, x_a, x_s first).
    float cosines[3][3] = {};
    float centre[3] = {}; // c_r, c_a, c_s
};

MghHeader parseHeader(const unsigned char *bytes)
{
    const HeaderBytes h(bytes, true);
    MghHeader header;
    header.version = h.at<std::int32_t>(0);
    for (std::size_t axis = 0; axis < 3; ++axis)
        header.size[axis] = h.at<std::int32_t>(4 + 4 * axis);
    header.frames = h.at<std::int32_t>(16);
    header.type = h.at<std::int32_t>(20);
    header.goodRas = h.at<std::int16_t>(28) > 0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        header.voxelSize[axis] = h.at<float>(30 + 4 * axis);
        for (std::size_t row = 0; row < 3; ++row)
            header.cosines[axis][row] = h.at<float>(42 + 12 * axis + 4 * row);
        header.centre[axis] = h.at<float>(78 + 4 * axis);
    }
    return header;
}

bool sampleTypeOf(std::int32_t type, SampleType &sampleType)
{
    switch (type) {
    case 0:
        sampleType = SampleType::UInt8;
        return true;
    case 1:
        sampleType = SampleType::Int32;
        return true;
    case 3:
        sampleType = SampleType::Float32;
        return true;
    case 4:
        sampleType = SampleType::Int16;
        return true;
    }
    return false;
}

bool checkHeader(const MghHeader &header, SampleType &type, std::string &reason)
{
    if (header.version != 1) {
        reason = "The header gives version " + std::to_string(header.version) +
                 "; MGH files have version 1.";
        return false;
    }
    for (int axis = 0; axis < 3; ++axis) {
        const std::int32_t extent = header.size[axis];
        if (extent < 1) {
            reason = "The header gives a size of " + std::to_string(extent) + " along axis " +
                     std::to_string(axis + 1) + "; sizes must be positive.";
            return false;
        }
        if (extent > largestAxis) {
            reason = "An axis of " + std::to_string(extent) +
                     " voxels is larger than 65535, the most a volume can have.";
            return false;
        }
    }
    if (header.frames < 1 || header.frames > largestAxis) {
        reason = "The header gives " + std::to_string(header.frames) +
                 " frames; an MGH file holds at least one, and a series at most 65535.";
        return false;
    }
    if (!sampleTypeOf(header.type, type)) {
        reason = "The header gives data type " + std::to_string(header.type) +
                 ", which MGH files do not store as scalars (0 uchar, 1 int, 3 float, 4 short).";
        return false;
    }
    return true;
}

// The geometry in LPS. The centre voxel is the one at half the size along
// each axis, counted from the first voxel's centre, as nibabel places c_ras.
void mghGeometry(const MghHeader &header, RawScan &scan)
{
    // FreeSurfer's defaults where the header says its geometry is not set:
    // coronal slices, LIA, 1 mm, centred on 0.
    const float defaultCosines[3][3] = {{-1, 0, 0}, {0, 0, -1}, {0, 1, 0}};
    std::array<double, 3> rasOrigin{};
    for (std::size_t row = 0; row < 3; ++row)
        rasOrigin[row] = header.goodRas ? header.centre[row] : 0.0;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        double column[3];
        double length = 0.0;
        for (std::size_t row = 0; row < 3; ++row) {
            column[row] = header.goodRas
                              ? double(header.cosines[axis][row]) * header.voxelSize[axis]
                              : defaultCosines[axis][row];
            length += column[row] * column[row];
        }
        length = std::sqrt(length);
        scan.spacing[axis] = length;
        for (std::size_t row = 0; row < 3; ++row) {
            rasOrigin[row] -= column[row] * double(header.size[axis]) / 2.0;
            // A zero column stays zero, a non-finite one non-finite: both are
            // refused with a warning later. RAS to LPS: the first two rows turn.
            const double unit = length > 0.0 || !std::isfinite(length) ? column[row] / length : 0.0;
            scan.direction[3 * row + axis] = row < 2 ? -unit : unit;
        }
    }
    scan.origin = swapLpsRas(rasOrigin);
}

bool endsCleanly(const InflateStream &stream)
{
    return stream.state() == InflateStream::State::Open ||
           stream.state() == InflateStream::State::Ended;
}

std::string compressedDamage(const InflateStream &stream)
{
    if (stream.state() == InflateStream::State::Cut)
        return "The compressed data is cut off before its end.";
    return "The compressed data is damaged (" + stream.damage() + ").";
}

// Reads and checks the header of path: the geometry and sample type go into
// scan, its samples untouched. The memory rule applies only where
// maxDataBytes is given. A compressed file's stream is left at the first
// sample.
ScanReadResult readMghHeader(const std::string &path, std::optional<std::uint64_t> maxDataBytes,
                             InflateStream &stream, RawScan &scan, bool &compressed)
{
    unsigned char bytes[mghHeaderSize] = {};
    std::uint64_t available = 0;
    const FileBytesRead read = readFileBytes(path, 0, bytes, sizeof bytes);
    if (!read.ok)
        return scanRefusal(read.reason);
    available = read.read;
    compressed = available >= 2 && startsCompressed(bytes);
    if (compressed) {
        std::string reason;
        if (!stream.open(path, 0, reason))
            return scanRefusal(reason);
        available = stream.read(bytes, sizeof bytes);
        if (available < sizeof bytes && !endsCleanly(stream))
            return scanRefusal(compressedDamage(stream));
    }
    if (available < mghHeaderSize)
        return scanRefusal("The file is too short for an MGH header (" +
                           std::to_string(mghHeaderSize) + " bytes).");

    const MghHeader header = parseHeader(bytes);
    std::string reason;
    if (!checkHeader(header, scan.type, reason))
        return scanRefusal(reason);
    const std::array<std::uint64_t, 3> size = {std::uint64_t(header.size[0]),
                                               std::uint64_t(header.size[1]),
                                               std::uint64_t(header.size[2])};
    if (maxDataBytes) {
        reason = scanMemoryProblem(size, sampleSize(scan.type), *maxDataBytes,
                                   std::uint64_t(header.frames));
        if (!reason.empty())
            return scanRefusal(reason);
    }
    for (std::size_t axis = 0; axis < 3; ++axis)
        scan.size[axis] = std::size_t(size[axis]);
    mghGeometry(header, scan);
    scan.bigEndian = true;
    // The repetition time that follows the samples is optional and seldom
    // right for the frames of a FreeSurfer file: no time step is given.
    scan.frames = std::size_t(header.frames);
    return {true, {}};
}

} // namespace

bool looksLikeMghHeader(const unsigned char *bytes, std::size_t available)
{
    if (available < mghFieldBytes)
        return false;
    const MghHeader header = parseHeader(bytes);
    SampleType type;
    std::string reason;
    return checkHeader(header, type, reason);
}

ScanReadResult readMghFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target)
{
    InflateStream stream;
    RawScan scan;
    bool compressed = false;
    ScanReadResult read = readMghHeader(path, maxDataBytes, stream, scan, compressed);
    if (!read.ok)
        return read;
    read = compressed ? inflateSamples(stream, scan) : readRawSamples(path, mghHeaderSize, scan);
    if (!read.ok)
        return read;
    target = std::move(scan);
    return {true, {}};
}

ScanReadResult readMghLayout(const std::string &path, ScanLayout &layout)
{
    InflateStream stream;
    RawScan scan;
    bool compressed = false;
    const ScanReadResult read = readMghHeader(path, std::nullopt, stream, scan, compressed);
    if (!read.ok)
        return read;
    ScanLayout probed;
    const ScanReadResult placed = layoutOfScan(scan, VolumeFormat::Mgh, path, probed);
    if (!placed.ok)
        return placed;
    probed.storage = compressed ? ScanLayout::Storage::Compressed : ScanLayout::Storage::Raw;
    // A .mgz's stream starts the file; the header is its first bytes.
    probed.dataOffset = compressed ? 0 : mghHeaderSize;
    probed.inflatedOffset = compressed ? mghHeaderSize : 0;
    layout = std::move(probed);
    return {true, {}};
}
