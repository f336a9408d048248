#pragma once

#include <QColor>

// Lighting, depth-cueing and sampling parameters of the volume rendering. The
// main window owns the only record; the renderer reads it through a pointer in
// every frame, so a changed field shows at the next frame.
//
// Colours are RGBA with components 0..255 (the shader receives component / 255).
// k1 and k2 are the linear and quadratic depth-cueing coefficients, exponent the
// specular exponent and samples the number of samples per ray. Any value is
// accepted here; the shader clamps what it cannot use.
struct RenderingOptions
{
    QColor light = QColor(255, 255, 255, 255);
    QColor ambient = QColor(55, 55, 55, 255);
    QColor diffuse = QColor(200, 200, 200, 255);
    QColor specular = QColor(255, 255, 255, 255);
    float k1 = 1.0f;
    float k2 = 1.0f;
    float exponent = 16.0f;
    int samples = 100;

    bool operator==(const RenderingOptions &other) const
    {
        return light == other.light && ambient == other.ambient && diffuse == other.diffuse &&
               specular == other.specular && k1 == other.k1 && k2 == other.k2 &&
               exponent == other.exponent && samples == other.samples;
    }
    bool operator!=(const RenderingOptions &other) const { return !(*this == other); }
};
