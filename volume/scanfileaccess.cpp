#include "scanfileaccess.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>
#include <vector>

namespace {

// Opens path for reading without ever blocking (a FIFO swapped in after a
// check would block a plain open), and keeps it only when it is a regular
// file. Returns -1 with reason otherwise.
int openRegularFile(const std::string &path, std::string &reason)
{
    reason = regularFileProblem(path, "The file '" + path + "'");
    if (!reason.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        reason = "The file '" + path + "' cannot be opened (" + std::strerror(errno) + ").";
        return -1;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        reason = "The file '" + path + "' is not a regular file.";
        return -1;
    }
    return fd;
}

} // namespace

PathKind pathKind(const std::string &path)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return PathKind::Missing;
    if (S_ISREG(info.st_mode))
        return PathKind::File;
    if (S_ISDIR(info.st_mode))
        return PathKind::Folder;
    return PathKind::Special;
}

std::string regularFileProblem(const std::string &path, const std::string &what)
{
    struct stat info;
    if (::stat(path.c_str(), &info) != 0) {
        if (errno == ENOENT)
            return what + " does not exist.";
        return what + " cannot be looked at (" + std::strerror(errno) + ").";
    }
    if (S_ISREG(info.st_mode))
        return {};
    if (S_ISDIR(info.st_mode))
        return what + " is a folder, not a file.";
    if (S_ISFIFO(info.st_mode))
        return what + " is a named pipe (FIFO), not a regular file.";
    if (S_ISCHR(info.st_mode) || S_ISBLK(info.st_mode))
        return what + " is a device, not a regular file.";
    if (S_ISSOCK(info.st_mode))
        return what + " is a socket, not a regular file.";
    return what + " is not a regular file.";
}

std::string mapRegularFile(const std::string &path, const std::string &what,
                           MappedFileBytes &mapped)
{
    mapped = MappedFileBytes();
    const std::string problem = regularFileProblem(path, what);
    if (!problem.empty())
        return problem;
    // The path may have turned into a FIFO since it was looked at.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return what + " cannot be opened: " + std::strerror(errno) + ".";
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        return what + " is not a regular file.";
    }
    const std::uint64_t size = std::uint64_t(info.st_size);
    if (size > 0) {
        void *map = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
        if (map == MAP_FAILED) {
            const std::string error = std::strerror(errno);
            ::close(fd);
            return what + " cannot be mapped: " + error + ".";
        }
        mapped.bytes = static_cast<const unsigned char *>(map);
    }
    ::close(fd); // the map keeps the file
    mapped.size = size;
    return {};
}

void unmapFile(MappedFileBytes &mapped)
{
    if (mapped.bytes)
        ::munmap(const_cast<unsigned char *>(mapped.bytes), std::size_t(mapped.size));
    mapped = MappedFileBytes();
}

bool regularFileSize(const std::string &path, std::uint64_t &size, std::string &reason)
{
    reason = regularFileProblem(path, "The file '" + path + "'");
    if (!reason.empty())
        return false;
    struct stat info;
    if (::stat(path.c_str(), &info) != 0)
        return false;
    size = std::uint64_t(info.st_size);
    return true;
}

FileBytesRead readFileBytes(const std::string &path, std::uint64_t offset, unsigned char *target,
                            std::uint64_t bytes)
{
    FileBytesRead result;
    const int fd = openRegularFile(path, result.reason);
    if (fd < 0)
        return result;
    while (result.read < bytes) {
        // Bounded pieces: read() moves at most about 2 GiB at once anyway.
        const std::size_t piece =
            std::size_t(std::min<std::uint64_t>(bytes - result.read, 1 << 30));
        const ssize_t n = ::pread(fd, target + result.read, piece, off_t(offset + result.read));
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.reason = "Reading '" + path + "' failed (" + std::strerror(errno) + ").";
            ::close(fd);
            return result;
        }
        if (n == 0)
            break;
        result.read += std::uint64_t(n);
    }
    ::close(fd);
    result.ok = true;
    return result;
}

struct InflateStream::Private
{
    int fd = -1;
    z_stream stream{};
    bool initialised = false;
    State state = State::Open;
    bool memberEnded = false; // the last stream seen ended; another may follow
    std::string damage;
    std::vector<unsigned char> input = std::vector<unsigned char>(1 << 18);
    bool fileEnded = false;

    ~Private()
    {
        if (initialised)
            inflateEnd(&stream);
        if (fd >= 0)
            ::close(fd);
    }

    bool refill()
    {
        if (fileEnded)
            return false;
        ssize_t n;
        do
            n = ::read(fd, input.data(), input.size());
        while (n < 0 && errno == EINTR);
        if (n <= 0) {
            fileEnded = true;
            return false;
        }
        stream.next_in = input.data();
        stream.avail_in = uInt(n);
        return true;
    }
};

InflateStream::InflateStream() : d(std::make_unique<Private>()) {}

InflateStream::~InflateStream() = default;

bool InflateStream::open(const std::string &path, std::uint64_t offset, std::string &reason)
{
    d = std::make_unique<Private>();
    d->fd = openRegularFile(path, reason);
    if (d->fd < 0)
        return false;
    if (::lseek(d->fd, off_t(offset), SEEK_SET) < 0) {
        reason = "Cannot seek in '" + path + "'.";
        return false;
    }
    // 15 + 32: any window size, gzip or zlib header found by itself.
    if (inflateInit2(&d->stream, 15 + 32) != Z_OK) {
        reason = "The decompressor cannot be started.";
        return false;
    }
    d->initialised = true;
    return true;
}

std::uint64_t InflateStream::read(unsigned char *target, std::uint64_t bytes)
{
    static thread_local unsigned char discard[1 << 16];
    std::uint64_t produced = 0;
    while (produced < bytes && d->state == State::Open) {
        if (d->stream.avail_in == 0 && !d->refill()) {
            // The file has ended: complete only when the last stream did.
            d->state = d->memberEnded ? State::Ended : State::Cut;
            break;
        }
        if (d->memberEnded) {
            // Another member follows the one that ended.
            if (inflateReset(&d->stream) != Z_OK) {
                d->state = State::Damaged;
                break;
            }
            d->memberEnded = false;
        }
        const std::uint64_t want = std::min<std::uint64_t>(
            bytes - produced, target ? std::numeric_limits<uInt>::max() : sizeof discard);
        d->stream.next_out = target ? target + produced : discard;
        d->stream.avail_out = uInt(want);
        const int status = inflate(&d->stream, Z_NO_FLUSH);
        produced += want - d->stream.avail_out;
        if (status == Z_STREAM_END) {
            d->memberEnded = true;
        } else if (status != Z_OK && status != Z_BUF_ERROR) {
            d->state = State::Damaged;
            d->damage = d->stream.msg ? d->stream.msg : "invalid data";
        }
    }
    return produced;
}

std::uint64_t InflateStream::drain(std::uint64_t limit)
{
    return read(nullptr, limit);
}

InflateStream::State InflateStream::state() const
{
    return d->state;
}

std::string InflateStream::damage() const
{
    return d->damage;
}

bool startsCompressed(const unsigned char *bytes)
{
    const bool gzip = bytes[0] == 0x1f && bytes[1] == 0x8b;
    // zlib: deflate with a window of at most 32 KiB, and a header check sum.
    const bool zlib = (bytes[0] & 0x8f) == 0x08 && (bytes[0] * 256 + bytes[1]) % 31 == 0;
    return gzip || zlib;
}

bool gzipStreamIsComplete(const std::string &path)
{
    InflateStream stream;
    std::string reason;
    if (!stream.open(path, 0, reason))
        return false;
    stream.drain(std::numeric_limits<std::uint64_t>::max());
    return stream.state() == InflateStream::State::Ended;
}
