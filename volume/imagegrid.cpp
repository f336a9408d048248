#include "imagegrid.h"

#include "loadreport.h"

#include <algorithm>
#include <cmath>
#include <sstream>

namespace {

double at(const DirectionMatrix &m, int row, int column)
{
    return m[std::size_t(3 * row + column)];
}

double determinantOf(const DirectionMatrix &m)
{
    return m[0] * (m[4] * m[8] - m[5] * m[7]) - m[1] * (m[3] * m[8] - m[5] * m[6]) +
           m[2] * (m[3] * m[7] - m[4] * m[6]);
}

// The matrix with unit columns; a zero column stays zero.
DirectionMatrix unitColumns(const DirectionMatrix &m)
{
    DirectionMatrix unit = m;
    for (int column = 0; column < 3; ++column) {
        double length = 0.0;
        for (int row = 0; row < 3; ++row)
            length += at(m, row, column) * at(m, row, column);
        length = std::sqrt(length);
        for (int row = 0; row < 3; ++row)
            unit[std::size_t(3 * row + column)] =
                length > 1e-12 ? at(m, row, column) / length : 0.0;
    }
    return unit;
}

} // namespace

std::array<double, 3> ImageGrid::worldOf(const std::array<double, 3> &index) const
{
    std::array<double, 3> world = origin;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            world[std::size_t(row)] += at(direction, row, column) * spacing[std::size_t(column)] *
                                       index[std::size_t(column)];
    return world;
}

std::optional<std::array<double, 3>> ImageGrid::indexOf(const std::array<double, 3> &world) const
{
    // The inverse of direction * diag(spacing) by its adjugate.
    DirectionMatrix m = direction;
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            m[std::size_t(3 * row + column)] *= spacing[std::size_t(column)];
    const double determinant = determinantOf(m);
    if (!std::isfinite(determinant) || std::fabs(determinant) < 1e-12)
        return std::nullopt;
    const DirectionMatrix adjugate{
        {m[4] * m[8] - m[5] * m[7], m[2] * m[7] - m[1] * m[8], m[1] * m[5] - m[2] * m[4],
         m[5] * m[6] - m[3] * m[8], m[0] * m[8] - m[2] * m[6], m[2] * m[3] - m[0] * m[5],
         m[3] * m[7] - m[4] * m[6], m[1] * m[6] - m[0] * m[7], m[0] * m[4] - m[1] * m[3]}};
    const std::array<double, 3> offset{
        {world[0] - origin[0], world[1] - origin[1], world[2] - origin[2]}};
    std::array<double, 3> index{};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 3; ++column)
            index[std::size_t(row)] +=
                at(adjugate, row, column) * offset[std::size_t(column)] / determinant;
    return index;
}

std::array<double, 16> ImageGrid::matrix() const
{
    std::array<double, 16> result{};
    for (int row = 0; row < 3; ++row) {
        for (int column = 0; column < 3; ++column)
            result[std::size_t(4 * row + column)] =
                at(direction, row, column) * spacing[std::size_t(column)];
        result[std::size_t(4 * row + 3)] = origin[std::size_t(row)];
    }
    result[15] = 1.0;
    return result;
}

ImageGrid ImageGrid::turned(const Reorientation &reorientation,
                            const std::array<std::size_t, 3> &storedSize) const
{
    ImageGrid shown;
    std::array<double, 3> firstVoxel{};
    for (int axis = 0; axis < 3; ++axis) {
        const int stored = reorientation.sourceAxis[std::size_t(axis)];
        const bool flipped = reorientation.flipped[std::size_t(axis)];
        if (flipped)
            firstVoxel[std::size_t(stored)] = double(storedSize[std::size_t(stored)]) - 1.0;
        shown.spacing[std::size_t(axis)] = spacing[std::size_t(stored)];
        for (int row = 0; row < 3; ++row)
            shown.direction[std::size_t(3 * row + axis)] =
                flipped ? -at(direction, row, stored) : at(direction, row, stored);
    }
    shown.origin = worldOf(firstVoxel);
    return shown;
}

ImageGrid ImageGrid::coarsened(int level, const std::array<int, 3> &first) const
{
    const double edge = std::ldexp(1.0, level);
    ImageGrid coarse = *this;
    std::array<double, 3> centre{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        centre[axis] = double(first[axis]) + (edge - 1.0) / 2.0;
        coarse.spacing[axis] = spacing[axis] * edge;
    }
    coarse.origin = worldOf(centre);
    return coarse;
}

bool ImageGrid::operator==(const ImageGrid &other) const
{
    return origin == other.origin && spacing == other.spacing && direction == other.direction;
}

std::array<double, 3> swapLpsRas(const std::array<double, 3> &point)
{
    return {{-point[0], -point[1], point[2]}};
}

std::array<double, 16> rasMatrixOf(const ImageGrid &grid)
{
    std::array<double, 16> matrix = grid.matrix();
    for (std::size_t i = 0; i < 8; ++i)
        matrix[i] = -matrix[i];
    return matrix;
}

std::string orientationCode(const DirectionMatrix &direction)
{
    // LPS axis j, growing: L, P, S; against it: R, A, I.
    static const char towards[3][2] = {{'L', 'R'}, {'P', 'A'}, {'S', 'I'}};
    const Reorientation reorientation = reorientationFromDirection(direction);
    std::string code = "???";
    for (std::size_t axis = 0; axis < 3; ++axis)
        code[std::size_t(reorientation.sourceAxis[axis])] =
            towards[axis][reorientation.flipped[axis] ? 1 : 0];
    return code;
}

ScanPlacement placeScan(const std::array<std::size_t, 3> &storedSize,
                        const std::array<double, 3> &spacing, const DirectionMatrix &direction,
                        const std::array<double, 3> &origin, std::vector<std::string> &warnings)
{
    ScanPlacement placement;
    ImageGrid &file = placement.file;
    if (!std::all_of(direction.begin(), direction.end(),
                     [](double value) { return std::isfinite(value); })) {
        warnings.push_back("The file's axis directions are not all numbers; the stored axes are "
                           "shown as they are.");
    } else if (!(std::fabs(determinantOf(unitColumns(direction))) > 1e-3)) {
        // Parallel or zero axes give a determinant near 0.
        warnings.push_back("The file's axis directions are zero or parallel; the stored axes are "
                           "shown as they are.");
    } else {
        file.direction = unitColumns(direction);
    }
    placement.reorientation = reorientationFromDirection(file.direction);

    // Told along the shown axes, where the user sees them.
    for (int axis = 0; axis < 3; ++axis) {
        const std::size_t stored = std::size_t(placement.reorientation.sourceAxis[axis]);
        if (std::isfinite(spacing[stored]) && spacing[stored] > 0.0) {
            file.spacing[stored] = spacing[stored];
            continue;
        }
        warnings.push_back("The file gives a voxel spacing of " + numberText(spacing[stored]) +
                           " along " + std::string(1, char('X' + axis)) + "; 1 mm is used.");
    }
    if (std::all_of(origin.begin(), origin.end(),
                    [](double value) { return std::isfinite(value); }))
        file.origin = origin;
    else
        warnings.push_back("The file's position of the first voxel is not a number; it is placed "
                           "at 0 mm.");
    if (placement.reorientation.oblique) {
        std::ostringstream degrees;
        degrees.setf(std::ios::fixed);
        degrees.precision(1);
        degrees << placement.reorientation.obliqueDegrees;
        warnings.push_back("The scan is oblique by " + degrees.str() +
                           " degrees: shown on the nearest axes.");
    }
    placement.shown = file.turned(placement.reorientation, storedSize);
    return placement;
}
