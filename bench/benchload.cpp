#include "benchcommands.h"
#include "processmemory.h"
#include "timing.h"

#include "volumefile.h"
#include "sliceimage.h"
#include "volume.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>

namespace {

// A stream that swallows the loader's progress text.
class NullBuffer : public std::streambuf
{
protected:
    int overflow(int c) override { return c; }
    std::streamsize xsputn(const char *, std::streamsize n) override { return n; }
};

// Reads the file with plain read() calls into buffer, or into a fresh heap
// buffer (which pays the first touch of its pages, as any new array does) when
// buffer is null.
bool readWholeFile(const std::string &path, std::uint64_t size, char *target = nullptr)
{
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0)
        return false;
    std::unique_ptr<char[]> fresh(target ? nullptr : new char[size]);
    char *buffer = target ? target : fresh.get();
    std::uint64_t done = 0;
    while (done < size) {
        const ssize_t n = ::read(fd, buffer + done, size - done);
        if (n <= 0)
            break;
        done += std::uint64_t(n);
    }
    ::close(fd);
    return done == size;
}

} // namespace

bool takeFlag(std::vector<std::string> &arguments, const std::string &flag)
{
    for (auto it = arguments.begin(); it != arguments.end(); ++it)
        if (*it == flag) {
            arguments.erase(it);
            return true;
        }
    return false;
}

std::string takeOption(std::vector<std::string> &arguments, const std::string &option,
                       const std::string &fallback)
{
    for (std::size_t i = 0; i + 1 < arguments.size(); ++i)
        if (arguments[i] == option) {
            const std::string value = arguments[i + 1];
            arguments.erase(arguments.begin() + long(i), arguments.begin() + long(i) + 2);
            return value;
        }
    return fallback;
}

int benchLoad(const std::vector<std::string> &argumentList)
{
    std::vector<std::string> arguments = argumentList;
    const bool quick = takeFlag(arguments, "--quick");
    if (arguments.size() != 1) {
        std::cerr << "usage: kelvara-bench load FILE [--quick]" << std::endl;
        return 2;
    }
    const std::string path = arguments[0];
    struct stat info;
    if (::stat(path.c_str(), &info) != 0 || !readWholeFile(path, std::uint64_t(info.st_size))) {
        std::cerr << "kelvara-bench: cannot read " << path << std::endl;
        return 1;
    }
    const std::uint64_t fileBytes = std::uint64_t(info.st_size);
    NullBuffer nullBuffer;
    std::ostream nullStream(&nullBuffer);

    // Peak memory first, in a fresh state: the load's own extra beyond the
    // float array it produces.
    long extraKilobytes = -1;
    std::uint64_t samples = 0;
    {
        const bool peakReset = resetPeakResident();
        const long before = statusKilobytes("VmRSS:");
        Volume volume;
        const VolumeReadResult result =
            readVolumeFile(path, volume, nullStream, nullStream, VolumeReadOptions());
        if (!result.ok) {
            std::cerr << "kelvara-bench: cannot load " << path << std::endl;
            return 1;
        }
        samples = volume.data.size();
        const long peak = statusKilobytes("VmHWM:");
        if (peakReset && before >= 0 && peak >= 0)
            extraKilobytes = peak - before - long(samples * sizeof(float) / 1024);
    }

    const int repetitions = quick ? 5 : 15;
    Timings load, read, warmRead, copy;
    load.measure(repetitions, [&] {
        Volume volume;
        readVolumeFile(path, volume, nullStream, nullStream, VolumeReadOptions());
    });
    read.measure(repetitions, [&] { readWholeFile(path, fileBytes); });
    {
        std::unique_ptr<char[]> target(new char[fileBytes]);
        std::memset(target.get(), 0, fileBytes);
        warmRead.measure(repetitions, [&] { readWholeFile(path, fileBytes, target.get()); });
    }
    {
        const std::size_t bytes = samples * sizeof(float);
        std::unique_ptr<char[]> source(new char[bytes]), target(new char[bytes]);
        std::memset(source.get(), 1, bytes);
        std::memset(target.get(), 0, bytes);
        copy.measure(repetitions, [&] { std::memcpy(target.get(), source.get(), bytes); });
    }

    const double gigabytes = double(fileBytes) / 1e9;
    std::printf(
        "load file=%s samples=%llu %s gbps=%.3f read_median_ms=%.3f read_gbps=%.3f "
        "ratio_to_read=%.3f warm_read_median_ms=%.3f ratio_to_warm_read=%.3f "
        "memcpy_median_ms=%.3f ratio_to_memcpy=%.3f peak_extra_mb=%.1f u16_buffer_mb=%.1f\n",
        path.c_str(), static_cast<unsigned long long>(samples), load.summary().c_str(),
        gigabytes / (load.median() / 1000.0), read.median(), gigabytes / (read.median() / 1000.0),
        load.median() / read.median(), warmRead.median(), load.median() / warmRead.median(),
        copy.median(), load.median() / copy.median(),
        extraKilobytes < 0 ? -1.0 : double(extraKilobytes) / 1024.0,
        double(samples * 2) / (1024.0 * 1024.0));
    return 0;
}

int benchSlice(const std::vector<std::string> &argumentList)
{
    std::vector<std::string> arguments = argumentList;
    const bool quick = takeFlag(arguments, "--quick");
    const std::string cube = takeOption(arguments, "--cube", "");
    Volume volume;
    std::string name;
    if (!cube.empty()) {
        const int n = std::atoi(cube.c_str());
        if (n < 1 || n > 1024) {
            std::cerr << "kelvara-bench: --cube needs 1..1024" << std::endl;
            return 2;
        }
        volume.width = volume.height = volume.depth = n;
        volume.data.resize(std::size_t(n) * n * n);
        for (std::size_t i = 0; i < volume.data.size(); ++i)
            volume.data[i] = float(i % 4096) / 4095.0f;
        name = "cube" + cube;
    } else if (arguments.size() == 1) {
        NullBuffer nullBuffer;
        std::ostream nullStream(&nullBuffer);
        if (!readVolumeFile(arguments[0], volume, nullStream, nullStream, VolumeReadOptions()).ok) {
            std::cerr << "kelvara-bench: cannot load " << arguments[0] << std::endl;
            return 1;
        }
        name = arguments[0];
    } else {
        std::cerr << "usage: kelvara-bench slice FILE|--cube N [--quick]" << std::endl;
        return 2;
    }

    const int repetitions = quick ? 20 : 100;
    const char *axes[] = {"x", "y", "z"};
    for (int axis = 0; axis < 3; ++axis) {
        const int slice = sliceCount(volume, axis) / 2;
        const QSize size = sliceImageSize(volume, axis);
        Timings timings;
        std::size_t checksum = 0;
        timings.measure(repetitions, [&] {
            const QImage image = makeSliceImage(volume, axis, slice);
            checksum += std::size_t(image.pixel(0, 0));
        });
        std::printf("slice volume=%s axis=%s image=%dx%d %s checksum=%zu\n", name.c_str(),
                    axes[axis], size.width(), size.height(), timings.summary().c_str(), checksum);
    }
    return 0;
}
