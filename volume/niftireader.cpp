#include "niftireader.h"

#include "headerbytes.h"
#include "imagegrid.h"
#include "samplereading.h"
#include "scanfileaccess.h"
#include "scanlayout.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <optional>

namespace {

constexpr std::size_t nifti1HeaderSize = 348;
constexpr std::size_t nifti2HeaderSize = 540;

// The header fields the reader uses, from either version.
struct NiftiHeader
{
    int version = 1; // 1 also for Analyze
    bool analyze = false;
    bool bigEndian = false;
    bool pair = false; // the samples are in a separate .img file
    std::int64_t dim[8] = {};
    double pixdim[8] = {};
    int datatype = 0;
    double voxOffset = 0.0;
    double slope = 0.0;
    double intercept = 0.0;
    int qformCode = 0;
    int sformCode = 0;
    int units = 0; // xyzt_units: space in the low 3 bits, time above
    double quatern[3] = {};
    double qoffset[3] = {};
    double srow[3][4] = {};
};

std::int32_t sizeField(const unsigned char *bytes, bool bigEndian)
{
    return HeaderBytes(bytes, bigEndian).at<std::int32_t>(0);
}

bool parseHeader(const unsigned char *bytes, std::size_t available, bool analyzeAllowed,
                 NiftiHeader &header, std::string &reason)
{
    if (available < nifti1HeaderSize) {
        reason = "The file is too short for a NIfTI header.";
        return false;
    }
    for (bool bigEndian : {false, true}) {
        const std::int32_t size = sizeField(bytes, bigEndian);
        if (size == std::int32_t(nifti1HeaderSize)) {
            header.version = 1;
            header.bigEndian = bigEndian;
            break;
        }
        if (size == std::int32_t(nifti2HeaderSize)) {
            header.version = 2;
            header.bigEndian = bigEndian;
            break;
        }
        if (bigEndian) {
            reason = "The header size field is neither 348 (NIfTI-1) nor 540 (NIfTI-2).";
            return false;
        }
    }
    const HeaderBytes h(bytes, header.bigEndian);
    if (header.version == 1) {
        if (std::memcmp(bytes + 344, "n+1\0", 4) == 0) {
            header.pair = false;
        } else if (std::memcmp(bytes + 344, "ni1\0", 4) == 0) {
            header.pair = true;
        } else if (analyzeAllowed) {
            header.pair = header.analyze = true;
        } else {
            reason = "The header has no NIfTI signature.";
            return false;
        }
        for (int i = 0; i < 8; ++i) {
            header.dim[i] = h.at<std::int16_t>(40 + 2 * std::size_t(i));
            header.pixdim[i] = h.at<float>(76 + 4 * std::size_t(i));
        }
        header.datatype = h.at<std::int16_t>(70);
        header.voxOffset = h.at<float>(108);
        if (!header.analyze) {
            header.slope = h.at<float>(112);
            header.intercept = h.at<float>(116);
            header.units = bytes[123];
            header.qformCode = h.at<std::int16_t>(252);
            header.sformCode = h.at<std::int16_t>(254);
            for (int i = 0; i < 3; ++i) {
                header.quatern[i] = h.at<float>(256 + 4 * std::size_t(i));
                header.qoffset[i] = h.at<float>(268 + 4 * std::size_t(i));
            }
            for (int row = 0; row < 3; ++row)
                for (int column = 0; column < 4; ++column)
                    header.srow[row][column] =
                        h.at<float>(280 + 16 * std::size_t(row) + 4 * std::size_t(column));
        }
        return true;
    }

    if (available < nifti2HeaderSize) {
        reason = "The file is too short for a NIfTI-2 header.";
        return false;
    }
    if (std::memcmp(bytes + 4, "n+2\0", 4) == 0) {
        header.pair = false;
    } else if (std::memcmp(bytes + 4, "ni2\0", 4) == 0) {
        header.pair = true;
    } else {
        reason = "The header has no NIfTI-2 signature.";
        return false;
    }
    header.datatype = h.at<std::int16_t>(12);
    for (int i = 0; i < 8; ++i) {
        header.dim[i] = h.at<std::int64_t>(16 + 8 * std::size_t(i));
        header.pixdim[i] = h.at<double>(104 + 8 * std::size_t(i));
    }
    // A 64-bit offset beyond any file size still compares correctly as double.
    header.voxOffset = double(h.at<std::int64_t>(168));
    header.slope = h.at<double>(176);
    header.intercept = h.at<double>(184);
    header.qformCode = h.at<std::int32_t>(344);
    header.sformCode = h.at<std::int32_t>(348);
    header.units = h.at<std::int32_t>(500);
    for (int i = 0; i < 3; ++i) {
        header.quatern[i] = h.at<double>(352 + 8 * std::size_t(i));
        header.qoffset[i] = h.at<double>(376 + 8 * std::size_t(i));
    }
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 4; ++column)
            header.srow[row][column] =
                h.at<double>(400 + 32 * std::size_t(row) + 8 * std::size_t(column));
    return true;
}

bool sampleTypeOf(int datatype, SampleType &type, std::string &reason)
{
    switch (datatype) {
    case 2:
        type = SampleType::UInt8;
        return true;
    case 4:
        type = SampleType::Int16;
        return true;
    case 8:
        type = SampleType::Int32;
        return true;
    case 16:
        type = SampleType::Float32;
        return true;
    case 64:
        type = SampleType::Float64;
        return true;
    case 256:
        type = SampleType::Int8;
        return true;
    case 512:
        type = SampleType::UInt16;
        return true;
    case 768:
        type = SampleType::UInt32;
        return true;
    case 1024:
        type = SampleType::Int64;
        return true;
    case 1280:
        type = SampleType::UInt64;
        return true;
    case 128:  // RGB24: a voxel's three bytes together
    case 2304: // RGBA32
        type = SampleType::UInt8;
        return true;
    case 32:
    case 1792:
    case 2048:
        reason = "The image has complex samples; only scalar images can be shown.";
        return false;
    }
    reason = "The header gives data type " + std::to_string(datatype) +
             ", which cannot be shown (not a scalar number type).";
    return false;
}

bool checkDimensions(const NiftiHeader &header, std::array<std::uint64_t, 3> &size,
                     std::uint64_t &frames, std::string &reason)
{
    const std::int64_t dimensions = header.dim[0];
    if (dimensions < 1 || dimensions > 7) {
        reason = "The header gives " + std::to_string(dimensions) +
                 " dimensions (dim[0]); a NIfTI image has 1 to 7.";
        return false;
    }
    size = {1, 1, 1};
    frames = 1;
    for (int axis = 1; axis <= dimensions; ++axis) {
        const std::int64_t extent = header.dim[axis];
        if (extent < 1) {
            reason = "The header gives a size of " + std::to_string(extent) + " along axis " +
                     std::to_string(axis) + "; sizes must be positive.";
            return false;
        }
        // The fourth axis is time; a fifth holds the components of a voxel
        // (vectors, tensors) or more, which are no series of volumes.
        if (axis > 4 && extent > 1) {
            reason = "The image has " + std::to_string(extent) + " values per voxel (axis " +
                     std::to_string(axis) +
                     "); only scalar images and series of them can be shown.";
            return false;
        }
        if (extent > 65535) {
            reason = "An axis of " + std::to_string(extent) +
                     " voxels is larger than 65535, the most a volume can have.";
            return false;
        }
        if (axis <= 3)
            size[std::size_t(axis - 1)] = std::uint64_t(extent);
        if (axis == 4)
            frames = std::uint64_t(extent);
    }
    return true;
}

// The time between volumes of a series: pixdim[4] in the unit xyzt_units names.
void niftiFrameInterval(const NiftiHeader &header, double &interval, std::string &unit)
{
    interval = 0.0;
    unit.clear();
    const double step = header.pixdim[4];
    if (header.dim[0] < 4 || !std::isfinite(step) || step <= 0.0)
        return;
    interval = step;
    switch (header.units & 0x38) {
    case 8:
        unit = "s";
        break;
    case 16:
        unit = "ms";
        break;
    case 24:
        unit = "us";
        break;
    case 32:
        unit = "Hz";
        break;
    default:
        break;
    }
}

bool finite(const double *values, int count)
{
    return std::all_of(values, values + count, [](double value) { return std::isfinite(value); });
}

// Rotation of the quaternion (b, c, d) with qfac, columns along the index
// axes in RAS; NIfTI's own formula, including its repair of a slightly too
// long quaternion.
DirectionMatrix quaternionDirection(const NiftiHeader &header)
{
    double b = header.quatern[0], c = header.quatern[1], d = header.quatern[2];
    double a = 1.0 - (b * b + c * c + d * d);
    // A quaternion a little too long is a rotation by 180 degrees, as nibabel
    // reads it.
    if (a <= 0.0) {
        const double length = std::sqrt(b * b + c * c + d * d);
        a = 0.0;
        if (length > 0.0) {
            b /= length;
            c /= length;
            d /= length;
        }
    } else {
        a = std::sqrt(a);
    }
    const double qfac = header.pixdim[0] < 0.0 ? -1.0 : 1.0;
    return {{a * a + b * b - c * c - d * d, 2 * (b * c - a * d), 2 * (b * d + a * c) * qfac,
             2 * (b * c + a * d), a * a + c * c - b * b - d * d, 2 * (c * d - a * b) * qfac,
             2 * (b * d - a * c), 2 * (c * d + a * b), (a * a + d * d - c * c - b * b) * qfac}};
}

// The geometry of the stored axes, in LPS: the sform where its code is set,
// else the qform where its code is set, else nibabel's fallback for files
// without either (Analyze): the spacing, x flipped, the centre voxel at 0. A
// form whose code is set but whose numbers are not finite gives way to the
// next with a warning; the last one left is checked as any header is.
void niftiGeometry(const NiftiHeader &header, const std::array<std::uint64_t, 3> &size,
                   RawScan &scan)
{
    const bool sformUsable = header.sformCode > 0 && finite(&header.srow[0][0], 12);
    const bool qformUsable = header.qformCode > 0 && finite(header.quatern, 3) &&
                             finite(header.qoffset, 3) && std::isfinite(header.pixdim[0]);
    DirectionMatrix ras{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    std::array<double, 3> rasOrigin{};
    if (header.sformCode > 0 && (sformUsable || !qformUsable)) {
        for (std::size_t column = 0; column < 3; ++column) {
            double length = 0.0;
            for (std::size_t row = 0; row < 3; ++row)
                length += header.srow[row][column] * header.srow[row][column];
            length = std::sqrt(length);
            scan.spacing[column] = length;
            // A zero column stays zero and a non-finite one non-finite: both
            // are refused with a warning later.
            for (std::size_t row = 0; row < 3; ++row)
                ras[3 * row + column] = length > 0.0 || !std::isfinite(length)
                                            ? header.srow[row][column] / length
                                            : 0.0;
        }
        for (std::size_t row = 0; row < 3; ++row)
            rasOrigin[row] = header.srow[row][3];
    } else if (header.qformCode > 0) {
        if (header.sformCode > 0)
            scan.notes.push_back("The file's sform is not all numbers; its qform is used.");
        ras = quaternionDirection(header);
        for (std::size_t row = 0; row < 3; ++row)
            rasOrigin[row] = header.qoffset[row];
    } else {
        for (std::size_t axis = 0; axis < 3; ++axis) {
            const double zoom = axis == 0 ? -scan.spacing[axis] : scan.spacing[axis];
            rasOrigin[axis] = -double(size[axis] - 1) / 2.0 * zoom;
        }
        ras[0] = -1.0;
    }
    for (std::size_t i = 0; i < 6; ++i)
        ras[i] = -ras[i];
    scan.direction = ras;
    scan.origin = swapLpsRas(rasOrigin);
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

// The other file of a .hdr/.img pair, in the case the given name uses.
std::string pairedName(const std::string &path, bool wantImage)
{
    const std::string stem = path.substr(0, path.size() - 4);
    const bool upper = path.size() >= 4 && std::isupper(static_cast<unsigned char>(path.back()));
    const char *suffix = wantImage ? (upper ? ".IMG" : ".img") : (upper ? ".HDR" : ".hdr");
    return stem + suffix;
}

bool endsWith(const std::string &text, const char *suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// Where a NIfTI file's samples lie, as its header says.
struct NiftiDataPlace
{
    std::string path;         // the file holding the samples
    std::uint64_t offset = 0; // vox_offset: in the inflated stream where compressed
    bool compressed = false;
    std::uint64_t headerBytes = 0; // inflated bytes the header took from the stream
};

// Reads and checks the header of path (and its pair), up to where the samples
// start: the geometry and sample type go into scan, its samples untouched. The
// memory rule applies only where maxDataBytes is given. A compressed file's
// stream is left just after the header.
ScanReadResult readNiftiHeader(const std::string &path, std::optional<std::uint64_t> maxDataBytes,
                               InflateStream &stream, RawScan &scan, NiftiDataPlace &place)
{
    const std::string lower = lowerCase(path);
    const std::string headerPath = endsWith(lower, ".img") ? pairedName(path, false) : path;
    const bool analyzeAllowed = endsWith(lowerCase(headerPath), ".hdr");

    unsigned char bytes[nifti2HeaderSize] = {};
    std::uint64_t available = 0;
    std::string reason;
    // A compressed file is read through one stream: the header, the bytes up
    // to the samples, the samples.
    bool compressed = false;
    {
        const FileBytesRead magic = readFileBytes(headerPath, 0, bytes, 2);
        if (!magic.ok)
            return scanRefusal(magic.reason);
        compressed = magic.read == 2 && startsCompressed(bytes);
    }
    if (compressed) {
        if (!stream.open(headerPath, 0, reason))
            return scanRefusal(reason);
        available = stream.read(bytes, nifti1HeaderSize);
        if (available == nifti1HeaderSize &&
            (sizeField(bytes, false) == 540 || sizeField(bytes, true) == 540))
            available += stream.read(bytes + nifti1HeaderSize, nifti2HeaderSize - nifti1HeaderSize);
        if (available < nifti1HeaderSize && stream.state() != InflateStream::State::Ended)
            return scanRefusal(stream.state() == InflateStream::State::Cut
                                   ? "The compressed data is cut off before its end."
                                   : "The compressed data is damaged (" + stream.damage() + ").");
    } else {
        const FileBytesRead read = readFileBytes(headerPath, 0, bytes, sizeof bytes);
        if (!read.ok)
            return scanRefusal(read.reason);
        available = read.read;
    }

    NiftiHeader header;
    if (!parseHeader(bytes, std::size_t(available), analyzeAllowed, header, reason))
        return scanRefusal(reason);
    std::array<std::uint64_t, 3> size{};
    std::uint64_t frames = 1;
    if (!checkDimensions(header, size, frames, reason) ||
        !sampleTypeOf(header.datatype, scan.type, reason))
        return scanRefusal(reason);
    scan.frames = std::size_t(frames);
    scan.components = header.datatype == 128 ? 3 : header.datatype == 2304 ? 4 : 1;
    niftiFrameInterval(header, scan.frameInterval, scan.frameUnit);
    if (maxDataBytes) {
        reason =
            scanMemoryProblem(size, sampleSize(scan.type), *maxDataBytes, frames * scan.components);
        if (!reason.empty())
            return scanRefusal(reason);
    }

    const std::size_t headerSize = header.version == 1 ? nifti1HeaderSize : nifti2HeaderSize;
    const double offset = header.voxOffset;
    if (!std::isfinite(offset) || offset < 0.0 || offset != std::floor(offset))
        return scanRefusal("The header gives a data offset (vox_offset) of " +
                           std::to_string(offset) + ", which is not a position in a file.");
    if (!header.pair && offset < double(headerSize))
        return scanRefusal("The header gives a data offset (vox_offset) of " +
                           std::to_string(std::uint64_t(offset)) + ", inside the " +
                           std::to_string(headerSize) + "-byte header.");

    for (int axis = 0; axis < 3; ++axis) {
        scan.size[std::size_t(axis)] = std::size_t(size[std::size_t(axis)]);
        // Axes the image does not have are one voxel deep; their pixdim means nothing.
        scan.spacing[std::size_t(axis)] = axis < header.dim[0] ? header.pixdim[axis + 1] : 1.0;
    }
    niftiGeometry(header, size, scan);
    scan.bigEndian = header.bigEndian;
    if (std::isfinite(header.slope) && header.slope != 0.0) {
        scan.slope = header.slope;
        scan.intercept = std::isfinite(header.intercept) ? header.intercept : 0.0;
    }

    // Beyond 2^63 the offset would not convert to a file position.
    if (offset > 1e18)
        return scanRefusal("The header gives a data offset (vox_offset) beyond any file.");
    // The .img given, or the sibling of the header given.
    place.path = !header.pair ? headerPath : headerPath == path ? pairedName(path, true) : path;
    place.offset = std::uint64_t(offset);
    place.compressed = compressed && !header.pair;
    place.headerBytes = available;
    return {true, {}};
}

} // namespace

ScanReadResult readNiftiFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target)
{
    InflateStream stream;
    RawScan scan;
    NiftiDataPlace place;
    ScanReadResult read = readNiftiHeader(path, maxDataBytes, stream, scan, place);
    if (!read.ok)
        return read;
    if (place.compressed) {
        const std::uint64_t gap = place.offset - place.headerBytes;
        if (stream.read(nullptr, gap) < gap) {
            if (stream.state() == InflateStream::State::Ended)
                return scanRefusal("The data would start at byte " + std::to_string(place.offset) +
                                   ", beyond the end of the uncompressed file.");
            return scanRefusal(stream.state() == InflateStream::State::Cut
                                   ? "The compressed data is cut off before its end."
                                   : "The compressed data is damaged (" + stream.damage() + ").");
        }
        read = inflateSamples(stream, scan);
    } else {
        read = readRawSamples(place.path, place.offset, scan);
    }
    if (!read.ok)
        return read;
    target = std::move(scan);
    return {true, {}};
}

ScanReadResult readNiftiLayout(const std::string &path, ScanLayout &layout)
{
    InflateStream stream;
    RawScan scan;
    NiftiDataPlace place;
    ScanReadResult read = readNiftiHeader(path, std::nullopt, stream, scan, place);
    if (!read.ok)
        return read;
    ScanLayout probed;
    read = layoutOfScan(scan, VolumeFormat::Nifti, place.path, probed);
    if (!read.ok)
        return read;
    probed.storage = place.compressed ? ScanLayout::Storage::Compressed : ScanLayout::Storage::Raw;
    // A .nii.gz's stream starts the file; vox_offset counts in the inflated bytes.
    probed.dataOffset = place.compressed ? 0 : place.offset;
    probed.inflatedOffset = place.compressed ? place.offset : 0;
    layout = std::move(probed);
    return {true, {}};
}
