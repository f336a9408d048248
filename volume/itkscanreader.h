#pragma once

#include "rawscan.h"

#include <cstdint>
#include <string>

struct ScanLayout;

// Reads an NRRD or MetaImage file, or a DICOM series, into target, refusing
// images with more than one component per voxel, with several volumes (4D) or
// whose samples would break the memory rule (scanMemoryProblem()).
//
// NRRD and MetaImage headers are checked by our own code first
// (textheader.h); ITK's ImageIO then reads the geometry from the header, and
// raw or compressed samples are read by our code straight into the scan,
// other encodings by the ImageIO into the same buffer. A DICOM folder is
// listed by our code: only regular files that pass dicomFileProblem() reach
// GDCM, the rest are counted in a note.
//
// The only place that sees ITK: its exceptions end here as a reason. target
// is replaced only on success.
ScanReadResult readScanWithItk(const std::string &path, ScanFormat format,
                               std::uint64_t maxDataBytes, RawScan &target);

// The same header checks as readScanWithItk() without the memory rule, reading
// no sample: size, type, geometry and where the samples lie (scanlayout.h).
// layout is replaced only on success.
ScanReadResult readScanLayoutWithItk(const std::string &path, ScanFormat format,
                                     ScanLayout &layout);
