#pragma once

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

// This process's memory as the kernel counts it, for the benchmarks' figures.

// A "Vm..." line of /proc/self/status in KiB (key with its colon, e.g.
// "VmHWM:"); -1 where there is none.
inline long statusKilobytes(const char *key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t keyLength = std::strlen(key);
    while (std::getline(status, line))
        if (line.compare(0, keyLength, key) == 0)
            return std::atol(line.c_str() + keyLength);
    return -1;
}

// Resets the kernel's record of the peak resident size, so that VmHWM
// measures what follows alone. False where the kernel does not allow it.
inline bool resetPeakResident()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    return bool(clear);
}
