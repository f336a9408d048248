#include "orientation.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace {

constexpr double pi = 3.14159265358979323846;
// Directions written as text or in single precision are off by about 1e-6.
constexpr double obliqueTolerance = 1e-4;

double component(const DirectionMatrix &direction, int row, int column)
{
    return direction[std::size_t(3 * row + column)];
}

} // namespace

Reorientation reorientationFromDirection(const DirectionMatrix &direction)
{
    Reorientation result;
    std::array<double, 3> columnLength{};
    for (int column = 0; column < 3; ++column) {
        double sum = 0.0;
        for (int row = 0; row < 3; ++row)
            sum += component(direction, row, column) * component(direction, row, column);
        columnLength[column] = std::sqrt(sum);
        if (!std::isfinite(columnLength[column]) || columnLength[column] < 1e-12)
            return result;
    }

    // permutation[j] is the stored axis that LPS axis j takes; the best one
    // has the largest product of |cosines|, so no axis is sacrificed for the
    // others.
    std::array<int, 3> permutation{{0, 1, 2}};
    double bestScore = -1.0;
    do {
        double score = 1.0;
        for (int axis = 0; axis < 3; ++axis)
            score *= std::fabs(component(direction, axis, permutation[axis])) /
                     columnLength[permutation[axis]];
        if (score > bestScore) {
            bestScore = score;
            result.sourceAxis = permutation;
        }
    } while (std::next_permutation(permutation.begin(), permutation.end()));

    double smallestCosine = 1.0;
    for (int axis = 0; axis < 3; ++axis) {
        const int stored = result.sourceAxis[axis];
        const double cosine = component(direction, axis, stored) / columnLength[stored];
        result.flipped[axis] = cosine < 0.0;
        smallestCosine = std::min(smallestCosine, std::fabs(cosine));
    }
    result.oblique = smallestCosine < 1.0 - obliqueTolerance;
    result.obliqueDegrees = std::acos(std::min(smallestCosine, 1.0)) * 180.0 / pi;
    return result;
}

void reorientValues(const float *source, const std::array<std::size_t, 3> &storedSize,
                    const Reorientation &reorientation, float *target)
{
    const std::array<std::int64_t, 3> storedStride = {1, std::int64_t(storedSize[0]),
                                                      std::int64_t(storedSize[0] * storedSize[1])};
    const std::array<std::size_t, 3> size = reorientedAxes(storedSize, reorientation);
    if (size[0] == 0 || size[1] == 0 || size[2] == 0)
        return;

    // Walking the target in order, each LPS axis steps through the source by
    // the stride of its stored axis, backwards where it is flipped.
    std::array<std::int64_t, 3> step{};
    std::int64_t start = 0;
    for (int axis = 0; axis < 3; ++axis) {
        const std::int64_t stride = storedStride[reorientation.sourceAxis[axis]];
        step[axis] = reorientation.flipped[axis] ? -stride : stride;
        if (reorientation.flipped[axis])
            start += std::int64_t(size[axis] - 1) * stride;
    }
    float *out = target;
    for (std::size_t z = 0; z < size[2]; ++z) {
        const std::int64_t plane = start + std::int64_t(z) * step[2];
        for (std::size_t y = 0; y < size[1]; ++y) {
            const float *in = source + plane + std::int64_t(y) * step[1];
            if (step[0] == 1) {
                std::copy(in, in + size[0], out);
            } else {
                for (std::size_t x = 0; x < size[0]; ++x)
                    out[x] = in[std::int64_t(x) * step[0]];
            }
            out += size[0];
        }
    }
}
