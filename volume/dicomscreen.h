#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// What the screening of one DICOM file found, and the elements that place it
// in its series, read on the way (from a damaged file as far as it goes, so
// that a broken slice can still be counted against its series).
// How a file's samples are stored, as far as its elements say: enough to
// read native (uncompressed) pixel data without GDCM.
struct DicomPixelFacts
{
    std::string sopClassUid;
    std::string mediaStorageSopClassUid; // the meta group's, which GDCM goes by
    std::string transferSyntax;          // empty: none given (implicit little-endian)
    std::string photometric;
    std::uint32_t samplesPerPixel = 1;
    std::uint32_t bitsAllocated = 0;
    std::uint32_t bitsStored = 0;
    std::uint32_t pixelRepresentation = 0; // 1: two's complement
    std::optional<std::uint64_t> frames;   // Number of Frames, where given
    std::vector<double> frameOffsets;      // Grid Frame Offset Vector (RT dose), mm
    // Frame Increment Pointer, where it names one element (a cine's Frame
    // Time, RT dose's offsets), and Frame Time (ms).
    std::optional<std::uint32_t> frameIncrement;
    std::optional<double> frameTime;
    std::optional<double> slope;     // Rescale Slope
    std::optional<double> intercept; // Rescale Intercept
    // Their text as written, which GDCM reads more leniently (the number a
    // value starts with).
    std::string slopeText, interceptText;
    std::optional<double> doseGridScaling; // RT dose's scaling to Gy
    bool bigEndian = false;                // the data set's byte order
    // An implicit data set that holds explicitly encoded elements, which GDCM
    // refuses ("Cannot read requested file").
    bool explicitAmongImplicit = false;
    // Native pixel data: where it starts and how long it is (0: none, or
    // encapsulated); in a deflated file, where it starts in the inflated data
    // set.
    std::uint64_t pixelOffset = 0;
    std::uint64_t pixelLength = 0;
};

// What the per-frame functional groups of an enhanced multi-frame file say
// of one of its frames.
struct DicomFrameFacts
{
    std::optional<long long> temporalIndex;        // Temporal Position Index
    std::optional<std::array<double, 3>> position; // Image Position (Patient), mm, finite
    std::optional<double> triggerDelay;            // Nominal Cardiac Trigger Delay Time, ms
};

struct DicomSliceFacts
{
    std::string problem; // empty when the file is sound
    std::string seriesUid;
    std::optional<long long> instanceNumber;
    // Temporal Position Identifier: which volume of a series over time.
    std::optional<long long> temporalPosition;
    // Trigger Time, ms: when in the cycle or the dynamic run the slice was taken.
    std::optional<double> triggerTime;
    std::optional<std::array<double, 3>> position; // Image Position (Patient), mm, finite
    // Pixel Spacing (row step, column step) and Image Orientation (Patient)
    // as the file writes them, unchecked: GDCM replaces zero, non-finite and
    // degenerate values without a word, and the user should hear of them. An
    // enhanced multi-frame file gives them in its functional groups.
    std::optional<std::array<double, 2>> pixelSpacing;
    std::optional<std::array<double, 6>> orientation;
    DicomPixelFacts pixels;
    // One per item of the Per-frame Functional Groups Sequence, in order.
    std::vector<DicomFrameFacts> frames;
    // Whether the file has functional groups (shared or per frame), and
    // whether the Plane Orientation Sequence of the shared ones, else of the
    // first frame's, gives six numbers.
    bool functionalGroups = false;
    bool groupsOriented = false;
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
};

// Walks every element of the DICOM file at path, nested sequences and items
// included, without allocating anything an element claims. A file is damaged
// when an element does not fit in it, or when native pixel data is shorter
// than rows x columns x samples per pixel x frames samples of the allocated
// bits. An element whose value representation is not two letters naming one
// is read as implicit in an explicit data set, and one that names one as
// explicit in an implicit data set where only that reading fits or lands on a
// later tag, as old writers mixed the two. GDCM allocates what a length field says before it reads,
// so a foreign file claiming 4 GB is kept from it here. The data set of a deflated file is inflated
// into memory first, at most 16 times the file's size (and no more than the memory rule allows),
// and walked there.
DicomSliceFacts screenDicomFile(const std::string &path);
