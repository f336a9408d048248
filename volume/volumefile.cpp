#include "volumefile.h"

#include "datreader.h"
#include "itkscanreader.h"
#include "imagestack.h"
#include "inflatedcopy.h"
#include "loadplan.h"
#include "loadreport.h"
#include "mappedscan.h"
#include "memorylimit.h"
#include "mghreader.h"
#include "mrcreader.h"
#include "niftireader.h"
#include "vtireader.h"
#include "scanlayout.h"
#include "scanfileaccess.h"
#include "volume.h"
#include "volumeseries.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <limits>
#include <optional>
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

// VTK's XML files start with their VTKFile element, after an XML declaration
// where the writer gives one.
bool isVtkXml(const std::string &bytes)
{
    std::size_t start = holdsAt(bytes, 0, "\xef\xbb\xbf", 3) ? 3 : 0; // a UTF-8 byte order mark
    while (start < bytes.size() && std::isspace(static_cast<unsigned char>(bytes[start])))
        ++start;
    if (holdsAt(bytes, start, "<?xml", 5)) {
        const std::size_t root = bytes.find('<', start + 1);
        return root != std::string::npos && holdsAt(bytes, root, "<VTKFile", 8);
    }
    return holdsAt(bytes, start, "<VTKFile", 8);
}

// Formats that their first bytes give away but that no reader here takes:
// named in the refusal rather than read as DAT samples. Empty for none.
std::string unreadFormatOf(const std::string &bytes, const std::string &lowerName)
{
    struct Signature
    {
        std::size_t offset;
        const char *bytes;
        std::size_t length;
        const char *description;
    };
    static const Signature signatures[] = {
        {0, "\x89PNG", 4, "a PNG image"},
        {0, "\xff\xd8\xff", 3, "a JPEG image"},
        {0, "GIF8", 4, "a GIF image"},
        {0, "\x89HDF\r\n\x1a\n", 8, "an HDF5 file"},
        {0, "MATRIX7", 7, "an ECAT 7 file"},
        {0, "PK\x03\x04", 4, "a ZIP archive"},
        {0, "# === DATA DESCRIPTION FILE", 27, "a PAR/REC header"},
    };
    for (const Signature &signature : signatures)
        if (holdsAt(bytes, signature.offset, signature.bytes, signature.length))
            return signature.description;
    if (endsWith(lowerName, ".par") || endsWith(lowerName, ".rec"))
        return "a PAR/REC file";
    return {};
}

// Why a file that no signature claims and that is not named .dat cannot be
// a DAT file: its header's samples must fill it exactly. Empty when they do.
std::string notDatReason(const std::string &bytes, std::uint64_t fileSize)
{
    if (bytes.size() < 6)
        return "The file is not in a format Kelvara reads: it is too short for a DAT header.";
    const auto field = [&](std::size_t at) {
        return std::uint64_t(static_cast<unsigned char>(bytes[at])) |
               std::uint64_t(static_cast<unsigned char>(bytes[at + 1])) << 8;
    };
    const std::uint64_t count = field(0) * field(2) * field(4);
    if (fileSize == 6 + 2 * count && count > 0)
        return {};
    return "The file is not in a format Kelvara reads: no known signature, and read as DAT its "
           "header gives " +
           std::to_string(field(0)) + " x " + std::to_string(field(2)) + " x " +
           std::to_string(field(4)) + " samples (" + std::to_string(6 + 2 * count) +
           " bytes) where the file holds " + std::to_string(fileSize) +
           " bytes. Files named .dat are read as DAT whatever their size.";
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
    {".mnc", VolumeFormat::Minc, "a MINC file (.mnc)"},
    {".tiff", VolumeFormat::Tiff, "a TIFF file (.tiff)"},
    {".tif", VolumeFormat::Tiff, "a TIFF file (.tif)"},
    {".vtk", VolumeFormat::VtkLegacy, "a legacy VTK file (.vtk)"},
    {".vti", VolumeFormat::VtkImage, "a VTK image data file (.vti)"},
    {".mgz", VolumeFormat::Mgh, "a compressed MGH file (.mgz)"},
    {".mgh", VolumeFormat::Mgh, "an MGH file (.mgh)"},
    {".mrc", VolumeFormat::Mrc, "an MRC file (.mrc)"},
    {".mrcs", VolumeFormat::Mrc, "an MRC image stack (.mrcs)"},
    {".map", VolumeFormat::Mrc, "an MRC or CCP4 map (.map)"},
    {".ccp4", VolumeFormat::Mrc, "a CCP4 map (.ccp4)"},
    {".rec", VolumeFormat::Mrc, "an MRC tomogram (.rec)"},
    {".st", VolumeFormat::Mrc, "an MRC tilt series (.st)"},
    {".ali", VolumeFormat::Mrc, "an MRC aligned tilt series (.ali)"},
};

const NamedFormat *formatNamedBy(const std::string &lowerName)
{
    for (const NamedFormat &named : namedFormats)
        if (endsWith(lowerName, named.suffix))
            return &named;
    return nullptr;
}

// The volume of layout at the plan's reduced level, from the mapped file: the
// samples are never copied whole, so files far beyond memory open.
// A temporary copy (inflatedcopy.h) loses its name once mapped, or on failure.
VolumeReadResult readReducedLevel(const std::string &path, const ScanLayout &layout,
                                  const LoadPlan &plan, Volume &target, std::ostream &out,
                                  std::ostream &err, const std::atomic<bool> *stop,
                                  bool temporaryCopy = false)
{
    VolumeReadResult result;
    result.format = layout.format;
    result.dataType = sampleTypeName(layout.type);
    if (!temporaryCopy)
        out << "- Loading file '" << path << "' ... " << std::endl;
    auto store = std::make_shared<MappedScan>();
    ScanReadResult step = store->open(layout);
    if (temporaryCopy)
        ::unlink(layout.dataPath.c_str());
    Volume reduced;
    if (step.ok)
        step = store->buildReducedVolume(plan.level, reduced, out, stop);
    if (!step.ok) {
        reportLoadError(err, step.reason);
        result.reason = step.reason;
        return result;
    }
    out << "- File loaded." << std::endl;
    reduced.fullResolution = std::move(store);
    reduced.level = plan.level;
    out << "- Data prepared." << std::endl;

    result.warnings = reduced.fullResolution->warnings();
    result.warnings.push_back(plan.note);
    result.missingSamples = reduced.fullResolution->missingSamples();
    if (result.missingSamples > 0)
        err << "+ Warning: the file ends after " << layout.sampleCount() - result.missingSamples
            << " of " << layout.sampleCount() << " samples; the missing " << result.missingSamples
            << " samples read as 0." << std::endl;
    for (const std::string &warning : result.warnings)
        err << "+ Warning: " << warning << std::endl;
    target = std::move(reduced);
    result.ok = true;
    result.level = plan.level;
    return result;
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
    case VolumeFormat::Minc:
        return "MINC";
    case VolumeFormat::Tiff:
        return "TIFF";
    case VolumeFormat::VtkLegacy:
        return "legacy VTK";
    case VolumeFormat::ImageStack:
        return "image stack";
    case VolumeFormat::VtkImage:
        return "VTK image data";
    case VolumeFormat::Mgh:
        return "MGH";
    case VolumeFormat::Mrc:
        return "MRC";
    }
    return "";
}

bool volumeFormatHasPatientFrame(VolumeFormat format)
{
    // TIFF stacks and VTK grids come from microscopes and simulations: their
    // axes are the image's own, not a patient's.
    return format != VolumeFormat::Dat && format != VolumeFormat::Mrc &&
           format != VolumeFormat::Tiff && format != VolumeFormat::VtkLegacy &&
           format != VolumeFormat::ImageStack && format != VolumeFormat::VtkImage;
}

// The first bytes of the file, inflated where it is compressed (a .nii.gz).
std::string leadingBytes(const std::string &path, bool &compressed)
{
    std::string bytes(552, '\0');
    unsigned char *target = reinterpret_cast<unsigned char *>(&bytes[0]);
    const FileBytesRead read = readFileBytes(path, 0, target, bytes.size());
    bytes.resize(read.ok ? std::size_t(read.read) : 0);
    compressed = bytes.size() >= 2 && startsCompressed(target);
    if (compressed) {
        InflateStream stream;
        std::string reason;
        bytes.assign(552, '\0');
        const std::uint64_t inflated = stream.open(path, 0, reason) ? stream.read(target, 552) : 0;
        bytes.resize(std::size_t(inflated));
    }
    return bytes;
}

VolumeFormatDetection detectVolumeFormat(const std::string &path)
{
    VolumeFormatDetection detection;
    if (pathKind(path) == PathKind::Folder) {
        detection.format =
            folderHoldsImageStack(path) ? VolumeFormat::ImageStack : VolumeFormat::DicomSeries;
        return detection;
    }
    if (pathKind(path) == PathKind::Missing && isImageStackPattern(path)) {
        detection.format = VolumeFormat::ImageStack;
        return detection;
    }
    const std::string name = lowerCase(std::filesystem::path(path).filename().string());
    if (endsWith(name, ".dat") || pathKind(path) != PathKind::File)
        return detection;

    bool compressed = false;
    const std::string bytes = leadingBytes(path, compressed);
    const auto *leading = reinterpret_cast<const unsigned char *>(bytes.data());
    const NamedFormat *named = formatNamedBy(name);
    bool byContents = true;
    if (isNiftiHeader(bytes))
        detection.format = VolumeFormat::Nifti;
    else if (compressed && endsWith(name, ".nii.gz"))
        detection.format = VolumeFormat::Nifti; // damaged: the reader says how
    else if (holdsAt(bytes, 0, "NRRD000", 7))
        detection.format = VolumeFormat::Nrrd;
    else if (holdsAt(bytes, 128, "DICM", 4))
        detection.format = VolumeFormat::DicomSeries;
    else if (looksLikeMrcHeader(leading, bytes.size()))
        detection.format = VolumeFormat::Mrc;
    else if (holdsAt(bytes, 0, "CDF\x01", 4) || holdsAt(bytes, 0, "CDF\x02", 4) ||
             (holdsAt(bytes, 0, "\x89HDF\r\n\x1a\n", 8) && endsWith(name, ".mnc")))
        detection.format = VolumeFormat::Minc; // MINC 1 is netCDF, MINC 2 HDF5
    else if (holdsAt(bytes, 0, "II*\0", 4) || holdsAt(bytes, 0, "MM\0*", 4))
        detection.format = VolumeFormat::Tiff;
    else if (holdsAt(bytes, 0, "# vtk DataFile", 14))
        detection.format = VolumeFormat::VtkLegacy;
    else if (isVtkXml(bytes))
        detection.format = VolumeFormat::VtkImage; // the reader refuses other VTK data
    else if (named && endsWith(name, ".hdr") && isAnalyzeHeader(bytes))
        detection.format = VolumeFormat::Nifti;
    else if (isMetaImageHeader(bytes))
        detection.format = VolumeFormat::MetaImage;
    else if (looksLikeMghHeader(leading, bytes.size()))
        detection.format = VolumeFormat::Mgh;
    else if (named && named->format == VolumeFormat::Mgh && bytes.size() >= 4 &&
             int32At(bytes, 0, true) == 1)
        detection.format = VolumeFormat::Mgh; // damaged: the reader says how
    else if (named && endsWith(name, ".img") &&
             pathKind(path.substr(0, path.size() - 4) + ".hdr") == PathKind::File)
        detection.format = VolumeFormat::Nifti;
    else if (named && named->format == VolumeFormat::DicomSeries)
        detection.format = VolumeFormat::DicomSeries; // DICOM without its preamble
    else if (named)
        detection.refusal =
            std::string("The file is named like ") + named->description + " but does not hold one.";
    else
        byContents = false;
    if (!byContents) {
        const std::string unread = unreadFormatOf(bytes, name);
        std::uint64_t fileSize = 0;
        std::string reason;
        if (!unread.empty())
            detection.refusal = "The file is " + unread + ", which Kelvara does not read.";
        else if (regularFileSize(path, fileSize, reason))
            detection.refusal =
                compressed ? "The file is compressed (gzip) but holds no format Kelvara reads."
                           : notDatReason(bytes, fileSize);
    }
    // .img is the data half of a pair: its contents have no signature.
    if (byContents && named && named->format != detection.format && detection.refusal.empty() &&
        !endsWith(name, ".img"))
        detection.note = std::string("The file is named like ") + named->description +
                         " but holds " + volumeFormatName(detection.format) +
                         "; it is read as such.";
    return detection;
}

namespace {

// A series (4D image) too large to be read whole: refused where one of its
// volumes cannot be shown at full resolution, mapped where the file holds its
// samples uncompressed. Nothing where the readers are to read it whole.
std::optional<VolumeReadResult> readLargeSeries(const std::string &path,
                                                const VolumeFormatDetection &detection,
                                                const ScanLayout &layout, const LoadLimits &limits,
                                                Volume &target, std::ostream &out,
                                                std::ostream &err, const std::atomic<bool> *stop)
{
    // Stepping through time rebuilds the shown volume at full resolution; a
    // reduced level of each would mean a pass over each frame's file.
    const LoadPlan plan = planVolumeLoad(layout, limits);
    std::string refusal = plan.path == LoadPlan::Path::Refuse ? plan.reason : std::string();
    if (plan.path == LoadPlan::Path::Level)
        refusal = "One volume of the series (" + std::to_string(layout.size[0]) + " x " +
                  std::to_string(layout.size[1]) + " x " + std::to_string(layout.size[2]) +
                  " voxels) is too large to be shown at full resolution here, and series are "
                  "shown at full resolution only.";
    const std::string memory =
        scanMemoryProblem(layout.size, sampleSize(layout.type), limits.hostBytes, layout.frames);
    if (refusal.empty() && memory.empty())
        return std::nullopt;
    if (refusal.empty() && layout.storage != ScanLayout::Storage::Raw)
        refusal = memory + " A series beyond memory can be read from an uncompressed file only: "
                           "uncompress it first.";

    VolumeReadResult result;
    result.format = detection.format;
    result.dataType = sampleTypeName(layout.type);
    out << "- Loading file '" << path << "' ... " << std::endl;
    std::shared_ptr<VolumeSeries> series;
    if (refusal.empty()) {
        const ScanReadResult mapped = VolumeSeries::map(layout, out, stop, series);
        refusal = mapped.reason;
    }
    std::vector<std::string> warnings;
    if (!detection.note.empty())
        warnings.push_back(detection.note);
    if (refusal.empty()) {
        out << "- File loaded." << std::endl;
        if (!series->frameVolume(0, target, warnings, out))
            refusal = "There is not enough memory for the volume.";
    }
    if (!refusal.empty()) {
        reportLoadError(err, refusal);
        result.reason = std::move(refusal);
        return result;
    }
    out << "- Data prepared." << std::endl;
    for (const std::string &warning : warnings)
        err << "+ Warning: " << warning << std::endl;
    result.ok = true;
    result.warnings = std::move(warnings);
    return result;
}

} // namespace

VolumeReadResult readVolumeFile(const std::string &path, Volume &target, std::ostream &out,
                                std::ostream &err, const VolumeReadOptions &options)
{
    VolumeReadResult result;
    auto fail = [&](std::string reason) {
        reportLoadError(err, reason);
        result.reason = std::move(reason);
        return result;
    };
    // A FIFO, device or socket would block or never end: refused before
    // anything opens it, whatever its name.
    if (pathKind(path) == PathKind::Special) {
        out << "- Loading file '" << path << "' ... " << std::endl;
        return fail(regularFileProblem(path, "'" + path + "'"));
    }

    const VolumeFormatDetection detection = detectVolumeFormat(path);
    result.format = detection.format;
    // Decided before a sample is read. Only a complete uncompressed file is
    // mapped: one that is short of its samples goes to the readers, which
    // refuse it when it would not fit and read its zeros when it does.
    ScanLayout layout;
    // DICOM series are left out: their probe reads every slice's header, as
    // the reader does again, and they cannot be mapped anyway.
    // Colour volumes are read whole.
    if (detection.refusal.empty() && detection.format != VolumeFormat::DicomSeries &&
        probeScanLayout(path, layout).ok && layout.components == 1) {
        if (options.spacing)
            layout.spacing = *options.spacing;
        LoadLimits limits = defaultLoadLimits();
        limits.hostBytes = options.maxDataBytes;
        limits.gpuBudgetBytes = options.gpuBudgetBytes;
        if (layout.frames > 1)
            if (std::optional<VolumeReadResult> series = readLargeSeries(
                    path, detection, layout, limits, target, out, err, options.stop))
                return *series;
        const LoadPlan plan = planVolumeLoad(layout, limits);
        // Compressed samples beyond memory: inflated once into a temporary
        // file, where that could be mapped.
        ScanLayout inflated = layout;
        inflated.storage = ScanLayout::Storage::Raw;
        inflated.dataOffset = 0;
        inflated.dataFileBytes = layout.sampleCount() * sampleSize(layout.type);
        const LoadPlan inflatedPlan = layout.storage == ScanLayout::Storage::Compressed
                                          ? planVolumeLoad(inflated, limits)
                                          : LoadPlan();
        if (plan.path == LoadPlan::Path::Refuse && inflatedPlan.path == LoadPlan::Path::Level) {
            out << "- Loading file '" << path << "' ... " << std::endl;
            const InflatedCopy copy =
                inflateToTemporaryFile(layout, out, std::string(), options.stop);
            if (!copy.ok)
                return fail(copy.reason);
            VolumeReadResult reduced = readReducedLevel(path, copy.layout, inflatedPlan, target,
                                                        out, err, options.stop, true);
            reduced.format = detection.format;
            return reduced;
        }
        if (plan.path == LoadPlan::Path::Level && layout.storage == ScanLayout::Storage::Raw &&
            layout.samplesPresent() == layout.sampleCount()) {
            VolumeReadResult reduced =
                readReducedLevel(path, layout, plan, target, out, err, options.stop);
            if (!detection.note.empty() && reduced.ok) {
                err << "+ Warning: " << detection.note << std::endl;
                reduced.warnings.insert(reduced.warnings.begin(), detection.note);
            }
            return reduced;
        }
    }
    if (detection.format == VolumeFormat::Dat && detection.refusal.empty()) {
        DatReadOptions datOptions;
        datOptions.maxDataBytes = options.maxDataBytes;
        const DatReadResult dat = readDatFile(path, target, out, err, datOptions);
        // DAT voxels lie in index order from the origin: only their size changes.
        if (dat.ok && options.spacing)
            target.spacing = *options.spacing;
        result.ok = dat.ok;
        result.reason = dat.reason;
        result.missingSamples = dat.missingSamples;
        return result;
    }

    out << "- Loading file '" << path << "' ... " << std::endl;
    if (!detection.refusal.empty())
        return fail(detection.refusal);

    RawScan scan;
    ScanReadResult read;
    switch (detection.format) {
    case VolumeFormat::Nifti:
        read = readNiftiFile(path, options.maxDataBytes, scan);
        break;
    case VolumeFormat::Mgh:
        read = readMghFile(path, options.maxDataBytes, scan);
        break;
    case VolumeFormat::Mrc:
        read = readMrcFile(path, options.maxDataBytes, scan);
        break;
    case VolumeFormat::Nrrd:
        read = readScanWithItk(path, ScanFormat::Nrrd, options.maxDataBytes, scan);
        break;
    case VolumeFormat::MetaImage:
        read = readScanWithItk(path, ScanFormat::MetaImage, options.maxDataBytes, scan);
        break;
    case VolumeFormat::DicomSeries:
    case VolumeFormat::Dat:
        read = readScanWithItk(path, ScanFormat::DicomSeries, options.maxDataBytes, scan);
        break;
    case VolumeFormat::Minc:
        read = readScanWithItk(path, ScanFormat::Minc, options.maxDataBytes, scan);
        break;
    case VolumeFormat::Tiff:
        read = readScanWithItk(path, ScanFormat::Tiff, options.maxDataBytes, scan);
        break;
    case VolumeFormat::VtkLegacy:
        read = readScanWithItk(path, ScanFormat::VtkLegacy, options.maxDataBytes, scan);
        break;
    case VolumeFormat::ImageStack:
        read = readScanWithItk(path, ScanFormat::ImageStack, options.maxDataBytes, scan);
        break;
    case VolumeFormat::VtkImage:
        read = readVtiFile(path, options.maxDataBytes, scan);
        break;
    }
    if (!read.ok)
        return fail(read.reason);
    out << "- File loaded." << std::endl;
    if (options.spacing)
        scan.spacing = *options.spacing;

    std::vector<std::string> warnings;
    if (!detection.note.empty())
        warnings.push_back(detection.note);
    const std::uint64_t count =
        std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] * scan.frames * scan.components;
    const std::uint64_t missing = scan.missingSamples;
    result.dataType = !scan.fileTypeName.empty()
                          ? scan.fileTypeName
                          : sampleTypeName(scan.fileType.value_or(scan.type));
    if (scan.frames > 1) {
        const std::shared_ptr<VolumeSeries> series = VolumeSeries::fromScan(std::move(scan));
        if (!series->frameVolume(0, target, warnings, out))
            return fail("There is not enough memory for the volume.");
    } else {
        if (!volumeFromRawScan(scan, target, warnings, out))
            return fail("There is not enough memory for the volume.");
        scan.samples.release();
    }
    out << "- Data prepared." << std::endl;
    // Short data reads as a short DAT file does: the same words.
    if (missing > 0)
        err << "+ Warning: the file ends after " << count - missing << " of " << count
            << " samples; the missing " << missing << " samples read as 0." << std::endl;
    for (const std::string &warning : warnings)
        err << "+ Warning: " << warning << std::endl;

    result.ok = true;
    result.missingSamples = missing;
    result.warnings = std::move(warnings);
    return result;
}

VolumeReadResult loadVolumeFile(const std::string &path, Volume &target,
                                std::uint64_t gpuBudgetBytes,
                                const std::optional<std::array<double, 3>> &spacing)
{
    VolumeReadOptions options;
    options.spacing = spacing;
    options.maxDataBytes = loadableDataBytes();
    options.gpuBudgetBytes =
        gpuBudgetBytes > 0 ? gpuBudgetBytes : defaultLoadLimits().gpuBudgetBytes;
    return readVolumeFile(path, target, std::cout, std::cerr, options);
}
