#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "storedscan.h"

struct Volume;

// The one way in for volume files: DAT files go to our own reader
// (datreader.h), scans (NIfTI, NRRD, MetaImage, DICOM series) through ITK.
// Every format prints the same progress and error lines.

enum class VolumeFormat
{
    Dat,
    Nifti,
    Nrrd,
    MetaImage,
    DicomSeries
};

struct VolumeFormatDetection
{
    VolumeFormat format = VolumeFormat::Dat;
    // Set when the name promises a format the contents do not hold: the file
    // is refused with this reason.
    std::string refusal;
};

// Picks the reader for path: a folder is a DICOM series; a file named .dat is
// DAT; otherwise the contents decide where the format has a signature (NIfTI,
// NRRD, DICOM, MetaImage's text header, gzip for .nii.gz), then the name
// (.hdr/.img pairs). Files that match nothing, or cannot be read, go to the
// DAT reader as they always did.
VolumeFormatDetection detectVolumeFormat(const std::string &path);

// Whether the gzip file at path holds complete streams to their end. ITK reads
// a cut-off .nii.gz without complaint; this finds the damage.
bool gzipStreamIsComplete(const std::string &path);

struct VolumeReadOptions
{
    // Largest float array (bytes) that a load may allocate.
    std::uint64_t maxDataBytes = UINT64_MAX;
};

struct VolumeReadResult
{
    bool ok = false;
    std::string reason;                // why a load failed, empty when none is given
    std::vector<std::string> warnings; // what the user should know about a load
    std::uint64_t missingSamples = 0;  // DAT: samples the file was short of (read as 0)
    VolumeFormat format = VolumeFormat::Dat;
};

// Turns a stored scan into target: reoriented into LPS order (see
// orientation.h), values mapped linearly from their finite minimum..maximum
// to 0..1 (non-finite ones to 0, counted in a warning; a constant image to 0),
// spacing that is not a positive number replaced by 1 mm with a warning.
// Writes the "Preparing data" progress to out. target is replaced only on
// success; false when the memory cannot be had.
bool volumeFromStoredScan(const StoredScan &scan, Volume &target,
                          std::vector<std::string> &warnings, std::ostream &out);

// Reads any supported volume file into target; target changes only on
// success. Progress goes to out, the error lines and warnings ("+ ...") to err.
VolumeReadResult readVolumeFile(const std::string &path, Volume &target, std::ostream &out,
                                std::ostream &err, const VolumeReadOptions &options);

// readVolumeFile() on the standard streams with this machine's memory limit:
// the load path of the window, batch mode and the benchmarks.
VolumeReadResult loadVolumeFile(const std::string &path, Volume &target);

// The format's name for messages ("NIfTI", "DICOM series", ...).
const char *volumeFormatName(VolumeFormat format);
