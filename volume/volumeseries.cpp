#include "volumeseries.h"

#include "imagegrid.h"
#include "scanfileaccess.h"
#include "scanlayout.h"
#include "volume.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <ostream>
#include <sstream>

#include <sys/mman.h>
#include <unistd.h>

namespace {

void swapSamples(unsigned char *bytes, std::uint64_t count, std::size_t width)
{
    for (std::uint64_t i = 0; i < count; ++i, bytes += width)
        std::reverse(bytes, bytes + width);
}

} // namespace

std::shared_ptr<VolumeSeries> VolumeSeries::fromScan(RawScan &&scan)
{
    std::shared_ptr<VolumeSeries> series(new VolumeSeries);
    series->scan_ = std::move(scan);
    RawScan &held = series->scan_;
    held.frames = std::max<std::size_t>(held.frames, 1);
    const std::uint64_t count = series->frameSamples() * held.frames;
    if (held.bigEndian != machineIsBigEndian() && sampleSize(held.type) > 1) {
        swapSamples(held.samples.data(), count, sampleSize(held.type));
        held.bigEndian = machineIsBigEndian();
    }
    // A colour series' values are its luminance.
    if (held.components > 1)
        widenLuminanceExtent(held.type, held.samples.data(), count / held.components,
                             held.components, true, series->extent_);
    else
        widenSampleExtent(held.type, held.samples.data(), count, true, series->extent_);
    std::vector<std::string> ignored;
    series->reorientation_ =
        placeScan(held.size, held.spacing, held.direction, held.origin, ignored).reorientation;
    series->shownSize_ = reorientedAxes(held.size, series->reorientation_);
    return series;
}

ScanReadResult VolumeSeries::map(const ScanLayout &layout, std::ostream &out,
                                 const std::atomic<bool> *stop,
                                 std::shared_ptr<VolumeSeries> &series)
{
    if (layout.storage != ScanLayout::Storage::Raw)
        return scanRefusal("Only uncompressed samples can be mapped from the file.");
    const std::string what = "'" + layout.dataPath + "'";
    MappedFileBytes file;
    const std::string problem = mapRegularFile(layout.dataPath, what, file);
    if (!problem.empty())
        return scanRefusal(problem);
    const std::uint64_t bytes = layout.sampleCount() * layout.frames * sampleSize(layout.type);
    if (file.size < layout.dataOffset + bytes) {
        unmapFile(file);
        return scanRefusal(what + " is shorter than the series it should hold.");
    }
    std::shared_ptr<VolumeSeries> mapped(new VolumeSeries);
    mapped->map_ = file.bytes;
    mapped->mapBytes_ = std::size_t(file.size);
    mapped->mappedSamples_ = mapped->map_ + layout.dataOffset;
    mapped->swapMapped_ = layout.bigEndian != machineIsBigEndian() && sampleSize(layout.type) > 1;

    RawScan &scan = mapped->scan_;
    for (std::size_t axis = 0; axis < 3; ++axis)
        scan.size[axis] = std::size_t(layout.size[axis]);
    scan.frames = std::size_t(layout.frames);
    scan.frameInterval = layout.frameInterval;
    scan.frameUnit = layout.frameUnit;
    scan.spacing = layout.spacing;
    scan.direction = layout.direction;
    scan.origin = layout.origin;
    scan.patientFrame = volumeFormatHasPatientFrame(layout.format);
    scan.type = layout.type;
    scan.bigEndian = machineIsBigEndian();
    const bool scaled =
        std::isfinite(layout.slope) && layout.slope != 0.0 && std::isfinite(layout.intercept);
    scan.slope = scaled ? layout.slope : 1.0;
    scan.intercept = scaled ? layout.intercept : 0.0;
    scan.notes.push_back("The series of " + std::to_string(layout.frames) +
                         " volumes does not fit in memory: it is read from the file, one "
                         "volume at a time.");

    for (int frame = 0; frame < mapped->frameCount(); ++frame) {
        if (stop && stop->load())
            return scanRefusal("Loading was cancelled.");
        widenSampleExtent(scan.type, mapped->frameBytes(frame), mapped->frameSamples(), frame == 0,
                          mapped->extent_);
        mapped->releaseFrame(frame);
        out << "\r- Measuring the series (" << 100 * (frame + 1) / mapped->frameCount() << "%) ...";
    }
    out << std::endl;
    std::vector<std::string> ignored;
    mapped->reorientation_ =
        placeScan(scan.size, scan.spacing, scan.direction, scan.origin, ignored).reorientation;
    mapped->shownSize_ = reorientedAxes(scan.size, mapped->reorientation_);
    series = std::move(mapped);
    return {true, {}};
}

VolumeSeries::~VolumeSeries()
{
    MappedFileBytes file{map_, mapBytes_};
    unmapFile(file);
}

std::uint64_t VolumeSeries::frameSamples() const
{
    return std::uint64_t(scan_.size[0]) * scan_.size[1] * scan_.size[2] * scan_.components;
}

const unsigned char *VolumeSeries::frameBytes(int frame)
{
    const std::uint64_t bytes = frameSamples() * sampleSize(scan_.type);
    if (!map_)
        return scan_.samples.data() + std::uint64_t(frame) * bytes;
    const unsigned char *samples = mappedSamples_ + std::uint64_t(frame) * bytes;
    // The conversion reads whole samples: a header of odd length leaves them
    // unaligned in the map.
    const bool aligned = reinterpret_cast<std::uintptr_t>(samples) % sampleSize(scan_.type) == 0;
    if (!swapMapped_ && aligned)
        return samples;
    if (scratch_.size() != bytes && !scratch_.allocate(bytes))
        return nullptr;
    std::memcpy(scratch_.data(), samples, std::size_t(bytes));
    if (swapMapped_)
        swapSamples(scratch_.data(), frameSamples(), sampleSize(scan_.type));
    return scratch_.data();
}

void VolumeSeries::releaseFrame(int frame) const
{
    if (!map_)
        return;
    // Whole pages only: the neighbours' first and last pages may be shared.
    const std::uint64_t page = std::uint64_t(sysconf(_SC_PAGESIZE));
    const std::uint64_t bytes = frameSamples() * sampleSize(scan_.type);
    const std::uint64_t begin = std::uint64_t(mappedSamples_ - map_) + std::uint64_t(frame) * bytes;
    const std::uint64_t first = (begin + page - 1) / page * page;
    const std::uint64_t end = (begin + bytes) / page * page;
    if (end > first)
        madvise(const_cast<unsigned char *>(map_) + first, std::size_t(end - first), MADV_DONTNEED);
}

bool VolumeSeries::frameVolume(int frame, Volume &target, std::vector<std::string> &warnings,
                               std::ostream &out)
{
    if (frame < 0 || frame >= frameCount())
        return false;
    const unsigned char *samples = frameBytes(frame);
    if (!samples)
        return false;
    Volume shown;
    const bool converted =
        scan_.components > 1
            ? colourVolumeFromScanFrame(scan_, samples, &extent_, shown, warnings, out)
            : volumeFromScanFrame(scan_, samples, extent_, shown, warnings, out);
    releaseFrame(frame);
    if (!converted)
        return false;
    shown.series = shared_from_this();
    shown.frame = frame;
    target = std::move(shown);
    return true;
}

double VolumeSeries::sampleValue(const unsigned char *sample) const
{
    // Mapped samples need not be aligned for their type.
    alignas(8) unsigned char bytes[8];
    const std::size_t width = sampleSize(scan_.type);
    std::memcpy(bytes, sample, width);
    if (map_ && swapMapped_)
        std::reverse(bytes, bytes + width);
    const double value =
        withTypedSamples(scan_.type, bytes, [](const auto *typed) { return double(*typed); });
    if (!std::isfinite(value))
        return std::numeric_limits<double>::quiet_NaN();
    return scan_.slope * value + scan_.intercept;
}

std::vector<double> VolumeSeries::timeCourse(int x, int y, int z) const
{
    const std::array<int, 3> shown = {x, y, z};
    std::array<std::uint64_t, 3> stored{};
    for (int axis = 0; axis < 3; ++axis) {
        if (shown[axis] < 0 || std::size_t(shown[axis]) >= shownSize_[axis])
            return {};
        const std::size_t index = std::size_t(shown[axis]);
        stored[reorientation_.sourceAxis[axis]] =
            reorientation_.flipped[axis] ? shownSize_[axis] - 1 - index : index;
    }
    const std::size_t components = scan_.components;
    const std::uint64_t offset =
        (stored[0] + scan_.size[0] * (stored[1] + scan_.size[1] * stored[2])) * components;
    const std::size_t width = sampleSize(scan_.type);
    const unsigned char *base = map_ ? mappedSamples_ : scan_.samples.data();
    std::vector<double> values;
    values.reserve(scan_.frames);
    for (std::size_t frame = 0; frame < scan_.frames; ++frame) {
        const unsigned char *voxel = base + (frame * frameSamples() + offset) * width;
        // A colour voxel's value is its luminance, as the shown volume's.
        values.push_back(components == 1
                             ? sampleValue(voxel)
                             : 0.299 * sampleValue(voxel) + 0.587 * sampleValue(voxel + width) +
                                   0.114 * sampleValue(voxel + 2 * width));
    }
    return values;
}

bool selectSeriesFrame(Volume &volume, int frame, std::string &reason)
{
    const int count = seriesFrameCount(volume);
    if (frame < 0 || frame >= count) {
        reason = count == 1 ? "The file holds one volume: there is no volume " +
                                  std::to_string(frame) + "."
                            : "The file holds " + std::to_string(count) + " volumes (0.." +
                                  std::to_string(count - 1) + "): there is no volume " +
                                  std::to_string(frame) + ".";
        return false;
    }
    if (frame == volume.frame)
        return true;
    // The series outlives the volume it replaces.
    const std::shared_ptr<VolumeSeries> series = volume.series;
    std::vector<std::string> warnings;
    std::ostringstream progress;
    if (!series->frameVolume(frame, volume, warnings, progress)) {
        reason = "There is not enough memory for volume " + std::to_string(frame) + ".";
        return false;
    }
    return true;
}

int seriesFrameCount(const Volume &volume)
{
    return volume.series ? volume.series->frameCount() : 1;
}
