#pragma once

#include "storedscan.h"

#include <cstdint>
#include <string>

// Reads a scan through ITK into target, refusing images with more than one
// component per voxel, with several volumes (4D) or whose values would need
// more than maxDataBytes as floats. The only place that sees ITK: its
// exceptions end here as a reason. target is replaced only on success.
ScanReadResult readScanWithItk(const std::string &path, ScanFormat format,
                               std::uint64_t maxDataBytes, StoredScan &target);
