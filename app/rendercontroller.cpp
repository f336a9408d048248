#include "rendercontroller.h"

#include "orientationoverlay.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "viewersession.h"
#include "volume.h"
#include "volumerenderer.h"

#include <QButtonGroup>
#include <QHBoxLayout>
#include <QLabel>
#include <QRadioButton>

RenderController::RenderController(WindowContext &windowContext, QObject *parent)
    : QObject(parent), context(windowContext)
{
    VolumeRenderer *renderer = context.renderer;
    ViewerSession *session = context.session;
    connect(renderer->problemReporter(), &ProblemReporter::problemReported, this,
            [this](const QString &message) { context.showMessage(message); });
    orientationOverlay = new OrientationOverlay(renderer);
    for (auto rotationChanged :
         {&VolumeRenderer::xRotationChanged, &VolumeRenderer::yRotationChanged,
          &VolumeRenderer::zRotationChanged})
        connect(renderer, rotationChanged, this, &RenderController::takeCamera);
    connect(renderer->viewReporter(), &ViewReporter::viewTransformChanged, this,
            &RenderController::takeCamera);
    // The crop box has no control of its own yet; whoever sets it on the
    // renderer sets the scene's.
    connect(renderer->viewReporter(), &ViewReporter::cropBoxChanged, this, [this] {
        if (!showingScene)
            context.session->setCrop(context.renderer->cropBox());
    });

    connect(session, &ViewerSession::volumeChanged, this, [this] {
        context.renderer->setVolume(context.session->volume());
        showScene();
    });
    connect(session, &ViewerSession::layersChanged, this,
            [this] { context.renderer->setLayers(context.session->shownLayers()); });
    for (auto changed : {&ViewerSession::transferFunctionChanged, &ViewerSession::renderingChanged,
                         &ViewerSession::cameraChanged, &ViewerSession::cropChanged,
                         &ViewerSession::sliceCutChanged, &ViewerSession::cursorChanged})
        connect(session, changed, this, &RenderController::showScene);
    addModeButtons();
    addViewMenu();
}

void RenderController::showScene()
{
    showingScene = true;
    ::showScene(context.session->scene(), context.session->volume(), *context.renderer);
    showingScene = false;
    mipRadioButton->setChecked(context.session->scene().mode == RenderMode::MaximumIntensity);
    updateOrientationLetters();
}

void RenderController::takeCamera()
{
    if (showingScene)
        return;
    const VolumeRenderer *renderer = context.renderer;
    SceneCamera camera;
    camera.rotation = {renderer->xRotation(), renderer->yRotation(), renderer->zRotation()};
    camera.view = renderer->viewTransform();
    context.session->setCamera(camera);
}

void RenderController::addModeButtons()
{
    MainWindowUi *ui = context.ui;
    // A new row under the four rows of colours and coefficients.
    auto *modeLabel = new QLabel(tr("Mode"), ui->optionsGroupBox);
    modeLabel->setObjectName("renderModeLabel");
    auto *modeButtons = new QWidget(ui->optionsGroupBox);
    modeButtons->setObjectName("renderModeButtons");
    auto *modeLayout = new QHBoxLayout(modeButtons);
    modeLayout->setContentsMargins(0, 0, 0, 0);
    compositeRadioButton = new QRadioButton(tr("Composite"), modeButtons);
    compositeRadioButton->setObjectName("compositeRadioButton");
    compositeRadioButton->setChecked(true);
    compositeRadioButton->setToolTip(tr("Composite rendering through the transfer function"));
    mipRadioButton = new QRadioButton(tr("MIP"), modeButtons);
    mipRadioButton->setObjectName("mipRadioButton");
    mipRadioButton->setToolTip(tr("Maximum intensity projection"));
    modeLayout->addWidget(compositeRadioButton);
    modeLayout->addWidget(mipRadioButton);
    modeLayout->addStretch();
    auto *modeGroup = new QButtonGroup(modeButtons);
    modeGroup->addButton(compositeRadioButton);
    modeGroup->addButton(mipRadioButton);
    ui->optionsGridLayout->addWidget(modeLabel, 4, 0);
    ui->optionsGridLayout->addWidget(modeButtons, 4, 1, 1, 3);
    connect(mipRadioButton, &QRadioButton::toggled, this, [this](bool on) {
        context.session->setRenderMode(on ? RenderMode::MaximumIntensity : RenderMode::Composite);
    });
}

void RenderController::addViewMenu()
{
    QMenu *viewMenu = context.window->menuBar()->addMenu(tr("Ansicht"));
    viewMenu->setObjectName("menuAnsicht");
    QAction *resetView = viewMenu->addAction(tr("Ansicht zurücksetzen"));
    resetView->setObjectName("actionAnsicht_zuruecksetzen");
    connect(resetView, &QAction::triggered, this, [this] { context.renderer->resetView(); });
    QAction *resetCrop = viewMenu->addAction(tr("Zuschnitt aufheben"));
    resetCrop->setObjectName("actionZuschnitt_aufheben");
    connect(resetCrop, &QAction::triggered, this, [this] {
        context.session->setSliceCutAxis(-1);
        context.session->setCrop(CropBox());
    });

    viewMenu->addSeparator();
    const struct
    {
        const char *text;
        const char *objectName;
        PatientSide side;
    } views[] = {{QT_TR_NOOP("Von vorne"), "actionAnsicht_von_vorne", PatientSide::Anterior},
                 {QT_TR_NOOP("Von hinten"), "actionAnsicht_von_hinten", PatientSide::Posterior},
                 {QT_TR_NOOP("Von links"), "actionAnsicht_von_links", PatientSide::Left},
                 {QT_TR_NOOP("Von rechts"), "actionAnsicht_von_rechts", PatientSide::Right},
                 {QT_TR_NOOP("Von oben"), "actionAnsicht_von_oben", PatientSide::Superior},
                 {QT_TR_NOOP("Von unten"), "actionAnsicht_von_unten", PatientSide::Inferior}};
    for (const auto &view : views) {
        QAction *action = viewMenu->addAction(tr(view.text));
        action->setObjectName(view.objectName);
        const PatientSide side = view.side;
        connect(action, &QAction::triggered, this, [this, side] { viewFrom(side); });
    }
}

void RenderController::viewFrom(PatientSide side)
{
    SceneCamera camera = context.session->scene().camera;
    camera.rotation = rotationViewingFrom(side);
    context.session->setCamera(camera);
}

void RenderController::updateOrientationLetters()
{
    const Volume *volume = context.session->volume();
    const std::array<int, 3> rotation = context.session->scene().camera.rotation;
    orientationOverlay->setLetters(volume && volume->patientFrame
                                       ? orientationLetters(rotation[0], rotation[1], rotation[2])
                                       : OrientationLetters());
}

void RenderController::detach()
{
    context.renderer->setVolume(nullptr);
}
