#pragma once

#include <string>

// Walks every element of the DICOM file at path, nested sequences and items
// included, without allocating anything an element claims: the empty string
// when every element fits in the file, else why not. GDCM allocates what a
// length field says before it reads, so a foreign file claiming 4 GB is kept
// from it here.
std::string dicomFileProblem(const std::string &path);
