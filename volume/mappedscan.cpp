#include "mappedscan.h"

#include "loadreport.h"
#include "sampleextremes.h"

#include "scanfileaccess.h"
#include "voxelallocator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <sstream>
#include <type_traits>
#include <utility>

namespace {

constexpr int maxAxisVoxels = 65535;
constexpr int maxLevel = 15;
constexpr double datScale = 1.0 / 4095.0;

template <std::size_t Bytes> struct UnsignedOf;
template <> struct UnsignedOf<2>
{
    using Type = std::uint16_t;
    static Type swap(Type v) { return __builtin_bswap16(v); }
};
template <> struct UnsignedOf<4>
{
    using Type = std::uint32_t;
    static Type swap(Type v) { return __builtin_bswap32(v); }
};
template <> struct UnsignedOf<8>
{
    using Type = std::uint64_t;
    static Type swap(Type v) { return __builtin_bswap64(v); }
};

// Reads stored samples of type T from the map (any alignment: the data offset
// of a header need not be a multiple of the sample size), swapping their bytes
// where the file's order is not the machine's; DAT samples are 12-bit values
// in 16-bit words.
template <typename T, bool Swap, bool TwelveBit> struct SampleReader
{
    using Type = T;
    static constexpr std::size_t width = sizeof(T);
    static constexpr bool twelveBit = TwelveBit;

    static T at(const unsigned char *base, std::uint64_t index)
    {
        const unsigned char *bytes = base + index * sizeof(T);
        T value;
        if constexpr (Swap && sizeof(T) > 1) {
            typename UnsignedOf<sizeof(T)>::Type bits;
            std::memcpy(&bits, bytes, sizeof bits);
            bits = UnsignedOf<sizeof(T)>::swap(bits);
            std::memcpy(&value, &bits, sizeof value);
        } else {
            std::memcpy(&value, bytes, sizeof value);
        }
        if constexpr (TwelveBit)
            return std::min<T>(value, 4095);
        return value;
    }

    // count samples from index first into target.
    static void row(const unsigned char *base, std::uint64_t first, std::uint64_t count, T *target)
    {
        if constexpr (!Swap && !TwelveBit) {
            std::memcpy(target, base + first * sizeof(T), std::size_t(count * sizeof(T)));
        } else {
            for (std::uint64_t i = 0; i < count; ++i)
                target[i] = at(base, first + i);
        }
    }
};

template <typename T, typename Work> auto withOrder(bool swap, Work &&work)
{
    if (swap)
        return work(SampleReader<T, true, false>{});
    return work(SampleReader<T, false, false>{});
}

// Calls work with the reader for the layout's samples.
template <typename Work> auto withReader(const ScanLayout &layout, Work &&work)
{
    const bool swap = layout.bigEndian != machineIsBigEndian();
    if (layout.twelveBitSamples) {
        if (swap)
            return work(SampleReader<std::uint16_t, true, true>{});
        return work(SampleReader<std::uint16_t, false, true>{});
    }
    switch (layout.type) {
    case SampleType::UInt8:
        return withOrder<std::uint8_t>(swap, work);
    case SampleType::Int8:
        return withOrder<std::int8_t>(swap, work);
    case SampleType::UInt16:
        return withOrder<std::uint16_t>(swap, work);
    case SampleType::Int16:
        return withOrder<std::int16_t>(swap, work);
    case SampleType::UInt32:
        return withOrder<std::uint32_t>(swap, work);
    case SampleType::Int32:
        return withOrder<std::int32_t>(swap, work);
    case SampleType::UInt64:
        return withOrder<std::uint64_t>(swap, work);
    case SampleType::Int64:
        return withOrder<std::int64_t>(swap, work);
    case SampleType::Float32:
        return withOrder<float>(swap, work);
    case SampleType::Float64:
        break;
    }
    return withOrder<double>(swap, work);
}

// Running minimum and maximum of the finite samples.
struct SampleRange
{
    double minimum = std::numeric_limits<double>::infinity();
    double maximum = -std::numeric_limits<double>::infinity();
    std::uint64_t nonFinite = 0;
    bool any() const { return minimum <= maximum; }
};

// Gives pages of the map that a pass has left behind back to the kernel, so
// that a pass over a file larger than memory keeps only its slab resident.
// The pages stay in the page cache (the kernel reclaims them as it needs):
// slices read right after the pass find them there.
class PageRelease
{
public:
    PageRelease(const unsigned char *map, std::size_t mapBytes, std::uint64_t dataOffset,
                std::size_t sampleBytes)
        : map_(map), mapBytes_(mapBytes), dataOffset_(dataOffset), sampleBytes_(sampleBytes)
    {
        if (map_)
            madvise(const_cast<unsigned char *>(map_), mapBytes_, MADV_SEQUENTIAL);
    }
    ~PageRelease()
    {
        if (map_)
            madvise(const_cast<unsigned char *>(map_), mapBytes_, MADV_NORMAL);
    }
    PageRelease(const PageRelease &) = delete;
    PageRelease &operator=(const PageRelease &) = delete;

    // Every sample before sampleEnd has been read.
    void before(std::uint64_t sampleEnd)
    {
        static const std::uint64_t page = std::uint64_t(sysconf(_SC_PAGESIZE));
        const std::uint64_t end =
            std::min<std::uint64_t>(dataOffset_ + sampleEnd * sampleBytes_, mapBytes_) / page *
            page;
        if (!map_ || end <= released_)
            return;
        madvise(const_cast<unsigned char *>(map_) + released_, std::size_t(end - released_),
                MADV_DONTNEED);
        released_ = end;
    }

private:
    const unsigned char *map_;
    std::size_t mapBytes_;
    std::uint64_t dataOffset_;
    std::size_t sampleBytes_;
    std::uint64_t released_ = 0;
};

template <typename Reader>
void extendRange(SampleRange &range, const unsigned char *base, std::uint64_t first,
                 std::uint64_t end)
{
    using T = typename Reader::Type;
    if constexpr (std::is_floating_point_v<T>) {
        for (std::uint64_t i = first; i < end; ++i) {
            const T value = Reader::at(base, i);
            if (!std::isfinite(value)) {
                ++range.nonFinite;
                continue;
            }
            range.minimum = std::min(range.minimum, double(value));
            range.maximum = std::max(range.maximum, double(value));
        }
    } else if (end > first) {
        // In the sample type and branch-free, so that the loop vectorises.
        T low = std::numeric_limits<T>::max();
        T high = std::numeric_limits<T>::lowest();
        for (std::uint64_t i = first; i < end; ++i) {
            const T value = Reader::at(base, i);
            low = std::min(low, value);
            high = std::max(high, value);
        }
        range.minimum = std::min(range.minimum, double(low));
        range.maximum = std::max(range.maximum, double(high));
    }
}

// The cubes along one stored axis: stored indices [begin, end) form the cube
// at coarse LPS index `coarse`. Cubes start at LPS voxel 0, so along a stored
// axis that runs against its LPS axis the partial cube lies at stored index 0.
struct Cube
{
    std::uint64_t begin = 0;
    std::uint64_t end = 0;
    std::uint64_t coarse = 0;
};

std::vector<Cube> cubesAlong(std::uint64_t count, std::uint64_t edge, bool flipped)
{
    std::vector<Cube> cubes;
    const std::uint64_t coarseCount = (count + edge - 1) / edge;
    for (std::uint64_t i = 0; i < coarseCount; ++i) {
        // In stored order: a flipped axis meets the last coarse index first.
        const std::uint64_t coarse = flipped ? coarseCount - 1 - i : i;
        const std::uint64_t lpsBegin = coarse * edge;
        const std::uint64_t lpsEnd = std::min(lpsBegin + edge, count);
        if (flipped)
            cubes.push_back({count - lpsEnd, count - lpsBegin, coarse});
        else
            cubes.push_back({lpsBegin, lpsEnd, coarse});
    }
    return cubes;
}

// One pass over the stored samples, a slab of cubes in Z at a time, summing
// each cube over a plane of accumulators. Normalised: the sums are of the
// normalised values (the range is known). Otherwise they are of the finite
// samples themselves, the range is measured on the way, and non-finite ones
// are counted per cube for the mapping afterwards.
struct Reduction
{
    std::array<std::uint64_t, 3> storedSize{};
    std::array<std::vector<Cube>, 3> cubes;
    std::array<std::uint64_t, 3> targetStride{}; // per stored axis, in the target
    std::uint64_t present = 0;
    std::vector<double> sums;
    std::vector<std::uint64_t> nonFinite;
    SampleRange range;
};

// The normalised value of a sample as SampleMapping gives it, with the
// branches that the sample type rules out taken away, so that a row converts
// in vectorised code.
template <typename Reader>
float normalised(const SampleMapping &mapping, typename Reader::Type sample)
{
    if constexpr (Reader::twelveBit) {
        return float(double(sample) * datScale);
    } else {
        if constexpr (std::is_floating_point_v<typename Reader::Type>) {
            if (!std::isfinite(sample))
                return 0.0f;
        }
        const float value = float((double(sample) * 0.5 - mapping.halfOrigin) * mapping.scale);
        return value > 0.0f ? std::min(value, 1.0f) : 0.0f;
    }
}

// Row buffers of one reduction pass.
template <typename T> struct RowBuffers
{
    std::vector<T> samples;
    std::vector<float> values;
};

template <typename Reader, bool Normalised>
void sumSlab(Reduction &r, const Cube &zCube, const unsigned char *base,
             const SampleMapping &mapping, RowBuffers<typename Reader::Type> &buffers)
{
    using T = typename Reader::Type;
    const std::uint64_t nx = r.storedSize[0];
    const std::size_t cubesX = r.cubes[0].size();
    buffers.samples.resize(nx);
    buffers.values.resize(Normalised ? nx : 0);
    T *samples = buffers.samples.data();
    float *values = buffers.values.data();
    for (std::uint64_t z = zCube.begin; z < zCube.end; ++z) {
        for (std::size_t cy = 0; cy < r.cubes[1].size(); ++cy) {
            const Cube &yCube = r.cubes[1][cy];
            double *rowSums = r.sums.data() + cy * cubesX;
            std::uint64_t *rowNonFinite = r.nonFinite.data() + cy * cubesX;
            for (std::uint64_t y = yCube.begin; y < yCube.end; ++y) {
                const std::uint64_t row = (z * r.storedSize[1] + y) * nx;
                // Samples past the end of a short file are 0: they add
                // nothing to a sum of samples (their 0 joins the range in the
                // caller), and their normalised value where the range is known.
                const std::uint64_t held = r.present > row ? std::min(nx, r.present - row) : 0;
                Reader::row(base, row, held, samples);
                std::fill(samples + held, samples + nx, T(0));
                if constexpr (Normalised) {
                    for (std::uint64_t x = 0; x < nx; ++x)
                        values[x] = normalised<Reader>(mapping, samples[x]);
                    for (std::size_t cx = 0; cx < cubesX; ++cx) {
                        double sum = 0.0;
                        for (std::uint64_t x = r.cubes[0][cx].begin; x < r.cubes[0][cx].end; ++x)
                            sum += double(values[x]);
                        rowSums[cx] += sum;
                    }
                } else if constexpr (std::is_floating_point_v<T>) {
                    for (std::size_t cx = 0; cx < cubesX; ++cx) {
                        double sum = 0.0;
                        std::uint64_t bad = 0;
                        for (std::uint64_t x = r.cubes[0][cx].begin; x < r.cubes[0][cx].end; ++x) {
                            const T value = samples[x];
                            if (!std::isfinite(value)) {
                                ++bad;
                                continue;
                            }
                            r.range.minimum = std::min(r.range.minimum, double(value));
                            r.range.maximum = std::max(r.range.maximum, double(value));
                            sum += double(value);
                        }
                        rowSums[cx] += sum;
                        rowNonFinite[cx] += bad;
                        r.range.nonFinite += bad;
                    }
                } else {
                    const auto [low, high] = integerExtremes(samples, held);
                    if (held > 0) {
                        r.range.minimum = std::min(r.range.minimum, double(low));
                        r.range.maximum = std::max(r.range.maximum, double(high));
                    }
                    for (std::size_t cx = 0; cx < cubesX; ++cx) {
                        double sum = 0.0;
                        for (std::uint64_t x = r.cubes[0][cx].begin; x < r.cubes[0][cx].end; ++x)
                            sum += double(samples[x]);
                        rowSums[cx] += sum;
                    }
                }
            }
        }
    }
}

} // namespace

float SampleMapping::operator()(double sample) const
{
    if (twelveBit)
        return float(sample * datScale);
    if (!std::isfinite(sample))
        return 0.0f;
    const float value = float((sample * 0.5 - halfOrigin) * scale);
    return value > 0.0f ? std::min(value, 1.0f) : 0.0f;
}

MappedScan::MappedScan(MappedScan &&other) noexcept
{
    *this = std::move(other);
}

MappedScan &MappedScan::operator=(MappedScan &&other) noexcept
{
    if (this == &other)
        return *this;
    close();
    layout_ = std::move(other.layout_);
    map_ = std::exchange(other.map_, nullptr);
    mapBytes_ = std::exchange(other.mapBytes_, 0);
    base_ = std::exchange(other.base_, nullptr);
    open_ = std::exchange(other.open_, false);
    present_ = other.present_;
    missing_ = other.missing_;
    reorientation_ = other.reorientation_;
    size_ = other.size_;
    grid_ = other.grid_;
    patientFrame_ = other.patientFrame_;
    warnings_ = std::move(other.warnings_);
    step_ = other.step_;
    start_ = other.start_;
    rangeKnown_ = other.rangeKnown_;
    range_ = other.range_;
    slope_ = other.slope_;
    intercept_ = other.intercept_;
    mapping_ = other.mapping_;
    return *this;
}

MappedScan::~MappedScan()
{
    close();
}

void MappedScan::close()
{
    MappedFileBytes file{map_, mapBytes_};
    unmapFile(file);
    map_ = base_ = nullptr;
    mapBytes_ = 0;
    open_ = false;
    present_ = missing_ = 0;
    warnings_.clear();
    rangeKnown_ = false;
}

ScanReadResult MappedScan::open(const ScanLayout &layout)
{
    close();
    if (layout.storage == ScanLayout::Storage::Compressed)
        return scanRefusal("The samples are stored compressed; they must be inflated to be read, "
                           "not mapped.");
    if (layout.storage != ScanLayout::Storage::Raw)
        return scanRefusal("The samples are not stored as plain values in one file; they cannot be "
                           "mapped.");
    for (std::uint64_t count : layout.size)
        if (count < 1 || count > maxAxisVoxels)
            return scanRefusal("The image has " + std::to_string(layout.size[0]) + " x " +
                               std::to_string(layout.size[1]) + " x " +
                               std::to_string(layout.size[2]) +
                               " voxels; each axis must hold 1 to 65535.");
    if (layout.twelveBitSamples && layout.type != SampleType::UInt16)
        return scanRefusal("12-bit samples must be stored in 16-bit words.");

    const std::string what = "The data file '" + layout.dataPath + "'";
    if (layout.components != 1 || layout.frames != 1)
        return scanRefusal("Only a single scalar volume can be mapped from its file.");
    MappedFileBytes file;
    const std::string reason = mapRegularFile(layout.dataPath, what, file);
    if (!reason.empty())
        return scanRefusal(reason);
    layout_ = layout;
    layout_.dataFileBytes = file.size;
    present_ = layout_.samplesPresent();
    missing_ = layout_.sampleCount() - present_;
    if (present_ > 0) {
        map_ = file.bytes;
        mapBytes_ = std::size_t(file.size);
        base_ = map_ + layout_.dataOffset;
    } else {
        unmapFile(file);
    }
    open_ = true;

    if (!std::isfinite(layout_.slope) || layout_.slope == 0.0 ||
        !std::isfinite(layout_.intercept)) {
        layout_.slope = 1.0;
        layout_.intercept = 0.0;
    }
    slope_ = layout_.slope;
    intercept_ = layout_.intercept;
    mapping_.twelveBit = layout_.twelveBitSamples;

    const std::array<std::size_t, 3> storedSize = {
        std::size_t(layout_.size[0]), std::size_t(layout_.size[1]), std::size_t(layout_.size[2])};
    reorientation_ = Reorientation();
    // Scans are placed in their world, MRC maps in their own x, y, z; DAT files
    // keep their index order.
    patientFrame_ = volumeFormatHasPatientFrame(layout_.format);
    grid_ = ImageGrid();
    if (layout_.format != VolumeFormat::Dat) {
        const ScanPlacement placement =
            placeScan(storedSize, layout_.spacing, layout_.direction, layout_.origin, warnings_);
        reorientation_ = placement.reorientation;
        grid_ = placement.shown;
    }
    const std::array<std::size_t, 3> size = reorientedAxes(storedSize, reorientation_);
    const std::array<std::int64_t, 3> storedStride = {1, std::int64_t(storedSize[0]),
                                                      std::int64_t(storedSize[0] * storedSize[1])};
    start_ = 0;
    for (int axis = 0; axis < 3; ++axis) {
        size_[axis] = int(size[axis]);
        const std::int64_t stride = storedStride[reorientation_.sourceAxis[axis]];
        step_[axis] = reorientation_.flipped[axis] ? -stride : stride;
        if (reorientation_.flipped[axis])
            start_ += std::int64_t(size[axis] - 1) * stride;
    }
    if (layout_.twelveBitSamples)
        setValueRange(0.0, 4095.0, 0);
    return {true, {}};
}

std::int64_t MappedScan::storedIndex(int x, int y, int z) const
{
    return start_ + x * step_[0] + y * step_[1] + z * step_[2];
}

void MappedScan::setValueRange(double minimum, double maximum, std::uint64_t nonFinite)
{
    rangeKnown_ = true;
    if (layout_.twelveBitSamples) {
        range_ = {0.0, 4095.0};
        return;
    }
    // As volumeFromRawScan(): the mapping is found on the samples themselves,
    // and a scaling that leaves the doubles shows the stored values instead.
    if (!std::isfinite(slope_ * minimum + intercept_) ||
        !std::isfinite(slope_ * maximum + intercept_)) {
        warnings_.push_back("The file's value scaling (slope " + numberText(slope_) +
                            ", intercept " + numberText(intercept_) +
                            ") takes the values beyond what can be held; the stored values "
                            "are shown.");
        slope_ = 1.0;
        intercept_ = 0.0;
    }
    const double halfExtent = maximum * 0.5 - minimum * 0.5;
    const bool reversed = slope_ < 0.0;
    mapping_.halfOrigin = (reversed ? maximum : minimum) * 0.5;
    mapping_.scale = halfExtent > 0.0 ? (reversed ? -1.0 : 1.0) / halfExtent : 0.0;
    if (nonFinite > 0)
        warnings_.push_back(std::to_string(nonFinite) +
                            " samples are not numbers or infinite; they read as the minimum.");
    range_ = {slope_ * minimum + intercept_, slope_ * maximum + intercept_};
    if (reversed)
        std::swap(range_.minimum, range_.maximum);
}

void MappedScan::measureValueRange()
{
    if (rangeKnown_ || !open_)
        return;
    SampleRange range;
    withReader(layout_, [&](auto reader) {
        using Reader = decltype(reader);
        PageRelease release(map_, mapBytes_, layout_.dataOffset, Reader::width);
        constexpr std::uint64_t piece = std::uint64_t(1) << 24;
        for (std::uint64_t first = 0; first < present_; first += piece) {
            const std::uint64_t end = std::min(present_, first + piece);
            extendRange<Reader>(range, base_, first, end);
            release.before(end);
        }
    });
    // The samples a short file lacks are zeros, as the loaders read them.
    if (missing_ > 0) {
        range.minimum = std::min(range.minimum, 0.0);
        range.maximum = std::max(range.maximum, 0.0);
    }
    if (!range.any())
        range.minimum = range.maximum = 0.0;
    setValueRange(range.minimum, range.maximum, range.nonFinite);
}

Volume::ValueRange MappedScan::valueRange()
{
    measureValueRange();
    return range_;
}

bool MappedScan::normalisedSlice(int axis, int index, std::vector<float> &out)
{
    if (!open_ || axis < 0 || axis > 2 || index < 0 || index >= size_[axis])
        return false;
    measureValueRange();
    const int fast = axis == 0 ? 1 : 0;
    const int slow = axis == 2 ? 1 : 2;
    const std::int64_t plane = start_ + std::int64_t(index) * step_[axis];
    out.resize(std::size_t(size_[fast]) * std::size_t(size_[slow]));
    withReader(layout_, [&](auto reader) {
        using Reader = decltype(reader);
        float *target = out.data();
        for (int v = 0; v < size_[slow]; ++v) {
            const std::int64_t row = plane + std::int64_t(v) * step_[slow];
            for (int u = 0; u < size_[fast]; ++u) {
                const std::uint64_t i = std::uint64_t(row + std::int64_t(u) * step_[fast]);
                *target++ = mapping_(i < present_ ? double(Reader::at(base_, i)) : 0.0);
            }
        }
    });
    return true;
}

float MappedScan::normalisedValue(int x, int y, int z)
{
    if (!open_ || x < 0 || y < 0 || z < 0 || x >= size_[0] || y >= size_[1] || z >= size_[2])
        return 0.0f;
    measureValueRange();
    const std::uint64_t i = std::uint64_t(storedIndex(x, y, z));
    return withReader(layout_, [&](auto reader) {
        return mapping_(i < present_ ? double(decltype(reader)::at(base_, i)) : 0.0);
    });
}

double MappedScan::fileValue(int x, int y, int z) const
{
    if (!open_ || x < 0 || y < 0 || z < 0 || x >= size_[0] || y >= size_[1] || z >= size_[2])
        return std::numeric_limits<double>::quiet_NaN();
    const std::uint64_t i = std::uint64_t(storedIndex(x, y, z));
    const double sample = withReader(layout_, [&](auto reader) {
        return i < present_ ? double(decltype(reader)::at(base_, i)) : 0.0;
    });
    if (!std::isfinite(sample))
        return std::numeric_limits<double>::quiet_NaN();
    return slope_ * sample + intercept_;
}

ScanReadResult MappedScan::buildReducedVolume(int level, Volume &target, std::ostream &out,
                                              const std::atomic<bool> *stop)
{
    if (!open_)
        return scanRefusal("No scan is open.");
    if (level < 0 || level > maxLevel)
        return scanRefusal("Level " + std::to_string(level) + " is not between 0 and " +
                           std::to_string(maxLevel) + ".");
    // Sums of doubles could leave the doubles before the range is known to
    // scale them: measure first for those.
    if (layout_.type == SampleType::Float64)
        measureValueRange();

    const std::uint64_t edge = std::uint64_t(1) << level;
    std::array<std::uint64_t, 3> coarse{};
    for (int axis = 0; axis < 3; ++axis)
        coarse[axis] = (std::uint64_t(size_[axis]) + edge - 1) / edge;
    const std::array<std::uint64_t, 3> lpsStride = {1, coarse[0], coarse[0] * coarse[1]};

    Reduction r;
    r.present = present_;
    for (int stored = 0; stored < 3; ++stored) {
        r.storedSize[stored] = layout_.size[stored];
        int lps = 0;
        while (reorientation_.sourceAxis[lps] != stored)
            ++lps;
        r.cubes[stored] = cubesAlong(layout_.size[stored], edge, reorientation_.flipped[lps]);
        r.targetStride[stored] = lpsStride[lps];
    }
    const std::size_t planeCubes = r.cubes[0].size() * r.cubes[1].size();
    VoxelArray data;
    if (!tryResizeVoxels(data, std::size_t(coarse[0] * coarse[1] * coarse[2])))
        return scanRefusal("There is not enough memory for level " + std::to_string(level) + " (" +
                           std::to_string(coarse[0]) + " x " + std::to_string(coarse[1]) + " x " +
                           std::to_string(coarse[2]) + " voxels).");
    r.sums.resize(planeCubes);
    r.nonFinite.resize(planeCubes);

    // Cubes whose non-finite samples must still be given the minimum's value
    // once the range is known.
    struct NonFiniteShare
    {
        std::uint64_t index; // in the target
        float mean;          // of the finite samples, the others taken as 0
        float share;         // of non-finite samples in the cube
    };
    std::vector<NonFiniteShare> nonFiniteShares;
    const bool normalised = rangeKnown_;
    bool stopped = false;
    withReader(layout_, [&](auto reader) {
        using Reader = decltype(reader);
        PageRelease release(map_, mapBytes_, layout_.dataOffset, Reader::width);
        RowBuffers<typename Reader::Type> buffers;
        const std::uint64_t sliceSamples = r.storedSize[0] * r.storedSize[1];
        int percentShown = -1;
        for (std::size_t cz = 0; cz < r.cubes[2].size(); ++cz) {
            if (stop && stop->load()) {
                stopped = true;
                return;
            }
            const Cube &zCube = r.cubes[2][cz];
            std::fill(r.sums.begin(), r.sums.end(), 0.0);
            std::fill(r.nonFinite.begin(), r.nonFinite.end(), 0);
            if (normalised)
                sumSlab<Reader, true>(r, zCube, base_, mapping_, buffers);
            else
                sumSlab<Reader, false>(r, zCube, base_, mapping_, buffers);
            release.before(zCube.end * sliceSamples);

            const std::uint64_t zCount = zCube.end - zCube.begin;
            const std::uint64_t zOffset = zCube.coarse * r.targetStride[2];
            for (std::size_t cy = 0; cy < r.cubes[1].size(); ++cy) {
                const Cube &yCube = r.cubes[1][cy];
                const std::uint64_t yzCount = zCount * (yCube.end - yCube.begin);
                const std::uint64_t yzOffset = zOffset + yCube.coarse * r.targetStride[1];
                for (std::size_t cx = 0; cx < r.cubes[0].size(); ++cx) {
                    const Cube &xCube = r.cubes[0][cx];
                    const double count = double(yzCount * (xCube.end - xCube.begin));
                    const std::size_t cell = cy * r.cubes[0].size() + cx;
                    const std::uint64_t index = yzOffset + xCube.coarse * r.targetStride[0];
                    data[index] = float(r.sums[cell] / count);
                    if (r.nonFinite[cell] > 0)
                        nonFiniteShares.push_back(
                            {index, data[index], float(r.nonFinite[cell] / count)});
                }
            }
            const int percent = int(100 * (cz + 1) / r.cubes[2].size());
            if (percent != percentShown)
                out << "\r- Reducing data (" << percent << "%) ...";
            percentShown = percent;
        }
    });
    out << std::endl;
    if (stopped)
        return scanRefusal("Loading was cancelled.");

    if (!normalised) {
        // Each voxel holds the mean of its cube's finite samples counting the
        // others as 0; the mapping is linear, so the mean of the normalised
        // values follows, with the non-finite share taken at the minimum as
        // the loaders read it.
        SampleRange range = r.range;
        if (missing_ > 0) {
            range.minimum = std::min(range.minimum, 0.0);
            range.maximum = std::max(range.maximum, 0.0);
        }
        if (!range.any())
            range.minimum = range.maximum = 0.0;
        setValueRange(range.minimum, range.maximum, range.nonFinite);
        for (float &value : data)
            value = mapping_(double(value));
        for (const NonFiniteShare &cube : nonFiniteShares) {
            const float value =
                float((double(cube.mean) * 0.5 - mapping_.halfOrigin * (1.0 - double(cube.share))) *
                      mapping_.scale);
            data[cube.index] = value > 0.0f ? std::min(value, 1.0f) : 0.0f;
        }
    }

    target.width = int(coarse[0]);
    target.height = int(coarse[1]);
    target.depth = int(coarse[2]);
    target.data.swap(data);
    for (int axis = 0; axis < 3; ++axis)
        target.spacing[axis] = grid_.spacing[axis] * double(edge);
    target.valueRange = range_;
    target.patientFrame = patientFrame_;
    placeInWorld(target);
    return {true, {}};
}

void MappedScan::placeInWorld(Volume &target) const
{
    target.worldOrigin = grid_.origin;
    target.worldDirection = grid_.direction;
    target.fileAxes = reorientation_;
    target.invertedGrey = false;
    target.series.reset();
    target.frame = 0;
    target.colours.reset();
}

ScanReadResult MappedScan::buildRegion(const std::array<int, 3> &lower,
                                       const std::array<int, 3> &upper, Volume &target)
{
    if (!open_)
        return scanRefusal("No scan is open.");
    for (int axis = 0; axis < 3; ++axis) {
        if (lower[axis] < 0 || upper[axis] > size_[axis] || lower[axis] >= upper[axis])
            return scanRefusal("The region lies outside the volume.");
    }
    const std::size_t width = std::size_t(upper[0] - lower[0]);
    const std::size_t height = std::size_t(upper[1] - lower[1]);
    const std::size_t depth = std::size_t(upper[2] - lower[2]);
    VoxelArray data;
    if (!tryResizeVoxels(data, width * height * depth))
        return scanRefusal("There is not enough memory for the region (" + std::to_string(width) +
                           " x " + std::to_string(height) + " x " + std::to_string(depth) +
                           " voxels).");
    std::vector<float> slice;
    float *into = data.data();
    for (int z = lower[2]; z < upper[2]; ++z) {
        if (!normalisedSlice(2, z, slice))
            return scanRefusal("The region lies outside the volume.");
        for (int y = lower[1]; y < upper[1]; ++y) {
            const float *row =
                slice.data() + std::size_t(y) * std::size_t(size_[0]) + std::size_t(lower[0]);
            into = std::copy(row, row + width, into);
        }
    }
    target.width = int(width);
    target.height = int(height);
    target.depth = int(depth);
    target.data.swap(data);
    target.spacing = grid_.spacing;
    target.valueRange = valueRange();
    target.patientFrame = patientFrame_;
    placeInWorld(target);
    return {true, {}};
}
