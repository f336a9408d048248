#pragma once

#include <cstddef>
#include <cstdint>

struct Volume;

// The volume as the ray caster's four-channel texture (GL_RGBA16): per voxel
// the central differences of the value along x, y and z (red, green, blue) and
// the value itself (alpha), all 16-bit unsigned normalised. One filtered lookup
// then gives a sample's value and gradient, where the on-the-fly estimate takes
// seven lookups.
//
// Both are made from the value as the 16-bit volume texture holds it, q =
// round(f * 65535) (f clamped to 0..1, ties to even like the driver's
// conversion), so the alpha channel filters to exactly what the volume texture
// gives. Along x the difference is d = q[x + 1] - q[x - 1], the index clamped
// to the volume like the shader's lookups of the neighbours, and is stored as
// (d + 65536) / 2 rounded down. A filtered texel t (0..1) decodes as
// 2 t - 65535.5 / 65535 = (d +- 0.5) / 65535, half a step up for even d and
// down for odd d: the least error 16 bits allow, with no bias. Since trilinear
// filtering commutes with shifts by whole voxels, that is the central
// difference of the filtered value one voxel either way, as the shader would
// compute it, within that half step.
namespace gradienttexels {

constexpr int channels = 4;

std::uint16_t quantized(float value);

// Fills out with the texels of the z-slices [firstSlice, firstSlice + sliceCount),
// x fastest, channels texels per voxel: channels * width * height * sliceCount
// values. The volume's voxel count must match its dimensions.
void fill(const Volume &volume, int firstSlice, int sliceCount, std::uint16_t *out);

} // namespace gradienttexels
