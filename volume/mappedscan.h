#pragma once

#include "imagegrid.h"
#include "orientation.h"
#include "rawscan.h"
#include "scanlayout.h"
#include "volume.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

// How a stored sample becomes a normalised value, exactly as the loaders do
// it: DAT samples as readDatStream() (min(s, 4095) / 4095), scan samples as
// volumeFromRawScan() (from the origin in halves, limited to 0..1, non-finite
// ones 0), so that values match a loaded Volume bit for bit.
struct SampleMapping
{
    bool twelveBit = false;
    double halfOrigin = 0.0;
    double scale = 0.0;

    float operator()(double sample) const;
};

// A volume read straight from its file through a read-only memory map, for
// files larger than memory: slices at full resolution come from the mapped
// samples, and a reduced level (averages of 2^k voxels per side) is built in
// one streaming pass for the 3D view.
//
// Everything is in LPS index order, exactly as readVolumeFile() would load the
// same file (orientation.h; DAT files keep their stored order and have no
// patient frame), and normalised values are bit for bit the ones the loaded
// Volume holds. Samples missing at the end of a short file read as 0 and are
// counted.
//
// Coordinates are voxel indices 0..size()-1 along LPS X, Y, Z. The object owns
// its map; it moves, never copies.
class MappedScan
{
public:
    MappedScan() = default;
    MappedScan(MappedScan &&other) noexcept;
    MappedScan &operator=(MappedScan &&other) noexcept;
    MappedScan(const MappedScan &) = delete;
    MappedScan &operator=(const MappedScan &) = delete;
    ~MappedScan();

    // Maps the samples that layout describes. Only Raw storage in a regular
    // file can be mapped; anything else is refused with a reason. Axes must
    // hold 1..65535 voxels like any volume. The file's own size counts, not
    // layout.dataFileBytes: it may have changed since the header was read.
    // On failure the object is closed.
    [[nodiscard]] ScanReadResult open(const ScanLayout &layout);
    void close();
    bool isOpen() const { return open_; }

    std::array<int, 3> size() const { return size_; }
    std::array<double, 3> spacing() const { return grid_.spacing; }
    // Where the voxels lie in the world (LPS mm), in LPS index order.
    const ImageGrid &grid() const { return grid_; }
    bool patientFrame() const { return patientFrame_; }
    std::uint64_t missingSamples() const { return missing_; }
    // What the user should know (axis directions or spacing replaced, values
    // rescaled, non-finite samples), as the loaders word it; grows when the
    // value range is measured.
    const std::vector<std::string> &warnings() const { return warnings_; }

    // The file values that 0 and 1 stand for: the finite minimum..maximum of
    // slope * sample + intercept (DAT: 0..4095 fixed). Measured by one pass
    // over the samples on first use, unless buildReducedVolume() has already
    // measured it on its way.
    Volume::ValueRange valueRange();
    bool hasValueRange() const { return rangeKnown_; }

    // The slice index of LPS axis 0..2 as the loaded Volume holds it: out gets
    // the values of the two remaining axes, the lower-numbered one fastest
    // (Volume::data restricted to the slice). False (out untouched) for an axis
    // or index out of range. Like normalisedValue(), it measures the value
    // range first where that is not yet known.
    [[nodiscard]] bool normalisedSlice(int axis, int index, std::vector<float> &out);
    // One voxel's normalised value (0..1) and its file value (slope * sample +
    // intercept; DAT: min(sample, 4095); NaN for a sample that is not finite).
    // Indices must lie inside size(): outside, 0 and NaN.
    float normalisedValue(int x, int y, int z);
    double fileValue(int x, int y, int z) const;

    // Fills target with level `level` (0..15) of the volume: each voxel the
    // mean of the normalised values of a cube of 2^level voxels per side in LPS
    // order, starting at voxel 0; the cubes at the far edges hold what voxels
    // exist there. Its size is ceil(size / 2^level) and its spacing
    // spacing * 2^level, so it covers the full extent and at most one coarse
    // voxel minus one fine voxel beyond it. Normalised with the full data's
    // value range, which this pass measures too when it is not yet known, so a
    // first open reads the file once.
    //
    // Streams over the file in stored Z order, a slab of 2^level slices at a
    // time, and drops the pages behind it from this process, so its resident
    // memory stays near the target plus one slab. Writes "- Reducing data (n%)
    // ..." progress to out. target changes only on success; false (with
    // reason) when the memory cannot be had or the object is not open.
    // stop, when given, ends the pass between slabs once it turns true
    // (reason "Loading was cancelled.").
    [[nodiscard]] ScanReadResult buildReducedVolume(int level, Volume &target, std::ostream &out,
                                                    const std::atomic<bool> *stop = nullptr);

    // Fills target with the voxels lower .. upper - 1 (LPS indices within
    // size(), lower < upper on every axis) at full resolution, normalised as
    // the loaded Volume would hold them, with the full data's spacing and
    // value range. Reads the region's Z slices whole. target changes only on
    // success.
    [[nodiscard]] ScanReadResult buildRegion(const std::array<int, 3> &lower,
                                             const std::array<int, 3> &upper, Volume &target);

private:
    void measureValueRange();
    // The world geometry of the full-resolution grid, which target's data
    // stands for a part or a level of.
    void placeInWorld(Volume &target) const;
    void setValueRange(double minimum, double maximum, std::uint64_t nonFinite);
    // Stored sample index of LPS voxel (x, y, z).
    std::int64_t storedIndex(int x, int y, int z) const;

    ScanLayout layout_;
    const unsigned char *map_ = nullptr; // the whole file, from byte 0
    std::size_t mapBytes_ = 0;
    const unsigned char *base_ = nullptr; // the first sample
    bool open_ = false;                   // also true for a file without samples
    std::uint64_t present_ = 0;           // samples the file holds in full
    std::uint64_t missing_ = 0;
    Reorientation reorientation_;
    std::array<int, 3> size_{{1, 1, 1}};
    ImageGrid grid_;
    bool patientFrame_ = false;
    std::vector<std::string> warnings_;
    // LPS axis j steps by step_[j] stored samples; voxel 0 is stored sample
    // start_.
    std::array<std::int64_t, 3> step_{};
    std::int64_t start_ = 0;

    bool rangeKnown_ = false;
    Volume::ValueRange range_;
    double slope_ = 1.0;
    double intercept_ = 0.0;
    SampleMapping mapping_;
};
