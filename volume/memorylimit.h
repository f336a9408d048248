#pragma once

#include <cstdint>

// The largest float sample array (in bytes) that a load may allocate on this
// machine: half of the physical memory or of the address space the process
// may use, whichever is less, so that a hostile or mistaken header is
// refused with a message instead of ending in an out-of-memory kill.
std::uint64_t loadableDataBytes();
