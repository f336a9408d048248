#include "scanlayout.h"

#include "datreader.h"
#include "itkscanreader.h"
#include "mghreader.h"
#include "mrcreader.h"
#include "niftireader.h"
#include "vtireader.h"
#include "scanfileaccess.h"

namespace {

ScanReadResult probeDatLayout(const std::string &path, ScanLayout &layout)
{
    unsigned char header[datHeaderBytes];
    const FileBytesRead read = readFileBytes(path, 0, header, sizeof header);
    if (!read.ok)
        return scanRefusal(read.reason);
    if (read.read < sizeof header)
        return scanRefusal("The file is too short for a DAT header (" +
                           std::to_string(datHeaderBytes) + " bytes).");
    ScanLayout probed;
    probed.format = VolumeFormat::Dat;
    probed.size = datDimensions(header);
    probed.type = SampleType::UInt16;
    probed.twelveBitSamples = true;
    probed.storage = ScanLayout::Storage::Raw;
    probed.dataPath = path;
    probed.dataOffset = datHeaderBytes;
    std::string reason;
    if (!regularFileSize(path, probed.dataFileBytes, reason))
        return scanRefusal(reason);
    layout = std::move(probed);
    return {true, {}};
}

} // namespace

ScanReadResult layoutOfScan(const RawScan &scan, VolumeFormat format, const std::string &dataPath,
                            ScanLayout &layout)
{
    ScanLayout probed;
    std::string reason;
    if (!regularFileSize(dataPath, probed.dataFileBytes, reason))
        return scanRefusal(reason);
    probed.format = format;
    probed.size = {scan.size[0], scan.size[1], scan.size[2]};
    probed.frames = scan.frames;
    probed.components = scan.components;
    probed.frameInterval = scan.frameInterval;
    probed.frameUnit = scan.frameUnit;
    probed.type = scan.type;
    probed.bigEndian = scan.bigEndian;
    probed.slope = scan.slope;
    probed.intercept = scan.intercept;
    probed.spacing = scan.spacing;
    probed.direction = scan.direction;
    probed.origin = scan.origin;
    probed.dataPath = dataPath;
    layout = std::move(probed);
    return {true, {}};
}

ScanReadResult probeScanLayout(const std::string &path, ScanLayout &layout)
{
    // Only what readVolumeFile() would open: a FIFO would block the probe.
    const PathKind kind = pathKind(path);
    if (kind == PathKind::Special || kind == PathKind::Missing)
        return scanRefusal(regularFileProblem(path, "'" + path + "'"));
    const VolumeFormatDetection detection = detectVolumeFormat(path);
    if (!detection.refusal.empty())
        return scanRefusal(detection.refusal);
    switch (detection.format) {
    case VolumeFormat::Dat:
        return probeDatLayout(path, layout);
    case VolumeFormat::Nifti:
        return readNiftiLayout(path, layout);
    case VolumeFormat::Nrrd:
        return readScanLayoutWithItk(path, ScanFormat::Nrrd, layout);
    case VolumeFormat::MetaImage:
        return readScanLayoutWithItk(path, ScanFormat::MetaImage, layout);
    case VolumeFormat::DicomSeries:
        return readScanLayoutWithItk(path, ScanFormat::DicomSeries, layout);
    case VolumeFormat::Mgh:
        return readMghLayout(path, layout);
    case VolumeFormat::Mrc:
        return readMrcLayout(path, layout);
    case VolumeFormat::VtkImage:
        return readVtiLayout(path, layout);
    case VolumeFormat::Minc:
    case VolumeFormat::Tiff:
    case VolumeFormat::VtkLegacy:
    case VolumeFormat::ImageStack:
        // Their readers fill memory themselves: never mapped.
        return scanRefusal("The samples are read by ITK, not in place.");
    }
    return scanRefusal("The format of the file is unknown.");
}
