#include "inflatedcopy.h"

#include "scanfileaccess.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/statfs.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ostream>
#include <vector>

namespace {

// A copy of gigabytes in a folder held in memory (tmpfs, as /tmp is on many
// systems) would take the very memory the copy is meant to spare: /var/tmp,
// which is on disk by convention, is used instead.
std::string temporaryFolder(const std::string &folder)
{
    if (!folder.empty())
        return folder;
    const char *variable = std::getenv("TMPDIR");
    const std::string place = variable && *variable ? variable : "/tmp";
    constexpr long tmpfsMagic = 0x01021994;
    struct statfs kind = {};
    if (::statfs(place.c_str(), &kind) == 0 && long(kind.f_type) == tmpfsMagic &&
        ::access("/var/tmp", W_OK) == 0)
        return "/var/tmp";
    return place;
}

constexpr char prefix[] = "kelvara-";
constexpr char suffix[] = ".raw";

bool writeAll(int descriptor, const unsigned char *bytes, std::size_t count)
{
    while (count > 0) {
        const ssize_t written = ::write(descriptor, bytes, count);
        if (written < 0 && errno == EINTR)
            continue;
        if (written <= 0)
            return false;
        bytes += written;
        count -= std::size_t(written);
    }
    return true;
}

} // namespace

void removeStaleInflatedCopies(const std::string &folder)
{
    const std::string place = temporaryFolder(folder);
    DIR *directory = ::opendir(place.c_str());
    if (!directory)
        return;
    while (const dirent *entry = ::readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.compare(0, sizeof prefix - 1, prefix) != 0 || name.size() < sizeof suffix ||
            name.compare(name.size() - (sizeof suffix - 1), sizeof suffix - 1, suffix) != 0)
            continue;
        const long pid = std::strtol(name.c_str() + sizeof prefix - 1, nullptr, 10);
        // Another user's process answers EPERM: it runs.
        if (pid > 0 && ::kill(pid_t(pid), 0) != 0 && errno == ESRCH)
            ::unlink((place + "/" + name).c_str());
    }
    ::closedir(directory);
}

InflatedCopy inflateToTemporaryFile(const ScanLayout &layout, std::ostream &out,
                                    const std::string &folder, const std::atomic<bool> *stop)
{
    InflatedCopy copy;
    const std::string place = temporaryFolder(folder);
    removeStaleInflatedCopies(place);
    const std::uint64_t wanted = layout.sampleCount() * sampleSize(layout.type);
    struct statvfs space = {};
    if (::statvfs(place.c_str(), &space) != 0) {
        copy.reason = "The temporary folder " + place + " cannot be used: " + std::strerror(errno);
        return copy;
    }
    const std::uint64_t available = std::uint64_t(space.f_bavail) * space.f_frsize;
    if (available < wanted) {
        copy.reason = "Its samples are compressed and too large for memory; decompressed they "
                      "need " +
                      std::to_string(wanted >> 20) + " MiB, and the temporary folder " + place +
                      " has " + std::to_string(available >> 20) +
                      " MiB free: decompress the file where there is room, or set TMPDIR.";
        return copy;
    }

    InflateStream stream;
    if (!stream.open(layout.dataPath, layout.dataOffset, copy.reason))
        return copy;
    static std::atomic<int> counter{0};
    const std::string path = place + "/" + prefix + std::to_string(::getpid()) + "-" +
                             std::to_string(counter++) + suffix;
    const int descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (descriptor < 0) {
        copy.reason = "The temporary file " + path + " cannot be made: " + std::strerror(errno);
        return copy;
    }
    const auto fail = [&](std::string reason) {
        ::close(descriptor);
        ::unlink(path.c_str());
        copy.reason = std::move(reason);
        return copy;
    };

    stream.read(nullptr, layout.inflatedOffset);
    std::vector<unsigned char> chunk(std::size_t(1) << 22);
    int percentShown = -1;
    while (copy.bytes < wanted) {
        if (stop && stop->load()) {
            out << std::endl;
            return fail("Loading was cancelled.");
        }
        const std::uint64_t asked = std::min<std::uint64_t>(chunk.size(), wanted - copy.bytes);
        const std::uint64_t got = stream.read(chunk.data(), asked);
        if (got > 0 && !writeAll(descriptor, chunk.data(), std::size_t(got)))
            return fail("The temporary file " + path +
                        " cannot be written: " + std::strerror(errno));
        copy.bytes += got;
        const int percent = int(100 * copy.bytes / wanted);
        if (percent != percentShown)
            out << "\r- Decompressing (" << percent << "%) ...";
        percentShown = percent;
        if (got < asked)
            break;
    }
    out << std::endl;
    if (stream.state() == InflateStream::State::Cut)
        return fail("The compressed data ends in the middle of its stream.");
    if (stream.state() == InflateStream::State::Damaged)
        return fail("The compressed data is damaged (" + stream.damage() + ").");
    if (::close(descriptor) != 0) {
        ::unlink(path.c_str());
        copy.reason = "The temporary file " + path + " cannot be written: " + std::strerror(errno);
        return copy;
    }
    copy.layout = layout;
    copy.layout.storage = ScanLayout::Storage::Raw;
    copy.layout.dataPath = path;
    copy.layout.dataOffset = 0;
    copy.layout.inflatedOffset = 0;
    copy.layout.dataFileBytes = copy.bytes;
    copy.ok = true;
    return copy;
}
