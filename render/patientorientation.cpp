#include "patientorientation.h"

#include "framegeometry.h"

#include <algorithm>
#include <cmath>

namespace {

using Direction = std::array<double, 3>;

// Column `index` of the frame's rotation: screen-right (0), screen-up (1) or
// towards the viewer (2) in object coordinates.
Direction rotationColumn(const FrameGeometry &geometry, int index)
{
    const std::array<double, 9> &m = geometry.rotation;
    return {m[std::size_t(index)], m[std::size_t(3 + index)], m[std::size_t(6 + index)]};
}

Direction negated(const Direction &direction)
{
    return {-direction[0], -direction[1], -direction[2]};
}

FrameGeometry rotationOnly(int xRotation, int yRotation, int zRotation)
{
    // The viewport and the volume do not change the rotation.
    return computeFrameGeometry(xRotation, yRotation, zRotation, QSize(1, 1), 1, 1, 1);
}

} // namespace

QString patientDirectionLetters(const std::array<double, 3> &lps)
{
    static const char *const letters[3][2] = {{"R", "L"}, {"A", "P"}, {"I", "S"}};
    std::array<int, 3> axes = {0, 1, 2};
    std::stable_sort(axes.begin(), axes.end(),
                     [&](int a, int b) { return std::fabs(lps[a]) > std::fabs(lps[b]); });
    const double dominant = std::fabs(lps[axes[0]]);
    if (!(dominant > 0.0))
        return QString();
    auto letterOf = [&](int axis) { return QString(letters[axis][lps[axis] > 0.0 ? 1 : 0]); };
    QString text = letterOf(axes[0]);
    // Beyond 22.5 degrees off the dominant axis, the direction is nearer the
    // diagonal between the two than the axis itself.
    const double secondary = std::fabs(lps[axes[1]]);
    if (secondary > 0.0 && secondary >= std::tan(M_PI / 8.0) * dominant)
        text += letterOf(axes[1]);
    return text;
}

OrientationLetters orientationLetters(int xRotation, int yRotation, int zRotation)
{
    const FrameGeometry geometry = rotationOnly(xRotation, yRotation, zRotation);
    const Direction right = rotationColumn(geometry, 0);
    const Direction up = rotationColumn(geometry, 1);
    OrientationLetters result;
    result.left = patientDirectionLetters(negated(right));
    result.right = patientDirectionLetters(right);
    result.top = patientDirectionLetters(up);
    result.bottom = patientDirectionLetters(negated(up));
    return result;
}

std::array<int, 3> rotationViewingFrom(PatientSide side)
{
    // Screen-right and screen-up of each view in LPS; the viewer looks from
    // right x up, the side named.
    Direction right{};
    Direction up{};
    switch (side) {
    case PatientSide::Anterior:
        right = {1, 0, 0};
        up = {0, 0, 1};
        break;
    case PatientSide::Posterior:
        right = {-1, 0, 0};
        up = {0, 0, 1};
        break;
    case PatientSide::Left:
        right = {0, 1, 0};
        up = {0, 0, 1};
        break;
    case PatientSide::Right:
        right = {0, -1, 0};
        up = {0, 0, 1};
        break;
    case PatientSide::Superior:
        right = {-1, 0, 0};
        up = {0, -1, 0};
        break;
    case PatientSide::Inferior:
        right = {1, 0, 0};
        up = {0, -1, 0};
        break;
    }
    // Multiples of 90 degrees give exact matrices (computeFrameGeometry takes
    // care of that), so the columns compare exactly.
    for (int x = 0; x < 360; x += 90)
        for (int y = 0; y < 360; y += 90)
            for (int z = 0; z < 360; z += 90) {
                const FrameGeometry geometry = rotationOnly(x, y, z);
                if (rotationColumn(geometry, 0) == right && rotationColumn(geometry, 1) == up)
                    return {x, y, z};
            }
    // Unreachable: every axis-aligned rotation is among the 64.
    return {0, 0, 0};
}

std::optional<PatientSide> patientSideNamed(const QString &name)
{
    static const struct
    {
        const char *name;
        PatientSide side;
    } names[] = {{"anterior", PatientSide::Anterior}, {"posterior", PatientSide::Posterior},
                 {"left", PatientSide::Left},         {"right", PatientSide::Right},
                 {"superior", PatientSide::Superior}, {"inferior", PatientSide::Inferior}};
    for (const auto &entry : names)
        if (name == QLatin1String(entry.name))
            return entry.side;
    return std::nullopt;
}
