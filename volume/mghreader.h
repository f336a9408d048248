#pragma once

#include "rawscan.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct ScanLayout;

// Our own reader of FreeSurfer's MGH volumes (.mgh) and their gzip form
// (.mgz): a 284-byte big-endian header, then the samples (X fastest). The
// header is checked before anything is allocated: its version, sizes, frame
// count, data type and the memory the samples need (maxDataBytes,
// scanMemoryProblem()).
//
// Geometry: the direction cosines times the voxel sizes, placed so that the
// centre voxel lies at c_ras (as nibabel's MGHHeader affine has it); without
// goodRASflag FreeSurfer's defaults (LIA, 1 mm, centred at 0). Converted from
// RAS to LPS. Of several frames only the first is read, with a note.
//
// A .mgz is inflated once, straight into the scan's buffer. target is
// replaced only on success.
ScanReadResult readMghFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target);

// The same header checks without the memory rule, reading no sample: what
// the file holds and where its samples lie (raw, or in the gzip stream).
// layout is replaced only on success.
ScanReadResult readMghLayout(const std::string &path, ScanLayout &layout);

// Whether the first bytes of a file (inflated where it is compressed) look
// like an MGH header: the format has no signature, so version 1 with sizes,
// frame count and data type that the format allows.
bool looksLikeMghHeader(const unsigned char *bytes, std::size_t available);
