#include "samplevolumes.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cerrno>
#include <cstring>

namespace {

constexpr double pi = 3.14159265358979323846;

SampleVolume allocate(int width, int height, int depth)
{
    SampleVolume volume;
    volume.width = width;
    volume.height = height;
    volume.depth = depth;
    volume.samples.assign(std::size_t(width) * std::size_t(height) * std::size_t(depth), 0);
    return volume;
}

// Centre of voxel i of n on the axis [-1, 1].
double axisCoordinate(int i, int n)
{
    return n > 1 ? -1.0 + 2.0 * i / (n - 1) : 0.0;
}

std::uint16_t toSample(double value)
{
    return std::uint16_t(std::lround(std::clamp(value, 0.0, 1.0) * 4095.0));
}

struct Ellipsoid
{
    double a, b, c;    // semi-axes along x, y, z
    double x0, y0, z0; // centre
    double phiDegrees; // rotation about z
    double density;
};

// Contrasts chosen so that brain tissue lies well above zero and the small
// features stand out, as in the "modified" variant of the 2D phantom.
const Ellipsoid headEllipsoids[] = {
    {0.69, 0.92, 0.81, 0.0, 0.0, 0.0, 0.0, 1.0},
    {0.6624, 0.874, 0.78, 0.0, -0.0184, 0.0, 0.0, -0.7},
    {0.11, 0.31, 0.22, 0.22, 0.0, 0.0, -18.0, -0.15},
    {0.16, 0.41, 0.28, -0.22, 0.0, 0.0, 18.0, -0.15},
    {0.21, 0.25, 0.41, 0.0, 0.35, -0.15, 0.0, 0.2},
    {0.046, 0.046, 0.05, 0.0, 0.1, 0.25, 0.0, 0.3},
    {0.046, 0.046, 0.05, 0.0, -0.1, 0.25, 0.0, 0.3},
    {0.046, 0.023, 0.05, -0.08, -0.605, 0.0, 0.0, 0.3},
    {0.023, 0.023, 0.02, 0.0, -0.606, 0.0, 0.0, 0.3},
    {0.023, 0.046, 0.02, 0.06, -0.605, 0.0, 0.0, 0.3},
};

// A well-mixed 32-bit hash of a lattice point (the finaliser of a 64-bit mixer
// applied to the packed coordinates), mapped to [-1, 1].
double latticeNoise(std::uint32_t x, std::uint32_t y, std::uint32_t z, std::uint32_t salt)
{
    std::uint64_t h = (std::uint64_t(x) * 0x9E3779B97F4A7C15ull) ^
                      (std::uint64_t(y) * 0xC2B2AE3D27D4EB4Full) ^
                      (std::uint64_t(z) * 0x165667B19E3779F9ull) ^ (std::uint64_t(salt) << 32);
    h ^= h >> 33;
    h *= 0xFF51AFD7ED558CCDull;
    h ^= h >> 33;
    h *= 0xC4CEB9FE1A85EC53ull;
    h ^= h >> 33;
    return double(h >> 11) / double(1ull << 52) - 1.0;
}

double fade(double t)
{
    return t * t * (3.0 - 2.0 * t);
}

// Value noise in [-1, 1] that varies over about cell voxels: lattice values
// blended with smoothstep weights, so it has no edges at the cell faces.
double smoothNoise(int x, int y, int z, int cell, std::uint32_t salt)
{
    const int ix = x / cell, iy = y / cell, iz = z / cell;
    const double fx = fade(double(x % cell) / cell);
    const double fy = fade(double(y % cell) / cell);
    const double fz = fade(double(z % cell) / cell);
    double value = 0.0;
    for (int corner = 0; corner < 8; ++corner) {
        const int cx = corner & 1, cy = (corner >> 1) & 1, cz = corner >> 2;
        const double weight = (cx ? fx : 1.0 - fx) * (cy ? fy : 1.0 - fy) * (cz ? fz : 1.0 - fz);
        value += weight * latticeNoise(ix + cx, iy + cy, iz + cz, salt);
    }
    return value;
}

} // namespace

SampleVolume makeHeadPhantom(int width, int height, int depth)
{
    SampleVolume volume = allocate(width, height, depth);
    std::size_t index = 0;
    for (int z = 0; z < depth; ++z) {
        const double pz = axisCoordinate(z, depth);
        for (int y = 0; y < height; ++y) {
            // Image rows grow downwards in the slice view; flip y so the phantom
            // stands upright there.
            const double py = -axisCoordinate(y, height);
            for (int x = 0; x < width; ++x) {
                const double px = axisCoordinate(x, width);
                double value = 0.0;
                for (const Ellipsoid &e : headEllipsoids) {
                    const double phi = e.phiDegrees * pi / 180.0;
                    const double dx = px - e.x0, dy = py - e.y0, dz = pz - e.z0;
                    const double rx = dx * std::cos(phi) + dy * std::sin(phi);
                    const double ry = -dx * std::sin(phi) + dy * std::cos(phi);
                    const double q =
                        (rx * rx) / (e.a * e.a) + (ry * ry) / (e.b * e.b) + (dz * dz) / (e.c * e.c);
                    if (q <= 1.0)
                        value += e.density;
                }
                volume.samples[index++] = toSample(value);
            }
        }
    }
    return volume;
}

SampleVolume makeNoisyHeadPhantom(int width, int height, int depth, std::uint32_t salt)
{
    SampleVolume volume = makeHeadPhantom(width, height, depth);
    // Features of the noise scale with the volume, so that a small copy looks
    // like a scaled-down large one.
    const int cell = std::max(2, std::max({width, height, depth}) / 12);
    constexpr double background = 0.03;
    constexpr double lowestSample = 1.0 / 4095.0; // nothing exactly 0
    std::size_t index = 0;
    for (int z = 0; z < depth; ++z) {
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x, ++index) {
                const double clean = volume.samples[index] / 4095.0;
                const double slow = smoothNoise(x, y, z, cell, salt);
                const double fine = latticeNoise(x, y, z, salt + 1);
                const double gain = 1.0 + 0.08 * smoothNoise(x, y, z, 2 * cell, salt + 2);
                double value = clean * gain + background * (1.0 + 0.5 * slow) + 0.015 * fine;
                volume.samples[index] = toSample(std::max(value, lowestSample));
            }
        }
    }
    return volume;
}

SampleVolume makeMarschnerLobb(int width, int height, int depth)
{
    constexpr double fM = 6.0;
    constexpr double alpha = 0.25;
    SampleVolume volume = allocate(width, height, depth);
    std::size_t index = 0;
    for (int z = 0; z < depth; ++z) {
        const double pz = axisCoordinate(z, depth);
        for (int y = 0; y < height; ++y) {
            const double py = axisCoordinate(y, height);
            for (int x = 0; x < width; ++x) {
                const double px = axisCoordinate(x, width);
                const double r = std::sqrt(px * px + py * py);
                const double rhoR = std::cos(2.0 * pi * fM * std::cos(pi * r / 2.0));
                const double rho =
                    (1.0 - std::sin(pi * pz / 2.0) + alpha * (1.0 + rhoR)) / (2.0 * (1.0 + alpha));
                volume.samples[index++] = toSample(rho);
            }
        }
    }
    return volume;
}

SampleVolume makeUniform(int width, int height, int depth, std::uint16_t value)
{
    SampleVolume volume = allocate(width, height, depth);
    std::fill(volume.samples.begin(), volume.samples.end(), value);
    return volume;
}

SampleVolume makeCentredBox(int width, int height, int depth, int border, std::uint16_t value)
{
    SampleVolume volume = allocate(width, height, depth);
    std::size_t index = 0;
    for (int z = 0; z < depth; ++z)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const bool inside = x >= border && x < width - border && y >= border &&
                                    y < height - border && z >= border && z < depth - border;
                volume.samples[index++] = inside ? value : 0;
            }
    return volume;
}

bool writeDatFile(const std::string &path, const SampleVolume &volume, std::string *reason,
                  std::size_t sampleLimit)
{
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) {
        if (reason)
            *reason = "cannot open '" + path + "' for writing: " + std::strerror(errno);
        return false;
    }
    const unsigned char header[6] = {
        static_cast<unsigned char>(volume.width & 0xff),
        static_cast<unsigned char>(volume.width >> 8),
        static_cast<unsigned char>(volume.height & 0xff),
        static_cast<unsigned char>(volume.height >> 8),
        static_cast<unsigned char>(volume.depth & 0xff),
        static_cast<unsigned char>(volume.depth >> 8),
    };
    const std::size_t count = std::min(sampleLimit, volume.samples.size());
    std::vector<unsigned char> bytes(2 * count);
    for (std::size_t i = 0; i < count; ++i) {
        bytes[2 * i] = static_cast<unsigned char>(volume.samples[i] & 0xff);
        bytes[2 * i + 1] = static_cast<unsigned char>(volume.samples[i] >> 8);
    }
    bool ok = std::fwrite(header, 1, sizeof header, file) == sizeof header;
    ok = ok && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    ok = (std::fclose(file) == 0) && ok;
    if (!ok && reason)
        *reason = "cannot write '" + path + "': " + std::strerror(errno);
    return ok;
}
