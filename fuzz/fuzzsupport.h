#pragma once

// What the fuzz targets share: an output stream that keeps nothing, the
// check that makes libFuzzer keep an input, and writing an input to a file.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <streambuf>
#include <string>

// Formats everything and keeps nothing: a deep volume writes a progress line
// per slice, up to 65535 of them per input.
class DiscardBuffer : public std::streambuf
{
protected:
    int_type overflow(int_type c) override { return traits_type::not_eof(c); }
    std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

// Traps where condition fails, so that libFuzzer keeps the input.
inline void require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

inline void writeFile(const std::string &path, const std::uint8_t *data, std::size_t size)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    require(file != nullptr);
    require(size == 0 || std::fwrite(data, 1, size, file) == size);
    std::fclose(file);
}
