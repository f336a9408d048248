#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

// What the screening of one DICOM file found, and the elements that place it
// in its series, read on the way (from a damaged file as far as it goes, so
// that a broken slice can still be counted against its series).
struct DicomSliceFacts
{
    std::string problem; // empty when the file is sound
    std::string seriesUid;
    std::optional<long long> instanceNumber;
    std::optional<std::array<double, 3>> position; // Image Position (Patient), mm, finite
    // Pixel Spacing (row step, column step) and Image Orientation (Patient)
    // as the file writes them, unchecked: GDCM replaces zero, non-finite and
    // degenerate values without a word, and the user should hear of them.
    std::optional<std::array<double, 2>> pixelSpacing;
    std::optional<std::array<double, 6>> orientation;
    std::uint32_t rows = 0;
    std::uint32_t columns = 0;
};

// Walks every element of the DICOM file at path, nested sequences and items
// included, without allocating anything an element claims. A file is damaged
// when an element does not fit in it, or when native pixel data is shorter
// than rows x columns x samples per pixel x frames samples of the allocated
// bits. GDCM allocates what a length field says before it reads, so a
// foreign file claiming 4 GB is kept from it here.
DicomSliceFacts screenDicomFile(const std::string &path);
