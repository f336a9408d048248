#version 120
// Kelvara ray caster: one ray per fragment through the data-set box.
//
// Geometry. The box is centred on the origin with edge lengths volumeSize
// (longest side 1). The fragment's view-plane point is p = tc.x * u + tc.y * v
// (tc = gl_TexCoord[0].xy, pixels from the viewport centre); its ray
// x(t) = p + t * n0 enters the box at tNear on the viewer's side and leaves at
// tFar. N samples (clamped to 1..4096) lie at t_i = tNear + (i + 0.5) * dt with
// dt = (tFar - tNear) / N.
//
// Texture coordinates. Volume: s = x / volumeSize + 0.5, clamped to
// [0.5 / res, 1 - 0.5 / res] so that the repeat wrap never blends the opposite
// face in. Table: value f in 0..1 reads entry index f * 1023 at coordinate
// (index + 0.5) / 1024 (f = 1 reads entry 1023 exactly).
//
// Opacity. The table's alpha a is the opacity of a slab REFERENCE_STEP = 0.01
// thick (a hundredth of the longest side); a sample covering dt has
// alpha = 1 - (1 - a)^(dt / REFERENCE_STEP), so the picture does not depend on N.
//
// Shading (Blinn-Phong, light fixed to the viewer). g = central difference of
// the volume, one voxel each way; the normal is -g / |g| turned towards the
// viewer. L points to gl_LightSource[0].position (view coordinates: x along u,
// y along v, z towards the viewer), V = -n0, H = normalize(L + V):
//   colour = tf.rgb * (c_ambient + c_diffuse * c_light * max(n.L, 0))
//          + c_specular * c_light * max(n.H, 0)^c_exponent   (only where n.L > 0)
// clamped to 0..1. Where |g| < GRADIENT_EPSILON (homogeneous material) n.L is
// taken as 1 and there is no highlight. Alpha components of the colours are
// not used. Samples with a = 0 cost one lookup each and no shading.
//
// Depth cueing. d = distance of the sample behind the plane that touches the
// box's bounding sphere on the viewer's side, d in [0, |volumeSize|];
//   colour *= 1 / (1 + k1 * d + k2 * d * d), k1 and k2 taken as at least 0,
// which lies in (0, 1] and is 1 when k1 = k2 = 0.
//
// Compositing, front to back over black: C += T * alpha * colour,
// T *= 1 - alpha; a ray stops once 1 - T > 0.99. Output (C, 1).

uniform vec3 n0;
uniform vec3 u;
uniform vec3 v;
uniform int N;
uniform vec3 volumeSize;
uniform vec3 volumeResolution;
uniform sampler3D sampler;
uniform vec4 c_light;
uniform vec4 c_ambient;
uniform vec4 c_diffuse;
uniform vec4 c_specular;
uniform float c_exponent;
uniform sampler1D transferSampler;
uniform float k1;
uniform float k2;

const int MAX_SAMPLES = 4096;
const float REFERENCE_STEP = 0.01;
const float GRADIENT_EPSILON = 1.0e-4;
const float OPAQUE = 0.99;

vec3 clampToTexelCentres(vec3 s)
{
    vec3 halfTexel = 0.5 / volumeResolution;
    return clamp(s, halfTexel, 1.0 - halfTexel);
}

vec3 textureCoordinate(vec3 x)
{
    return clampToTexelCentres(x / volumeSize + 0.5);
}

float voxel(vec3 s)
{
    return texture3D(sampler, s).a;
}

vec4 classify(float value)
{
    float index = clamp(value, 0.0, 1.0) * 1023.0;
    return texture1D(transferSampler, (index + 0.5) / 1024.0);
}

// Component-wise guard against division by zero in the slab test: a tiny
// component is replaced by 1e-6, whose huge parameters never bound the ray
// inside the slab and put it outside when it starts outside.
vec3 safeDirection(vec3 d)
{
    return vec3(abs(d.x) < 1.0e-6 ? 1.0e-6 : d.x, abs(d.y) < 1.0e-6 ? 1.0e-6 : d.y,
                abs(d.z) < 1.0e-6 ? 1.0e-6 : d.z);
}

void main(void)
{
    vec2 tc = gl_TexCoord[0].xy;
    vec3 p = tc.x * u + tc.y * v;

    vec3 halfSize = 0.5 * volumeSize;
    vec3 direction = safeDirection(n0);
    vec3 t0 = (-halfSize - p) / direction;
    vec3 t1 = (halfSize - p) / direction;
    vec3 tMin = min(t0, t1);
    vec3 tMax = max(t0, t1);
    float tNear = max(max(tMin.x, tMin.y), tMin.z);
    float tFar = min(min(tMax.x, tMax.y), tMax.z);
    if (!(tFar - tNear > 1.0e-6)) {
        gl_FragColor = vec4(0.0, 0.0, 0.0, 1.0);
        return;
    }

    int samples = N < 1 ? 1 : (N > MAX_SAMPLES ? MAX_SAMPLES : N);
    float dt = (tFar - tNear) / float(samples);
    float exponentOfStep = dt / REFERENCE_STEP;

    // The light and the view in object space.
    vec3 viewX = normalize(u);
    vec3 viewY = normalize(v);
    vec3 viewZ = -n0;
    vec4 light = gl_LightSource[0].position;
    vec3 lightObject = light.x * viewX + light.y * viewY + light.z * viewZ;
    bool directional = light.w == 0.0;
    if (!directional)
        lightObject /= light.w;
    vec3 toViewer = -n0;
    vec3 spacing = 1.0 / volumeResolution;

    float radius = 0.5 * length(volumeSize);
    float linear = max(k1, 0.0);
    float quadratic = max(k2, 0.0);
    float exponent = max(c_exponent, 0.0);

    vec3 colour = vec3(0.0);
    float transmittance = 1.0;
    for (int i = 0; i < MAX_SAMPLES; ++i) {
        if (i >= samples)
            break;
        vec3 x = p + (tNear + (float(i) + 0.5) * dt) * n0;
        vec3 s = textureCoordinate(x);
        vec4 tf = classify(voxel(s));
        if (tf.a <= 0.0)
            continue;

        float alpha = tf.a >= 1.0 ? 1.0 : 1.0 - pow(1.0 - tf.a, exponentOfStep);

        vec3 gradient = vec3(voxel(clampToTexelCentres(s + vec3(spacing.x, 0.0, 0.0))) -
                                 voxel(clampToTexelCentres(s - vec3(spacing.x, 0.0, 0.0))),
                             voxel(clampToTexelCentres(s + vec3(0.0, spacing.y, 0.0))) -
                                 voxel(clampToTexelCentres(s - vec3(0.0, spacing.y, 0.0))),
                             voxel(clampToTexelCentres(s + vec3(0.0, 0.0, spacing.z))) -
                                 voxel(clampToTexelCentres(s - vec3(0.0, 0.0, spacing.z))));
        float diffuseFactor = 1.0;
        float specularFactor = 0.0;
        float gradientLength = length(gradient);
        if (gradientLength >= GRADIENT_EPSILON) {
            vec3 normal = -gradient / gradientLength;
            if (dot(normal, toViewer) < 0.0)
                normal = -normal;
            vec3 toLight = normalize(directional ? lightObject : lightObject - x);
            float nDotL = dot(normal, toLight);
            diffuseFactor = max(nDotL, 0.0);
            if (nDotL > 0.0) {
                vec3 halfway = normalize(toLight + toViewer);
                specularFactor = pow(max(dot(normal, halfway), 1.0e-6), exponent);
            }
        }
        vec3 shaded = tf.rgb * (c_ambient.rgb + c_diffuse.rgb * c_light.rgb * diffuseFactor) +
                      c_specular.rgb * c_light.rgb * specularFactor;
        shaded = clamp(shaded, 0.0, 1.0);

        float depth = dot(x, n0) + radius;
        shaded *= 1.0 / (1.0 + linear * depth + quadratic * depth * depth);

        colour += transmittance * alpha * shaded;
        transmittance *= 1.0 - alpha;
        if (1.0 - transmittance > OPAQUE)
            break;
    }
    gl_FragColor = vec4(colour, 1.0);
}
