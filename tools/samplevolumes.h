#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Synthetic volumes for the viewer, the tests and the benchmarks. Samples are
// raw 16-bit DAT values (0..4095 means 0..1), X fastest, then Y, then Z.
struct SampleVolume
{
    int width = 0;
    int height = 0;
    int depth = 0;
    std::vector<std::uint16_t> samples;
};

// A 3D head phantom in the manner of Shepp and Logan: ten ellipsoids of
// different densities summed over [-1, 1]^3 and scaled into 0..4095.
SampleVolume makeHeadPhantom(int width, int height, int depth);

// The head phantom as an MRI scan shows it: a smooth, positive background
// (about 3 % of full scale, so that no sample is exactly 0 and there is no empty
// space to skip), a slowly varying gain over the tissue (the coil's bias field)
// and fine per-voxel noise everywhere. The same arguments give the same samples
// on every platform (integer hashing, no library random numbers); another
// salt gives another noise pattern.
SampleVolume makeNoisyHeadPhantom(int width, int height, int depth, std::uint32_t salt = 1);

// The Marschner-Lobb test signal (f_M = 6, alpha = 0.25) over [-1, 1]^3.
SampleVolume makeMarschnerLobb(int width, int height, int depth);

// Every sample set to value.
SampleVolume makeUniform(int width, int height, int depth, std::uint16_t value);

// A centred box of value inside a zero border of the given thickness.
SampleVolume makeCentredBox(int width, int height, int depth, int border, std::uint16_t value);

// Writes a DAT file: the header, then the samples (all of them, or only the
// first sampleLimit when that is smaller, to make truncated files). Returns
// false with a reason when the file cannot be written.
bool writeDatFile(const std::string &path, const SampleVolume &volume,
                  std::string *reason = nullptr, std::size_t sampleLimit = SIZE_MAX);
