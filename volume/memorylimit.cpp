#include "memorylimit.h"

#include <unistd.h>

std::uint64_t loadableDataBytes()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return std::uint64_t(1) << 31; // unknown machine: stay modest (2 GiB)
    return std::uint64_t(pages) * std::uint64_t(pageSize) / 2;
}
