#include "dicompixels.h"

#include "scanfileaccess.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

namespace {

const char *const rtDoseStorage = "1.2.840.10008.5.1.4.1.1.481.2";

bool nativeSyntax(const std::string &syntax)
{
    return syntax.empty() || syntax == "1.2.840.10008.1.2" || syntax == "1.2.840.10008.1.2.1" ||
           syntax == "1.2.840.10008.1.2.2";
}

// The stored sample at index, sign-extended from its stored bits.
double storedSample(const DicomPixelFacts &pixels, const unsigned char *bytes, std::uint64_t index)
{
    const std::uint32_t width = pixels.bitsAllocated / 8;
    const unsigned char *at = bytes + index * width;
    std::uint64_t raw = 0;
    for (std::uint32_t i = 0; i < width; ++i)
        raw |= std::uint64_t(at[pixels.bigEndian ? width - 1 - i : i]) << (8 * i);
    const std::uint32_t bits = pixels.bitsStored > 0 && pixels.bitsStored <= pixels.bitsAllocated
                                   ? pixels.bitsStored
                                   : pixels.bitsAllocated;
    raw &= bits >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << bits) - 1;
    if (pixels.pixelRepresentation == 1 && (raw >> (bits - 1)) & 1)
        return double(std::int64_t(raw) - (std::int64_t(1) << bits));
    return double(raw);
}

// Either class UID may say so: GDCM goes by the meta group's where it has one,
// and where that names no class it knows, by what the data set holds (an RT
// dose's grid frame offsets or dose scaling).
bool isRtDose(const DicomPixelFacts &pixels)
{
    return pixels.sopClassUid == rtDoseStorage || pixels.mediaStorageSopClassUid == rtDoseStorage ||
           !pixels.frameOffsets.empty() || pixels.doseGridScaling;
}

// A decimal string as GDCM reads it: the number it starts with, after
// blanks; fallback where it starts with none.
double leadingNumber(const std::string &text, double fallback)
{
    const char *start = text.c_str();
    char *end = nullptr;
    const double value = std::strtod(start, &end);
    return end != start && std::isfinite(value) ? value : fallback;
}

// GDCM's ImageIO gives rescaled samples the smallest type that holds their
// range, and ITK asserts where that is smaller than the stored type: signed
// samples rescaled to a range of no negative values (an intercept of 32768
// over 16 signed bits), or into a narrower one. Integer slope and intercept
// only (others give doubles); the stored range from the bits stored.
bool gdcmRescaleNarrows(const DicomPixelFacts &pixels)
{
    const double slope = leadingNumber(pixels.slopeText, 1.0);
    const double intercept = leadingNumber(pixels.interceptText, 0.0);
    if ((slope == 1.0 && intercept == 0.0) || pixels.samplesPerPixel != 1 ||
        slope != std::trunc(slope) || intercept != std::trunc(intercept) ||
        std::fabs(slope) > 1e18 || std::fabs(intercept) > 1e18)
        return false;
    const bool signedSamples = pixels.pixelRepresentation == 1;
    const std::uint32_t bits = pixels.bitsStored > 0 && pixels.bitsStored <= pixels.bitsAllocated
                                   ? pixels.bitsStored
                                   : pixels.bitsAllocated;
    if (bits == 0 || bits > 32)
        return false;
    const double span = std::ldexp(1.0, int(bits));
    double low = signedSamples ? -span / 2 : 0.0, high = signedSamples ? span / 2 - 1 : span - 1;
    low = low * slope + intercept;
    high = high * slope + intercept;
    if (low > high)
        std::swap(low, high);
    // Ranks in GDCM's order of scalar types: 8, 16, 32 bits, unsigned
    // before signed at each width.
    const auto rank = [](std::uint32_t width, bool isSigned) {
        return (width == 8 ? 0 : width == 16 ? 4 : width == 32 ? 6 : 8) + (isSigned ? 1 : 0);
    };
    int fit = 12; // a double
    if (low >= 0)
        fit = high <= 255.0          ? rank(8, false)
              : high <= 65535.0      ? rank(16, false)
              : high <= 4294967295.0 ? rank(32, false)
                                     : fit;
    else
        fit = low >= -128 && high <= 127                     ? rank(8, true)
              : low >= -32768 && high <= 32767               ? rank(16, true)
              : low >= -2147483648.0 && high <= 2147483647.0 ? rank(32, true)
                                                             : fit;
    return fit < rank(pixels.bitsAllocated, signedSamples);
}

} // namespace

std::string gdcmAbortReason(const DicomSliceFacts &facts)
{
    const DicomPixelFacts &pixels = facts.pixels;
    // GDCM takes an RT dose file's slice step from the Number of Frames and
    // the second grid frame offset, asserting that both are there.
    if (isRtDose(pixels) &&
        (!pixels.frames || *pixels.frames < 2 || pixels.frameOffsets.size() < 2))
        return "an RT dose file of one frame whose pixel data cannot be read here";
    // Its inversion of signed compressed MONOCHROME1 samples asserts on 12
    // stored bits of 16.
    if (pixels.photometric == "MONOCHROME1" && pixels.pixelRepresentation == 1 &&
        pixels.bitsAllocated == 16 && pixels.bitsStored == 12 &&
        !ownPixelReadingProblem(facts).empty())
        return "signed 12-bit MONOCHROME1 samples in compressed form, which GDCM cannot decode";
    // It places the frames of an enhanced file by their functional groups,
    // asserting that those give an orientation.
    if (facts.functionalGroups && !facts.groupsOriented)
        return "an enhanced multi-frame file whose functional groups give no orientation";
    if (facts.functionalGroups && facts.frames.size() != dicomFrameCount(facts))
        return "an enhanced multi-frame file with " + std::to_string(facts.frames.size()) +
               " per-frame functional groups for " + std::to_string(dicomFrameCount(facts)) +
               " frames";
    if (gdcmRescaleNarrows(pixels) && !ownPixelReadingProblem(facts).empty())
        return "compressed samples whose rescaled values ITK cannot hold in GDCM's type";
    return {};
}

bool needsOwnPixelReading(const DicomSliceFacts &facts)
{
    const DicomPixelFacts &pixels = facts.pixels;
    const bool bigWords = pixels.bigEndian && pixels.bitsAllocated == 32;
    // GDCM leaves RT dose in stored units, without its scaling to Gy.
    return isRtDose(pixels) || bigWords || pixels.photometric == "MONOCHROME1" ||
           pixels.explicitAmongImplicit || gdcmRescaleNarrows(pixels);
}

SampleType storedDicomSampleType(const DicomSliceFacts &facts)
{
    const bool signedSamples = facts.pixels.pixelRepresentation == 1;
    switch (facts.pixels.bitsAllocated) {
    case 8:
        return signedSamples ? SampleType::Int8 : SampleType::UInt8;
    case 32:
        return signedSamples ? SampleType::Int32 : SampleType::UInt32;
    default:
        return signedSamples ? SampleType::Int16 : SampleType::UInt16;
    }
}

std::string ownPixelReadingProblem(const DicomSliceFacts &facts)
{
    const DicomPixelFacts &pixels = facts.pixels;
    if (!nativeSyntax(pixels.transferSyntax) || pixels.pixelLength == 0)
        return "its pixel data is compressed (transfer syntax " + pixels.transferSyntax + ")";
    if (pixels.samplesPerPixel != 1)
        return "it holds " + std::to_string(pixels.samplesPerPixel) + " samples per pixel";
    if (pixels.bitsAllocated != 8 && pixels.bitsAllocated != 16 && pixels.bitsAllocated != 32)
        return "its samples are " + std::to_string(pixels.bitsAllocated) + " bits wide";
    if (facts.rows == 0 || facts.columns == 0)
        return "it gives no rows or columns";
    return {};
}

std::uint64_t dicomFrameCount(const DicomSliceFacts &facts)
{
    return facts.pixels.frames && *facts.pixels.frames > 0 ? *facts.pixels.frames : 1;
}

std::array<double, 2> dicomValueScaling(const DicomSliceFacts &facts)
{
    const DicomPixelFacts &pixels = facts.pixels;
    // RT dose gives its scaling to Gy in place of a rescale slope.
    const double slope = pixels.slope       ? *pixels.slope
                         : isRtDose(pixels) ? pixels.doseGridScaling.value_or(1.0)
                                            : 1.0;
    return {slope, pixels.intercept.value_or(0.0)};
}

std::string readOwnDicomPixels(const std::string &path, const DicomSliceFacts &facts, float *to,
                               std::uint64_t count)
{
    const std::string problem = ownPixelReadingProblem(facts);
    if (!problem.empty())
        return problem;
    const DicomPixelFacts &pixels = facts.pixels;
    if (std::uint64_t(facts.rows) * facts.columns * dicomFrameCount(facts) != count)
        return "its size differs from the series'";
    const std::uint64_t bytes = count * (pixels.bitsAllocated / 8);
    std::vector<unsigned char> stored(std::size_t(bytes), 0);
    const std::uint64_t wanted = std::min(bytes, pixels.pixelLength);
    const FileBytesRead read = readFileBytes(path, pixels.pixelOffset, stored.data(), wanted);
    if (!read.ok)
        return read.reason;
    const auto [slope, intercept] = dicomValueScaling(facts);
    for (std::uint64_t i = 0; i < count; ++i)
        to[i] = float(storedSample(pixels, stored.data(), i) * slope + intercept);
    return {};
}
