#include "memorylimit.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>

std::uint64_t loadableDataBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    std::uint64_t limit = std::uint64_t(1) << 31; // unknown machine: stay modest (2 GiB)
    if (pages > 0 && pageSize > 0)
        limit = std::uint64_t(pages) * std::uint64_t(pageSize) / 2;
    // A limit on the address space (ulimit -v) binds before physical memory
    // does; the program itself needs part of it.
    rlimit addressSpace{};
    if (getrlimit(RLIMIT_AS, &addressSpace) == 0 && addressSpace.rlim_cur != RLIM_INFINITY)
        limit = std::min(limit, std::uint64_t(addressSpace.rlim_cur) / 2);
    return limit;
}
