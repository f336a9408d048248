#pragma once

#include "orientation.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The file formats read through the scan reader (everything but DAT).
enum class ScanFormat
{
    Nifti,      // .nii, .nii.gz, .hdr/.img
    Nrrd,       // .nrrd, .nhdr
    MetaImage,  // .mha, .mhd
    DicomSeries // a folder of DICOM files, or one file of the series
};

// An image as its file stores it: values in the file's units, in stored index
// order, with the geometry the header gives.
struct StoredScan
{
    std::array<std::size_t, 3> size{};
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}};
    DirectionMatrix direction{{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0}};
    // size[0] * size[1] * size[2] values, X fastest.
    std::unique_ptr<float[]> values;
    // What the reader noticed on the way, for the user.
    std::vector<std::string> notes;
};

struct ScanReadResult
{
    bool ok = false;
    std::string reason; // why the file was refused
};
