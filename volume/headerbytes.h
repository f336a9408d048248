#pragma once

#include <algorithm>
#include <cstddef>
#include <cstring>

// Reads fields of a binary header (NIfTI, MGH, MRC) in the header's byte
// order, whatever this machine's; the offsets are the caller's to check.
class HeaderBytes
{
public:
    HeaderBytes(const unsigned char *data, bool bigEndianData)
        : bytes(data), bigEndian(bigEndianData)
    {
    }

    template <typename T> T at(std::size_t offset) const
    {
        unsigned char copy[sizeof(T)];
        std::memcpy(copy, bytes + offset, sizeof(T));
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        const bool swap = !bigEndian;
#else
        const bool swap = bigEndian;
#endif
        if (swap)
            std::reverse(copy, copy + sizeof(T));
        T value;
        std::memcpy(&value, copy, sizeof(T));
        return value;
    }

private:
    const unsigned char *bytes;
    bool bigEndian;
};
