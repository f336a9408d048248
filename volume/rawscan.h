#pragma once

#include "orientation.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

struct Volume;

// The sample types a scan may store, as their files name them.
enum class SampleType
{
    UInt8,
    Int8,
    UInt16,
    Int16,
    UInt32,
    Int32,
    UInt64,
    Int64,
    Float32,
    Float64
};

// Bytes per sample of type.
std::size_t sampleSize(SampleType type);

// Calls work with bytes as an array of samples of type (aligned for it).
template <typename Work>
auto withTypedSamples(SampleType type, const unsigned char *bytes, Work &&work)
{
    const void *samples = bytes;
    switch (type) {
    case SampleType::UInt8:
        return work(static_cast<const std::uint8_t *>(samples));
    case SampleType::Int8:
        return work(static_cast<const std::int8_t *>(samples));
    case SampleType::UInt16:
        return work(static_cast<const std::uint16_t *>(samples));
    case SampleType::Int16:
        return work(static_cast<const std::int16_t *>(samples));
    case SampleType::UInt32:
        return work(static_cast<const std::uint32_t *>(samples));
    case SampleType::Int32:
        return work(static_cast<const std::int32_t *>(samples));
    case SampleType::UInt64:
        return work(static_cast<const std::uint64_t *>(samples));
    case SampleType::Int64:
        return work(static_cast<const std::int64_t *>(samples));
    case SampleType::Float32:
        return work(static_cast<const float *>(samples));
    case SampleType::Float64:
        break;
    }
    return work(static_cast<const double *>(samples));
}

// The type's name as NRRD and nibabel write it ("uint8", "int16", "float32").
const char *sampleTypeName(SampleType type);

// Whether this machine stores numbers most significant byte first.
constexpr bool machineIsBigEndian()
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    return true;
#else
    return false;
#endif
}

// Raw sample bytes in memory from the voxel allocator (huge pages for large
// scans), zeroed when allocated, so that samples a short file lacks read as 0.
// Owns its bytes; moves, never copies.
class SampleBuffer
{
public:
    SampleBuffer() = default;
    SampleBuffer(SampleBuffer &&other) noexcept;
    SampleBuffer &operator=(SampleBuffer &&other) noexcept;
    SampleBuffer(const SampleBuffer &) = delete;
    SampleBuffer &operator=(const SampleBuffer &) = delete;
    ~SampleBuffer();

    // Replaces the contents with bytes zeroed bytes; false (and empty) when the
    // memory cannot be had.
    [[nodiscard]] bool allocate(std::uint64_t bytes);
    unsigned char *data() { return bytes_; }
    const unsigned char *data() const { return bytes_; }
    std::uint64_t size() const { return size_; }
    void release();

private:
    unsigned char *bytes_ = nullptr;
    std::uint64_t size_ = 0;
};

// A scan as its file stores it: samples of one type in stored index order (X
// fastest), with the geometry the header gives. A file value is
// slope * sample + intercept.
struct RawScan
{
    std::array<std::size_t, 3> size{};
    // Voxel edge lengths in mm along the stored axes; not yet checked.
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}};
    // Direction matrix in LPS (see orientation.h); not yet checked.
    DirectionMatrix direction{{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0}};
    // Where the centre of stored voxel (0, 0, 0) lies, LPS mm; not yet checked.
    std::array<double, 3> origin{{0.0, 0.0, 0.0}};
    // False where the file's world is its own x, y, z rather than a patient's
    // (MRC maps): spacing, direction and origin are then in those axes, and
    // the volume carries no patient frame.
    bool patientFrame = true;
    // The data means high values dark (Volume::invertedGrey).
    bool invertedGrey = false;
    SampleType type = SampleType::UInt8;
    // The type the file itself stores, where samples holds a widened copy
    // (DICOM slices are read as floats).
    std::optional<SampleType> fileType;
    // Where samples holds values already rescaled from whole stored samples
    // (DICOM): the file's slope and intercept, so that values read back snap
    // to those the file can hold; a slope of 0 where slices differ in it.
    std::optional<std::array<double, 2>> widenedScaling;
    // The name of a stored type that no SampleType names (MRC's "float16",
    // widened to Float32); empty otherwise.
    std::string fileTypeName;
    bool bigEndian = false; // the byte order of samples in buffer
    double slope = 1.0;     // finite and not 0
    double intercept = 0.0; // finite
    // Volumes of a series over time (4D images): frames of size[0] *
    // size[1] * size[2] samples one after another in samples, all of one grid.
    std::size_t frames = 1;
    // Components per voxel: 1 for scalar data, 3 (RGB) or 4 (RGBA) for colour,
    // each voxel's together in samples.
    std::size_t components = 1;
    // The time from one frame to the next as the file gives it, in
    // frameUnit ("s", "ms", "us"; empty where the file names none); 0 where
    // the file gives none.
    double frameInterval = 0.0;
    std::string frameUnit;
    // size[0] * size[1] * size[2] * frames samples of type.
    SampleBuffer samples;
    // Samples that the file was short of (zeros in samples).
    std::uint64_t missingSamples = 0;
    // What the reader noticed on the way, for the user.
    std::vector<std::string> notes;
};

// The samples of size, each sampleBytes wide, would need more than
// maxDataBytes together with the floats of the volume (both live at once): the
// refusal, else an empty string. Also refuses counts beyond 32 bits. A series
// holds the samples of all its frames beside the floats of one.
std::string scanMemoryProblem(const std::array<std::uint64_t, 3> &size, std::size_t sampleBytes,
                              std::uint64_t maxDataBytes, std::uint64_t frames = 1);

// Turns a raw scan into target in one pass over the samples after finding
// their range: reoriented into LPS order (orientation.h), values mapped
// linearly from their finite minimum..maximum in file units to 0..1
// (non-finite ones to 0, counted in a warning; a constant image to 0). Spacing
// that is not a positive finite number becomes 1 mm, and a direction matrix
// that is not finite or whose axes are parallel becomes the identity, each
// with a warning. Swaps the samples' bytes in place where their order is not
// the machine's. Writes the "Preparing data" progress to out; appends the
// warnings (scan.notes last). target is replaced only on success; false when
// the memory cannot be had.
// A series is normalised by the range of all its frames, so that one
// transfer function means the same in each; target then holds frame 0. A
// colour scan (components 3 or 4) becomes its luminance with its colours
// beside it (Volume::colours).
bool volumeFromRawScan(RawScan &scan, Volume &target, std::vector<std::string> &warnings,
                       std::ostream &out);

// The finite extremes of samples in stored units, and how many are not finite.
struct SampleExtent
{
    double minimum = 0.0;
    double maximum = 0.0;
    std::uint64_t nonFinite = 0;
    bool anyFinite = false; // minimum and maximum are 0 without
};

// extent widened by count samples of type in the machine's byte order
// (first: extent holds nothing yet).
void widenSampleExtent(SampleType type, const unsigned char *samples, std::uint64_t count,
                       bool first, SampleExtent &extent);

// volumeFromRawScan()'s conversion of one frame: samples (one frame of
// scan's grid and type, in the machine's byte order; scan's own samples are
// not read) normalised by extent, the range of the whole series. scan's
// geometry and scaling decide the rest; its notes and the geometry warnings
// go to warnings. false when the memory cannot be had.
bool volumeFromScanFrame(RawScan &scan, const unsigned char *samples, const SampleExtent &extent,
                         Volume &target, std::vector<std::string> &warnings, std::ostream &out);

// extent widened by the luminance (0.299 R + 0.587 G + 0.114 B, as floats)
// of count colour voxels of components samples each, in the machine's order.
void widenLuminanceExtent(SampleType type, const unsigned char *samples, std::uint64_t count,
                          std::size_t components, bool first, SampleExtent &extent);

// volumeFromScanFrame() for a colour frame (scan.components per voxel): the
// volume of its luminance, normalised by luminanceExtent (a series'
// luminance range; the frame's own where null), with its colours beside it.
// releaseAfterSplit, where given, is released once the colours are taken
// from samples.
bool colourVolumeFromScanFrame(const RawScan &scan, const unsigned char *samples,
                               const SampleExtent *luminanceExtent, Volume &target,
                               std::vector<std::string> &warnings, std::ostream &out,
                               SampleBuffer *releaseAfterSplit = nullptr);

// The file formats read by the scan readers (everything but DAT).
enum class ScanFormat
{
    Nifti,       // .nii, .nii.gz, .hdr/.img (also Analyze 7.5); our own reader
    Nrrd,        // .nrrd, .nhdr; header through ITK
    MetaImage,   // .mha, .mhd; header through ITK
    DicomSeries, // a folder of DICOM files, or one file of the series; ITK with GDCM
    Minc,        // MINC 1 and 2; ITK's reader
    Tiff,        // a TIFF file, its pages the slices; ITK's reader
    VtkLegacy,   // a legacy VTK file of STRUCTURED_POINTS; ITK's reader
    ImageStack   // numbered 2D images (imagestack.h); ITK's readers, one per slice
};

struct ScanReadResult
{
    bool ok = false;
    std::string reason; // why the file was refused
};

// A failed read with its reason.
inline ScanReadResult scanRefusal(std::string reason)
{
    ScanReadResult result;
    result.reason = std::move(reason);
    return result;
}
