#version 120
// Kelvara ray caster: one ray per fragment through the data-set box.
//
// Geometry. The box is centred on the origin with edge lengths volumeSize
// (longest side 1). The fragment's view-plane point is p = tc.x * u + tc.y * v
// (tc = gl_TexCoord[0].xy, pixels from the viewport centre, less the pan; the
// zoom is in the lengths of u and v); its ray
// x(t) = p + t * n0 enters the box at tNear on the viewer's side and leaves at
// tFar. A ray parallel to a pair of faces lies inside their slab everywhere
// (also on a face itself) or nowhere, so rays that graze a face at an
// axis-aligned view are whole, not cut short. N samples (clamped to 1..4096) lie at t_i = tNear + (i + o) * dt with
// dt = (tFar - tNear) / N and the first-sample offset o in [0, 1).
//
// Jitter. With jitter on, o is a hash of the pixel's position, so
// neighbouring rays sample at different depths and the rings that equally
// spaced samples draw through opaque surfaces ("wood grain") become fine
// grain. The hash behaves like white noise (neighbouring offsets uncorrelated,
// a flat spectrum): a structured sequence would turn the rings into stripes or
// checks instead. It depends on nothing else: the same frame twice is the same
// picture. With jitter off o = 0.5, the midpoints of N equal steps.
//
// Texture coordinates. Volume: s = x / volumeSize + 0.5, clamped to
// [0.5 / res, 1 - 0.5 / res] so that the repeat wrap never blends the opposite
// face in. Table: value f in 0..1 reads entry index f * 1023 at coordinate
// (index + 0.5) / 1024 (f = 1 reads entry 1023 exactly).
//
// Classification reads preciseTransferSampler: the transfer function in float
// texels, entry i holding the function at value i / 1023, so that faint
// opacities keep their precision. transferSampler holds the same function in
// bytes, for the host's own uses; it is not read here.
//
// Opacity. The table's alpha a is the opacity of a slab REFERENCE_STEP = 0.01
// thick (a hundredth of the longest side); a sample covering dt has
// alpha = 1 - (1 - a)^(dt / REFERENCE_STEP), so the picture does not depend on N.
//
// Shading (Blinn-Phong, light fixed to the viewer). g = central difference of
// the volume, one voxel each way, times gradientScale (finest spacing over the
// axis' spacing, so that g is per unit of length when voxels are not cubes;
// (1, 1, 1) when they are). It is read from gradientSampler where the host
// stored the differences with the values (traversals 1 and 2 below: the same g
// within half a 65535th), else computed from six neighbours of the sample in
// sampler. The normal is -g / |g| turned towards the
// viewer. L points to gl_LightSource[0].position (view coordinates: x along u,
// y along v, z towards the viewer), V = -n0, H = normalize(L + V):
//   colour = tf.rgb * (c_ambient + c_diffuse * c_light * max(n.L, 0))
//          + c_specular * c_light * max(n.H, 0)^c_exponent   (only where n.L > 0)
// clamped to 0..1. Where |g| < GRADIENT_EPSILON (homogeneous material) n.L is
// taken as 1 and there is no highlight. Alpha components of the colours are
// not used. Samples with a = 0 add nothing.
//
// Depth cueing. d = distance of the sample behind the plane that touches the
// box's bounding sphere on the viewer's side, d in [0, |volumeSize|];
//   colour *= 1 / (1 + k1 * d + k2 * d * d), k1 and k2 taken as at least 0,
// which lies in (0, 1] and is 1 when k1 = k2 = 0.
//
// Compositing, front to back over black: C += T * alpha * colour,
// T *= 1 - alpha; a ray stops once 1 - T > 0.99. Output (C, 1).
//
// Cropping. Only the samples t_i inside the box cropMinimum..cropMaximum
// (object coordinates, within the data-set box) are taken: the others are
// left out as if transparent. The samples keep their places on the uncropped
// ray, so the part that stays looks exactly as it does uncropped.
//
// Modes (renderMode). 0 composites as above. 1 is the maximum intensity
// projection: the highest voxel value f among the samples taken, shown as
// tf(f).rgb * tf(f).a, without lighting or depth cueing; a ray with no sample
// taken is black.
//
// Empty-space skipping (when emptySpaceSkipping is 1). The host cuts the volume
// into bricks of brickSize voxels (brickCount along each axis) and marks in
// brickSampler those that hold a sample the table may make visible; voxel
// position w = s * volumeResolution - 0.5 lies in brick floor(w / brickSize).
// A ray only takes the samples between visibleMinimum and visibleMaximum (the
// object-space box of the marked bricks), and from a sample in an unmarked brick
// it goes on with the first sample t_i at or beyond the brick's far face. The
// samples left out all have alpha 0, and those taken lie where they lie without
// skipping, so the picture is the same.
//
// Traversal (KELVARA_TRAVERSAL, which the host defines in front of this text
// for the program of each traversal; 0 where it does not). 0 and 1 search for
// the next sample with alpha > 0 in a loop of their own and shade only the
// samples found: worth it where much of the volume is transparent. 0 takes
// the gradient from six lookups of sampler, 1 from one of gradientSampler. 2
// takes every sample from one lookup of gradientSampler (value and gradient)
// and composites it, transparent or not: for dense data, where a search finds
// the next sample at once and only adds its own lookup. All three give the
// same picture. Software rasterisers run a group of fragments in lock step,
// evaluate both sides of a branch for the whole group, but leave a loop only
// when every fragment of the group has: so the search is a loop of its own,
// and the traversals are programs of their own rather than branches.
//
// Picking (KELVARA_PICK, defined by the host for a program of its own, with
// traversal 0). The host draws one fragment that stands for the frame's pixel
// at window position pickPixel (its viewport shifted so that the fragment gets
// that pixel's tc), compositing exactly as the frame does (same samples, same
// jitter) in a float framebuffer cleared to 0. The ray stops at the first
// sample after which the accumulated opacity 1 - T reaches PICK_OPACITY, and
// the output is (x, 1), x its object position; (0, 0, 0, 0) where it never
// does, or misses the box.
//
// Blocks (KELVARA_BLOCKS, defined by the host for volumes held as several
// textures, with traversal 0 and for picks). The host draws one pass per
// block, front to back along the rays. A pass takes only the ray's samples
// in its block's own part of the box, blockMinimum <= x < blockMaximum (the
// outer faces lie far outside the box, so the box's own faces decide there),
// and reads sampler at the global texture coordinate s mapped into the
// block's texture, s * blockTextureScale + blockTextureOffset; everything else
// (sample places, jitter, bricks, cropping) is global, so each sample is the
// one a single texture gives. What the ray has gathered travels from pass to
// pass in float texels (carriedSampler at gl_FragCoord.xy * carriedScale):
// (colour, transmittance) when compositing, (position, transmittance) when
// picking, the highest value in alpha for the maximum intensity projection.
// The first pass starts from nothing; the last writes the picture as a single
// pass would.
//
// Colour (KELVARA_COLOUR, defined by the host with traversal 0 for a colour
// volume held in one texture). sampler holds the colours' luminance, which
// the table classifies as always; colourSampler holds the colours as stored
// (RGBA bytes, alpha 1 for RGB data) at the same coordinates. A sample's
// colour is the stored one, its alpha the table's, or the stored alpha where
// colourAlpha is 1 (the host then skips no bricks). Shading, depth cueing and
// compositing are as above; the maximum intensity projection stays the
// luminance's through the table.
//
// Layers (KELVARA_LAYERS n, 1..4, defined by the host with traversal 0, or 1
// where the gradients are stored, for a composited frame with n layers over
// the volume: overlays and label maps on grids of their own). Layer k's texture coordinate of object point x is
// t = layerOriginK + x.x * layerAxisXK + x.y * layerAxisYK + x.z * layerAxisZK
// (the host composes the two volumes' world transforms); outside 0..1 the
// layer is not there. With skipping, a brick's flags (its brickSampler
// texel times 255) hold bit 1 where the volume may be visible in it and bit
// 2, 4, 8 or 16 where layer 0, 1, 2 or 3 may: a ray steps over bricks of no
// bit, and reads the volume or a layer only in the bricks of its bit.
// Without skipping every sample reads everything. As in traversals 0 and 1
// a search loop finds the next sample where the volume or a layer shows
// something; there the volume's own sample is shaded and composited as
// above, then each layer's at the same place, so that the layers and the
// volume composite in depth order along the ray.
// A layer's value (alpha of layerValuesK) is classified by its table
// (layerTableK, RGBA floats, alpha per REFERENCE_STEP as the transfer
// function's): an image's value v reads entry v * (width - 1) between
// entries; a label map's texels hold the index i of the label (i /
// layerIndexScaleK, read nearest), which reads entry i at its centre in rows
// of the table's width. The table is read only where the texel may show
// something: a label's index above 0, an image's value at or above
// layerShowsK.x or at or below layerShowsK.y. Shading uses the layer's own gradient: the central
// difference of its values, or for a label map of its label's indicator (1
// where a neighbour holds the same label), one texel either way along the
// layer's axes, taken back into object space, so that a label reads as the
// surface of its own boundary.

#ifndef KELVARA_TRAVERSAL
#define KELVARA_TRAVERSAL 0
#endif

uniform vec3 n0;
uniform vec3 u;
uniform vec3 v;
uniform int N;
uniform vec3 volumeSize;
uniform vec3 volumeResolution;
uniform vec3 gradientScale;
uniform sampler3D sampler;
uniform vec4 c_light;
uniform vec4 c_ambient;
uniform vec4 c_diffuse;
uniform vec4 c_specular;
uniform float c_exponent;
uniform sampler1D transferSampler;
uniform sampler1D preciseTransferSampler;
uniform float k1;
uniform float k2;
uniform int emptySpaceSkipping;
uniform sampler3D brickSampler;
uniform vec3 brickCount;
uniform float brickSize;
uniform vec3 visibleMinimum;
uniform vec3 visibleMaximum;
uniform vec3 cropMinimum;
uniform vec3 cropMaximum;
uniform int renderMode;
uniform int jitter;
uniform sampler3D gradientSampler;
#ifdef KELVARA_BLOCKS
uniform vec3 blockMinimum;
uniform vec3 blockMaximum;
uniform vec3 blockTextureScale;
uniform vec3 blockTextureOffset;
uniform sampler2D carriedSampler;
uniform vec2 carriedScale;
uniform int firstBlock;
uniform int lastBlock;
#endif
#ifdef KELVARA_COLOUR
uniform sampler3D colourSampler;
uniform int colourAlpha;
#endif
#ifdef KELVARA_LAYERS
uniform sampler3D layerValues0;
uniform sampler2D layerTable0;
uniform vec3 layerOrigin0;
uniform vec3 layerAxisX0;
uniform vec3 layerAxisY0;
uniform vec3 layerAxisZ0;
uniform vec3 layerResolution0;
uniform float layerIndexBits0;
uniform vec2 layerTableSize0;
uniform int layerLabels0;
uniform vec2 layerShows0;
#if KELVARA_LAYERS > 1
uniform sampler3D layerValues1;
uniform sampler2D layerTable1;
uniform vec3 layerOrigin1;
uniform vec3 layerAxisX1;
uniform vec3 layerAxisY1;
uniform vec3 layerAxisZ1;
uniform vec3 layerResolution1;
uniform float layerIndexBits1;
uniform vec2 layerTableSize1;
uniform int layerLabels1;
uniform vec2 layerShows1;
#endif
#if KELVARA_LAYERS > 2
uniform sampler3D layerValues2;
uniform sampler2D layerTable2;
uniform vec3 layerOrigin2;
uniform vec3 layerAxisX2;
uniform vec3 layerAxisY2;
uniform vec3 layerAxisZ2;
uniform vec3 layerResolution2;
uniform float layerIndexBits2;
uniform vec2 layerTableSize2;
uniform int layerLabels2;
uniform vec2 layerShows2;
#endif
#if KELVARA_LAYERS > 3
uniform sampler3D layerValues3;
uniform sampler2D layerTable3;
uniform vec3 layerOrigin3;
uniform vec3 layerAxisX3;
uniform vec3 layerAxisY3;
uniform vec3 layerAxisZ3;
uniform vec3 layerResolution3;
uniform float layerIndexBits3;
uniform vec2 layerTableSize3;
uniform int layerLabels3;
uniform vec2 layerShows3;
#endif
#endif
#ifdef KELVARA_PICK
uniform vec2 pickPixel;
const float PICK_OPACITY = 0.5;
// The object position of the sample last composited.
vec3 pickedPosition;
const vec4 NOTHING_DRAWN = vec4(0.0);
#else
const vec4 NOTHING_DRAWN = vec4(0.0, 0.0, 0.0, 1.0);
#endif

const int MAX_SAMPLES = 4096;
const float REFERENCE_STEP = 0.01;
const float GRADIENT_EPSILON = 1.0e-4;
const float OPAQUE = 0.99;

// The coordinate in the texture that holds the voxels around global texture
// coordinate s.
vec3 heldCoordinate(vec3 s)
{
#ifdef KELVARA_BLOCKS
    return s * blockTextureScale + blockTextureOffset;
#else
    return s;
#endif
}

float voxel(vec3 s)
{
    return texture3D(sampler, heldCoordinate(s)).a;
}

// Entry position clamp(value, 0, 1) * 1023 at texture coordinate
// (position + 0.5) / 1024, folded into one multiply-add.
vec4 classify(float value)
{
    return texture1D(preciseTransferSampler,
                     clamp(value, 0.0, 1.0) * (1023.0 / 1024.0) + 0.5 / 1024.0);
}

// The offset in [0, 1) of a pixel's first sample, in steps: a hash of the
// pixel's window position. Three fractions of the position with unrelated
// periods are mixed by one dot product and one product, all in float
// arithmetic that GLSL 1.20 has (no integer bit operations there); for window
// positions up to several thousand the result is as uncorrelated from one
// pixel to the next as white noise.
float firstSampleOffset()
{
    if (jitter == 0)
        return 0.5;
#ifdef KELVARA_PICK
    vec2 pixel = gl_FragCoord.xy + pickPixel;
#else
    vec2 pixel = gl_FragCoord.xy;
#endif
    vec3 q = fract(vec3(pixel, pixel.x + pixel.y) * vec3(0.1031, 0.11369, 0.13787));
    q += dot(q, q.yzx + 19.19);
    return fract((q.x + q.y) * q.z);
}

// Far beyond any parameter a ray through the box can have.
const float UNBOUNDED = 1.0e30;

// Component-wise guard against division by zero in the slab test: a tiny
// component is replaced by 1e-6; boxSpan() treats such axes as parallel.
vec3 safeDirection(vec3 d)
{
    return vec3(abs(d.x) < 1.0e-6 ? 1.0e-6 : d.x, abs(d.y) < 1.0e-6 ? 1.0e-6 : d.y,
                abs(d.z) < 1.0e-6 ? 1.0e-6 : d.z);
}

// 1 for the axes along which the ray direction d is (nearly) zero.
vec3 parallelAxes(vec3 d)
{
    return vec3(lessThan(abs(d), vec3(1.0e-6)));
}

// The parameters at which the line p + t * direction enters and leaves the
// box lower..upper (enter > leave when it misses). Along a parallel axis the
// slab bounds nothing when p lies in it (faces included) and everything when
// not: dividing by the stand-in 1e-6 would instead cut a ray that lies on a
// face, or within a few millionths of one, short.
vec2 boxSpan(vec3 p, vec3 inverseDirection, vec3 parallel, vec3 lower, vec3 upper)
{
    vec3 t0 = (lower - p) * inverseDirection;
    vec3 t1 = (upper - p) * inverseDirection;
    vec3 inside = step(lower, p) * step(p, upper);
    vec3 tMin = mix(min(t0, t1), mix(vec3(UNBOUNDED), vec3(-UNBOUNDED), inside), parallel);
    vec3 tMax = mix(max(t0, t1), mix(vec3(-UNBOUNDED), vec3(UNBOUNDED), inside), parallel);
    return vec2(max(max(tMin.x, tMin.y), tMin.z), min(min(tMax.x, tMax.y), tMax.z));
}

// The indices [x, y) of the samples t_i = tNear + (i + offset) * dt that lie in
// span, clamped to 0..samples.
ivec2 samplesInSpan(vec2 span, float tNear, float inverseDt, float offset, int samples)
{
    if (span.y < span.x)
        return ivec2(0, 0);
    float firstIndex = ceil((span.x - tNear) * inverseDt - offset);
    float endIndex = floor((span.y - tNear) * inverseDt - offset) + 1.0;
    return ivec2(int(clamp(firstIndex, 0.0, float(samples))),
                 int(clamp(endIndex, 0.0, float(samples))));
}

// The highest value among the samples [first, end) and highest.
float highestValue(vec3 p, float tNear, float dt, float offset, int first, int end,
                   float highest)
{
    vec3 inverseSize = 1.0 / volumeSize;
    vec3 lowestCentre = 0.5 / volumeResolution;
    vec3 highestCentre = 1.0 - lowestCentre;
    for (int taken = 0; taken < MAX_SAMPLES; ++taken) {
        int i = first + taken;
        if (i >= end)
            break;
        vec3 x = p + (tNear + (float(i) + offset) * dt) * n0;
        highest = max(highest, voxel(clamp(x * inverseSize + 0.5, lowestCentre, highestCentre)));
    }
    return highest;
}

// Maximum intensity projection: the colour of the highest value; black where
// no sample was taken (highest < 0).
vec3 maximumIntensity(float highest)
{
    if (highest < 0.0)
        return vec3(0.0);
    vec4 tf = classify(highest);
    return tf.rgb * tf.a;
}

// What one ray's samples share, set once in main().
vec3 rayStart;       // p
vec3 rayDirection;   // n0
float rayNear;       // tNear
float rayStep;       // dt
float rayOffset;     // first-sample offset, in steps
vec3 inverseSize;
vec3 lowestCentre;
vec3 highestCentre;
vec3 lightObject;
bool directional;
float radius;
float linear;
float quadratic;
float exponent;
float exponentOfStep;
vec3 colour;
float transmittance;

// Whether the ray has gathered all it needs: opaque enough to stop, or, when
// picking, half opaque.
bool rayDone()
{
#ifdef KELVARA_PICK
    return 1.0 - transmittance >= PICK_OPACITY;
#else
    return 1.0 - transmittance > OPAQUE;
#endif
}

vec3 samplePosition(int i)
{
    return rayStart + (rayNear + (float(i) + rayOffset) * rayStep) * rayDirection;
}

// Texture coordinate of object point x, between the outermost texel centres.
vec3 textureCoordinate(vec3 x)
{
    return clamp(x * inverseSize + 0.5, lowestCentre, highestCentre);
}

vec3 neighbourGradient(vec3 s)
{
    vec3 spacing = 1.0 / volumeResolution;
    vec3 dx = vec3(spacing.x, 0.0, 0.0);
    vec3 dy = vec3(0.0, spacing.y, 0.0);
    vec3 dz = vec3(0.0, 0.0, spacing.z);
    return vec3(voxel(clamp(s + dx, lowestCentre, highestCentre)) -
                    voxel(clamp(s - dx, lowestCentre, highestCentre)),
                voxel(clamp(s + dy, lowestCentre, highestCentre)) -
                    voxel(clamp(s - dy, lowestCentre, highestCentre)),
                voxel(clamp(s + dz, lowestCentre, highestCentre)) -
                    voxel(clamp(s - dz, lowestCentre, highestCentre))) *
           gradientScale;
}

// The differences d are stored as (d + 65536) / 2 in 16 bits; this decodes
// them within half a step either way.
vec3 storedGradient(vec4 texel)
{
    return (2.0 * texel.rgb - 65535.5 / 65535.0) * gradientScale;
}

// Shades the sample at x with table entry tf and gradient g and composites it;
// true once the ray is opaque enough to stop.
bool composite(vec4 tf, vec3 gradient, vec3 x)
{
    float alpha = tf.a >= 1.0 ? 1.0 : 1.0 - pow(1.0 - tf.a, exponentOfStep);
    vec3 toViewer = -rayDirection;
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

    float depth = dot(x, rayDirection) + radius;
    shaded *= 1.0 / (1.0 + linear * depth + quadratic * depth * depth);

    colour += transmittance * alpha * shaded;
    transmittance *= 1.0 - alpha;
#ifdef KELVARA_PICK
    pickedPosition = x;
#endif
    return rayDone();
}

#ifdef KELVARA_LAYERS
// The unit vector of an octahedral code on a square of cells x cells.
vec3 octahedralDirection(float code, float cells)
{
    vec2 uv = (vec2(mod(code, cells), floor(code / cells)) + 0.5) / cells * 2.0 - 1.0;
    vec3 d = vec3(uv, 1.0 - abs(uv.x) - abs(uv.y));
    if (d.z < 0.0)
        d.xy = (1.0 - abs(d.yx)) * vec2(d.x < 0.0 ? -1.0 : 1.0, d.y < 0.0 ? -1.0 : 1.0);
    return normalize(d);
}

// Classifies layer's sample at object point x (see Layers): its table entry
// (alpha 0 where it shows nothing) and, in gradient, its gradient in object
// space.
vec4 classifyLayer(vec3 x, sampler3D values, sampler2D table, vec3 origin, vec3 axisX,
                   vec3 axisY, vec3 axisZ, vec3 resolution, float indexBits, vec2 tableSize,
                   int labels, vec2 shows, out vec3 gradient)
{
    gradient = vec3(0.0);
    vec3 t = origin + x.x * axisX + x.y * axisY + x.z * axisZ;
    if (any(lessThan(t, vec3(0.0))) || any(greaterThan(t, vec3(1.0))))
        return vec4(0.0);
    vec4 texel = texture3D(values, t);
    vec4 entry;
    vec3 perVoxel;
    if (labels == 1) {
        float low = floor(texel.r * 255.0 + 0.5);
        float high = floor(texel.a * 255.0 + 0.5);
        bool narrow = indexBits < 9.0;
        float index = narrow ? low : low + 256.0 * mod(high, 4.0);
        float code = narrow ? high : floor(high / 4.0);
        entry = texture2D(table, vec2((mod(index, tableSize.x) + 0.5) / tableSize.x,
                                      (floor(index / tableSize.x) + 0.5) / tableSize.y));
        if (index < 0.5)
            entry = vec4(0.0);
        perVoxel = octahedralDirection(code, narrow ? 16.0 : 8.0);
    } else {
        float value = texel.a;
        entry = texture2D(table, vec2(value * ((tableSize.x - 1.0) / tableSize.x) +
                                          0.5 / tableSize.x,
                                      0.5));
        if (value < shows.x && value > shows.y)
            entry = vec4(0.0);
        // Central differences, two voxels apart.
        perVoxel = 0.5 * (2.0 * texel.rgb - 1.0);
    }
    // Per unit of texture coordinate, then along the object axes; object
    // units are a box's longest side: per voxel of the volume, as the
    // volume's own gradient.
    vec3 perTexture = perVoxel * resolution;
    gradient = vec3(dot(axisX, perTexture), dot(axisY, perTexture), dot(axisZ, perTexture)) /
               max(max(volumeResolution.x, volumeResolution.y), volumeResolution.z);
    return entry;
}

// Whether bit (2, 4, 8 or 16) is set in a brick's flags.
bool flagged(float flags, float bit)
{
    return mod(floor(flags / bit), 2.0) >= 1.0;
}

// Merges a layer's sample into the one at the same place (tf, gradient):
// their opacities combine, their colours mix by opacity, and the more opaque
// one's gradient shades them.
void mergeSample(inout vec4 tf, inout vec3 gradient, vec4 layerTf, vec3 layerGradient)
{
    float total = tf.a + layerTf.a;
    if (total <= 0.0)
        return;
    vec3 colour = (tf.rgb * tf.a + layerTf.rgb * layerTf.a) / total;
    gradient = layerTf.a > tf.a ? layerGradient : gradient;
    tf = vec4(colour, 1.0 - (1.0 - tf.a) * (1.0 - layerTf.a));
}

// Merges every layer's sample at x into (tf, gradient), the lowest first,
// where flags (the brick's, see Layers) say the layer shows something.
void mergeLayers(vec3 x, float flags, inout vec4 tf, inout vec3 gradient)
{
    vec4 entry;
    vec3 layerGradient;
    if (flagged(flags, 2.0)) {
        entry = classifyLayer(x, layerValues0, layerTable0, layerOrigin0, layerAxisX0,
                              layerAxisY0, layerAxisZ0, layerResolution0, layerIndexBits0,
                              layerTableSize0, layerLabels0, layerShows0, layerGradient);
        mergeSample(tf, gradient, entry, layerGradient);
    }
#if KELVARA_LAYERS > 1
    if (flagged(flags, 4.0)) {
        entry = classifyLayer(x, layerValues1, layerTable1, layerOrigin1, layerAxisX1,
                              layerAxisY1, layerAxisZ1, layerResolution1, layerIndexBits1,
                              layerTableSize1, layerLabels1, layerShows1, layerGradient);
        mergeSample(tf, gradient, entry, layerGradient);
    }
#endif
#if KELVARA_LAYERS > 2
    if (flagged(flags, 8.0)) {
        entry = classifyLayer(x, layerValues2, layerTable2, layerOrigin2, layerAxisX2,
                              layerAxisY2, layerAxisZ2, layerResolution2, layerIndexBits2,
                              layerTableSize2, layerLabels2, layerShows2, layerGradient);
        mergeSample(tf, gradient, entry, layerGradient);
    }
#endif
#if KELVARA_LAYERS > 3
    if (flagged(flags, 16.0)) {
        entry = classifyLayer(x, layerValues3, layerTable3, layerOrigin3, layerAxisX3,
                              layerAxisY3, layerAxisZ3, layerResolution3, layerIndexBits3,
                              layerTableSize3, layerLabels3, layerShows3, layerGradient);
        mergeSample(tf, gradient, entry, layerGradient);
    }
#endif
}
#endif

// Empty-space skipping: brick = floor(s * brickScale + brickOffset). The far
// face of a brick (the one ahead along each axis) is crossed at sample index
// brick * faceSlope + faceOffset (not rounded), since voxel position w lies at
// object coordinate (w + 0.5) * volumeSize / volumeResolution - halfSize.
bool skipping;
vec3 brickScale;
vec3 brickOffset;
vec3 brickTexel;
vec3 faceSlope;
vec3 faceOffset;

// The index of the first sample at or after i, before end, whose table entry
// tf has alpha > 0; end when there is none.
int nextVisibleSample(int i, int end, out vec4 tf)
{
    tf = vec4(0.0);
    for (int searchStep = 0; searchStep < MAX_SAMPLES; ++searchStep) {
        if (i >= end)
            break;
        vec3 s = textureCoordinate(samplePosition(i));
        if (skipping) {
            vec3 brick = floor(s * brickScale + brickOffset);
            if (texture3D(brickSampler, (brick + 0.5) * brickTexel).a == 0.0) {
                // On with the first sample beyond the brick, but always ahead.
                vec3 faceIndex = brick * faceSlope + faceOffset;
                float next = ceil(min(min(faceIndex.x, faceIndex.y), faceIndex.z));
                i = int(clamp(next, float(i + 1), float(end)));
                continue;
            }
        }
        tf = classify(voxel(s));
#ifdef KELVARA_COLOUR
        vec4 stored = texture3D(colourSampler, s);
        tf = vec4(stored.rgb, colourAlpha == 1 ? stored.a : tf.a);
#endif
        if (tf.a > 0.0)
            break;
        ++i;
    }
    return i;
}

#ifdef KELVARA_LAYERS
// The index of the first sample at or after i, before end, where the volume
// (table entry tf) or a layer shows something, with its brick's flags (see
// Layers); end when there is none.
int nextLayeredSample(int i, int end, out vec4 tf, out float flags)
{
    tf = vec4(0.0);
    flags = 31.0; // without skipping everything may be anywhere
    for (int searchStep = 0; searchStep < MAX_SAMPLES; ++searchStep) {
        if (i >= end)
            break;
        vec3 x = samplePosition(i);
        vec3 s = textureCoordinate(x);
        if (skipping) {
            vec3 brick = floor(s * brickScale + brickOffset);
            flags = floor(texture3D(brickSampler, (brick + 0.5) * brickTexel).a * 255.0 + 0.5);
            if (flags == 0.0) {
                vec3 faceIndex = brick * faceSlope + faceOffset;
                float next = ceil(min(min(faceIndex.x, faceIndex.y), faceIndex.z));
                i = int(clamp(next, float(i + 1), float(end)));
                continue;
            }
        }
        tf = mod(flags, 2.0) >= 1.0 ? classify(voxel(s)) : vec4(0.0);
        if (tf.a > 0.0 || flags >= 2.0)
            break;
        ++i;
    }
    return i;
}
#endif

// What the ray starts from: nothing, or what the passes through earlier blocks
// gathered (see Blocks). The colour (or picked position) in rgb; the
// transmittance, or the highest value so far (-1: none), in alpha.
vec4 gatheredBefore()
{
#ifdef KELVARA_BLOCKS
    if (firstBlock == 0)
        return texture2D(carriedSampler, gl_FragCoord.xy * carriedScale);
#endif
    return vec4(0.0, 0.0, 0.0, renderMode == 1 ? -1.0 : 1.0);
}

// Writes what the ray gathered (as gatheredBefore() reads it): the picture or
// pick, or, before the last block, what the next pass carries on from.
void finish(vec4 gathered)
{
#ifdef KELVARA_BLOCKS
    if (lastBlock == 0) {
        gl_FragColor = gathered;
        return;
    }
#endif
#ifdef KELVARA_PICK
    gl_FragColor = 1.0 - gathered.a >= PICK_OPACITY ? vec4(gathered.rgb, 1.0) : NOTHING_DRAWN;
#else
    if (renderMode == 1)
        gl_FragColor = vec4(maximumIntensity(gathered.a), 1.0);
    else
        gl_FragColor = vec4(gathered.rgb, 1.0);
#endif
}

#ifdef KELVARA_BLOCKS
// The indices [x, y) of the samples in the block's own part of the box, like
// samplesInSpan() but half-open at both ends of the part (a ray lying in a
// face between two blocks belongs to the upper one, a sample on such a face
// to the block behind it), so that exactly one block takes each sample. The
// neighbours compute the parameter of a shared face from the same numbers.
ivec2 ownSamples(vec3 p, vec3 inverseDirection, vec3 parallel, float tNear, float inverseDt,
                 float offset, int samples)
{
    vec3 t0 = (blockMinimum - p) * inverseDirection;
    vec3 t1 = (blockMaximum - p) * inverseDirection;
    vec3 inside = step(blockMinimum, p) * (1.0 - step(blockMaximum, p));
    vec3 tMin = mix(min(t0, t1), mix(vec3(UNBOUNDED), vec3(-UNBOUNDED), inside), parallel);
    vec3 tMax = mix(max(t0, t1), mix(vec3(-UNBOUNDED), vec3(UNBOUNDED), inside), parallel);
    float enter = max(max(tMin.x, tMin.y), tMin.z);
    float leave = min(min(tMax.x, tMax.y), tMax.z);
    if (!(leave > enter))
        return ivec2(0, 0);
    float firstIndex = ceil((enter - tNear) * inverseDt - offset);
    float endIndex = ceil((leave - tNear) * inverseDt - offset);
    return ivec2(int(clamp(firstIndex, 0.0, float(samples))),
                 int(clamp(endIndex, 0.0, float(samples))));
}
#endif

void main(void)
{
    vec2 tc = gl_TexCoord[0].xy;
    vec3 p = tc.x * u + tc.y * v;

    vec3 halfSize = 0.5 * volumeSize;
    vec3 direction = safeDirection(n0);
    vec3 inverseDirection = 1.0 / direction;
    vec3 parallel = parallelAxes(n0);
    vec2 boxNearFar = boxSpan(p, inverseDirection, parallel, -halfSize, halfSize);
    float tNear = boxNearFar.x;
    float tFar = boxNearFar.y;
    vec4 gathered = gatheredBefore();
    if (!(tFar - tNear > 1.0e-6)) {
        finish(gathered);
        return;
    }

    int samples = N < 1 ? 1 : (N > MAX_SAMPLES ? MAX_SAMPLES : N);
    float dt = (tFar - tNear) / float(samples);
    float inverseDt = 1.0 / dt;
    float offset = firstSampleOffset();
    skipping = emptySpaceSkipping != 0;

    // Samples [first, end) of the ray: those in the cropping box and, with
    // skipping, in the visible box (one more either way against rounding).
    ivec2 cropped = samplesInSpan(boxSpan(p, inverseDirection, parallel, cropMinimum, cropMaximum),
                                  tNear, inverseDt, offset, samples);
    int first = cropped.x;
    int end = cropped.y;
#ifdef KELVARA_BLOCKS
    ivec2 own = ownSamples(p, inverseDirection, parallel, tNear, inverseDt, offset, samples);
    first = max(first, own.x);
    end = min(end, own.y);
#endif
    if (renderMode == 1) {
        gathered.a = highestValue(p, tNear, dt, offset, first, end, gathered.a);
        finish(gathered);
        return;
    }
    if (skipping) {
        vec2 visible = boxSpan(p, inverseDirection, parallel, visibleMinimum, visibleMaximum);
        float firstIndex = ceil((visible.x - tNear) * inverseDt - offset) - 1.0;
        float endIndex = floor((visible.y - tNear) * inverseDt - offset) + 2.0;
        first = max(first, int(clamp(firstIndex, 0.0, float(samples))));
        end = visible.y >= visible.x ? min(end, int(clamp(endIndex, 0.0, float(samples)))) : 0;
    }

    rayStart = p;
    rayDirection = n0;
    rayNear = tNear;
    rayStep = dt;
    rayOffset = offset;
    exponentOfStep = dt / REFERENCE_STEP;

    // The light and the view in object space.
    vec4 light = gl_LightSource[0].position;
    lightObject = light.x * normalize(u) + light.y * normalize(v) - light.z * n0;
    directional = light.w == 0.0;
    if (!directional)
        lightObject /= light.w;
    radius = 0.5 * length(volumeSize);
    linear = max(k1, 0.0);
    quadratic = max(k2, 0.0);
    exponent = max(c_exponent, 0.0);

    inverseSize = 1.0 / volumeSize;
    vec3 spacing = 1.0 / volumeResolution;
    lowestCentre = 0.5 * spacing;
    highestCentre = 1.0 - lowestCentre;

    vec3 objectPerVoxel = volumeSize * spacing;
    brickScale = volumeResolution / brickSize;
    brickOffset = vec3(-0.5 / brickSize);
    brickTexel = 1.0 / brickCount;
    vec3 farFace = step(0.0, direction);
    faceSlope = brickSize * objectPerVoxel * inverseDirection * inverseDt;
    // A ray parallel to an axis never crosses that axis' brick faces.
    faceOffset =
        (((farFace * brickSize + 0.5) * objectPerVoxel - halfSize - p) * inverseDirection - tNear) *
            inverseDt - offset + parallel * UNBOUNDED;

#ifdef KELVARA_PICK
    pickedPosition = gathered.rgb;
    colour = vec3(0.0);
#else
    colour = gathered.rgb;
#endif
    transmittance = gathered.a;
    if (rayDone())
        end = first;
#if defined(KELVARA_LAYERS)
    int i = first;
    for (int shadedSamples = 0; shadedSamples < MAX_SAMPLES; ++shadedSamples) {
        vec4 tf;
        float flags;
        i = nextLayeredSample(i, end, tf, flags);
        if (i >= end)
            break;
        vec3 x = samplePosition(i++);
#if KELVARA_TRAVERSAL == 1
        vec3 gradient =
            storedGradient(texture3D(gradientSampler, heldCoordinate(textureCoordinate(x))));
#else
        vec3 gradient = neighbourGradient(textureCoordinate(x));
#endif
        mergeLayers(x, flags, tf, gradient);
        if (tf.a > 0.0 && composite(tf, gradient, x))
            break;
    }
#elif KELVARA_TRAVERSAL == 2
    for (int taken = 0; taken < MAX_SAMPLES; ++taken) {
        int i = first + taken;
        if (i >= end)
            break;
        vec3 x = samplePosition(i);
        vec4 texel = texture3D(gradientSampler, heldCoordinate(textureCoordinate(x)));
        if (composite(classify(texel.a), storedGradient(texel), x))
            break;
    }
#else
    int i = first;
    for (int shadedSamples = 0; shadedSamples < MAX_SAMPLES; ++shadedSamples) {
        vec4 tf;
        i = nextVisibleSample(i, end, tf);
        if (i >= end)
            break;
        vec3 x = samplePosition(i++);
#if KELVARA_TRAVERSAL == 1
        vec3 gradient =
            storedGradient(texture3D(gradientSampler, heldCoordinate(textureCoordinate(x))));
#else
        vec3 gradient = neighbourGradient(textureCoordinate(x));
#endif
        if (composite(tf, gradient, x))
            break;
    }
#endif
#ifdef KELVARA_PICK
    finish(vec4(pickedPosition, transmittance));
#else
    finish(vec4(colour, transmittance));
#endif
}
