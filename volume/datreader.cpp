#include "datreader.h"

#include "loadreport.h"
#include "memorylimit.h"
#include "volume.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <ostream>
#include <vector>

namespace {

constexpr int maxSample = 4095;
constexpr std::size_t blockSamples = 4096;

DatReadResult failure(std::ostream &err, std::string reason)
{
    reportLoadError(err, reason);
    DatReadResult result;
    result.reason = std::move(reason);
    return result;
}

std::string dimensionsText(std::uint64_t w, std::uint64_t h, std::uint64_t d)
{
    return std::to_string(w) + " x " + std::to_string(h) + " x " + std::to_string(d);
}

} // namespace

void normaliseSamples(const unsigned char *sampleBytes, float *values, std::size_t count)
{
    // Copy each block out first: the widening may run in place, where the floats
    // written for a block overwrite the bytes of that same block.
    std::uint16_t block[blockSamples];
    for (std::size_t start = 0; start < count; start += blockSamples) {
        const std::size_t n = std::min(blockSamples, count - start);
        std::memcpy(block, sampleBytes + 2 * start, 2 * n);
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
        for (std::size_t i = 0; i < n; ++i)
            block[i] = std::uint16_t((block[i] >> 8) | (block[i] << 8));
#endif
        // s / 4095 rounded to float, computed as a double product: for every s in
        // 0..4095 this rounds to exactly the quotient, and unlike a division it
        // vectorises well.
        constexpr double scale = 1.0 / 4095.0;
        float *target = values + start;
        for (std::size_t i = 0; i < n; ++i) {
            const int sample = std::min(int(block[i]), maxSample);
            target[i] = float(double(sample) * scale);
        }
    }
}

std::array<std::uint64_t, 3> datDimensions(const unsigned char *header)
{
    return {{std::uint64_t(header[0] | (header[1] << 8)),
             std::uint64_t(header[2] | (header[3] << 8)),
             std::uint64_t(header[4] | (header[5] << 8))}};
}

DatReadResult readDatFile(const std::string &fileName, Volume &target, std::ostream &out,
                          std::ostream &err, const DatReadOptions &options)
{
    out << "- Loading file '" << fileName << "' ... " << std::endl;
    std::FILE *file = std::fopen(fileName.c_str(), "rb");
    if (!file)
        return failure(err, std::string());
    DatReadResult result = readDatStream(file, target, out, err, options);
    std::fclose(file);
    return result;
}

DatReadResult loadDatFile(const std::string &fileName, Volume &target)
{
    DatReadOptions options;
    options.maxDataBytes = loadableDataBytes();
    return readDatFile(fileName, target, std::cout, std::cerr, options);
}

DatReadResult readDatStream(std::FILE *file, Volume &target, std::ostream &out, std::ostream &err,
                            const DatReadOptions &options)
{
    unsigned char header[6];
    // A short header (also what a directory or unreadable file gives) leaves
    // the dimensions unknown: treat it like a file that cannot be opened.
    if (std::fread(header, 1, sizeof header, file) != sizeof header)
        return failure(err, std::string());

    const std::array<std::uint64_t, 3> size = datDimensions(header);
    const std::uint64_t width = size[0], height = size[1], depth = size[2];
    const std::uint64_t count = width * height * depth;
    if (count > UINT32_MAX)
        return failure(err, "The header announces " + dimensionsText(width, height, depth) +
                                " samples, more than a 32-bit count can hold.");
    const std::uint64_t dataBytes = count * sizeof(float);
    if (dataBytes > options.maxDataBytes)
        return failure(err, "The header announces " + dimensionsText(width, height, depth) +
                                " samples (" + std::to_string(dataBytes >> 20) +
                                " MiB as floats), more than can be held in memory here (" +
                                std::to_string(options.maxDataBytes >> 20) + " MiB).");

    // The raw samples are read into the upper half of the float array and
    // widened in place, so a load needs no second buffer. The array starts
    // zeroed, which also gives samples missing from a short file the value 0.
    VoxelArray values;
    if (!tryResizeVoxels(values, std::size_t(count)))
        return failure(err, "There is not enough memory for the " +
                                dimensionsText(width, height, depth) + " samples (" +
                                std::to_string(dataBytes >> 20) + " MiB as floats).");
    unsigned char *bytes = reinterpret_cast<unsigned char *>(values.data());
    unsigned char *sampleBytes = bytes + 2 * count;
    const std::size_t samplesRead = count ? std::fread(sampleBytes, 2, count, file) : 0;
    // fread may have stored the first byte of an incomplete last sample: that
    // sample is missing, so it must read as 0 like the others.
    if (samplesRead < count)
        std::memset(sampleBytes + 2 * samplesRead, 0, 2);
    out << "- File loaded." << std::endl;

    const std::size_t sliceSamples = std::size_t(width * height);
    for (std::uint64_t z = 0; z < depth; ++z) {
        const std::size_t first = std::size_t(z) * sliceSamples;
        normaliseSamples(sampleBytes + 2 * first, values.data() + first, sliceSamples);
        // A single slice has no percentage of its own: it is the whole data set.
        const std::uint64_t percent = depth > 1 ? 100 * z / (depth - 1) : 100;
        out << "\r- Preparing data (" << percent << "%) ...";
    }
    out << std::endl;
    out << "- Data prepared." << std::endl;

    DatReadResult result;
    result.ok = true;
    result.missingSamples = count - samplesRead;
    if (result.missingSamples > 0)
        err << "+ Warning: the file ends after " << samplesRead << " of " << count
            << " samples; the missing " << result.missingSamples << " samples read as 0."
            << std::endl;

    target.width = int(width);
    target.height = int(height);
    target.depth = int(depth);
    target.data.swap(values);
    target.spacing = {{1.0, 1.0, 1.0}};
    target.valueRange = Volume::ValueRange();
    target.patientFrame = false;
    target.sampleStep = 1.0;
    target.sampleOffset = 0.0;
    // DAT files have no frame: voxel (0, 0, 0) at the origin, 1 mm voxels.
    const Volume unplaced;
    target.worldOrigin = unplaced.worldOrigin;
    target.worldDirection = unplaced.worldDirection;
    target.fileAxes = unplaced.fileAxes;
    target.invertedGrey = false;
    target.series.reset();
    target.frame = 0;
    target.colours.reset();
    return result;
}
