#include "scenecontroller.h"

#include "layercontroller.h"
#include "loadcontroller.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "scenefile.h"
#include "slicesession.h"
#include "viewersession.h"

#include <QFileInfo>

#include <iostream>

SceneController::SceneController(WindowContext &windowContext, LoadController &loadController,
                                 LayerController &layerController,
                                 std::function<void(const TransferFunction &)> applyTransfer,
                                 std::function<void(const QString &)> rememberFile, QObject *parent)
    : QObject(parent), context(windowContext), loads(loadController), layers(layerController),
      applyFunction(std::move(applyTransfer)), remember(std::move(rememberFile))
{
    auto *open = new QAction(tr("Szene öffnen..."), context.window);
    open->setObjectName("actionSzene_oeffnen");
    open->setToolTip(tr("Open a scene: its data, layers, functions, window, camera, crop, cut, "
                        "cursor and layout"));
    auto *save = new QAction(tr("Szene speichern..."), context.window);
    save->setObjectName("actionSzene_speichern");
    save->setToolTip(tr("Save the scene as it is shown, to open again or render in batch mode"));
    save->setEnabled(false);
    for (QAction *action : {open, save})
        context.ui->menuDatei->insertAction(context.ui->actionBild_speichern, action);
    connect(open, &QAction::triggered, this, [this] {
        const QString file = context.dialogs->openSceneFileName(context.window);
        if (file.isEmpty())
            return;
        context.rememberFolder("scene", file);
        openScene(file);
    });
    connect(save, &QAction::triggered, this, [this] {
        const QString file = context.dialogs->saveSceneFileName(context.window);
        if (file.isEmpty())
            return;
        context.rememberFolder("scene", file);
        saveScene(file);
    });
    connect(context.session, &ViewerSession::volumeChanged, this, [this, save](bool keepPlace) {
        save->setEnabled(context.session->volume() != nullptr);
        if (!keepPlace && pending && context.session->scene().layer().file == pending->layer().file)
            applyPendingScene();
    });
    loads.setSceneOpener([this](const QString &file) { return openScene(file); });
}

QString SceneController::locate(const QString &file)
{
    if (QFileInfo::exists(file))
        return file;
    return context.dialogs->locateMissingFile(context.window, file);
}

bool SceneController::openScene(const QString &fileName)
{
    SceneFile::ReadResult read = SceneFile::readFile(fileName);
    const auto refuse = [this](const QString &reason) {
        std::cerr << "+ Error loading scene: " << reason.toStdString() << std::endl;
        context.showMessage(tr("Scene not opened: %1").arg(reason));
        return false;
    };
    if (!read.ok)
        return refuse(read.reason);
    for (const QString &warning : read.warnings)
        std::cerr << "+ Warning: scene: " << warning.toStdString() << std::endl;
    for (SceneLayer &layer : read.scene.layers) {
        const QString found = locate(layer.file);
        if (found.isEmpty())
            return refuse(tr("%1 is missing").arg(layer.file));
        layer.file = found;
    }
    pending = read.scene;
    currentFile = fileName;
    remember(fileName);
    loads.startLoad(read.scene.layer().file);
    return true;
}

void SceneController::applyPendingScene()
{
    const Scene scene = std::move(*pending);
    pending.reset();
    ViewerSession *session = context.session;
    bool outOfMemory = false;
    if (scene.frame > 0 && !session->showSeriesFrame(scene.frame, outOfMemory))
        std::cerr << "+ Warning: scene: the file holds no volume " << scene.frame
                  << (outOfMemory ? " that fits in memory" : "") << "; the first is shown."
                  << std::endl;
    for (std::size_t i = 1; i < scene.layers.size(); ++i) {
        LayerRequest request;
        request.file = scene.layers[i].file;
        request.kind = scene.layers[i].appearance.kind;
        if (layers.loadLayer(request))
            session->setLayerAppearance(session->layerCount() - 1, scene.layers[i].appearance);
    }
    applyFunction(scene.layer().transferFunction);
    session->setRenderingOptions(scene.options);
    session->setRenderMode(scene.mode);
    session->setJitter(scene.jitter);
    session->setCamera(scene.camera);
    session->setCrop(scene.crop);
    session->setSliceCutAxis(scene.sliceCutAxis);
    session->setSliceAxis(scene.sliceAxis);
    session->setFourViews(scene.fourViews);
    if (scene.layer().windowLevel)
        session->slices()->setWindowLevel(*scene.layer().windowLevel);
    if (scene.cursor)
        session->slices()->setCursorAtWorld(*scene.cursor);
    session->slices()->setMeasurements(scene.measurements);
    savedText = SceneFile::toJson(session->scene(), QFileInfo(currentFile).absolutePath());
    context.showMessage(tr("Scene %1 opened").arg(QFileInfo(currentFile).fileName()));
}

bool SceneController::saveScene(const QString &fileName)
{
    QString reason;
    const Scene scene = context.session->scene();
    if (!SceneFile::writeFile(fileName, scene, &reason)) {
        std::cerr << "+ Error saving scene: " << reason.toStdString() << std::endl;
        context.showMessage(tr("Scene not saved: %1").arg(reason));
        return false;
    }
    currentFile = fileName;
    savedText = SceneFile::toJson(scene, QFileInfo(fileName).absolutePath());
    remember(fileName);
    context.showMessage(tr("Scene saved as %1").arg(QFileInfo(fileName).fileName()));
    return true;
}

bool SceneController::changedSinceSaved() const
{
    return !currentFile.isEmpty() && !pending &&
           SceneFile::toJson(context.session->scene(), QFileInfo(currentFile).absolutePath()) !=
               savedText;
}

bool SceneController::confirmQuit()
{
    if (!changedSinceSaved())
        return true;
    switch (context.dialogs->askToSaveScene(context.window)) {
    case WindowDialogs::UnsavedChoice::Save:
        return saveScene(currentFile);
    case WindowDialogs::UnsavedChoice::Discard:
        return true;
    case WindowDialogs::UnsavedChoice::Cancel:
        return false;
    }
    return false;
}
