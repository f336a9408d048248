#include "rawscan.h"

#include "imagegrid.h"
#include "loadreport.h"
#include "sampleextremes.h"

#include "voxelallocator.h"
#include "volume.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <sstream>
#include <type_traits>
#include <utility>

namespace {

void swapBytes(unsigned char *bytes, std::uint64_t count, std::size_t width)
{
    for (std::uint64_t i = 0; i < count; ++i, bytes += width)
        std::reverse(bytes, bytes + width);
}

template <typename T> SampleExtent rangeOf(const T *samples, std::uint64_t count)
{
    SampleExtent range;
    if constexpr (std::is_floating_point_v<T>) {
        T low = std::numeric_limits<T>::infinity();
        T high = -low;
        for (std::uint64_t i = 0; i < count; ++i) {
            const T value = samples[i];
            if (!std::isfinite(value)) {
                ++range.nonFinite;
                continue;
            }
            low = std::min(low, value);
            high = std::max(high, value);
        }
        if (range.nonFinite == count)
            return {0.0, 0.0, count};
        range.minimum = double(low);
        range.maximum = double(high);
    } else {
        // Integers are all finite.
        const auto [low, high] = integerExtremes(samples, count);
        if (count > 0) {
            range.minimum = double(low);
            range.maximum = double(high);
        }
    }
    return range;
}

// How the LPS voxels of a stored image step through its samples: LPS axis j
// by step[j] samples (backwards where flipped), voxel 0 at sample start.
struct StoredWalk
{
    std::array<std::size_t, 3> size{}; // LPS order
    std::array<std::int64_t, 3> step{};
    std::int64_t start = 0;
};

StoredWalk storedWalk(const std::array<std::size_t, 3> &storedSize,
                      const Reorientation &reorientation)
{
    const std::array<std::int64_t, 3> storedStride = {1, std::int64_t(storedSize[0]),
                                                      std::int64_t(storedSize[0] * storedSize[1])};
    StoredWalk walk;
    walk.size = reorientedAxes(storedSize, reorientation);
    for (int axis = 0; axis < 3; ++axis) {
        const std::int64_t stride = storedStride[reorientation.sourceAxis[axis]];
        walk.step[axis] = reorientation.flipped[axis] ? -stride : stride;
        if (reorientation.flipped[axis] && walk.size[axis] > 0)
            walk.start += std::int64_t(walk.size[axis] - 1) * stride;
    }
    return walk;
}

// Writes (sample - origin) / 2 * scale, limited to 0..1 (non-finite samples 0), in
// LPS order: each LPS axis steps through the stored samples by the stride of
// its stored axis, backwards where it is flipped.
template <typename T>
void convertSamples(const T *samples, const std::array<std::size_t, 3> &storedSize,
                    const Reorientation &reorientation, double origin, double scale, float *target,
                    std::ostream &out)
{
    const StoredWalk walk = storedWalk(storedSize, reorientation);
    const std::array<std::size_t, 3> &size = walk.size;
    const std::array<std::int64_t, 3> &step = walk.step;
    const std::int64_t start = walk.start;
    // Halves, so that doubles spanning more than the largest double (near
    // -1.8e308 and 1.8e308) keep a finite difference; exact otherwise.
    const double halfOrigin = origin * 0.5;
    auto map = [halfOrigin, scale](T sample) {
        if constexpr (std::is_floating_point_v<T>) {
            if (!std::isfinite(sample))
                return 0.0f;
        }
        const float value = float((double(sample) * 0.5 - halfOrigin) * scale);
        return value > 0.0f ? std::min(value, 1.0f) : 0.0f;
    };
    float *output = target;
    for (std::size_t z = 0; z < size[2]; ++z) {
        const std::int64_t plane = start + std::int64_t(z) * step[2];
        for (std::size_t y = 0; y < size[1]; ++y) {
            const T *row = samples + plane + std::int64_t(y) * step[1];
            if (step[0] == 1) {
                for (std::size_t x = 0; x < size[0]; ++x)
                    output[x] = map(row[x]);
            } else {
                const std::int64_t stride = step[0];
                for (std::size_t x = 0; x < size[0]; ++x)
                    output[x] = map(row[std::int64_t(x) * stride]);
            }
            output += size[0];
        }
        const std::size_t percent = size[2] > 1 ? 100 * z / (size[2] - 1) : 100;
        out << "\r- Preparing data (" << percent << "%) ...";
    }
    out << std::endl;
}

} // namespace

const char *sampleTypeName(SampleType type)
{
    switch (type) {
    case SampleType::UInt8:
        return "uint8";
    case SampleType::Int8:
        return "int8";
    case SampleType::UInt16:
        return "uint16";
    case SampleType::Int16:
        return "int16";
    case SampleType::UInt32:
        return "uint32";
    case SampleType::Int32:
        return "int32";
    case SampleType::UInt64:
        return "uint64";
    case SampleType::Int64:
        return "int64";
    case SampleType::Float32:
        return "float32";
    case SampleType::Float64:
        break;
    }
    return "float64";
}

std::size_t sampleSize(SampleType type)
{
    switch (type) {
    case SampleType::UInt8:
    case SampleType::Int8:
        return 1;
    case SampleType::UInt16:
    case SampleType::Int16:
        return 2;
    case SampleType::UInt32:
    case SampleType::Int32:
    case SampleType::Float32:
        return 4;
    case SampleType::UInt64:
    case SampleType::Int64:
    case SampleType::Float64:
        break;
    }
    return 8;
}

SampleBuffer::SampleBuffer(SampleBuffer &&other) noexcept
    : bytes_(std::exchange(other.bytes_, nullptr)), size_(std::exchange(other.size_, 0))
{
}

SampleBuffer &SampleBuffer::operator=(SampleBuffer &&other) noexcept
{
    if (this != &other) {
        release();
        bytes_ = std::exchange(other.bytes_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

SampleBuffer::~SampleBuffer()
{
    release();
}

bool SampleBuffer::allocate(std::uint64_t bytes)
{
    release();
    if (bytes > std::numeric_limits<std::size_t>::max())
        return false;
    bytes_ = static_cast<unsigned char *>(allocateVoxelBytes(std::size_t(bytes)));
    if (!bytes_)
        return false;
    size_ = bytes;
    return true;
}

void SampleBuffer::release()
{
    if (bytes_)
        releaseVoxelBytes(bytes_, std::size_t(size_));
    bytes_ = nullptr;
    size_ = 0;
}

std::string scanMemoryProblem(const std::array<std::uint64_t, 3> &size, std::size_t sampleBytes,
                              std::uint64_t maxDataBytes, std::uint64_t frames)
{
    // Each axis is at most 65535 here, so the product fits in 64 bits; so
    // does the series' bytes, 65535 frames at most.
    const std::uint64_t count = size[0] * size[1] * size[2];
    const std::uint64_t bytes = count * (sampleBytes * frames + sizeof(float));
    if (count <= UINT32_MAX && bytes <= maxDataBytes)
        return {};
    const std::string series =
        frames > 1 ? "The series has " + std::to_string(frames) + " volumes of " : "The image has ";
    return series + std::to_string(count) + " voxels (" + std::to_string(bytes >> 20) +
           " MiB with the file's samples while loading), more than can be held in memory here (" +
           std::to_string(maxDataBytes >> 20) + " MiB).";
}

namespace {

// extent widened by part, the extent of the next samples (first: extent
// holds nothing yet).
void mergeExtent(const SampleExtent &part, bool first, SampleExtent &extent)
{
    if (first) {
        extent = part;
        return;
    }
    extent.nonFinite += part.nonFinite;
    if (!part.anyFinite)
        return;
    extent.minimum = extent.anyFinite ? std::min(extent.minimum, part.minimum) : part.minimum;
    extent.maximum = extent.anyFinite ? std::max(extent.maximum, part.maximum) : part.maximum;
    extent.anyFinite = true;
}

template <typename T> double largestOf()
{
    if constexpr (std::is_floating_point_v<T>)
        return 0.0;
    else
        return double(std::numeric_limits<T>::max());
}

// The value that stands for a colour voxel's: its luminance.
template <typename T> float luminanceOf(const T *voxel)
{
    return float(0.299 * double(voxel[0]) + 0.587 * double(voxel[1]) + 0.114 * double(voxel[2]));
}

// A colour frame (the samples of one frame of scan's grid) as its luminance,
// a scan of floats, and its colours in stored order (reordered once the
// luminance is placed); false without memory.
bool splitColourScan(const RawScan &scan, const unsigned char *frame, RawScan &luminance,
                     VoxelColours &colours)
{
    const std::uint64_t count = std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2];
    const std::size_t components = scan.components;
    if (!luminance.samples.allocate(count * sizeof(float)) ||
        !tryResizeVoxels(colours.values, std::size_t(count * components)))
        return false;
    float *light = reinterpret_cast<float *>(luminance.samples.data());
    double largest = 0.0;
    withTypedSamples(scan.type, frame, [&](const auto *samples) {
        using T = std::remove_const_t<std::remove_pointer_t<decltype(samples)>>;
        largest = largestOf<T>();
        for (std::uint64_t i = 0; i < count; ++i) {
            const auto *voxel = samples + i * components;
            for (std::size_t c = 0; c < components; ++c)
                colours.values[std::size_t(i * components + c)] = float(voxel[c]);
            light[i] = luminanceOf(voxel);
        }
    });
    // Samples widened to floats (DICOM) keep the full scale of their stored type.
    if (scan.fileType)
        withTypedSamples(*scan.fileType, nullptr, [&](const auto *typed) {
            using T = std::remove_const_t<std::remove_pointer_t<decltype(typed)>>;
            largest = largestOf<T>();
        });
    if (largest == 0.0) {
        for (float value : colours.values)
            if (std::isfinite(value))
                largest = std::max(largest, double(value));
        largest = largest > 1.0 ? largest : 1.0;
    }
    colours.components = int(components);
    colours.fullScale = largest;
    luminance.size = scan.size;
    luminance.spacing = scan.spacing;
    luminance.direction = scan.direction;
    luminance.origin = scan.origin;
    luminance.patientFrame = scan.patientFrame;
    luminance.type = SampleType::Float32;
    luminance.bigEndian = machineIsBigEndian();
    luminance.notes = scan.notes;
    return true;
}

// values (components per voxel, stored order) in the LPS order that
// reorientation gives the stored size.
bool reorderColours(VoxelColours &colours, const std::array<std::size_t, 3> &storedSize,
                    const Reorientation &reorientation)
{
    const std::size_t components = std::size_t(colours.components);
    VoxelArray ordered;
    if (!tryResizeVoxels(ordered, colours.values.size()))
        return false;
    const StoredWalk walk = storedWalk(storedSize, reorientation);
    const std::array<std::size_t, 3> &size = walk.size;
    const std::array<std::int64_t, 3> &step = walk.step;
    const std::int64_t start = walk.start;
    std::size_t output = 0;
    for (std::size_t z = 0; z < size[2]; ++z)
        for (std::size_t y = 0; y < size[1]; ++y)
            for (std::size_t x = 0; x < size[0]; ++x) {
                const std::int64_t stored = start + std::int64_t(x) * step[0] +
                                            std::int64_t(y) * step[1] + std::int64_t(z) * step[2];
                for (std::size_t c = 0; c < components; ++c)
                    ordered[output++] = colours.values[std::size_t(stored) * components + c];
            }
    colours.values.swap(ordered);
    return true;
}

} // namespace

void widenLuminanceExtent(SampleType type, const unsigned char *samples, std::uint64_t count,
                          std::size_t components, bool first, SampleExtent &extent)
{
    SampleExtent part;
    withTypedSamples(type, samples, [&](const auto *typed) {
        for (std::uint64_t i = 0; i < count; ++i) {
            const float light = luminanceOf(typed + i * components);
            if (!std::isfinite(light)) {
                ++part.nonFinite;
            } else if (!part.anyFinite) {
                part.minimum = part.maximum = light;
                part.anyFinite = true;
            } else {
                part.minimum = std::min(part.minimum, double(light));
                part.maximum = std::max(part.maximum, double(light));
            }
        }
    });
    mergeExtent(part, first, extent);
}

bool colourVolumeFromScanFrame(const RawScan &scan, const unsigned char *samples,
                               const SampleExtent *luminanceExtent, Volume &target,
                               std::vector<std::string> &warnings, std::ostream &out,
                               SampleBuffer *releaseAfterSplit)
{
    RawScan luminance;
    auto colours = std::make_shared<VoxelColours>();
    if (!splitColourScan(scan, samples, luminance, *colours))
        return false;
    if (releaseAfterSplit)
        releaseAfterSplit->release();
    const std::uint64_t count = std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2];
    SampleExtent own;
    if (!luminanceExtent) {
        widenSampleExtent(SampleType::Float32, luminance.samples.data(), count, true, own);
        luminanceExtent = &own;
    }
    Volume shown;
    if (!volumeFromScanFrame(luminance, luminance.samples.data(), *luminanceExtent, shown, warnings,
                             out) ||
        !reorderColours(*colours, scan.size, shown.fileAxes))
        return false;
    shown.colours = std::move(colours);
    target = std::move(shown);
    return true;
}

bool volumeFromRawScan(RawScan &scan, Volume &target, std::vector<std::string> &warnings,
                       std::ostream &out)
{
    if (scan.components > 1) {
        if (scan.bigEndian != machineIsBigEndian() && sampleSize(scan.type) > 1) {
            swapBytes(scan.samples.data(),
                      std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] * scan.components,
                      sampleSize(scan.type));
            scan.bigEndian = machineIsBigEndian();
        }
        return colourVolumeFromScanFrame(scan, scan.samples.data(), nullptr, target, warnings, out,
                                         &scan.samples);
    }
    const std::uint64_t count = std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] *
                                std::max<std::size_t>(scan.frames, 1);
    if (scan.samples.size() < count * sampleSize(scan.type))
        return false;
    if (scan.bigEndian != machineIsBigEndian() && sampleSize(scan.type) > 1) {
        swapBytes(scan.samples.data(), count, sampleSize(scan.type));
        scan.bigEndian = machineIsBigEndian();
    }
    SampleExtent extent;
    widenSampleExtent(scan.type, scan.samples.data(), count, true, extent);
    return volumeFromScanFrame(scan, scan.samples.data(), extent, target, warnings, out);
}

void widenSampleExtent(SampleType type, const unsigned char *samples, std::uint64_t count,
                       bool first, SampleExtent &extent)
{
    SampleExtent part = withTypedSamples(
        type, samples, [count](const auto *typed) { return rangeOf(typed, count); });
    part.anyFinite = part.nonFinite < count;
    mergeExtent(part, first, extent);
}

bool volumeFromScanFrame(RawScan &scan, const unsigned char *samples, const SampleExtent &extent,
                         Volume &target, std::vector<std::string> &warnings, std::ostream &out)
{
    const std::uint64_t count = std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2];
    const SampleExtent &range = extent;
    const ScanPlacement placement =
        placeScan(scan.size, scan.spacing, scan.direction, scan.origin, warnings);
    const Reorientation &reorientation = placement.reorientation;
    const std::array<std::size_t, 3> size = reorientedAxes(scan.size, reorientation);
    VoxelArray data;
    if (!tryResizeVoxels(data, std::size_t(count)))
        return false;

    // A scaling that takes the values beyond a double (a NIfTI-2 slope of
    // 1e300 over large samples) would give the window no range to work in:
    // the stored values are shown instead.
    if (!std::isfinite(scan.slope * range.minimum + scan.intercept) ||
        !std::isfinite(scan.slope * range.maximum + scan.intercept)) {
        warnings.push_back("The file's value scaling (slope " + numberText(scan.slope) +
                           ", intercept " + numberText(scan.intercept) +
                           ") takes the values beyond what can be held; the stored values "
                           "are shown.");
        scan.slope = 1.0;
        scan.intercept = 0.0;
    }
    // The mapping is linear, so it is found on the samples themselves; a
    // negative slope turns the order round.
    const double halfExtent = range.maximum * 0.5 - range.minimum * 0.5;
    const bool reversed = scan.slope < 0.0;
    const double origin = reversed ? range.maximum : range.minimum;
    const double scale = halfExtent > 0.0 ? (reversed ? -1.0 : 1.0) / halfExtent : 0.0;
    withTypedSamples(scan.type, samples, [&](const auto *typed) {
        convertSamples(typed, scan.size, reorientation, origin, scale, data.data(), out);
    });

    if (range.nonFinite > 0)
        warnings.push_back(std::to_string(range.nonFinite) +
                           " samples are not numbers or infinite; they read as the minimum.");
    warnings.insert(warnings.end(), scan.notes.begin(), scan.notes.end());

    double minimum = scan.slope * range.minimum + scan.intercept;
    double maximum = scan.slope * range.maximum + scan.intercept;
    if (reversed)
        std::swap(minimum, maximum);
    target.width = int(size[0]);
    target.height = int(size[1]);
    target.depth = int(size[2]);
    target.data.swap(data);
    target.spacing = placement.shown.spacing;
    target.valueRange = {minimum, maximum};
    target.patientFrame = scan.patientFrame;
    target.invertedGrey = scan.invertedGrey;
    const SampleType stored = scan.fileType.value_or(scan.type);
    const bool wholeSamples = stored != SampleType::Float32 && stored != SampleType::Float64;
    target.sampleStep = wholeSamples ? scan.slope : 0.0;
    target.sampleOffset = wholeSamples ? scan.intercept : 0.0;
    if (wholeSamples && scan.widenedScaling) {
        target.sampleStep = (*scan.widenedScaling)[0];
        target.sampleOffset = (*scan.widenedScaling)[1];
    }
    target.worldOrigin = placement.shown.origin;
    target.worldDirection = placement.shown.direction;
    target.fileAxes = reorientation;
    // Whatever target held before was another data set.
    target.fullResolution.reset();
    target.level = 0;
    target.origin = {0, 0, 0};
    target.series.reset();
    target.frame = 0;
    target.colours.reset();
    return true;
}
