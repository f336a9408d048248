#include "raycaster.h"

#include "brickmap.h"
#include "framebuffertexture.h"
#include "framegeometry.h"
#include "glfunctions.h"
#include "gradienttexels.h"
#include "layertextures.h"
#include "renderingoptions.h"
#include "renderstate.h"
#include "shaderprogram.h"
#include "shadersource.h"
#include "transferfunctiontable.h"
#include "volume.h"
#include "volumegrid.h"

#include <QColor>
#include <QStringList>
#include <QVector2D>
#include <QVector3D>

#include <algorithm>
#include <cstdint>
#include <iostream>
#include <iterator>
#include <variant>

#ifndef GL_ALPHA8
#define GL_ALPHA8 0x803C
#endif
#ifndef GL_ALPHA16
#define GL_ALPHA16 0x803E
#endif
#ifndef GL_RGBA32F
#define GL_RGBA32F 0x8814
#endif
#ifndef GL_FRAMEBUFFER
#define GL_FRAMEBUFFER 0x8D40
#endif
#ifndef GL_FRAMEBUFFER_BINDING
#define GL_FRAMEBUFFER_BINDING 0x8CA6
#endif

namespace {

// Passes the quad through in clip space and hands the pixel offset from the
// viewport centre (less the pan) to the fragment shader. highp needs the empty precision
// defines that Qt puts ahead of desktop shader sources.
const char vertexShaderSource[] = "attribute highp vec4 vertex;\n"
                                  "attribute vec4 texCoord;"
                                  "void main(void)\n"
                                  "{\n"
                                  "   gl_Position = vertex;\n"
                                  "  gl_TexCoord[0] = texCoord;}";

const char *glErrorName(GLenum code)
{
    switch (code) {
    case GL_INVALID_ENUM:
        return "GL_INVALID_ENUM";
    case GL_INVALID_VALUE:
        return "GL_INVALID_VALUE";
    case GL_INVALID_OPERATION:
        return "GL_INVALID_OPERATION";
    case GL_OUT_OF_MEMORY:
        return "GL_OUT_OF_MEMORY";
    case 0x0503:
        return "GL_STACK_OVERFLOW";
    case 0x0504:
        return "GL_STACK_UNDERFLOW";
    case 0x0506:
        return "GL_INVALID_FRAMEBUFFER_OPERATION";
    default:
        return "unknown GL error";
    }
}

// What the uniforms of one frame are made from.
struct FrameInputs
{
    const FrameGeometry &geometry;
    const RenderState &state;
    // Bricks are skipped in this frame (asked for, usable, and compositing).
    bool skip;
    QVector3D brickCount;
    QVector3D visibleMinimum;
    QVector3D visibleMaximum;
    // The window position of the frame pixel a pick stands for (see the
    // shader); (0, 0) in frames.
    QVector2D pickPixel;

    // One block's pass (see the shader's Blocks); unused for a single texture.
    struct BlockPass
    {
        QVector3D minimum;
        QVector3D maximum;
        QVector3D textureScale;
        QVector3D textureOffset;
        QVector2D carriedScale;
        bool first = true;
        bool last = true;
    };
    BlockPass block;
    // Colour volumes: the data's alpha is the opacity (RGBA), not the
    // function's of the luminance.
    bool colourAlpha = false;
};

// The uniforms of one layer of a frame: "layerValues0", ... for layer 0.
struct LayerInputs
{
    const RayCaster::HeldLayer &layer;
    LayerPlacement placement;
    int firstUnit; // its values' unit; its table's is the next
};

struct LayerUniform
{
    const char *name;
    std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> (*value)(const LayerInputs &layer);
};

const LayerUniform layerUniforms[] = {
    {"layerValues",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return GLint(l.firstUnit);
     }},
    {"layerTable",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return GLint(l.firstUnit + 1);
     }},
    {"layerOrigin",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return l.placement.origin;
     }},
    {"layerAxisX",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return l.placement.axisX;
     }},
    {"layerAxisY",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return l.placement.axisY;
     }},
    {"layerAxisZ",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return l.placement.axisZ;
     }},
    {"layerResolution",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return QVector3D(float(l.layer.resolution[0]), float(l.layer.resolution[1]),
                          float(l.layer.resolution[2]));
     }},
    {"layerIndexBits",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return GLfloat(l.layer.indexBits);
     }},
    {"layerTableSize",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return QVector2D(float(l.layer.tableSize.width()), float(l.layer.tableSize.height()));
     }},
    {"layerLabels",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return GLint(l.layer.labels);
     }},
    {"layerShows",
     [](const LayerInputs &l) -> std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor> {
         return QVector2D(l.layer.showsAbove, l.layer.showsBelow);
     }},
};

// Layer k's textures: values on unit 7 + 2k, table on 8 + 2k (the volume's
// own take 0..6).
constexpr int firstLayerUnit = 7;

using UniformValue = std::variant<GLint, GLfloat, QVector2D, QVector3D, QColor>;

struct Uniform
{
    const char *name;
    UniformValue (*value)(const FrameInputs &frame);
};

// Every uniform the host sets, in the order it sets them: a new uniform is one
// line here and a declaration in the shader. Samplers are texture units.
const Uniform frameUniforms[] = {
    {"n0", [](const FrameInputs &f) -> UniformValue { return f.geometry.n0; }},
    {"u", [](const FrameInputs &f) -> UniformValue { return f.geometry.u; }},
    {"v", [](const FrameInputs &f) -> UniformValue { return f.geometry.v; }},
    {"N", [](const FrameInputs &f) -> UniformValue { return GLint(f.state.options.samples); }},
    {"volumeSize", [](const FrameInputs &f) -> UniformValue { return f.geometry.volumeSize; }},
    {"volumeResolution",
     [](const FrameInputs &f) -> UniformValue { return f.geometry.volumeResolution; }},
    {"gradientScale",
     [](const FrameInputs &f) -> UniformValue { return f.geometry.gradientScale; }},
    {"sampler", [](const FrameInputs &) -> UniformValue { return GLint(0); }},
    {"c_light", [](const FrameInputs &f) -> UniformValue { return f.state.options.light; }},
    {"c_ambient", [](const FrameInputs &f) -> UniformValue { return f.state.options.ambient; }},
    {"c_diffuse", [](const FrameInputs &f) -> UniformValue { return f.state.options.diffuse; }},
    {"c_specular", [](const FrameInputs &f) -> UniformValue { return f.state.options.specular; }},
    {"c_exponent", [](const FrameInputs &f) -> UniformValue { return f.state.options.exponent; }},
    {"transferSampler", [](const FrameInputs &) -> UniformValue { return GLint(1); }},
    {"k1", [](const FrameInputs &f) -> UniformValue { return f.state.options.k1; }},
    {"k2", [](const FrameInputs &f) -> UniformValue { return f.state.options.k2; }},
    {"emptySpaceSkipping", [](const FrameInputs &f) -> UniformValue { return GLint(f.skip); }},
    {"brickSampler", [](const FrameInputs &) -> UniformValue { return GLint(2); }},
    {"brickSize", [](const FrameInputs &) -> UniformValue { return GLfloat(BrickMap::brickSize); }},
    {"brickCount", [](const FrameInputs &f) -> UniformValue { return f.brickCount; }},
    {"visibleMinimum", [](const FrameInputs &f) -> UniformValue { return f.visibleMinimum; }},
    {"visibleMaximum", [](const FrameInputs &f) -> UniformValue { return f.visibleMaximum; }},
    {"cropMinimum", [](const FrameInputs &f) -> UniformValue { return f.geometry.cropMinimum; }},
    {"cropMaximum", [](const FrameInputs &f) -> UniformValue { return f.geometry.cropMaximum; }},
    {"renderMode", [](const FrameInputs &f) -> UniformValue { return GLint(f.state.mode); }},
    {"jitter", [](const FrameInputs &f) -> UniformValue { return GLint(f.state.jitter); }},
    {"gradientSampler", [](const FrameInputs &) -> UniformValue { return GLint(3); }},
    {"preciseTransferSampler", [](const FrameInputs &) -> UniformValue { return GLint(4); }},
    {"pickPixel", [](const FrameInputs &f) -> UniformValue { return f.pickPixel; }},
    {"blockMinimum", [](const FrameInputs &f) -> UniformValue { return f.block.minimum; }},
    {"blockMaximum", [](const FrameInputs &f) -> UniformValue { return f.block.maximum; }},
    {"blockTextureScale",
     [](const FrameInputs &f) -> UniformValue { return f.block.textureScale; }},
    {"blockTextureOffset",
     [](const FrameInputs &f) -> UniformValue { return f.block.textureOffset; }},
    {"carriedSampler", [](const FrameInputs &) -> UniformValue { return GLint(6); }},
    {"carriedScale", [](const FrameInputs &f) -> UniformValue { return f.block.carriedScale; }},
    {"firstBlock", [](const FrameInputs &f) -> UniformValue { return GLint(f.block.first); }},
    {"lastBlock", [](const FrameInputs &f) -> UniformValue { return GLint(f.block.last); }},
    {"colourSampler", [](const FrameInputs &) -> UniformValue { return GLint(5); }},
    {"colourAlpha", [](const FrameInputs &f) -> UniformValue { return GLint(f.colourAlpha); }},
};

// A pass of a frame over blocks: the block drawn and its uniforms.
struct BlockDraw
{
    std::size_t block;
    FrameInputs::BlockPass uniforms;
};

// Beyond any ray through the box: the outer faces of the outermost blocks,
// so that the box's own faces decide there (see the shader's Blocks).
constexpr float outsideTheBox = 1.0e6f;

// Object coordinate of voxel position w along an axis of n voxels and the
// given length (voxel i's centre at w = i).
float objectCoordinate(float w, int n, float length)
{
    return ((w + 0.5f) / float(n) - 0.5f) * length;
}

// The passes of a frame over blocks, front to back along the rays (which run
// along n0, all parallel: along each axis, the blocks the rays meet first come
// first, and any order that keeps this on every axis will do). Blocks that
// hold no part of the cropping box, or when skipping of the visible bricks'
// box, are left out: they would add nothing.
std::vector<BlockDraw> orderBlockPasses(const std::vector<VolumeBlock> &blocks,
                                        const FrameInputs &frame, QSize carriedSize)
{
    const FrameGeometry &geometry = frame.geometry;
    std::vector<BlockDraw> passes;
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const VolumeBlock &block = blocks[b];
        FrameInputs::BlockPass pass;
        bool holdsSomething = true;
        for (int axis = 0; axis < 3; ++axis) {
            const int n = int(geometry.volumeResolution[axis]);
            const float length = geometry.volumeSize[axis];
            const bool firstAlong = block.ownLower[axis] == 0;
            const bool lastAlong = block.ownUpper[axis] >= n;
            // Neighbours compute a shared face from the same voxel position.
            pass.minimum[axis] = firstAlong
                                     ? -outsideTheBox
                                     : objectCoordinate(float(block.ownLower[axis]), n, length);
            pass.maximum[axis] = lastAlong
                                     ? outsideTheBox
                                     : objectCoordinate(float(block.ownUpper[axis]), n, length);
            // Block texture coordinate (w - start + 0.5) / size, w = s * n - 0.5.
            pass.textureScale[axis] = float(n) / float(block.textureSize[axis]);
            pass.textureOffset[axis] =
                -float(block.textureStart[axis]) / float(block.textureSize[axis]);
            // A voxel's margin either way against rounding.
            const float margin = length / float(n);
            float lower = geometry.cropMinimum[axis];
            float upper = geometry.cropMaximum[axis];
            if (frame.skip) {
                lower = std::max(lower, frame.visibleMinimum[axis]);
                upper = std::min(upper, frame.visibleMaximum[axis]);
            }
            if (pass.minimum[axis] > upper + margin || pass.maximum[axis] < lower - margin)
                holdsSomething = false;
        }
        pass.carriedScale =
            QVector2D(1.0f / float(carriedSize.width()), 1.0f / float(carriedSize.height()));
        if (holdsSomething)
            passes.push_back({b, pass});
    }
    const auto key = [&](const BlockDraw &pass) {
        std::array<int, 3> order{};
        for (int axis = 0; axis < 3; ++axis) {
            const int index = blocks[pass.block].index[axis];
            order[2 - axis] = geometry.n0[axis] < 0.0f ? -index : index;
        }
        return order;
    };
    std::stable_sort(passes.begin(), passes.end(),
                     [&](const BlockDraw &a, const BlockDraw &b) { return key(a) < key(b); });
    for (std::size_t k = 0; k < passes.size(); ++k) {
        passes[k].uniforms.first = k == 0;
        passes[k].uniforms.last = k + 1 == passes.size();
    }
    return passes;
}

} // namespace

RayCaster::RayCaster(const GlFunctions &functions, const ShaderSource &fragmentShader)
    : gl(functions)
{
    gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    gl.glEnable(GL_DEPTH_TEST);
    gl.glEnable(GL_CULL_FACE);
    gl.glShadeModel(GL_SMOOTH);
    gl.glEnable(GL_LIGHTING);
    gl.glEnable(GL_LIGHT0);
    gl.glEnable(GL_MULTISAMPLE);
    gl.glEnable(GL_TEXTURE_1D);
    gl.glEnable(GL_TEXTURE_3D);
    // The shader reads this as gl_LightSource[0].position: a light fixed relative
    // to the viewer, above, right of and in front of the view plane.
    const GLfloat lightPosition[4] = {0.5f, 5.0f, 7.0f, 1.0f};
    gl.glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);

    buildProgram(fragmentShader);
    // An unlinked program has no locations; asking would only raise warnings.
    if (linked)
        lookUpLocations(programs[0]);

    gl.glGenTextures(1, &volumeTexture);
    gl.glGenTextures(1, &transferTexture);
    gl.glGenTextures(1, &brickTexture);
    gl.glGenTextures(1, &gradientTexture);
    gl.glGenTextures(1, &preciseTransferTexture);
    gl.glGenTextures(1, &colourTexture);

    lookUpEntryPoints();

    const QString errors = takeGlErrors("GL initialisation");
    if (!errors.isEmpty())
        fail(errors);
}

RayCaster::~RayCaster()
{
    releaseLayers(0);
    releaseBlocks();
    carried = {};
    gl.glDeleteTextures(1, &colourTexture);
    gl.glDeleteTextures(1, &preciseTransferTexture);
    gl.glDeleteTextures(1, &gradientTexture);
    gl.glDeleteTextures(1, &brickTexture);
    gl.glDeleteTextures(1, &transferTexture);
    gl.glDeleteTextures(1, &volumeTexture);
}

void RayCaster::fail(const QString &message)
{
    valid = false;
    error = error.isEmpty() ? message : error + QStringLiteral("; ") + message;
}

void RayCaster::buildProgram(const ShaderSource &fragmentShader)
{
    programs[0].program = std::make_unique<ShaderProgram>(gl);
    program = programs[0].program.get();
    programTried[0] = true;
    fragmentText = fragmentShader.text;

    const bool vertexOk = program->addShader(GL_VERTEX_SHADER, vertexShaderSource);
    std::cout << "Vertex shader log: " << program->log().toLocal8Bit().constData() << std::endl;
    if (!vertexOk)
        fail(QStringLiteral("The vertex shader does not compile: %1").arg(program->log()));

    bool fragmentOk = false;
    if (fragmentShader.found) {
        fragmentOk = program->addShader(GL_FRAGMENT_SHADER, fragmentShader.text);
        std::cerr << "Fragment shader log: " << program->log().toLocal8Bit().constData()
                  << std::endl;
        if (!fragmentOk) {
            fail(QStringLiteral("The fragment shader %1 does not compile: %2")
                     .arg(fragmentShader.origin, program->log()));
        }
    } else {
        std::cerr << "Fragment shader log: " << fragmentShader.problem.toLocal8Bit().constData()
                  << std::endl;
        fail(fragmentShader.problem);
    }

    // Without both shaders a program would fall back to fixed-function
    // fragments and paint the quad in some colour: link only what can work.
    if (vertexOk && fragmentOk) {
        // Attribute 0 must be the position in a compatibility context.
        program->bindAttributeLocation("vertex", 0);
        linked = program->link();
    }
    std::cout << "Shader link log: "
              << (vertexOk && fragmentOk ? program->log() : QString()).toLocal8Bit().constData()
              << std::endl;
    if (vertexOk && fragmentOk && !linked)
        fail(QStringLiteral("The shader program does not link: %1").arg(program->log()));
    if (linked && !program->bind()) {
        linked = false;
        fail(QStringLiteral("The shader program cannot be bound"));
    }
}

void RayCaster::lookUpLocations(LinkedProgram &linkedProgram)
{
    const ShaderProgram &shaders = *linkedProgram.program;
    linkedProgram.vertexLocation = shaders.attributeLocation("vertex");
    linkedProgram.texCoordLocation = shaders.attributeLocation("texCoord");
    linkedProgram.uniformLocations.clear();
    for (const Uniform &uniform : frameUniforms)
        linkedProgram.uniformLocations.push_back(shaders.uniformLocation(uniform.name));
    linkedProgram.layerLocations.clear();
    for (int layer = 0; layer < maximumRenderedLayers; ++layer) {
        std::vector<int> locations;
        for (const LayerUniform &uniform : layerUniforms)
            locations.push_back(shaders.uniformLocation(
                (QByteArray(uniform.name) + QByteArray::number(layer)).constData()));
        linkedProgram.layerLocations.push_back(locations);
    }
}

RayCaster::LinkedProgram *RayCaster::programFor(int traversal)
{
    LinkedProgram &linkedProgram = programs[std::size_t(traversal)];
    if (traversal == 0)
        return linked ? &linkedProgram : nullptr;
    if (!programTried[std::size_t(traversal)]) {
        programTried[std::size_t(traversal)] = true;
        auto shaders = std::make_unique<ShaderProgram>(gl);
        QByteArray definition = "KELVARA_TRAVERSAL " + QByteArray::number(traversal);
        if (traversal == pickProgram)
            definition = "KELVARA_PICK 1";
        else if (traversal == blockProgram)
            definition = "KELVARA_BLOCKS 1";
        else if (traversal == blockPickProgram)
            definition = "KELVARA_PICK 1\n#define KELVARA_BLOCKS 1";
        else if (traversal == colourProgram)
            definition = "KELVARA_TRAVERSAL 0\n#define KELVARA_COLOUR 1";
        else if (traversal >= layerProgram)
            definition = QByteArray("KELVARA_TRAVERSAL ") +
                         (traversal - layerProgram >= maximumRenderedLayers ? "1" : "0") +
                         "\n#define KELVARA_LAYERS " +
                         QByteArray::number((traversal - layerProgram) % maximumRenderedLayers + 1);
        shaders->bindAttributeLocation("vertex", 0);
        if (shaders->addShader(GL_VERTEX_SHADER, vertexShaderSource) &&
            shaders->addShader(GL_FRAGMENT_SHADER, withDefinition(fragmentText, definition)) &&
            shaders->link()) {
            linkedProgram.program = std::move(shaders);
            lookUpLocations(linkedProgram);
        }
    }
    return linkedProgram.program ? &linkedProgram : nullptr;
}

void RayCaster::lookUpEntryPoints()
{
    if (!gl.glTexImage3D)
        fail(QStringLiteral("This GL implementation has no glTexImage3D: volumes cannot be shown"));
    if (!gl.glActiveTexture)
        fail(QStringLiteral("This GL implementation has no glActiveTexture"));
}

QString RayCaster::takeGlErrors(const char *during)
{
    QStringList errors;
    // Bounded: a lost context can report an error on every call.
    for (int i = 0; i < 16; ++i) {
        const GLenum code = gl.glGetError();
        if (code == GL_NO_ERROR)
            break;
        errors << QStringLiteral("%1 (0x%2)")
                      .arg(QLatin1String(glErrorName(code)))
                      .arg(code, 4, 16, QLatin1Char('0'));
    }
    if (errors.isEmpty())
        return QString();
    return QStringLiteral("%1 during %2")
        .arg(errors.join(QStringLiteral(", ")), QLatin1String(during));
}

GlResult RayCaster::uploadVolume(const Volume &volume)
{
    GlResult result;
    if (!gl.glTexImage3D || !gl.glActiveTexture) {
        result.message = error;
        return result;
    }
    const std::uint64_t voxelCount = std::uint64_t(std::max(volume.width, 0)) *
                                     std::uint64_t(std::max(volume.height, 0)) *
                                     std::uint64_t(std::max(volume.depth, 0));
    if (voxelCount == 0 || voxelCount != volume.data.size()) {
        result.message = QStringLiteral("The data set of %1 x %2 x %3 voxels holds %4 values: "
                                        "not shown")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth)
                             .arg(qulonglong(volume.data.size()));
        return result;
    }
    const QString earlier = takeGlErrors("earlier GL work");
    if (!earlier.isEmpty()) {
        result.message = earlier;
        return result;
    }

    std::vector<VolumeBlock> layout = layOutBlocks(
        {{volume.width, volume.height, volume.depth}}, BrickMap::brickSize,
        [this](int width, int height, int depth) { return textureFits(width, height, depth); });
    takeGlErrors("the size check");
    if (layout.empty()) {
        GLint maximumSize = 0;
        gl.glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maximumSize);
        result.message = QStringLiteral("The data set of %1 x %2 x %3 voxels does not fit the 3D "
                                        "textures of this GL implementation (%4 per side), not "
                                        "even in blocks: not shown")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth)
                             .arg(maximumSize);
        return result;
    }
    if (layout.size() > 1)
        return uploadBlocks(volume, std::move(layout));
    releaseBlocks();

    forgetUploadedVolume();
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_3D, volumeTexture);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    // GL_ALPHA16: an unsized GL_ALPHA would keep only 8 bits on Mesa.
    gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_ALPHA16, volume.width, volume.height, volume.depth, 0,
                    GL_ALPHA, GL_FLOAT, volume.data.data());
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    const QString errors = takeGlErrors("the volume upload");
    if (!errors.isEmpty()) {
        result.message = QStringLiteral("The data set of %1 x %2 x %3 voxels could not be "
                                        "uploaded (%4): not shown")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth)
                             .arg(errors);
        return result;
    }
    brickMap = computeBrickMap(volume);
    volumeGrid = dataGrid(volume);
    layerBricks.clear();
    gradientTextureUsable = uploadValueGradients(volume);
    colourHeld = volume.colours && uploadColours(*volume.colours, volume);
    result.ok = true;
    return result;
}

void RayCaster::releaseLayers(std::size_t keep)
{
    while (heldLayers.size() > keep) {
        HeldLayer &layer = heldLayers.back();
        gl.glDeleteTextures(1, &layer.values);
        gl.glDeleteTextures(1, &layer.table);
        heldLayers.pop_back();
    }
}

GlResult RayCaster::uploadLayers(const std::vector<ShownLayer> &layers)
{
    GlResult result;
    if (!gl.glTexImage3D || !gl.glActiveTexture) {
        result.message = error;
        return result;
    }
    takeGlErrors("earlier GL work");
    std::vector<ShownLayer> shown;
    for (const ShownLayer &layer : layers)
        if (layer.volume && layer.appearance && layer.appearance->visible &&
            layer.appearance->opacity > 0.0 && int(shown.size()) < maximumRenderedLayers)
            shown.push_back(layer);

    // The layers of the same volumes and kinds as before keep their texels.
    std::size_t kept = 0;
    while (kept < shown.size() && kept < heldLayers.size() &&
           heldLayers[kept].volume == shown[kept].volume &&
           heldLayers[kept].labels == (shown[kept].appearance->kind == LayerKind::Labels))
        ++kept;
    releaseLayers(kept);

    QStringList problems;
    const std::array<int, 3> &counts = brickMap.counts;
    layerBricks.assign(std::size_t(counts[0]) * std::size_t(counts[1]) * std::size_t(counts[2]), 0);
    bricksStale = true;
    bricksUsable = false;
    for (std::size_t k = 0; k < shown.size(); ++k) {
        const Volume &volume = *shown[k].volume;
        const LayerAppearance &appearance = *shown[k].appearance;
        const LayerTexels texels = layerTexels(volume, appearance);
        if (texels.size[0] == 0) {
            problems << QStringLiteral("a layer's data does not match its size");
            continue;
        }
        // The layer's place among the held ones names its bit (see the shader).
        const std::size_t heldIndex = k < kept ? k : heldLayers.size();
        markLayerBricks(volumeGrid, dataGrid(volume), texels, counts, BrickMap::brickSize,
                        (unsigned char)(2u << heldIndex), layerBricks);
        if (k >= kept) {
            HeldLayer held;
            held.volume = &volume;
            held.labels = texels.labels;
            held.resolution = texels.size;
            held.textureFromWorld = textureFromWorld(dataGrid(volume), texels.size);
            gl.glGenTextures(1, &held.values);
            gl.glGenTextures(1, &held.table);
            heldLayers.push_back(held);
        }
        HeldLayer &held = heldLayers[heldIndex];
        held.showsAbove = texels.showsAbove;
        held.showsBelow = texels.showsBelow;
        // An image's texels are its data; a label map's name the labels shown.
        if (k >= kept || texels.labels) {
            held.indexBits = float(texels.indexBits);
            gl.glActiveTexture(GLenum(GL_TEXTURE0 + firstLayerUnit));
            gl.glBindTexture(GL_TEXTURE_3D, held.values);
            gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
            if (texels.labels)
                gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_LUMINANCE8_ALPHA8, texels.size[0],
                                texels.size[1], texels.size[2], 0, GL_LUMINANCE_ALPHA,
                                GL_UNSIGNED_BYTE, texels.labelTexels.data());
            else
                gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA16, texels.size[0], texels.size[1],
                                texels.size[2], 0, GL_RGBA, GL_UNSIGNED_SHORT,
                                texels.imageTexels.data());
            gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
            // Labels are never blended with their neighbours.
            const GLint filter = texels.labels ? GL_NEAREST : GL_LINEAR;
            gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, filter);
            gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, filter);
            gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
        }
        held.tableSize = QSize(texels.tableWidth, texels.tableRows);
        gl.glActiveTexture(GLenum(GL_TEXTURE0 + firstLayerUnit + 1));
        gl.glBindTexture(GL_TEXTURE_2D, held.table);
        gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, texels.tableWidth, texels.tableRows, 0,
                        GL_RGBA, GL_FLOAT, texels.table.data());
        // Image tables are read between entries, label tables at their centres.
        const GLint filter = texels.labels ? GL_NEAREST : GL_LINEAR;
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        const QString errors = takeGlErrors("a layer's upload");
        if (!errors.isEmpty()) {
            problems << errors;
            releaseLayers(k);
            break;
        }
    }
    gl.glActiveTexture(GL_TEXTURE0);
    result.ok = problems.isEmpty();
    result.message = problems.join(QStringLiteral("; "));
    return result;
}

bool RayCaster::uploadColours(const VoxelColours &colours, const Volume &volume)
{
    const std::size_t count = volume.data.size();
    const std::size_t components = std::size_t(colours.components);
    if (colours.values.size() != count * components)
        return false;
    // Shown as stored, in bytes: a component's full scale is 255.
    std::vector<unsigned char> texels;
    texels.reserve(count * 4);
    const float scale = float(255.0 / colours.fullScale);
    for (std::size_t voxel = 0; voxel < count; ++voxel)
        for (std::size_t c = 0; c < 4; ++c) {
            const float value =
                c < components ? colours.values[voxel * components + c] * scale : 255.0f;
            texels.push_back(
                std::isfinite(value) ? (unsigned char)(std::clamp(value, 0.0f, 255.0f) + 0.5f) : 0);
        }
    gl.glActiveTexture(GL_TEXTURE5);
    gl.glBindTexture(GL_TEXTURE_3D, colourTexture);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA8, volume.width, volume.height, volume.depth, 0,
                    GL_RGBA, GL_UNSIGNED_BYTE, texels.data());
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glActiveTexture(GL_TEXTURE0);
    colourAlpha = components == 4;
    return takeGlErrors("the colour upload").isEmpty();
}

int RayCaster::blockCount() const
{
    if (!blocks.empty())
        return int(blocks.size());
    return brickMap.minimum.empty() ? 0 : 1;
}

bool RayCaster::textureFits(int width, int height, int depth) const
{
    GLint maximumSize = 0;
    gl.glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maximumSize);
    if (maximumTextureSide > 0)
        maximumSize = std::min(maximumSize, GLint(maximumTextureSide));
    if (width > maximumSize || height > maximumSize || depth > maximumSize)
        return false;
    // The proxy asks whether the implementation can hold the whole image.
    gl.glTexImage3D(GL_PROXY_TEXTURE_3D, 0, GL_ALPHA16, width, height, depth, 0, GL_ALPHA, GL_FLOAT,
                    nullptr);
    GLint proxyWidth = 0;
    gl.glGetTexLevelParameteriv(GL_PROXY_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &proxyWidth);
    return proxyWidth != 0;
}

void RayCaster::forgetUploadedVolume()
{
    // Whatever happens next, the old bricks and gradients no longer describe
    // the textures.
    brickMap = BrickMap();
    bricksUsable = false;
    bricksStale = true;
    gradientTextureUsable = false;
    colourHeld = false;
}

void RayCaster::releaseBlocks()
{
    if (!blockTextures.empty())
        gl.glDeleteTextures(GLsizei(blockTextures.size()), blockTextures.data());
    blockTextures.clear();
    blocks.clear();
}

GlResult RayCaster::uploadBlocks(const Volume &volume, std::vector<VolumeBlock> layout)
{
    GlResult result;
    releaseBlocks();
    forgetUploadedVolume();
    // Empty images give back the memory of an earlier volume's texture and
    // gradients. Blocks compute gradients from neighbours (traversal 0): the
    // volumes held in blocks are far beyond what stored gradients may take.
    gl.glActiveTexture(GL_TEXTURE3);
    gl.glBindTexture(GL_TEXTURE_3D, gradientTexture);
    gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA16, 0, 0, 0, 0, GL_RGBA, GL_UNSIGNED_SHORT, nullptr);
    gl.glActiveTexture(GL_TEXTURE0);
    gl.glBindTexture(GL_TEXTURE_3D, volumeTexture);
    gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_ALPHA16, 0, 0, 0, 0, GL_ALPHA, GL_FLOAT, nullptr);
    if (!gl.glTexSubImage3D) {
        result.message = QStringLiteral("This GL implementation has no glTexSubImage3D: the data "
                                        "set of %1 x %2 x %3 voxels needs several textures and "
                                        "is not shown")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth);
        return result;
    }

    blockTextures.assign(layout.size(), 0);
    gl.glGenTextures(GLsizei(blockTextures.size()), blockTextures.data());
    const std::size_t width = std::size_t(volume.width);
    const std::size_t sliceVoxels = width * std::size_t(volume.height);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    for (std::size_t b = 0; b < layout.size(); ++b) {
        const VolumeBlock &block = layout[b];
        const std::array<int, 3> &start = block.textureStart;
        const std::array<int, 3> &size = block.textureSize;
        gl.glBindTexture(GL_TEXTURE_3D, blockTextures[b]);
        gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_ALPHA16, size[0], size[1], size[2], 0, GL_ALPHA,
                        GL_FLOAT, nullptr);
        gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
        gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
        // Rounding may put a lookup a hair outside the voxels a block holds for
        // it: the edge texel is the right one there, the opposite face is not.
        gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
        // The block's rows straight from the volume's floats, a few slices at
        // a time, so that no offset GL computes into them grows beyond a
        // slab (some implementations keep such offsets in 32 bits).
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, volume.width);
        gl.glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, volume.height);
        constexpr int slabSlices = 16;
        for (int z = 0; z < size[2]; z += slabSlices) {
            const float *first = volume.data.data() + std::size_t(start[2] + z) * sliceVoxels +
                                 std::size_t(start[1]) * width + std::size_t(start[0]);
            gl.glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, z, size[0], size[1],
                               std::min(slabSlices, size[2] - z), GL_ALPHA, GL_FLOAT, first);
        }
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        gl.glPixelStorei(GL_UNPACK_IMAGE_HEIGHT, 0);
        const QString errors = takeGlErrors("the volume upload");
        if (!errors.isEmpty()) {
            releaseBlocks();
            result.message = QStringLiteral("The data set of %1 x %2 x %3 voxels could not be "
                                            "uploaded in %4 blocks (%5): not shown")
                                 .arg(volume.width)
                                 .arg(volume.height)
                                 .arg(volume.depth)
                                 .arg(layout.size())
                                 .arg(errors);
            return result;
        }
    }
    blocks = std::move(layout);
    brickMap = computeBrickMap(volume);
    volumeGrid = dataGrid(volume);
    layerBricks.clear();
    result.ok = true;
    return result;
}

bool RayCaster::prepareCarriedBuffers(QSize size)
{
    for (auto &buffer : carried) {
        if (!buffer)
            buffer = std::make_unique<FramebufferTexture>(gl, true);
        if (!buffer->resize(size)) {
            takeGlErrors("the buffers of frames over blocks");
            return false;
        }
    }
    return true;
}

bool RayCaster::uploadValueGradients(const Volume &volume)
{
    const std::uint64_t voxelCount =
        std::uint64_t(volume.width) * std::uint64_t(volume.height) * std::uint64_t(volume.depth);
    const std::uint64_t bytes = voxelCount * gradienttexels::channels * sizeof(std::uint16_t);
    gl.glActiveTexture(GL_TEXTURE3);
    gl.glBindTexture(GL_TEXTURE_3D, gradientTexture);
    // An empty image gives back the memory of an earlier volume's texels.
    const auto release = [&] {
        takeGlErrors("the gradient upload");
        gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA16, 0, 0, 0, 0, GL_RGBA, GL_UNSIGNED_SHORT,
                        nullptr);
        gl.glActiveTexture(GL_TEXTURE0);
        return false;
    };
    if (!gl.glTexSubImage3D || voxelCount == 0 || bytes > maximumGradientTextureBytes)
        return release();
    gl.glTexImage3D(GL_PROXY_TEXTURE_3D, 0, GL_RGBA16, volume.width, volume.height, volume.depth, 0,
                    GL_RGBA, GL_UNSIGNED_SHORT, nullptr);
    GLint proxyWidth = 0;
    gl.glGetTexLevelParameteriv(GL_PROXY_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &proxyWidth);
    if (proxyWidth == 0)
        return release();

    gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_RGBA16, volume.width, volume.height, volume.depth, 0,
                    GL_RGBA, GL_UNSIGNED_SHORT, nullptr);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    // Filled in slabs of about a million voxels, so that the texels never
    // need more host memory than 8 MiB beside the texture itself.
    const std::size_t sliceVoxels = std::size_t(volume.width) * std::size_t(volume.height);
    const int slabSlices = int(std::clamp<std::size_t>((std::size_t(1) << 20) / sliceVoxels, 1,
                                                       std::size_t(volume.depth)));
    std::vector<std::uint16_t> slab(sliceVoxels * std::size_t(slabSlices) *
                                    gradienttexels::channels);
    for (int z = 0; z < volume.depth; z += slabSlices) {
        const int slices = std::min(slabSlices, volume.depth - z);
        gradienttexels::fill(volume, z, slices, slab.data());
        gl.glTexSubImage3D(GL_TEXTURE_3D, 0, 0, 0, z, volume.width, volume.height, slices, GL_RGBA,
                           GL_UNSIGNED_SHORT, slab.data());
    }
    // A failed upload costs speed, not the picture: frames compute gradients.
    if (!takeGlErrors("the gradient upload").isEmpty())
        return release();
    gl.glActiveTexture(GL_TEXTURE0);
    return true;
}

// 0: search, gradients from neighbours; 1: search, stored gradients; 2: every
// sample, stored gradients (see the shader).
int RayCaster::traversal(bool skip, bool storedGradients) const
{
    if (!gradientTextureUsable || !storedGradients)
        return 0;
    // Searching pays where skipping leaves out a good part of the volume;
    // with most bricks visible every sample is taken anyway (with the ramp on
    // the noisy head, 100 % visible, taking every sample was 1.4x faster).
    constexpr double denseShare = 0.9;
    return skip && visibleBrickShare < denseShare ? 1 : 2;
}

GlResult RayCaster::uploadTransferTable(const unsigned char *rgbaBytes, const float *rgbaFloats)
{
    GlResult result;
    if (!gl.glActiveTexture) {
        result.message = error;
        return result;
    }
    const QString earlier = takeGlErrors("earlier GL work");
    if (!earlier.isEmpty()) {
        result.message = earlier;
        return result;
    }
    gl.glActiveTexture(GL_TEXTURE1);
    gl.glBindTexture(GL_TEXTURE_1D, transferTexture);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glTexImage1D(GL_TEXTURE_1D, 0, 4, TransferFunctionTable::entryCount, 0, GL_RGBA,
                    GL_UNSIGNED_BYTE, rgbaBytes);
    gl.glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    // The shader reads the end entries at their texel centres; with the default
    // repeat wrap, rounding there would blend in the entry at the other end
    // (and the brick classification would have to allow for it).
    gl.glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    const QString byteErrors = takeGlErrors("the transfer-function upload");

    // 32-bit floats: translucent functions need far finer opacities than a
    // byte holds (the opacity of a hundredth of the box compounds a hundred
    // times across it), and 1024 entries cost 16 KiB.
    gl.glActiveTexture(GL_TEXTURE4);
    gl.glBindTexture(GL_TEXTURE_1D, preciseTransferTexture);
    gl.glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA32F, TransferFunctionTable::entryCount, 0, GL_RGBA,
                    GL_FLOAT, rgbaFloats);
    std::copy(rgbaFloats, rgbaFloats + tableFloats.size(), tableFloats.begin());
    if (!takeGlErrors("the float transfer-function upload").isEmpty()) {
        gl.glTexImage1D(GL_TEXTURE_1D, 0, GL_RGBA8, TransferFunctionTable::entryCount, 0, GL_RGBA,
                        GL_UNSIGNED_BYTE, rgbaBytes);
        for (std::size_t i = 0; i < tableFloats.size(); ++i)
            tableFloats[i] = float(rgbaBytes[i]) / 255.0f;
    }
    gl.glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    gl.glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glActiveTexture(GL_TEXTURE1);
    tableUploaded = true;
    bricksUsable = false;
    bricksStale = true;
    const QString errors = byteErrors + takeGlErrors("the transfer-function upload");
    if (!errors.isEmpty()) {
        result.message = errors;
        return result;
    }
    result.ok = true;
    return result;
}

GlResult RayCaster::uploadBrickVisibility()
{
    GlResult result;
    bricksStale = false;
    bricksUsable = false;
    // Without a table the shader reads an incomplete texture: nothing to classify.
    if (!tableUploaded || brickMap.minimum.empty()) {
        result.ok = true;
        return result;
    }
    const QString earlier = takeGlErrors("earlier GL work");
    if (!earlier.isEmpty()) {
        result.message = earlier;
        return result;
    }
    BrickVisibility visibility = classifyBricks(brickMap, tableFloats.data());
    if (!heldLayers.empty())
        addLayerBricks(visibility, brickMap.counts, layerBricks);

    visibleLower = visibility.lower;
    visibleUpper = visibility.upper;
    anyBrickVisible = visibility.anyVisible();
    visibleBrickShare =
        visibility.flags.empty()
            ? 0.0
            : double(visibility.flags.size() -
                     std::size_t(std::count(visibility.flags.begin(), visibility.flags.end(), 0))) /
                  double(visibility.flags.size());

    gl.glActiveTexture(GL_TEXTURE2);
    gl.glBindTexture(GL_TEXTURE_3D, brickTexture);
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 1); // rows of any byte count
    gl.glTexImage3D(GL_TEXTURE_3D, 0, GL_ALPHA8, brickMap.counts[0], brickMap.counts[1],
                    brickMap.counts[2], 0, GL_ALPHA, GL_UNSIGNED_BYTE, visibility.flags.data());
    gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    gl.glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_WRAP_R, GL_CLAMP_TO_EDGE);
    const QString errors = takeGlErrors("the empty-space map upload");
    if (!errors.isEmpty()) {
        result.message =
            QStringLiteral("%1: frames are drawn without skipping empty space").arg(errors);
        return result;
    }
    bricksUsable = true;
    result.ok = true;
    return result;
}

GlResult RayCaster::drawFrame(const FrameGeometry &geometry, const RenderState &state)
{
    return draw(geometry, state, nullptr);
}

GlResult RayCaster::drawPick(const FrameGeometry &geometry, const RenderState &state,
                             QPoint windowPixel)
{
    return draw(geometry, state, &windowPixel);
}

GlResult RayCaster::draw(const FrameGeometry &geometry, const RenderState &state,
                         const QPoint *pickPixel)
{
    const bool skipping = state.emptySpaceSkipping;
    const RenderMode renderMode = state.mode;
    GlResult result;
    if (!valid) {
        result.message = error;
        return result;
    }
    result.ok = true;
    if (skipping && bricksStale)
        result = uploadBrickVisibility();
    // The bricks know the function's opacity, not the data's own alpha.
    const bool skip = skipping && bricksUsable && !(colourHeld && colourAlpha);
    // Layers are drawn in composited frames of a scalar volume held in one
    // texture.
    const int layerCount =
        !pickPixel && blocks.empty() && !colourHeld && renderMode == RenderMode::Composite
            ? int(heldLayers.size())
            : 0;
    if (skip && !anyBrickVisible && layerCount == 0) {
        // Every sample is transparent: the cleared frame is the picture.
        gl.glActiveTexture(GL_TEXTURE1);
        return result;
    }
    const bool overBlocks = !blocks.empty();
    // The start-up program stays bound between frames; another one is bound
    // for this frame only. A pick has no stand-in: a colour is no position,
    // nor has a frame over blocks: one block is no picture.
    LinkedProgram *chosen = nullptr;
    if (pickPixel || overBlocks) {
        const int wanted = pickPixel ? (overBlocks ? blockPickProgram : pickProgram) : blockProgram;
        chosen = programFor(wanted);
        if (!chosen || !chosen->program->bind()) {
            result.ok = false;
            result.message = pickPixel ? QStringLiteral("The picking program could not be built")
                                       : QStringLiteral("The program for volumes held in blocks "
                                                        "could not be built");
            gl.glActiveTexture(GL_TEXTURE1);
            return result;
        }
    } else {
        // A colour volume's colours come from its own texture; its maximum
        // intensity projection is the luminance's, through the function.
        chosen =
            renderMode != RenderMode::Composite ? nullptr
            : colourHeld                        ? programFor(colourProgram)
            : layerCount > 0
                ? programFor(
                      layerProgram + layerCount - 1 +
                      (gradientTextureUsable && state.storedGradients ? maximumRenderedLayers : 0))
                : programFor(traversal(skip, state.storedGradients));
        if (!chosen || !chosen->program->bind())
            chosen = &programs[0];
    }
    ShaderProgram &shaders = *chosen->program;
    const int vertexLocation = chosen->vertexLocation;
    const int texCoordLocation = chosen->texCoordLocation;

    // Client-side arrays: no buffer object may be bound.
    gl.glBindBuffer(GL_ARRAY_BUFFER, 0);
    shaders.setAttributeArray(vertexLocation, quadVertices.data(), 3);
    shaders.setAttributeArray(texCoordLocation, geometry.quadTexCoords.data(), 2);

    // The visible bricks' box in object coordinates, one voxel larger on every
    // side so that rounding at its faces cannot cut a visible sample off.
    QVector3D visibleMinimum;
    QVector3D visibleMaximum;
    for (int axis = 0; axis < 3; ++axis) {
        const int resolution = int(geometry.volumeResolution[axis]);
        const float size = geometry.volumeSize[axis];
        visibleMinimum[axis] =
            objectCoordinate(float(visibleLower[axis] * BrickMap::brickSize - 1), resolution, size);
        visibleMaximum[axis] =
            objectCoordinate(float(visibleUpper[axis] * BrickMap::brickSize + 1), resolution, size);
    }
    // Skipping by bricks would leave out transparent maxima that the
    // projection must see.
    FrameInputs frame{
        geometry,
        state,
        skip && renderMode == RenderMode::Composite,
        QVector3D(float(brickMap.counts[0]), float(brickMap.counts[1]), float(brickMap.counts[2])),
        visibleMinimum,
        visibleMaximum,
        pickPixel ? QVector2D(*pickPixel) : QVector2D(),
        {},
        colourHeld && colourAlpha};

    // Unit 1 last: it stays the active unit after the frame.
    gl.glActiveTexture(GL_TEXTURE5);
    gl.glBindTexture(GL_TEXTURE_3D, colourTexture);
    gl.glActiveTexture(GL_TEXTURE4);
    gl.glBindTexture(GL_TEXTURE_1D, preciseTransferTexture);
    gl.glActiveTexture(GL_TEXTURE3);
    gl.glBindTexture(GL_TEXTURE_3D, gradientTexture);
    gl.glActiveTexture(GL_TEXTURE2);
    gl.glBindTexture(GL_TEXTURE_3D, brickTexture);
    const bool layersDrawn = layerCount > 0 && chosen >= &programs[std::size_t(layerProgram)];
    for (int k = 0; layersDrawn && k < layerCount; ++k) {
        const HeldLayer &layer = heldLayers[std::size_t(k)];
        gl.glActiveTexture(GLenum(GL_TEXTURE0 + firstLayerUnit + 2 * k));
        gl.glBindTexture(GL_TEXTURE_3D, layer.values);
        gl.glActiveTexture(GLenum(GL_TEXTURE0 + firstLayerUnit + 2 * k + 1));
        gl.glBindTexture(GL_TEXTURE_2D, layer.table);
    }
    const auto drawPass = [&](GLuint texture) {
        // The locations stand in the table's order (looked up once the program linked).
        const std::vector<int> &uniformLocations = chosen->uniformLocations;
        for (std::size_t i = 0; i < uniformLocations.size() && i < std::size(frameUniforms); ++i) {
            const int location = uniformLocations[i];
            std::visit([&](const auto &value) { shaders.setUniform(location, value); },
                       frameUniforms[i].value(frame));
        }
        for (int k = 0; layersDrawn && k < layerCount; ++k) {
            const HeldLayer &layer = heldLayers[std::size_t(k)];
            const LayerInputs inputs{layer, layerPlacement(geometry, layer.textureFromWorld),
                                     firstLayerUnit + 2 * k};
            const std::vector<int> &locations = chosen->layerLocations[std::size_t(k)];
            for (std::size_t i = 0; i < locations.size() && i < std::size(layerUniforms); ++i) {
                const int location = locations[i];
                std::visit([&](const auto &value) { shaders.setUniform(location, value); },
                           layerUniforms[i].value(inputs));
            }
        }
        gl.glActiveTexture(GL_TEXTURE0);
        gl.glBindTexture(GL_TEXTURE_3D, texture);
        gl.glActiveTexture(GL_TEXTURE1);
        gl.glBindTexture(GL_TEXTURE_1D, transferTexture);
        gl.glDrawArrays(GL_QUADS, 0, 4);
    };

    if (!overBlocks) {
        drawPass(volumeTexture);
    } else {
        // Every pass covers the caller's viewport; the carried texels match
        // its pixels one to one (a pick's one pixel included).
        GLint viewport[4] = {0, 0, 1, 1};
        gl.glGetIntegerv(GL_VIEWPORT, viewport);
        GLint target = 0;
        gl.glGetIntegerv(GL_FRAMEBUFFER_BINDING, &target);
        const QSize carriedSize = pickPixel ? QSize(1, 1)
                                            : QSize(std::max(viewport[0] + viewport[2], 1),
                                                    std::max(viewport[1] + viewport[3], 1));
        const std::vector<BlockDraw> passes = orderBlockPasses(blocks, frame, carriedSize);
        if (!passes.empty() && !prepareCarriedBuffers(carriedSize)) {
            result.ok = false;
            result.message = QStringLiteral("This GL implementation has no float framebuffer: "
                                            "volumes held in blocks cannot be drawn");
        } else {
            for (std::size_t k = 0; k < passes.size(); ++k) {
                frame.block = passes[k].uniforms;
                const GLuint into =
                    frame.block.last ? GLuint(target) : carried[k % 2]->framebuffer();
                gl.glBindFramebuffer(GL_FRAMEBUFFER, into);
                gl.glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
                gl.glActiveTexture(GL_TEXTURE6);
                gl.glBindTexture(GL_TEXTURE_2D, carried[(k + 1) % 2]->texture());
                drawPass(blockTextures[passes[k].block]);
            }
            gl.glActiveTexture(GL_TEXTURE6);
            gl.glBindTexture(GL_TEXTURE_2D, 0);
            gl.glActiveTexture(GL_TEXTURE1);
        }
    }

    shaders.disableAttributeArray(vertexLocation);
    shaders.disableAttributeArray(texCoordLocation);
    if (chosen != &programs[0])
        program->bind();
    return result;
}
