#pragma once

#include "rawscan.h"

#include <cstddef>
#include <cstdint>
#include <string>

struct ScanLayout;

// Our own reader of MRC2014 and CCP4 maps (.mrc, .map, .ccp4, .mrcs, .rec,
// .st, .ali): a 1024-byte header of 4-byte words in the byte order its machine
// stamp gives, an extended header of nsymbt bytes, then the samples (columns
// fastest). Modes 0 (int8), 1 (int16), 2 (float32), 6 (uint16) and 12
// (float16, widened to float32 here); complex and 4-bit modes are refused.
// Every header field is checked before anything is allocated.
//
// Geometry: voxel size cella / (mx, my, mz) (the sizes where m is 0), the
// origin field where it is not zero, else nxstart, nystart, nzstart voxels.
// Lengths stay in ångström as the file gives them: one unit of our world is
// one Å (said in a note). MRC has no patient frame: the world is the map's
// own x, y, z (scan.patientFrame false), and the axis order mapc, mapr, maps
// becomes the direction matrix, so that any order of the three axes is shown
// in x, y, z order.
//
// target is replaced only on success.
ScanReadResult readMrcFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target);

// The same header checks without the memory rule, reading no sample. Modes
// that are stored as they are read are Raw storage; float16 maps are Other
// (only the reader widens them). layout is replaced only on success.
ScanReadResult readMrcLayout(const std::string &path, ScanLayout &layout);

// Whether the first bytes of a file hold MRC's "MAP" word at byte 208.
bool looksLikeMrcHeader(const unsigned char *bytes, std::size_t available);
