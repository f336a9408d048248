#include "voxelallocator.h"

#include <sys/mman.h>

#include <cstdlib>
#include <stdexcept>

namespace {

// Below this an allocation gains nothing from huge pages.
constexpr std::size_t mappedThreshold = std::size_t(2) << 20;

} // namespace

void *allocateVoxelBytes(std::size_t bytes)
{
    // Zeroed like the fresh anonymous mappings below, so that every array
    // starts as zeros whatever its size.
    if (bytes < mappedThreshold)
        return std::calloc(bytes ? bytes : 1, 1);
    void *pointer =
        mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (pointer == MAP_FAILED)
        return nullptr;
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the mapping works as usual.
    madvise(pointer, bytes, MADV_HUGEPAGE);
#endif
    return pointer;
}

void releaseVoxelBytes(void *pointer, std::size_t bytes)
{
    if (!pointer)
        return;
    if (bytes < mappedThreshold)
        std::free(pointer);
    else
        munmap(pointer, bytes);
}

bool tryResizeVoxels(VoxelArray &array, std::size_t count)
{
    try {
        array.resize(count);
    } catch (const std::bad_alloc &) {
        return false;
    } catch (const std::length_error &) {
        return false;
    }
    return true;
}
