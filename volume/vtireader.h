#pragma once

#include "rawscan.h"

#include <cstdint>
#include <string>

struct ScanLayout;

// Our own reader of VTK's XML image data (.vti): a VTKFile of type ImageData
// with one Piece, its scalars a DataArray of point data (or of cell data: one
// voxel per cell, centred in it) stored as ascii text, inline base64, or
// appended raw or base64 bytes, each binary form plain or in zlib blocks.
// The markup is scanned by a small tolerant reader of this one document
// shape; everything it names (extent, type, components, offsets, size and
// block headers, the memory the samples need) is checked before the samples
// are allocated.
//
// Geometry: Origin, Spacing and the Direction matrix (its columns the index
// axes' directions) as VTK places them, in VTK's own x, y, z: the scan has no
// patient frame. Voxel (0, 0, 0) is the first of the Piece's extent.
//
// target is replaced only on success.
ScanReadResult readVtiFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target);

// The same checks without the memory rule, reading no sample. Appended raw
// samples without compression lie in the file as they are (Raw storage);
// every other encoding only the reader can decode (Other). layout is
// replaced only on success.
ScanReadResult readVtiLayout(const std::string &path, ScanLayout &layout);
