#include "gradienttexels.h"

#include "volume.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace gradienttexels {

std::uint16_t quantized(float value)
{
    // NaN fails both comparisons and is stored as 0.
    const float clamped = value > 0.0f ? (value < 1.0f ? value : 1.0f) : 0.0f;
    return std::uint16_t(std::nearbyint(clamped * 65535.0f));
}

namespace {

std::uint16_t stored(int difference)
{
    return std::uint16_t((difference + 65536) >> 1);
}

} // namespace

void fill(const Volume &volume, int firstSlice, int sliceCount, std::uint16_t *out)
{
    const int width = volume.width;
    const int height = volume.height;
    const int depth = volume.depth;
    const std::size_t sliceSize = std::size_t(width) * std::size_t(height);
    // The slices of the range and one either side, quantised once.
    const int lowSlice = std::max(firstSlice - 1, 0);
    const int highSlice = std::min(firstSlice + sliceCount, depth - 1);
    std::vector<std::uint16_t> q(sliceSize * std::size_t(highSlice - lowSlice + 1));
    const float *values = volume.data.data() + sliceSize * std::size_t(lowSlice);
    std::transform(values, values + q.size(), q.begin(), quantized);

    const auto slice = [&](int z) { return q.data() + sliceSize * std::size_t(z - lowSlice); };
    for (int z = firstSlice; z < firstSlice + sliceCount; ++z) {
        const std::uint16_t *here = slice(z);
        const std::uint16_t *below = slice(std::max(z - 1, 0));
        const std::uint16_t *above = slice(std::min(z + 1, depth - 1));
        for (int y = 0; y < height; ++y) {
            const std::size_t row = std::size_t(y) * std::size_t(width);
            const std::size_t rowBelow = std::size_t(std::max(y - 1, 0)) * std::size_t(width);
            const std::size_t rowAbove =
                std::size_t(std::min(y + 1, height - 1)) * std::size_t(width);
            for (int x = 0; x < width; ++x) {
                const std::size_t left = row + std::size_t(std::max(x - 1, 0));
                const std::size_t right = row + std::size_t(std::min(x + 1, width - 1));
                out[0] = stored(int(here[right]) - int(here[left]));
                out[1] = stored(int(here[rowAbove + x]) - int(here[rowBelow + x]));
                out[2] = stored(int(above[row + x]) - int(below[row + x]));
                out[3] = here[row + x];
                out += channels;
            }
        }
    }
}

} // namespace gradienttexels
