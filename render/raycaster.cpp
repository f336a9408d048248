#include "raycaster.h"

#include "framegeometry.h"
#include "renderingoptions.h"
#include "shadersource.h"
#include "transferfunctiontable.h"
#include "volume.h"

#include <QOpenGLContext>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>

#include <algorithm>
#include <cstdint>
#include <iostream>

#ifndef GL_ALPHA16
#define GL_ALPHA16 0x803E
#endif

namespace {

// Passes the quad through in clip space and hands the pixel offset from the
// viewport centre to the fragment shader. highp needs the empty precision
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

} // namespace

RayCaster::RayCaster(const ShaderSource &fragmentShader)
    : functions(QOpenGLContext::currentContext()->functions())
{
    functions->glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    functions->glEnable(GL_DEPTH_TEST);
    functions->glEnable(GL_CULL_FACE);
    glShadeModel(GL_SMOOTH);
    functions->glEnable(GL_LIGHTING);
    functions->glEnable(GL_LIGHT0);
    functions->glEnable(GL_MULTISAMPLE);
    functions->glEnable(GL_TEXTURE_1D);
    functions->glEnable(GL_TEXTURE_3D);
    // The shader reads this as gl_LightSource[0].position: a light fixed relative
    // to the viewer, above, right of and in front of the view plane.
    const GLfloat lightPosition[4] = {0.5f, 5.0f, 7.0f, 1.0f};
    glLightfv(GL_LIGHT0, GL_POSITION, lightPosition);

    buildProgram(fragmentShader);
    lookUpLocations();

    functions->glGenTextures(1, &volumeTexture);
    functions->glGenTextures(1, &transferTexture);

    lookUpEntryPoints();

    const QString errors = takeGlErrors("GL initialisation");
    if (!errors.isEmpty())
        fail(errors);
}

RayCaster::~RayCaster()
{
    functions->glDeleteTextures(1, &transferTexture);
    functions->glDeleteTextures(1, &volumeTexture);
}

void RayCaster::fail(const QString &message)
{
    valid = false;
    error = error.isEmpty() ? message : error + QStringLiteral("; ") + message;
}

void RayCaster::buildProgram(const ShaderSource &fragmentShader)
{
    program = std::make_unique<QOpenGLShaderProgram>();

    const bool vertexOk =
        program->addShaderFromSourceCode(QOpenGLShader::Vertex, vertexShaderSource);
    std::cout << "Vertex shader log: " << program->log().toLocal8Bit().constData() << std::endl;
    if (!vertexOk)
        fail(QStringLiteral("The vertex shader does not compile: %1").arg(program->log()));

    bool fragmentOk = false;
    if (fragmentShader.found) {
        fragmentOk = program->addShaderFromSourceCode(QOpenGLShader::Fragment, fragmentShader.text);
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
    std::cout << "Shader link log: " << program->log().toLocal8Bit().constData() << std::endl;
    if (vertexOk && fragmentOk && !linked)
        fail(QStringLiteral("The shader program does not link: %1").arg(program->log()));
    if (linked && !program->bind()) {
        linked = false;
        fail(QStringLiteral("The shader program cannot be bound"));
    }
}

void RayCaster::lookUpLocations()
{
    // An unlinked program has no locations; asking would only raise warnings.
    if (!linked)
        return;
    vertexLocation = program->attributeLocation("vertex");
    texCoordLocation = program->attributeLocation("texCoord");
    n0Location = program->uniformLocation("n0");
    uLocation = program->uniformLocation("u");
    vLocation = program->uniformLocation("v");
    volumeSizeLocation = program->uniformLocation("volumeSize");
    volumeResolutionLocation = program->uniformLocation("volumeResolution");
    samplesLocation = program->uniformLocation("N");
    samplerLocation = program->uniformLocation("sampler");
    lightLocation = program->uniformLocation("c_light");
    ambientLocation = program->uniformLocation("c_ambient");
    diffuseLocation = program->uniformLocation("c_diffuse");
    specularLocation = program->uniformLocation("c_specular");
    exponentLocation = program->uniformLocation("c_exponent");
    transferSamplerLocation = program->uniformLocation("transferSampler");
    k1Location = program->uniformLocation("k1");
    k2Location = program->uniformLocation("k2");
}

void RayCaster::lookUpEntryPoints()
{
    QOpenGLContext *context = QOpenGLContext::currentContext();
    // The extension names first, then the core names of the same functions.
    texImage3D = reinterpret_cast<TexImage3DFunction>(context->getProcAddress("glTexImage3DEXT"));
    if (!texImage3D)
        texImage3D = reinterpret_cast<TexImage3DFunction>(context->getProcAddress("glTexImage3D"));
    activeTexture =
        reinterpret_cast<ActiveTextureFunction>(context->getProcAddress("glActiveTexture"));
    if (!activeTexture) {
        activeTexture =
            reinterpret_cast<ActiveTextureFunction>(context->getProcAddress("glActiveTextureARB"));
    }
    if (!texImage3D)
        fail(QStringLiteral("This GL implementation has no glTexImage3D: volumes cannot be shown"));
    if (!activeTexture)
        fail(QStringLiteral("This GL implementation has no glActiveTexture"));
}

QString RayCaster::takeGlErrors(const char *during)
{
    QStringList errors;
    // Bounded: a lost context can report an error on every call.
    for (int i = 0; i < 16; ++i) {
        const GLenum code = functions->glGetError();
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
    if (!texImage3D || !activeTexture) {
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

    GLint maximumSize = 0;
    functions->glGetIntegerv(GL_MAX_3D_TEXTURE_SIZE, &maximumSize);
    if (volume.width > maximumSize || volume.height > maximumSize || volume.depth > maximumSize) {
        result.message = QStringLiteral("The data set of %1 x %2 x %3 voxels exceeds the largest "
                                        "3D texture of this GL implementation (%4 per side): "
                                        "not shown")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth)
                             .arg(maximumSize);
        return result;
    }
    // The proxy asks whether the implementation can hold the whole image.
    texImage3D(GL_PROXY_TEXTURE_3D, 0, GL_ALPHA16, volume.width, volume.height, volume.depth, 0,
               GL_ALPHA, GL_FLOAT, nullptr);
    GLint proxyWidth = 0;
    glGetTexLevelParameteriv(GL_PROXY_TEXTURE_3D, 0, GL_TEXTURE_WIDTH, &proxyWidth);
    if (proxyWidth == 0) {
        takeGlErrors("the size check");
        result.message = QStringLiteral("The data set of %1 x %2 x %3 voxels is too large for "
                                        "this GL implementation: not shown")
                             .arg(volume.width)
                             .arg(volume.height)
                             .arg(volume.depth);
        return result;
    }

    activeTexture(GL_TEXTURE0);
    functions->glBindTexture(GL_TEXTURE_3D, volumeTexture);
    functions->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    // GL_ALPHA16: an unsized GL_ALPHA would keep only 8 bits on Mesa.
    texImage3D(GL_TEXTURE_3D, 0, GL_ALPHA16, volume.width, volume.height, volume.depth, 0, GL_ALPHA,
               GL_FLOAT, volume.data.data());
    functions->glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    functions->glTexParameteri(GL_TEXTURE_3D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
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
    result.ok = true;
    return result;
}

GlResult RayCaster::uploadTransferTable(const unsigned char *rgbaBytes)
{
    GlResult result;
    if (!activeTexture) {
        result.message = error;
        return result;
    }
    const QString earlier = takeGlErrors("earlier GL work");
    if (!earlier.isEmpty()) {
        result.message = earlier;
        return result;
    }
    activeTexture(GL_TEXTURE1);
    functions->glBindTexture(GL_TEXTURE_1D, transferTexture);
    functions->glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage1D(GL_TEXTURE_1D, 0, 4, TransferFunctionTable::entryCount, 0, GL_RGBA,
                 GL_UNSIGNED_BYTE, rgbaBytes);
    functions->glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    functions->glTexParameteri(GL_TEXTURE_1D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    const QString errors = takeGlErrors("the transfer-function upload");
    if (!errors.isEmpty()) {
        result.message = errors;
        return result;
    }
    result.ok = true;
    return result;
}

void RayCaster::drawFrame(const FrameGeometry &geometry, const RenderingOptions &options)
{
    if (!valid)
        return;
    // Client-side arrays: no buffer object may be bound.
    functions->glBindBuffer(GL_ARRAY_BUFFER, 0);
    program->enableAttributeArray(vertexLocation);
    program->setAttributeArray(vertexLocation, quadVertices.data(), 3);
    program->enableAttributeArray(texCoordLocation);
    program->setAttributeArray(texCoordLocation, geometry.quadTexCoords.data(), 2);

    program->setUniformValue(n0Location, geometry.n0);
    program->setUniformValue(uLocation, geometry.u);
    program->setUniformValue(vLocation, geometry.v);
    program->setUniformValue(samplesLocation, GLint(options.samples));
    program->setUniformValue(volumeSizeLocation, geometry.volumeSize);
    program->setUniformValue(volumeResolutionLocation, geometry.volumeResolution);
    program->setUniformValue(samplerLocation, GLint(0));
    program->setUniformValue(lightLocation, options.light);
    program->setUniformValue(ambientLocation, options.ambient);
    program->setUniformValue(diffuseLocation, options.diffuse);
    program->setUniformValue(specularLocation, options.specular);
    program->setUniformValue(exponentLocation, GLfloat(options.exponent));
    program->setUniformValue(transferSamplerLocation, GLint(1));
    program->setUniformValue(k1Location, GLfloat(options.k1));
    program->setUniformValue(k2Location, GLfloat(options.k2));

    activeTexture(GL_TEXTURE0);
    functions->glBindTexture(GL_TEXTURE_3D, volumeTexture);
    activeTexture(GL_TEXTURE1);
    functions->glBindTexture(GL_TEXTURE_1D, transferTexture);

    functions->glDrawArrays(GL_QUADS, 0, 4);

    program->disableAttributeArray(vertexLocation);
    program->disableAttributeArray(texCoordLocation);
}
