#include "mrcreader.h"

#include "headerbytes.h"
#include "samplereading.h"
#include "scanfileaccess.h"
#include "scanlayout.h"

#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr std::size_t mrcHeaderSize = 1024;
constexpr std::int32_t largestAxis = 65535;
constexpr std::int32_t halfFloatMode = 12;

struct MrcHeader
{
    bool bigEndian = false;
    std::int32_t size[3] = {}; // columns, rows, sections
    std::int32_t mode = 0;
    std::int32_t start[3] = {};     // nxstart, nystart, nzstart: of columns, rows, sections
    std::int32_t sampling[3] = {};  // mx, my, mz: intervals along x, y, z of the cell
    float cell[3] = {};             // cella: the cell's lengths along x, y, z in Å
    std::int32_t axisOrder[3] = {}; // mapc, mapr, maps: the x, y, z axis (1..3) of each
    std::int32_t extendedBytes = 0; // nsymbt
    float origin[3] = {};
};

MrcHeader parseHeader(const unsigned char *bytes, bool bigEndian)
{
    const HeaderBytes h(bytes, bigEndian);
    MrcHeader header;
    header.bigEndian = bigEndian;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        header.size[axis] = h.at<std::int32_t>(4 * axis);
        header.start[axis] = h.at<std::int32_t>(16 + 4 * axis);
        header.sampling[axis] = h.at<std::int32_t>(28 + 4 * axis);
        header.cell[axis] = h.at<float>(40 + 4 * axis);
        header.axisOrder[axis] = h.at<std::int32_t>(64 + 4 * axis);
        header.origin[axis] = h.at<float>(196 + 4 * axis);
    }
    header.mode = h.at<std::int32_t>(12);
    header.extendedBytes = h.at<std::int32_t>(92);
    return header;
}

bool sampleTypeOf(std::int32_t mode, SampleType &type, std::string &reason)
{
    switch (mode) {
    case 0:
        type = SampleType::Int8;
        return true;
    case 1:
        type = SampleType::Int16;
        return true;
    case 2:
        type = SampleType::Float32;
        return true;
    case 6:
        type = SampleType::UInt16;
        return true;
    case halfFloatMode: // read as 16-bit words, widened after reading
        type = SampleType::UInt16;
        return true;
    case 3:
    case 4:
        reason = "The map has complex samples (mode " + std::to_string(mode) +
                 "); only scalar maps can be shown.";
        return false;
    case 101:
        reason = "The map has 4-bit samples (mode 101), which cannot be read.";
        return false;
    }
    reason = "The header gives mode " + std::to_string(mode) +
             ", which is not an MRC sample type (0, 1, 2, 6 or 12).";
    return false;
}

bool plausible(const MrcHeader &header)
{
    SampleType type;
    std::string reason;
    for (std::int32_t extent : header.size)
        if (extent < 1 || extent > largestAxis)
            return false;
    return sampleTypeOf(header.mode, type, reason);
}

// The machine stamp names the byte order: 0x44 (or 0x41) little-endian, 0x11
// big-endian. Writers that leave it out are mostly little-endian; where the
// header only makes sense the other way round, it is read that way.
MrcHeader parseInStampedOrder(const unsigned char *bytes, std::vector<std::string> &notes)
{
    const unsigned char stamp = bytes[212];
    if (stamp == 0x44 || stamp == 0x41)
        return parseHeader(bytes, false);
    if (stamp == 0x11)
        return parseHeader(bytes, true);
    const MrcHeader little = parseHeader(bytes, false);
    const MrcHeader big = parseHeader(bytes, true);
    const bool useBig = !plausible(little) && plausible(big);
    notes.push_back(
        std::string("The file's machine stamp does not give its byte order; it is "
                    "read as ") +
        (useBig ? "big-endian, the order its header makes sense in." : "little-endian."));
    return useBig ? big : little;
}

bool checkSizes(const MrcHeader &header, std::string &reason)
{
    const char *names[3] = {"columns (nx)", "rows (ny)", "sections (nz)"};
    for (int axis = 0; axis < 3; ++axis) {
        const std::int32_t extent = header.size[axis];
        if (extent < 1) {
            reason = "The header gives " + std::to_string(extent) + " " + names[axis] +
                     "; sizes must be positive.";
            return false;
        }
        if (extent > largestAxis) {
            reason = "An axis of " + std::to_string(extent) +
                     " voxels is larger than 65535, the most a volume can have.";
            return false;
        }
    }
    if (header.extendedBytes < 0) {
        reason = "The header gives an extended header of " + std::to_string(header.extendedBytes) +
                 " bytes (nsymbt); it cannot be negative.";
        return false;
    }
    return true;
}

// The x, y, z axis (0..2) of columns, rows and sections. Files that leave the
// order out (all 0) are in the standard order.
bool axisOrderOf(const MrcHeader &header, std::array<int, 3> &worldAxis,
                 std::vector<std::string> &notes, std::string &reason)
{
    const std::int32_t *order = header.axisOrder;
    if (order[0] == 0 && order[1] == 0 && order[2] == 0) {
        worldAxis = {0, 1, 2};
        notes.push_back("The file gives no axis order (mapc, mapr, maps); columns, rows and "
                        "sections are taken as x, y and z.");
        return true;
    }
    bool seen[3] = {};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        if (order[axis] < 1 || order[axis] > 3 || seen[order[axis] - 1]) {
            reason = "The header gives the axis order (mapc, mapr, maps) " +
                     std::to_string(order[0]) + ", " + std::to_string(order[1]) + ", " +
                     std::to_string(order[2]) + ", which is not an order of the axes 1, 2, 3.";
            return false;
        }
        seen[order[axis] - 1] = true;
        worldAxis[axis] = order[axis] - 1;
    }
    return true;
}

// Voxel sizes, directions and origin in the map's x, y, z. Stored axis a runs
// along world axis worldAxis[a].
void mrcGeometry(const MrcHeader &header, const std::array<int, 3> &worldAxis, RawScan &scan)
{
    const bool cellGiven =
        header.cell[0] != 0.0f || header.cell[1] != 0.0f || header.cell[2] != 0.0f;
    if (!cellGiven)
        scan.notes.push_back("The file gives no cell size; its voxels are taken as 1 Å.");
    const bool originGiven =
        header.origin[0] != 0.0f || header.origin[1] != 0.0f || header.origin[2] != 0.0f;
    scan.direction = {{0, 0, 0, 0, 0, 0, 0, 0, 0}};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const std::size_t world = std::size_t(worldAxis[axis]);
        const std::int32_t intervals =
            header.sampling[world] > 0 ? header.sampling[world] : header.size[axis];
        scan.spacing[axis] = cellGiven ? double(header.cell[world]) / intervals : 1.0;
        scan.direction[3 * world + axis] = 1.0;
        scan.origin[world] =
            originGiven ? double(header.origin[world]) : header.start[axis] * scan.spacing[axis];
    }
    scan.patientFrame = false;
    scan.notes.push_back("Lengths are in Å as the file gives them: 1 Å is shown as 1 mm.");
}

// Reads and checks the header of path: geometry and sample type go into
// scan, its samples untouched; offset is where the samples start. The memory
// rule applies only where maxDataBytes is given.
ScanReadResult readMrcHeader(const std::string &path, std::optional<std::uint64_t> maxDataBytes,
                             RawScan &scan, std::int32_t &mode, std::uint64_t &offset)
{
    unsigned char bytes[mrcHeaderSize] = {};
    const FileBytesRead read = readFileBytes(path, 0, bytes, sizeof bytes);
    if (!read.ok)
        return scanRefusal(read.reason);
    if (read.read < mrcHeaderSize)
        return scanRefusal("The file is too short for an MRC header (" +
                           std::to_string(mrcHeaderSize) + " bytes).");
    const MrcHeader header = parseInStampedOrder(bytes, scan.notes);
    std::string reason;
    std::array<int, 3> worldAxis{};
    if (!checkSizes(header, reason) || !sampleTypeOf(header.mode, scan.type, reason) ||
        !axisOrderOf(header, worldAxis, scan.notes, reason))
        return scanRefusal(reason);
    const std::array<std::uint64_t, 3> size = {std::uint64_t(header.size[0]),
                                               std::uint64_t(header.size[1]),
                                               std::uint64_t(header.size[2])};
    if (maxDataBytes) {
        // float16 is held as 16-bit words and as floats, never with the
        // volume: the floats and the volume are the most at once.
        const SampleType held = header.mode == halfFloatMode ? SampleType::Float32 : scan.type;
        reason = scanMemoryProblem(size, sampleSize(held), *maxDataBytes);
        if (!reason.empty())
            return scanRefusal(reason);
    }
    for (std::size_t axis = 0; axis < 3; ++axis)
        scan.size[axis] = std::size_t(size[axis]);
    mrcGeometry(header, worldAxis, scan);
    scan.bigEndian = header.bigEndian;
    mode = header.mode;
    offset = mrcHeaderSize + std::uint64_t(header.extendedBytes);
    return {true, {}};
}

// IEEE 754 half precision to single; exact for every value.
float floatOfHalf(std::uint16_t half)
{
    const std::uint32_t sign = std::uint32_t(half & 0x8000u) << 16;
    const std::uint32_t exponent = (half >> 10) & 0x1fu;
    const std::uint32_t mantissa = half & 0x3ffu;
    if (exponent == 0) { // zero and subnormals: mantissa * 2^-24
        const float magnitude = std::ldexp(float(mantissa), -24);
        return sign ? -magnitude : magnitude;
    }
    const std::uint32_t bits = exponent == 0x1fu
                                   ? sign | 0x7f800000u | (mantissa << 13) // infinity, NaN
                                   : sign | ((exponent + 112u) << 23) | (mantissa << 13);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

// Replaces scan's 16-bit half floats (in the file's byte order) by float32
// samples in this machine's.
bool widenHalfFloats(RawScan &scan)
{
    const std::uint64_t count = std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2];
    SampleBuffer widened;
    if (!widened.allocate(count * sizeof(float)))
        return false;
    const unsigned char *from = scan.samples.data();
    float *to = reinterpret_cast<float *>(widened.data());
    for (std::uint64_t i = 0; i < count; ++i) {
        const unsigned first = from[2 * i], second = from[2 * i + 1];
        to[i] =
            floatOfHalf(std::uint16_t(scan.bigEndian ? first << 8 | second : second << 8 | first));
    }
    scan.samples = std::move(widened);
    scan.type = SampleType::Float32;
    scan.bigEndian = machineIsBigEndian();
    scan.fileTypeName = "float16";
    return true;
}

} // namespace

bool looksLikeMrcHeader(const unsigned char *bytes, std::size_t available)
{
    // Some writers end the word with a zero instead of a space.
    return available >= 212 && std::memcmp(bytes + 208, "MAP", 3) == 0 &&
           (bytes[211] == ' ' || bytes[211] == '\0');
}

ScanReadResult readMrcFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target)
{
    RawScan scan;
    std::int32_t mode = 0;
    std::uint64_t offset = 0;
    ScanReadResult read = readMrcHeader(path, maxDataBytes, scan, mode, offset);
    if (!read.ok)
        return read;
    read = readRawSamples(path, offset, scan);
    if (!read.ok)
        return read;
    if (mode == halfFloatMode && !widenHalfFloats(scan))
        return scanRefusal("There is not enough memory for the image.");
    target = std::move(scan);
    return {true, {}};
}

ScanReadResult readMrcLayout(const std::string &path, ScanLayout &layout)
{
    RawScan scan;
    std::int32_t mode = 0;
    std::uint64_t offset = 0;
    const ScanReadResult read = readMrcHeader(path, std::nullopt, scan, mode, offset);
    if (!read.ok)
        return read;
    ScanLayout probed;
    const ScanReadResult placed = layoutOfScan(scan, VolumeFormat::Mrc, path, probed);
    if (!placed.ok)
        return placed;
    const bool halfFloats = mode == halfFloatMode;
    probed.type = halfFloats ? SampleType::Float32 : scan.type;
    probed.storage = halfFloats ? ScanLayout::Storage::Other : ScanLayout::Storage::Raw;
    probed.dataOffset = offset;
    layout = std::move(probed);
    return {true, {}};
}
