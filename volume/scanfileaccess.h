#pragma once

#include <cstdint>
#include <memory>
#include <string>

// Opening the files of a scan safely: only regular files are read (a FIFO
// would block the load for ever, a device would never end), never opened
// blocking, and every short read is counted rather than hidden.

enum class PathKind
{
    Missing, // does not exist, or cannot be looked at (a link loop, no permission)
    File,    // a regular file (after following links)
    Folder,
    Special // a FIFO, device or socket
};

PathKind pathKind(const std::string &path);

// Why path cannot be read as the file called what ("The file", "The data file
// 'x.raw'"): missing, a folder, a FIFO, a device, a socket. Empty for a
// regular file.
std::string regularFileProblem(const std::string &path, const std::string &what);

// The size of the regular file at path; false (with reason) otherwise.
[[nodiscard]] bool regularFileSize(const std::string &path, std::uint64_t &size,
                                   std::string &reason);

// A whole file mapped read-only: bytes is null for an empty file.
struct MappedFileBytes
{
    const unsigned char *bytes = nullptr;
    std::uint64_t size = 0;
};

// Maps the regular file at path (named as what in the reason) whole,
// read-only and private; never opens it blocking. The reason where it cannot
// be opened or mapped, else empty. unmapFile() gives the map back.
std::string mapRegularFile(const std::string &path, const std::string &what,
                           MappedFileBytes &mapped);
void unmapFile(MappedFileBytes &mapped);

struct FileBytesRead
{
    bool ok = false;
    std::string reason;     // why the file could not be read
    std::uint64_t read = 0; // bytes delivered; fewer than asked where the file ends
};

// Reads up to bytes bytes from byte offset of the regular file at path into
// target. A file that ends early is not an error: read says how far it went.
FileBytesRead readFileBytes(const std::string &path, std::uint64_t offset, unsigned char *target,
                            std::uint64_t bytes);

// Inflates the gzip or zlib stream(s) that start at a byte offset of a regular
// file, one after the other where several follow each other (gzip members).
class InflateStream
{
public:
    enum class State
    {
        Open,    // more may follow
        Ended,   // every stream ended properly at the end of the file
        Cut,     // the file ends inside a stream
        Damaged, // the data is not a valid stream
    };

    InflateStream();
    ~InflateStream();
    InflateStream(const InflateStream &) = delete;
    InflateStream &operator=(const InflateStream &) = delete;

    // False (with reason) when the file is not a regular file or cannot be
    // opened.
    [[nodiscard]] bool open(const std::string &path, std::uint64_t offset, std::string &reason);
    // Inflates up to bytes bytes into target (null: discard them); fewer only
    // where the data ends or is damaged (see state()).
    std::uint64_t read(unsigned char *target, std::uint64_t bytes);
    // Reads on to the end of the data, discarding what it gives, at most limit
    // bytes; returns how many there were.
    std::uint64_t drain(std::uint64_t limit);
    State state() const;
    // The stream's reason for a damaged state, for messages.
    std::string damage() const;

private:
    struct Private;
    std::unique_ptr<Private> d;
};

// Whether bytes (at least two) start a gzip or zlib stream.
bool startsCompressed(const unsigned char *bytes);

// Whether the gzip file at path holds complete streams to its end.
bool gzipStreamIsComplete(const std::string &path);
