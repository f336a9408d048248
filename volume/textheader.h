#pragma once

#include "rawscan.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Our own reading of the text headers of NRRD and MetaImage files, before ITK
// sees them: what ITK's parsers would hang on, truncate or allocate for
// (NDims = -1, sizes beyond 32 bits, 100,000 key/value lines) is refused with
// a reason here, and the header's word on where and how the samples are
// stored is what the samples are read by.

enum class SampleEncoding
{
    Raw,        // plain samples
    Compressed, // a gzip or zlib stream of the samples
    Other       // text, hex, bzip2, ...: left to ITK's reader
};

struct TextHeaderLayout
{
    // Every axis as the header gives it (NRRD: a component axis included);
    // each 1..65535.
    std::vector<std::uint64_t> sizes;
    SampleType type = SampleType::UInt8;
    bool bigEndian = false;
    SampleEncoding encoding = SampleEncoding::Raw;
    std::string dataPath;         // the file holding the samples (the header's own when attached)
    std::uint64_t dataOffset = 0; // where the samples (or their stream) start in it
    bool dataAtEnd = false; // raw samples end the data file (NRRD byte skip -1, HeaderSize -1)
    std::uint64_t skipAfterInflating = 0; // NRRD byte skip of compressed data
    // MetaImage: whether a direction matrix is given (TransformMatrix,
    // Rotation or Orientation), and the AnatomicalOrientation letters.
    bool directionGiven = false;
    std::string anatomicalOrientation;
    // NRRD: the spacings as written, one per axis ("nan" read as NaN): ITK
    // makes a NaN spacing 1 without a word.
    std::vector<double> spacings;
    // MetaImage: values per voxel (ElementNumberOfChannels; colour: 3 or 4).
    std::uint64_t channels = 1;
    // NRRD: the kinds of the axes as written ("domain", "RGB-color", ...).
    std::vector<std::string> kinds;
    // NRRD: the placement in a 3D patient space, where the header gives one
    // (space, space directions, space origin), in LPS: a direction column
    // per axis, empty for "none" (an axis of time or values).
    bool spacePlaced = false;
    std::vector<std::optional<std::array<double, 3>>> spaceDirections;
    std::array<double, 3> spaceOrigin{{0.0, 0.0, 0.0}};

    std::uint64_t sampleCount() const;
};

// The direction (LPS columns) that MetaImage's AnatomicalOrientation letters
// describe: each letter names where its axis comes from ("RAI" is the
// identity). None for anything but three letters of three different axes.
std::optional<DirectionMatrix> anatomicalDirection(const std::string &letters);

ScanReadResult scanNrrdHeader(const std::string &path, TextHeaderLayout &layout);
ScanReadResult scanMetaImageHeader(const std::string &path, TextHeaderLayout &layout);
