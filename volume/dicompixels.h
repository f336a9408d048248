#pragma once

#include "dicomscreen.h"
#include "rawscan.h"

#include <array>
#include <cstdint>
#include <string>

// Native DICOM pixel data read by our own code, for the files that GDCM
// reads wrongly or not at all:
// - RT dose: GDCM aborts the process on an assertion for files of one frame
//   (no Number of Frames, or a Grid Frame Offset Vector of one value), and
//   leaves the others in stored units, without the dose grid scaling;
// - 32-bit samples in explicit big-endian files: GDCM exchanges their 16-bit
//   halves;
// - MONOCHROME1 data: GDCM inverts the values, so that readout and window
//   would no longer be in the file's units;
// - implicit data sets holding explicitly encoded elements: GDCM refuses
//   them;
// - rescaling that narrows the samples' type (signed samples rescaled to no
//   negative values): ITK asserts on it.

// Whether the file is one of those.
bool needsOwnPixelReading(const DicomSliceFacts &facts);
// Why GDCM would abort the process on reading the file's image information
// or pixels (an assertion), or empty: such files never reach it.
std::string gdcmAbortReason(const DicomSliceFacts &facts);
// The stored sample type, where readOwnDicomPixels() can read the file.
SampleType storedDicomSampleType(const DicomSliceFacts &facts);

// Why its pixel data cannot be read by readOwnDicomPixels() (encapsulated,
// colour, an odd sample width), or empty.
std::string ownPixelReadingProblem(const DicomSliceFacts &facts);

// The number of frames the file holds.
std::uint64_t dicomFrameCount(const DicomSliceFacts &facts);

// The slope and intercept that turn the file's stored samples into values
// (the dose grid scaling for RT dose).
std::array<double, 2> dicomValueScaling(const DicomSliceFacts &facts);

// Reads count samples (rows x columns x frames) of the file at path into to,
// as stored value x slope + intercept (the dose grid scaling for RT dose).
// Samples the file is short of read as 0. The reason on failure, else empty.
std::string readOwnDicomPixels(const std::string &path, const DicomSliceFacts &facts, float *to,
                               std::uint64_t count);
