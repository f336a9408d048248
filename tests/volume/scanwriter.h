#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <vector>

// A small scan as a test writes it: values in stored index order (X fastest),
// the direction matrix in LPS (row-major, column i along index i).
struct TestScan
{
    std::array<std::size_t, 3> size{};
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}};
    std::array<double, 9> direction{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
    std::array<double, 3> origin{{0.0, 0.0, 0.0}}; // voxel 0's centre, LPS mm
    std::vector<float> values;
};

// Writes the scan as 16-bit integers with ITK's writer for the file name's
// format (.nii, .nii.gz, .nrrd, .mha, ...), its samples compressed where
// compress is set and the format can. False when ITK fails.
bool writeScanWithItk(const std::string &path, const TestScan &scan, bool compress = false);

// Where the slices of a written DICOM series say they lie.
enum class SlicePlacement
{
    Apart,               // each at its position, instance numbers 1, 2, ...
    OnePosition,         // all at the first slice's position, instance numbers 1, 2, ...
    OnePositionOneNumber // all at the first slice's position, all instance number 1
};

// Writes the scan as a DICOM series, one file per Z slice, into folder (which
// must exist), all of series seriesUid; slice z is named slice<depth - z>.dcm.
// False when ITK fails.
bool writeDicomSeriesWithItk(const std::string &folder, const TestScan &scan,
                             const std::string &seriesUid,
                             SlicePlacement placement = SlicePlacement::Apart);
