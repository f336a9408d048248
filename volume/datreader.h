#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <iosfwd>
#include <string>

struct Volume;

// DAT volume files: three little-endian unsigned 16-bit dimensions (width,
// height, depth), then width * height * depth unsigned 16-bit samples, X
// fastest, then Y, then Z. A sample s becomes min(s, 4095) / 4095 as a float.
// Bytes after the last sample are ignored; samples missing at the end of a
// short file read as 0.

// Bytes in a DAT header; the samples follow it.
constexpr std::size_t datHeaderBytes = 6;

// Width, height and depth from the datHeaderBytes bytes of a header.
std::array<std::uint64_t, 3> datDimensions(const unsigned char *header);

struct DatReadOptions
{
    // Largest float array (bytes) that a load may allocate; larger headers are
    // refused with a reason. The fuzzer and tests lower it.
    std::uint64_t maxDataBytes = UINT64_MAX;
};

struct DatReadResult
{
    bool ok = false;
    std::string reason;               // why a load failed, empty when none is given
    std::uint64_t missingSamples = 0; // samples the file was short of (read as 0)
};

// Prints the loading line, opens the file and reads it into target with
// readDatStream(). Failures print "+ Error loading file." (and a reason where
// one is known) on err and leave target untouched.
DatReadResult readDatFile(const std::string &fileName, Volume &target, std::ostream &out,
                          std::ostream &err, const DatReadOptions &options);

// Reads header and samples from an open file positioned at its start. Writes the
// progress lines to out and failures or the truncation warning to err. target is
// replaced only on success.
DatReadResult readDatStream(std::FILE *file, Volume &target, std::ostream &out, std::ostream &err,
                            const DatReadOptions &options);

// readDatFile() on the standard streams with this machine's memory limit
// (loadableDataBytes()): the load path of the application.
DatReadResult loadDatFile(const std::string &fileName, Volume &target);

// One pass of the sample mapping over count little-endian 16-bit samples given as
// raw bytes (2 * count of them, any alignment). values may overlap the bytes as
// long as values + i never lies past the bytes of sample i (in-place widening).
void normaliseSamples(const unsigned char *sampleBytes, float *values, std::size_t count);
