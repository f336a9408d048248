#pragma once

#include "brickmap.h"
#include "imagegrid.h"
#include "layerappearance.h"
#include "transferfunctiontable.h"
#include "viewsettings.h"
#include "volumeblocks.h"

#include <QByteArray>
#include <QPoint>
#include <QSize>
#include <QString>
#include <qopengl.h>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

class FramebufferTexture;
class ShaderProgram;
struct FrameGeometry;
struct GlFunctions;
struct RenderState;
struct Volume;
struct VoxelColours;
struct ShaderSource;

// Outcome of an operation that the caller must look at.
struct GlResult
{
    bool ok = false;
    QString message; // what went wrong; empty when ok
};

// The GL objects of the volume rendering: the ray-casting program (built-in
// vertex shader, the given fragment shader), its attribute and uniform
// locations, the 3D volume texture (unit 0), the 1D transfer-function texture
// (unit 1), the 3D texture of bricks that may be visible (unit 2, see
// BrickMap), the 3D texture of values with their gradients (unit 3, see
// gradienttexels.h), the 1D float transfer-function texture that frames
// classify with (unit 4) and the entry points looked up at run time.
//
// Every member function, the constructor and the destructor need the context
// they were created with to be current. The object belongs to that context's
// owner and must be destroyed before the context.
class RayCaster
{
public:
    // Sets the fixed GL state, builds and binds the program and creates the two
    // (empty) textures. Writes the shader logs: "Vertex shader log: " and
    // "Shader link log: " to standard output, "Fragment shader log: " to standard
    // error. Runs to its end whatever fails; see isValid().
    // gl: the entry points of the current context; must outlive this object.
    RayCaster(const GlFunctions &gl, const ShaderSource &fragmentShader);
    ~RayCaster();

    RayCaster(const RayCaster &) = delete;
    RayCaster &operator=(const RayCaster &) = delete;

    // True when frames can be drawn: the program linked and both entry points
    // were found. Otherwise errorMessage() says why.
    bool isValid() const { return valid; }
    const QString &errorMessage() const { return error; }

    // Replaces the volume texture with the data set's voxels, stored with 16 bits
    // (GL_ALPHA16). A data set beyond the implementation's largest 3D texture
    // (per side or in all) is held as several textures, blocks (see
    // volumeblocks.h), and frames draw one pass per block, with the same
    // picture. Refuses, leaving no usable image, a data set whose voxel count
    // does not match its data, whose blocks would not fit either, or whose
    // upload raises a GL error.
    // Where it fits (at most maximumGradientTextureBytes and what the
    // implementation accepts), it also stores the values with their gradients
    // (8 more bytes per voxel), which frames then read instead of computing
    // gradients from six neighbours; where not, frames compute them, with the
    // same picture, more slowly.
    GlResult uploadVolume(const Volume &volume);

    // 32 Mi voxels (320^3, 512 x 512 x 128). llvmpipe keeps textures in host
    // memory, and its first touch of a new texture's pages costs about 4 s per
    // GiB on a virtual machine: beyond this, opening a volume would take
    // seconds longer for frames about twice as fast.
    static constexpr std::uint64_t maximumGradientTextureBytes = std::uint64_t(1) << 28;

    // Whether the uploaded volume's gradients are stored (see uploadVolume).
    bool gradientsStored() const { return gradientTextureUsable; }

    // The largest side of a texture that later uploads make (0: the
    // implementation's own limit), so that blocks can be seen on small data.
    void setMaximumTextureSide(int side) { maximumTextureSide = side; }
    // Textures the uploaded volume is held in (1 for a single texture, 0
    // without a volume).
    int blockCount() const;

    // Replaces the transfer-function texture with TransferFunctionTable::entryCount
    // RGBA texels, 4 bytes each (red, green, blue, alpha), and the texture the
    // shader classifies with (unit 4) with the same function at full precision:
    // as many entries of four floats, see TransferFunctionTable::rgbaFloats().
    // Where the implementation refuses float texels, the bytes stand in for
    // them.
    GlResult uploadTransferTable(const unsigned char *rgbaBytes, const float *rgbaFloats);

    // Sets the per-frame uniforms from the state and its geometry, binds the
    // textures and draws the quad. The caller clears the buffers (to opaque
    // black) and decides whether there is anything to draw. The state decides:
    // - emptySpaceSkipping: rays step over bricks the table makes wholly
    //   transparent; the samples taken lie where the plain ray caster takes
    //   them, so the picture is the same up to float rounding. The brick
    //   texture is brought up to date first; if that fails the frame is drawn
    //   without skipping and the result says why.
    // - mode: compositing or maximum intensity projection, which looks at every
    //   sample and so never skips bricks, only a frame in which the table makes
    //   every value transparent.
    // - jitter: each ray's first sample offset by a per-pixel hash in [0, 1) of
    //   a step, which turns the rings that equally spaced samples draw through
    //   opaque surfaces into fine noise; off, samples lie at step midpoints.
    // - storedGradients: frames read the stored gradients where there are any;
    //   off, they compute them as for a volume too large to store them.
    // Texture unit 1 is the active unit afterwards.
    GlResult drawFrame(const FrameGeometry &geometry, const RenderState &state);

    // Draws the picking program (see the shader) instead: the viewport, set by
    // the caller, holds the one fragment that stands for the frame's pixel at
    // windowPixel (GL window coordinates, origin bottom left); the state must
    // composite. It writes (object position, 1) where the ray's opacity
    // reaches one half, else (0, 0, 0, 0) over the caller's clear, which
    // stays where nothing is visible at all. Texture unit 1 is active after.
    GlResult drawPick(const FrameGeometry &geometry, const RenderState &state, QPoint windowPixel);

    // The layers over the volume (overlays and label maps on their own grids,
    // see layertextures.h): composited frames classify each of them at every
    // ray sample, placed by their world geometry, and composite them with the
    // volume's own sample in depth order. The first maximumRenderedLayers
    // visible layers are held; the others, and layers of frames over blocks,
    // of colour volumes and of the maximum intensity projection, are not
    // drawn. A layer image of the same volume as before keeps its texels and
    // only takes its new table.
    static constexpr int maximumRenderedLayers = 4;
    // Upload the layers again after each uploadVolume(): their bricks are
    // marked in the volume's.
    GlResult uploadLayers(const std::vector<ShownLayer> &layers);
    int layersHeld() const { return int(heldLayers.size()); }

    // A layer as the textures hold it.
    struct HeldLayer
    {
        const Volume *volume = nullptr;
        bool labels = false;
        GLuint values = 0;
        GLuint table = 0;
        std::array<double, 16> textureFromWorld{};
        QSize tableSize;
        std::array<int, 3> resolution{};
        float indexBits = 8.0f; // label maps: bits of a texel's label index
        // Images: the normalised values at and above showsAbove, and at and
        // below showsBelow, may show something (see LayerTexels).
        float showsAbove = 0.0f;
        float showsBelow = -1.0f;
    };

    // All GL errors raised since the last call, as text ("GL error 0x0502
    // during ..."), or an empty string.
    QString takeGlErrors(const char *during);

private:
    void buildProgram(const ShaderSource &fragmentShader);
    void lookUpEntryPoints();
    void fail(const QString &message);
    GlResult uploadBrickVisibility();
    bool uploadValueGradients(const Volume &volume);
    bool uploadColours(const VoxelColours &colours, const Volume &volume);
    GlResult uploadBlocks(const Volume &volume, std::vector<VolumeBlock> layout);
    void releaseBlocks();
    void forgetUploadedVolume();
    bool textureFits(int width, int height, int depth) const;
    // Sizes both carried buffers; false without float framebuffers.
    bool prepareCarriedBuffers(QSize size);
    int traversal(bool skip, bool storedGradients) const;
    // A frame, or a pick where pickPixel is given.
    GlResult draw(const FrameGeometry &geometry, const RenderState &state, const QPoint *pickPixel);
    // The passes of a frame or pick over the blocks (see the shader's Blocks).
    GlResult drawBlocks(const FrameGeometry &geometry, const RenderState &state,
                        const QPoint *pickPixel, bool skip);

    const GlFunctions &gl;
    // A program with its locations (-1 for what it lacks).
    struct LinkedProgram
    {
        std::unique_ptr<ShaderProgram> program;
        int vertexLocation = -1;
        int texCoordLocation = -1;
        // One per entry of the uniform table in raycaster.cpp, in its order.
        std::vector<int> uniformLocations;
        // Per layer, one per entry of the layer uniform table.
        std::vector<std::vector<int>> layerLocations;
    };
    static void lookUpLocations(LinkedProgram &linkedProgram);
    // The program of the given traversal (see the shader), or the picking
    // program, built the first time it is asked for; null where it cannot be
    // built.
    LinkedProgram *programFor(int traversal);

    // Per traversal; [0] is built at start-up from the fragment shader as it
    // is (its logs are the ones written), the others when first needed from
    // the same text with KELVARA_TRAVERSAL defined. Software rasterisers pay
    // for every branch a fragment group takes on either side, so the three
    // ways through the volume are programs of their own, not branches.
    // [pickProgram] is the picking program (KELVARA_PICK defined);
    // [blockProgram] and [blockPickProgram] draw frames and picks over blocks
    // (KELVARA_BLOCKS defined as well).
    static constexpr int pickProgram = 3;
    static constexpr int blockProgram = 4;
    static constexpr int blockPickProgram = 5;
    static constexpr int colourProgram = 6; // traversal 0, colours from the data
    // layerProgram + n - 1 draws frames with n layers (KELVARA_LAYERS n),
    // computing gradients; maximumRenderedLayers further on, reading stored
    // ones.
    static constexpr int layerProgram = 7;
    static constexpr int programCount = layerProgram + 2 * maximumRenderedLayers;
    std::array<LinkedProgram, programCount> programs;
    std::array<bool, programCount> programTried{};
    QByteArray fragmentText;
    ShaderProgram *program = nullptr; // programs[0]'s
    bool linked = false;
    bool valid = true;
    QString error;

    GLuint volumeTexture = 0;
    GLuint transferTexture = 0;
    GLuint brickTexture = 0;
    GLuint gradientTexture = 0;
    GLuint preciseTransferTexture = 0;
    // A colour volume's colours (RGBA bytes), where one is held in one texture.
    GLuint colourTexture = 0;
    bool colourHeld = false;
    bool colourAlpha = false;

    void releaseLayers(std::size_t keep);
    std::vector<HeldLayer> heldLayers;
    // The uploaded volume's data grid, and per brick whether a held layer
    // shows something there (empty without layers).
    ImageGrid volumeGrid;
    std::vector<unsigned char> layerBricks;

    int maximumTextureSide = 0;
    // The uploaded volume's blocks and their textures; empty while the volume
    // is one texture (volumeTexture).
    std::vector<VolumeBlock> blocks;
    std::vector<GLuint> blockTextures;
    // What rays gathered, handed from one block's pass to the next (float
    // texels, made at the first frame over blocks).
    std::array<std::unique_ptr<FramebufferTexture>, 2> carried;

    bool gradientTextureUsable = false;
    // Value ranges of the uploaded volume's bricks; empty without a volume.
    BrickMap brickMap;
    // The last table uploaded (at full precision, as the shader classifies),
    // for classifying the bricks of a later volume.
    std::array<float, 4 * TransferFunctionTable::entryCount> tableFloats{};
    bool tableUploaded = false;
    // The brick texture no longer matches the volume and table.
    bool bricksStale = false;
    // The brick texture and visible box match the volume and table.
    bool bricksUsable = false;
    // Brick-index box of the visible bricks (see BrickVisibility).
    std::array<int, 3> visibleLower{};
    std::array<int, 3> visibleUpper{};
    bool anyBrickVisible = false;
    // Share of the bricks that may be visible, 0..1.
    double visibleBrickShare = 0.0;
};
