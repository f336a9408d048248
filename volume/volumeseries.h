#pragma once

#include "rawscan.h"

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

struct ScanLayout;
struct Volume;

// The volumes of a 4D image (fMRI, diffusion, a dynamic series): frames of one
// grid, of which one at a time is shown as a Volume. The samples of every
// frame stay as the file stores them: in memory where they fit, otherwise
// mapped from the file, one frame's pages resident at a time. All frames are
// normalised by the range of the whole series, so that a transfer function
// and a window mean the same values in each. A colour series (read whole,
// never mapped) is normalised by the range of its luminance.
class VolumeSeries : public std::enable_shared_from_this<VolumeSeries>
{
public:
    // A series read whole: takes scan's samples (scan.frames of them), puts
    // them in the machine's byte order and measures their range.
    static std::shared_ptr<VolumeSeries> fromScan(RawScan &&scan);
    // A series mapped from layout's raw samples (layout.frames of them, every
    // one present in the file); measures the range in one streaming pass,
    // writing "- Measuring the series (n%) ..." to out. stop ends that pass
    // once it turns true. series is set only on success.
    [[nodiscard]] static ScanReadResult map(const ScanLayout &layout, std::ostream &out,
                                            const std::atomic<bool> *stop,
                                            std::shared_ptr<VolumeSeries> &series);
    ~VolumeSeries();
    VolumeSeries(const VolumeSeries &) = delete;
    VolumeSeries &operator=(const VolumeSeries &) = delete;

    int frameCount() const { return int(scan_.frames); }
    // The time between frames as the file gives it (0: not given), in unit()
    // ("s", "ms", "us", or empty where the file names none).
    double frameInterval() const { return scan_.frameInterval; }
    const std::string &frameUnit() const { return scan_.frameUnit; }
    bool isMapped() const { return map_ != nullptr; }

    // Fills target with frame 0..frameCount()-1 as a load fills a volume
    // (the same geometry, normalisation, file values), with target.series this
    // series and target.frame the frame. The geometry's and samples' warnings
    // go to warnings, the "Preparing data" progress to out. false (target
    // untouched) for a frame out of range or when the memory cannot be had.
    [[nodiscard]] bool frameVolume(int frame, Volume &target, std::vector<std::string> &warnings,
                                   std::ostream &out);

    // The file values (slope * sample + intercept; NaN where not finite) of
    // voxel (x, y, z) of the shown grid (LPS index order) in every frame;
    // empty for a voxel outside the grid.
    std::vector<double> timeCourse(int x, int y, int z) const;

private:
    VolumeSeries() = default;
    std::uint64_t frameSamples() const; // samples of a frame, every component
    // Frame's samples in the machine's byte order: in place, or swapped into
    // scratch_.
    const unsigned char *frameBytes(int frame);
    double sampleValue(const unsigned char *sample) const;
    void releaseFrame(int frame) const;

    RawScan scan_; // geometry and scaling; samples only where held in memory
    SampleExtent extent_;
    Reorientation reorientation_;
    std::array<std::size_t, 3> shownSize_{};
    const unsigned char *map_ = nullptr; // a mapped file, from byte 0
    std::size_t mapBytes_ = 0;
    const unsigned char *mappedSamples_ = nullptr;
    bool swapMapped_ = false;
    SampleBuffer scratch_;
};

// Makes volume show frame `frame` of its series (a 3D image has frame 0 only);
// false with reason where there is no such frame or its memory cannot be had.
// volume is untouched on failure.
bool selectSeriesFrame(Volume &volume, int frame, std::string &reason);

// How many volumes volume's file holds: its series' frames, else 1.
int seriesFrameCount(const Volume &volume);
