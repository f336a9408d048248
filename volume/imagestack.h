#pragma once

#include <string>
#include <vector>

// A volume stored as numbered 2D images, one per slice (microscopy, micro-CT):
// a folder of them, or a printf pattern such as "slice_%04d.png".

// Whether path names a pattern (it holds one %d-style field).
bool isImageStackPattern(const std::string &path);

// Whether the folder holds 2D images (TIFF, PNG, JPEG, BMP) and no DICOM
// file: then it is read as a stack, not as a series.
bool folderHoldsImageStack(const std::string &folder);

struct ImageStackFiles
{
    std::vector<std::string> files; // in slice order
    std::string reason;             // why there are none
    std::vector<std::string> notes;
};

// The slices of a folder (its image files in natural order of the numbers in
// their names, of the suffix most of them have) or of a pattern (numbers from
// 0 or 1 on, up to the first one missing).
ImageStackFiles listImageStack(const std::string &folderOrPattern);
