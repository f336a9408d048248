#pragma once

#include "scanlayout.h"

#include <atomic>
#include <iosfwd>
#include <string>

// A compressed scan too large for memory is inflated once into a temporary
// file, which is then mapped like an uncompressed one. Its name is removed as
// soon as it is mapped (the map keeps the data until it is closed, and the
// system frees the space then, also when the program ends by a crash); a copy
// left by a crash while inflating is removed by the next call.

struct InflatedCopy
{
    bool ok = false;
    std::string reason;      // why not
    ScanLayout layout;       // of the copy: Raw storage from byte 0
    std::uint64_t bytes = 0; // inflated sample bytes (fewer than asked: short data)
};

// Inflates the samples of layout (Compressed storage) into a new file in
// folder (empty: TMPDIR, else /tmp; /var/tmp instead where that folder is held
// in memory) named kelvara-PID-N.raw, writing
// "- Decompressing (n%) ..." to out. Refuses, leaving no file, when the folder
// lacks the room for them, when the stream is cut or damaged, or when it
// cannot be written. A stream that ends properly but early gives a shorter
// copy: the mapped samples it lacks read as 0.
// stop, when given, ends the copy between chunks once it turns true.
InflatedCopy inflateToTemporaryFile(const ScanLayout &layout, std::ostream &out,
                                    const std::string &folder = std::string(),
                                    const std::atomic<bool> *stop = nullptr);

// Removes the copies in folder (as above) whose process no longer runs.
void removeStaleInflatedCopies(const std::string &folder = std::string());
