#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct Volume;

// The one way in for volume files: DAT files go to our own reader
// (datreader.h), NIfTI, MGH, MRC and VTK image data to our own scan readers,
// NRRD, MetaImage and DICOM series through ITK.
// Every format prints the same progress and error lines.

enum class VolumeFormat
{
    Dat,
    Nifti,
    Nrrd,
    MetaImage,
    DicomSeries,
    Mgh, // FreeSurfer's .mgh and .mgz
    Mrc, // MRC2014 and CCP4 maps
    Minc,
    Tiff,
    VtkLegacy,
    ImageStack, // numbered 2D images: a folder of them or a pattern (imagestack.h)
    VtkImage    // VTK's XML image data (.vti)
};

struct VolumeFormatDetection
{
    VolumeFormat format = VolumeFormat::Dat;
    // Set when the name promises a format the contents do not hold: the file
    // is refused with this reason.
    std::string refusal;
    // Set when the contents are another format than the name says: read by
    // the contents, and the user is told.
    std::string note;
};

// Picks the reader for path: a folder is a DICOM series, or an image stack
// where it holds 2D images and no DICOM file; a "slice_%04d.png" pattern is an
// image stack; a file named .dat is
// DAT; otherwise the contents decide where the format has a signature (NIfTI-1
// and -2, also inflated from gzip, NRRD, DICOM, MRC's "MAP", MetaImage's text
// header, an MGH header's version and fields, MINC 1 and 2, TIFF, legacy VTK,
// VTK's XML files),
// then the name (.hdr/.img pairs, a damaged .nii.gz or .mgh). A file that
// matches nothing is refused, naming the format where its signature or name
// tells one that is not read (PNG, PAR/REC, ECAT, ...), unless it is a sound DAT
// file (its samples fill it exactly). Files that cannot be read go to the DAT
// reader, which reports them as it always did. Opens nothing but regular files.
VolumeFormatDetection detectVolumeFormat(const std::string &path);

struct VolumeReadOptions
{
    // Largest float array (bytes) that a load may allocate.
    std::uint64_t maxDataBytes = UINT64_MAX;
    // Texture memory the shown volume may take at 16 bits per voxel.
    std::uint64_t gpuBudgetBytes = UINT64_MAX;
    // When given: the long passes over volumes beyond memory (decompressing,
    // reducing) give up once it turns true ("Loading was cancelled.").
    const std::atomic<bool> *stop = nullptr;
    // The voxel size in mm along the file's stored axes, in place of the one
    // the file gives (image stacks and TIFF files often give none).
    std::optional<std::array<double, 3>> spacing;
};

struct VolumeReadResult
{
    bool ok = false;
    std::string reason;                // why a load failed, empty when none is given
    std::vector<std::string> warnings; // what the user should know about a load
    std::uint64_t missingSamples = 0;  // samples the file was short of (read as 0)
    VolumeFormat format = VolumeFormat::Dat;
    // The file's sample type ("uint16", "float32", ...; see sampleTypeName()).
    std::string dataType = "uint16";
    // Above 0 when the volume is held at a reduced level (Volume::level).
    int level = 0;
};

// Reads any supported volume file into target; target changes only on
// success. Progress goes to out, the error lines and warnings ("+ ...") to err.
// What the file holds is decided from its header first: a file whose samples
// would not fit maxDataBytes as floats, or gpuBudgetBytes as 16-bit textures,
// but lie uncompressed and complete in it, is mapped instead of read
// (Volume::fullResolution) and held at the smallest reduced level that fits,
// with a warning that says so.
// Only regular files and folders are opened: a FIFO, device or socket is
// refused at once with a reason. Scans whose data is short load with the
// missing samples 0 and the DAT reader's warning.
VolumeReadResult readVolumeFile(const std::string &path, Volume &target, std::ostream &out,
                                std::ostream &err, const VolumeReadOptions &options);

// readVolumeFile() on the standard streams with this machine's memory limit
// and the given texture budget (0: defaultLoadLimits()'s): the load path of
// the window, batch mode and the benchmarks.
VolumeReadResult loadVolumeFile(const std::string &path, Volume &target,
                                std::uint64_t gpuBudgetBytes = 0,
                                const std::optional<std::array<double, 3>> &spacing = {});

// The format's name for messages ("NIfTI", "DICOM series", ...).
const char *volumeFormatName(VolumeFormat format);

// Whether the format places its volumes in a patient's world (LPS): every
// scan format but MRC, TIFF and VTK's, whose grids lie in their own x, y, z.
// DAT files have no world at all.
bool volumeFormatHasPatientFrame(VolumeFormat format);
