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
