#pragma once

#include "framegeometry.h"
#include "interactionresolution.h"
#include "layerappearance.h"
#include "pickreporter.h"
#include "viewreporter.h"
#include "problemreporter.h"
#include "transferfunctiontable.h"
#include "viewsettings.h"

#include <QGradient>
#include <QImage>
#include <QOpenGLWidget>
#include <QPoint>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <array>
#include <memory>
#include <optional>
#include <vector>

class FrameRenderer;
struct RenderState;
struct RenderingOptions;
struct Volume;

// The OpenGL widget that shows the direct volume rendering of a data set: the
// volume as a 3D texture, the transfer function as a 1D texture, ray-cast by the
// fragment shader "FragmentShader.glsl" over one quad covering the viewport.
//
// The GL objects live in a FrameRenderer, created in initializeGL() with the
// context current and released with the context. Uploads asked for before the
// context exists (or while it is being replaced) stay pending and happen at the
// next initialisation. Failures (no shader, a data set too large, GL errors) are
// written to standard error, emitted by problemReporter() and kept in
// lastError(); the frame then stays black rather than showing garbage.
//
// Repaints are requested with update() and merge into one frame per event-loop
// pass. Angles are whole degrees within 0..5760 (see framegeometry.h).
//
// While the user drags (turns, pans, zooms, or changes the transfer function
// through updateTransferFunctionTexture()), frames that take longer than the
// budget at full resolution are drawn at a half or a quarter of it and scaled
// up; a full frame follows once nothing has moved for
// InteractionResolution::settleMilliseconds. grabFrame() and
// renderFrameAndWait() always draw at full resolution.
//
// Mouse: a left drag turns about X and Y, a right drag about X and Z, a middle
// drag pans, the wheel zooms about the viewport centre and a double click
// returns to the plain view (zoom 1, no pan). Shift+click picks (pickAt()).
class VolumeRenderer : public QOpenGLWidget
{
    Q_OBJECT

public:
    explicit VolumeRenderer(QWidget *parent = nullptr);
    ~VolumeRenderer() override;

    QSize sizeHint() const override;        // 400 x 400
    QSize minimumSizeHint() const override; // 200 x 200

    // Shows a data set: uploads it (now, or at GL initialisation) and repaints.
    // Not owned: it must stay alive and unchanged while the renderer may paint,
    // that is until the next setVolume(). nullptr shows nothing.
    void setVolume(const Volume *volume);
    // The layers over the volume (see RayCaster::uploadLayers()), not owned:
    // set again (or none) before they change or are freed. Repaints.
    void setLayers(const std::vector<ShownLayer> &layers);

    // The options read in every frame. Not owned, same lifetime rule as the
    // volume; nullptr shows nothing. Repaints.
    void setRenderingOptions(const RenderingOptions *options);

    // Uploads the table as it is now into the transfer-function texture and
    // repaints. Until then the shader keeps the previous table.
    void updateTransferFunctionTexture();

    // The table entry (0xAARRGGBB, not premultiplied) for a value in 0..1.
    QRgb transfer(float v) const { return table.transfer(v); }

    // Whether rays step over space that the transfer function makes transparent
    // (on by default; see RayCaster::setEmptySpaceSkipping). Repaints.
    void setEmptySpaceSkipping(bool on);
    bool emptySpaceSkipping() const { return skipEmptySpace; }

    // Whether each ray's first sample is offset by a per-pixel hash, which turns
    // the rings of opaque surfaces into fine noise (on by default; see
    // RayCaster::setJitter). Repaints.
    void setJitter(bool on);
    bool jitter() const { return jitterOn; }

    // Whether frames read the gradients stored with the volume where it has
    // them (on by default; see RayCaster::uploadVolume). Repaints.
    void setStoredGradients(bool on);
    // Whether the uploaded volume's gradients are stored; false before the
    // upload.
    bool gradientsStored() const;
    // Textures the shown volume is held in (see RayCaster::blockCount()).
    int blockCount() const;

    // Files tried in order for the fragment shader at the next GL
    // initialisation (default: defaultFragmentShaderCandidates()).
    void setFragmentShaderCandidates(const QStringList &paths) { shaderCandidates = paths; }
    const QStringList &fragmentShaderCandidates() const { return shaderCandidates; }
    // The file the current program's fragment shader came from; empty if none.
    const QString &fragmentShaderOrigin() const { return shaderOrigin; }

    // The current frame as an opaque RGB32 image, framebuffer size (device
    // pixels). Initialises GL on a widget that was never shown. A null image when
    // there is no GL context (also reported).
    QImage grabFrame();

    // Draws one frame into the widget's framebuffer and waits until the GPU has
    // finished it (glFinish), without reading it back: for timing. Initialises GL
    // first when needed. False when no volume could be drawn; lastError() says why.
    bool renderFrameAndWait();

    // Zoom (clamped to minimumZoom..maximumZoom) and pan of the view. Repaints
    // when it changes.
    void setViewTransform(const ViewTransform &view);
    const ViewTransform &viewTransform() const { return viewTransformValue; }
    // Zoom 1, no pan.
    void resetView() { setViewTransform(ViewTransform()); }

    // The part of the data set shown (normalised, see normalisedCropBox()).
    // Repaints when it changes.
    void setCropBox(const CropBox &box);
    const CropBox &cropBox() const { return cropBoxValue; }
    // A cut at a slice on top of the cropping box, keeping the side away from
    // the viewer as the rotation changes. Repaints when it changes.
    void setSliceCut(const SliceCut &cut);
    const SliceCut &sliceCut() const { return sliceCutValue; }

    // Compositing or maximum intensity projection. Repaints when it changes.
    void setRenderMode(RenderMode mode);

    // Turns the view by degrees about its vertical axis after the rotation
    // angles, for the frames of a turntable; 0 by default. Repaints.
    void setViewTurn(double degrees);
    RenderMode renderMode() const { return renderModeValue; }

    const QGradientStops &gradientStops() const { return stops; }
    const TransferFunctionTable &transferFunctionTable() const { return table; }
    int xRotation() const { return xAngle; }
    int yRotation() const { return yAngle; }
    int zRotation() const { return zAngle; }
    QPoint lastMousePosition() const { return lastMouse; }

    // The time in milliseconds above which frames during a drag are drawn at
    // reduced resolution (default InteractionResolution::frameBudgetMilliseconds;
    // 0 reduces every frame of a drag, a huge value none).
    void setInteractionFrameBudget(double milliseconds) { frameBudget = milliseconds; }
    // The divisor of width and height of the last frame painted: 1 at full
    // resolution, 2 or 4 during a drag.
    int lastFrameDivisor() const { return paintedDivisor; }
    // A drag is under way: frames may be reduced until it settles.
    bool isInteracting() const { return interacting; }

    // GL is initialised and the program can draw.
    bool isGlReady() const;
    // A data set is uploaded and frames draw it (given options).
    bool isVolumeShown() const { return volumeShown; }
    // The last problem reported; empty if none.
    const QString &lastError() const { return lastProblem; }
    // Emits problemReported(QString) for each failure the user should know
    // about (also written to standard error). Owned by the renderer.
    ProblemReporter *problemReporter() { return &problems; }

    // Casts the ray of the frame shown at position (widget pixels) and emits
    // pickReporter()'s voxelPicked() for the sample where its accumulated
    // opacity first reaches one half, read back from the GPU, or
    // nothingPicked(). A GL failure is reported as a problem instead.
    void pickAt(QPointF position);
    PickReporter *pickReporter() { return &picks; }

    // Tells when zoom, pan or the crop box change (by the mouse or the
    // setters), so that the scene can follow.
    ViewReporter *viewReporter() { return &viewChanges; }

    // The geometry of the next full-resolution frame; none without a volume.
    std::optional<FrameGeometry> frameGeometry() const;

signals:
    void xRotationChanged(int angle);
    void yRotationChanged(int angle);
    void zRotationChanged(int angle);

public slots:
    // Keeps a copy of the stops, rebuilds the table (printing the
    // "transfer(0.5) " probe line on standard output) and repaints. The texture
    // changes only with updateTransferFunctionTexture().
    void setGradientStops(const QGradientStops &stops);
    void setXRotation(int angle);
    void setYRotation(int angle);
    void setZRotation(int angle);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void initializeGL() override;
    void resizeGL(int width, int height) override;
    void paintGL() override;

private:
    QSize framebufferSize() const;
    bool canDraw() const;
    void uploadVolumeNow();
    void uploadLayersNow();
    void uploadTransferTableNow();
    void releaseGl();
    void reportProblem(const QString &message);
    void noteInteraction();
    void settle();
    int divisorForNextFrame() const;
    // What the next frame shows, at the given divisor.
    RenderState renderState(int divisor) const;

    QGradientStops stops;
    TransferFunctionTable table;
    int xAngle = 0;
    int yAngle = 0;
    int zAngle = 0;
    QPoint lastMouse;
    ViewTransform viewTransformValue;
    CropBox cropBoxValue;
    SliceCut sliceCutValue;
    RenderMode renderModeValue = RenderMode::Composite;
    double viewTurn = 0.0;
    int viewportWidth = 0;
    int viewportHeight = 0;
    QSize paintedFramebufferSize;
    const Volume *volume = nullptr;
    const RenderingOptions *options = nullptr;

    bool skipEmptySpace = true;
    bool jitterOn = true;
    bool storedGradients = true;
    // The GL objects, made in initializeGL() with the context current.
    std::unique_ptr<FrameRenderer> frameRenderer;
    QTimer settleTimer;
    bool interacting = false;
    bool fullResolutionOnly = false; // grabFrame(), renderFrameAndWait()
    double frameBudget = InteractionResolution::frameBudgetMilliseconds;
    // The last frame's time scaled to full resolution, in milliseconds.
    double fullFrameEstimate = 0.0;
    int paintedDivisor = 1;
    QMetaObject::Connection contextConnection;
    QStringList shaderCandidates;
    QString shaderOrigin;

    bool volumeUploadPending = false;
    std::vector<ShownLayer> layers;
    bool layerUploadPending = false;
    bool volumeShown = false;
    // The table as handed to the last updateTransferFunctionTexture(), kept so
    // that a replaced context gets the same texture back.
    std::array<unsigned char, 4 * TransferFunctionTable::entryCount> tableBytes{};
    std::vector<float> tableFloats = std::vector<float>(4 * TransferFunctionTable::entryCount);
    bool tableUploadRequested = false;
    bool tableUploadPending = false;

    QString lastProblem;
    ProblemReporter problems;
    PickReporter picks;
    ViewReporter viewChanges;
    // A Shift+click is held: moving does not turn the view.
    bool pickPressed = false;
    QString lastFrameProblem;
};
