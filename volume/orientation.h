#pragma once

#include <array>
#include <cstddef>

// Scans are shown in LPS index order: X runs from the patient's right to left,
// Y from anterior to posterior, Z from inferior to superior. A stored image is
// brought there by permuting and flipping its axes, never by resampling.

// direction is the stored image's direction matrix in LPS, row-major: column i
// is the unit vector along which index i grows.
using DirectionMatrix = std::array<double, 9>;

struct Reorientation
{
    // LPS axis j takes stored axis sourceAxis[j] ...
    std::array<int, 3> sourceAxis{{0, 1, 2}};
    // ... running against it where flipped[j] is set.
    std::array<bool, 3> flipped{{false, false, false}};
    // Whether some stored axis lies off the LPS axes (by more than a rounding
    // error); obliqueDegrees is the largest angle between a stored axis and
    // the LPS axis it snapped to.
    bool oblique = false;
    double obliqueDegrees = 0.0;
};

// The permutation and flips that bring each stored axis onto the LPS axis it
// lies closest to (of the six permutations, the one whose axes are closest in
// all). A matrix without a usable direction (zero or non-finite columns) keeps
// the stored order.
Reorientation reorientationFromDirection(const DirectionMatrix &direction);

// The LPS-ordered counterpart of per-axis values of the stored image (its
// size, its spacing).
template <typename T>
std::array<T, 3> reorientedAxes(const std::array<T, 3> &stored, const Reorientation &reorientation)
{
    std::array<T, 3> result{};
    for (int axis = 0; axis < 3; ++axis)
        result[axis] = stored[reorientation.sourceAxis[axis]];
    return result;
}
