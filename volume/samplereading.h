#pragma once

#include "rawscan.h"

#include <cstdint>
#include <string>

class InflateStream;

// Reading a scan's samples once, straight into the scan's own buffer. Both
// functions allocate scan.samples for scan.size and scan.type (check the
// memory rule first: scanMemoryProblem()) and set scan.missingSamples where
// the data ends early; the missing samples read as 0, like a short DAT file.

// Uncompressed samples at byte offset of the regular file at path. A file
// ending before offset is refused: the header cannot be right.
ScanReadResult readRawSamples(const std::string &path, std::uint64_t offset, RawScan &scan);

// Compressed samples from stream, which stands at their first byte. A stream
// that is cut off or damaged is refused; one that ends properly but too soon
// gives missing samples.
ScanReadResult inflateSamples(InflateStream &stream, RawScan &scan);
