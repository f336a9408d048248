#pragma once

#include "rawscan.h"

#include <cstdint>
#include <string>

struct ScanLayout;

// Our own reader of NIfTI-1 and NIfTI-2 files in either byte order, single
// (.nii, .nii.gz) or as a header and image pair (.hdr and .img, either given),
// and of Analyze 7.5 pairs. The header is checked before anything is
// allocated: its dimensions, data type, data offset and the memory the
// samples need (maxDataBytes, scanMemoryProblem()).
//
// Geometry: spacing from pixdim; the direction from the quaternion (qform)
// where it is coded and finite, else from the sform, else NIfTI's default
// (index axes along the RAS axes); converted from NIfTI's RAS world to LPS.
// Non-finite or singular matrices are passed on as they are, for
// volumeFromRawScan() to replace with a warning. Values are scaled by
// scl_slope and scl_inter where the slope is finite and not 0.
//
// A .nii.gz is inflated once, straight into the scan's buffer. target is
// replaced only on success.
ScanReadResult readNiftiFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target);

// The same header checks as readNiftiFile() without the memory rule, reading
// no sample: what the file holds and where its samples lie. layout is
// replaced only on success.
ScanReadResult readNiftiLayout(const std::string &path, ScanLayout &layout);
