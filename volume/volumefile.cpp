#include "volumefile.h"

#include "datreader.h"
#include "itkscanreader.h"
#include "loadreport.h"
#include "memorylimit.h"
#include "volume.h"

#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <sstream>

namespace {

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

bool endsWith(const std::string &text, const char *suffix)
{
    const std::size_t length = std::strlen(suffix);
    return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

std::uint32_t int32At(const std::string &bytes, std::size_t offset, bool bigEndian)
{
    std::uint32_t value = 0;
    for (int i = 0; i < 4; ++i) {
        const std::uint32_t byte = static_cast<unsigned char>(bytes[offset + std::size_t(i)]);
        value |= bigEndian ? byte << (8 * (3 - i)) : byte << (8 * i);
    }
    return value;
}

bool holdsAt(const std::string &bytes, std::size_t offset, const char *text, std::size_t length)
{
    return bytes.size() >= offset + length && bytes.compare(offset, length, text, length) == 0;
}

bool isNiftiHeader(const std::string &bytes)
{
    if (bytes.size() < 348)
        return false;
    for (bool bigEndian : {false, true}) {
        const std::uint32_t size = int32At(bytes, 0, bigEndian);
        if (size == 348 && (holdsAt(bytes, 344, "n+1\0", 4) || holdsAt(bytes, 344, "ni1\0", 4)))
            return true;
        if (size == 540 && (holdsAt(bytes, 4, "n+2\0", 4) || holdsAt(bytes, 4, "ni2\0", 4)))
            return true;
    }
    return false;
}

// An Analyze 7.5 header: the NIfTI-1 layout without its magic.
bool isAnalyzeHeader(const std::string &bytes)
{
    return bytes.size() >= 348 &&
           (int32At(bytes, 0, false) == 348 || int32At(bytes, 0, true) == 348);
}

bool isMetaImageHeader(const std::string &bytes)
{
    // The header is "Key = Value" lines; every writer starts with one of these.
    std::size_t start = 0;
    while (start < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[start])))
        ++start;
    for (const char *key : {"ObjectType", "NDims", "Comment", "ObjectSubType", "DimSize"}) {
        const std::size_t length = std::strlen(key);
        if (!holdsAt(bytes, start, key, length))
            continue;
        std::size_t next = start + length;
        while (next < bytes.size() && bytes[next] == ' ')
            ++next;
        if (next < bytes.size() && bytes[next] == '=')
            return true;
    }
    return false;
}

struct NamedFormat
{
    const char *suffix;
    VolumeFormat format;
    const char *description;
};

constexpr NamedFormat namedFormats[] = {
    {".nii.gz", VolumeFormat::Nifti, "a compressed NIfTI file (.nii.gz)"},
    {".nii", VolumeFormat::Nifti, "a NIfTI file (.nii)"},
    {".hdr", VolumeFormat::Nifti, "a NIfTI or Analyze header (.hdr)"},
    {".img", VolumeFormat::Nifti, "NIfTI or Analyze voxels (.img)"},
    {".nrrd", VolumeFormat::Nrrd, "an NRRD file (.nrrd)"},
    {".nhdr", VolumeFormat::Nrrd, "an NRRD header (.nhdr)"},
    {".mha", VolumeFormat::MetaImage, "a MetaImage file (.mha)"},
    {".mhd", VolumeFormat::MetaImage, "a MetaImage header (.mhd)"},
    {".dcm", VolumeFormat::DicomSeries, "a DICOM file (.dcm)"},
};

const NamedFormat *formatNamedBy(const std::string &lowerName)
{
    for (const NamedFormat &named : namedFormats)
        if (endsWith(lowerName, named.suffix))
            return &named;
    return nullptr;
}

std::string axisName(int axis)
{
    return std::string(1, char('X' + axis));
}

std::string numberText(double value)
{
    std::ostringstream text;
    text.precision(6);
    text << value;
    return text.str();
}

} // namespace

const char *volumeFormatName(VolumeFormat format)
{
    switch (format) {
    case VolumeFormat::Dat:
        return "DAT";
    case VolumeFormat::Nifti:
        return "NIfTI";
    case VolumeFormat::Nrrd:
        return "NRRD";
    case VolumeFormat::MetaImage:
        return "MetaImage";
    case VolumeFormat::DicomSeries:
        return "DICOM series";
    }
    return "";
}

VolumeFormatDetection detectVolumeFormat(const std::string &path)
{
    VolumeFormatDetection detection;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        detection.format = VolumeFormat::DicomSeries;
        return detection;
    }
    const std::string name = lowerCase(std::filesystem::path(path).filename().string());
    if (endsWith(name, ".dat"))
        return detection;

    std::string bytes(352, '\0');
    {
        std::ifstream file(path, std::ios::binary);
        if (!file)
            return detection;
        file.read(&bytes[0], std::streamsize(bytes.size()));
        bytes.resize(std::size_t(file.gcount()));
    }
    const NamedFormat *named = formatNamedBy(name);
    const bool gzip = holdsAt(bytes, 0, "\x1f\x8b", 2);
    if (gzip && endsWith(name, ".nii.gz"))
        detection.format = VolumeFormat::Nifti;
    else if (holdsAt(bytes, 0, "NRRD000", 7))
        detection.format = VolumeFormat::Nrrd;
    else if (holdsAt(bytes, 128, "DICM", 4))
        detection.format = VolumeFormat::DicomSeries;
    else if (isNiftiHeader(bytes) || (named && endsWith(name, ".hdr") && isAnalyzeHeader(bytes)))
        detection.format = VolumeFormat::Nifti;
    else if (isMetaImageHeader(bytes))
        detection.format = VolumeFormat::MetaImage;
    else if (named && endsWith(name, ".img") &&
             std::filesystem::exists(path.substr(0, path.size() - 4) + ".hdr", error))
        detection.format = VolumeFormat::Nifti;
    else if (named && named->format == VolumeFormat::DicomSeries)
        detection.format = VolumeFormat::DicomSeries; // DICOM without its preamble
    else if (named)
        detection.refusal =
            std::string("The file is named like ") + named->description + " but does not hold one.";
    return detection;
}

bool gzipStreamIsComplete(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    z_stream stream{};
    // 15 + 32: any window size, gzip or zlib header detected by itself.
    if (inflateInit2(&stream, 15 + 32) != Z_OK)
        return false;
    static thread_local unsigned char input[1 << 16];
    static thread_local unsigned char output[1 << 16];
    bool ended = false; // the last member seen so far is complete
    int status = Z_OK;
    while (status == Z_OK || status == Z_STREAM_END) {
        file.read(reinterpret_cast<char *>(input), sizeof input);
        stream.next_in = input;
        stream.avail_in = uInt(file.gcount());
        if (stream.avail_in == 0)
            break;
        while (stream.avail_in > 0) {
            // A stream may hold several members, one after the other.
            if (status == Z_STREAM_END) {
                if (inflateReset(&stream) != Z_OK) {
                    status = Z_DATA_ERROR;
                    break;
                }
            }
            stream.next_out = output;
            stream.avail_out = sizeof output;
            status = inflate(&stream, Z_NO_FLUSH);
            if (status == Z_BUF_ERROR)
                status = Z_OK;
            if (status != Z_OK && status != Z_STREAM_END)
                break;
            ended = status == Z_STREAM_END;
        }
    }
    inflateEnd(&stream);
    return ended && (status == Z_OK || status == Z_STREAM_END);
}

bool volumeFromStoredScan(const StoredScan &scan, Volume &target,
                          std::vector<std::string> &warnings, std::ostream &out)
{
    const std::uint64_t count = std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2];
    const float *values = scan.values.get();

    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -minimum;
    std::uint64_t nonFinite = 0;
    for (std::uint64_t i = 0; i < count; ++i) {
        const float value = values[i];
        if (!std::isfinite(value)) {
            ++nonFinite;
            continue;
        }
        minimum = std::min(minimum, double(value));
        maximum = std::max(maximum, double(value));
    }
    if (nonFinite == count)
        minimum = maximum = 0.0;

    const Reorientation reorientation = reorientationFromDirection(scan.direction);
    const std::array<std::size_t, 3> size = reorientedAxes(scan.size, reorientation);
    VoxelArray data;
    if (!tryResizeVoxels(data, std::size_t(count)))
        return false;
    reorientValues(values, scan.size, reorientation, data.data());

    // Non-finite samples read as the minimum, which maps to 0.
    const double scale = maximum > minimum ? 1.0 / (maximum - minimum) : 0.0;
    const std::size_t sliceValues = size[0] * size[1];
    for (std::size_t z = 0; z < size[2]; ++z) {
        float *slice = data.data() + z * sliceValues;
        for (std::size_t i = 0; i < sliceValues; ++i) {
            const float value = slice[i];
            slice[i] = std::isfinite(value)
                           ? std::min(1.0f, float((double(value) - minimum) * scale))
                           : 0.0f;
        }
        const std::size_t percent = size[2] > 1 ? 100 * z / (size[2] - 1) : 100;
        out << "\r- Preparing data (" << percent << "%) ...";
    }
    out << std::endl;

    std::array<double, 3> spacing = reorientedAxes(scan.spacing, reorientation);
    for (int axis = 0; axis < 3; ++axis) {
        if (std::isfinite(spacing[axis]) && spacing[axis] > 0.0)
            continue;
        warnings.push_back("The file gives a voxel spacing of " + numberText(spacing[axis]) +
                           " along " + axisName(axis) + "; 1 mm is used.");
        spacing[axis] = 1.0;
    }
    if (reorientation.oblique)
        warnings.push_back("The scan is oblique (up to " +
                           numberText(std::round(reorientation.obliqueDegrees * 10) / 10) +
                           " degrees off the axes); it is shown turned to the nearest axes.");
    if (nonFinite > 0)
        warnings.push_back(std::to_string(nonFinite) +
                           " samples are not numbers or infinite; they read as the minimum.");
    warnings.insert(warnings.end(), scan.notes.begin(), scan.notes.end());

    target.width = int(size[0]);
    target.height = int(size[1]);
    target.depth = int(size[2]);
    target.data.swap(data);
    target.spacing = spacing;
    target.valueRange = {minimum, maximum};
    target.patientFrame = true;
    return true;
}

VolumeReadResult readVolumeFile(const std::string &path, Volume &target, std::ostream &out,
                                std::ostream &err, const VolumeReadOptions &options)
{
    const VolumeFormatDetection detection = detectVolumeFormat(path);
    VolumeReadResult result;
    result.format = detection.format;
    if (detection.format == VolumeFormat::Dat && detection.refusal.empty()) {
        DatReadOptions datOptions;
        datOptions.maxDataBytes = options.maxDataBytes;
        const DatReadResult dat = readDatFile(path, target, out, err, datOptions);
        result.ok = dat.ok;
        result.reason = dat.reason;
        result.missingSamples = dat.missingSamples;
        return result;
    }

    out << "- Loading file '" << path << "' ... " << std::endl;
    auto fail = [&](std::string reason) {
        reportLoadError(err, reason);
        result.reason = std::move(reason);
        return result;
    };
    if (!detection.refusal.empty())
        return fail(detection.refusal);

    std::ifstream probe(path, std::ios::binary);
    char magic[2] = {};
    if (detection.format != VolumeFormat::DicomSeries && probe.read(magic, 2) &&
        magic[0] == '\x1f' && magic[1] == '\x8b' && !gzipStreamIsComplete(path))
        return fail("The compressed file is damaged or cut off before its end.");

    StoredScan scan;
    const ScanFormat scanFormat = detection.format == VolumeFormat::Nifti  ? ScanFormat::Nifti
                                  : detection.format == VolumeFormat::Nrrd ? ScanFormat::Nrrd
                                  : detection.format == VolumeFormat::MetaImage
                                      ? ScanFormat::MetaImage
                                      : ScanFormat::DicomSeries;
    const ScanReadResult read = readScanWithItk(path, scanFormat, options.maxDataBytes, scan);
    if (!read.ok)
        return fail(read.reason);
    out << "- File loaded." << std::endl;

    std::vector<std::string> warnings;
    if (!volumeFromStoredScan(scan, target, warnings, out))
        return fail("There is not enough memory for the volume.");
    scan.values.reset();
    out << "- Data prepared." << std::endl;
    for (const std::string &warning : warnings)
        err << "+ Warning: " << warning << std::endl;

    result.ok = true;
    result.warnings = std::move(warnings);
    return result;
}

VolumeReadResult loadVolumeFile(const std::string &path, Volume &target)
{
    VolumeReadOptions options;
    options.maxDataBytes = loadableDataBytes();
    return readVolumeFile(path, target, std::cout, std::cerr, options);
}
