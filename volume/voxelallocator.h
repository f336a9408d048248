#pragma once

#include <cstddef>
#include <new>
#include <vector>

// Allocates large voxel arrays as anonymous mappings marked for transparent
// huge pages. A volume is written once, front to back, right after it is
// allocated: with 4 KiB pages that first touch costs one page fault per 4 KiB
// and dominates a load (several times the cost of reading the file from the
// page cache, more so in virtual machines); 2 MiB pages cut the faults 512-fold.
// Small arrays come from the ordinary heap. The bytes start as zeros; null
// when the memory cannot be had.
void *allocateVoxelBytes(std::size_t bytes);
void releaseVoxelBytes(void *pointer, std::size_t bytes);

template <typename T> struct VoxelAllocator
{
    using value_type = T;

    VoxelAllocator() = default;
    template <typename U> VoxelAllocator(const VoxelAllocator<U> &) {}

    T *allocate(std::size_t n)
    {
        if (n > std::size_t(-1) / sizeof(T))
            throw std::bad_array_new_length();
        void *pointer = allocateVoxelBytes(n * sizeof(T));
        if (!pointer)
            throw std::bad_alloc();
        return static_cast<T *>(pointer);
    }
    void deallocate(T *pointer, std::size_t n) { releaseVoxelBytes(pointer, n * sizeof(T)); }

    template <typename U> bool operator==(const VoxelAllocator<U> &) const { return true; }
    template <typename U> bool operator!=(const VoxelAllocator<U> &) const { return false; }
};

// The voxel values of a volume: a growable array of floats.
using VoxelArray = std::vector<float, VoxelAllocator<float>>;

// Resizes array to count values, new ones 0. Returns false, leaving array as
// it was, when the memory cannot be had: large volumes must fail a load, not
// end the program.
[[nodiscard]] bool tryResizeVoxels(VoxelArray &array, std::size_t count);
