#pragma once

#include "scene.h"

#include <QObject>
#include <QString>

#include <functional>
#include <optional>

class LayerController;
class LoadController;
struct WindowContext;

// Scene files in the window: Datei > "Szene öffnen..." and "Szene
// speichern...", scenes opened from the command line, by drop and from the
// recent files. Opening loads the scene's base file (asking for its new place
// where it is missing), then its layers, and then sets its function, window,
// camera, crop, cut, cursor, layout and rendering options; a scene that
// cannot be read leaves the current one as it is.
class SceneController : public QObject
{
    Q_OBJECT

public:
    // applyFunction shows a transfer function on the strips and in the
    // session, as loading a function file does; remember adds a file to the
    // recent files.
    SceneController(WindowContext &context, LoadController &loads, LayerController &layers,
                    std::function<void(const TransferFunction &)> applyFunction,
                    std::function<void(const QString &)> remember, QObject *parent = nullptr);

    // Starts opening a scene; false (with the reason in the status bar and on
    // standard error) when it cannot be read or a file it needs is not found.
    bool openScene(const QString &fileName);
    // Writes the session's scene; false with the reason shown.
    bool saveScene(const QString &fileName);
    // The scene file opened or saved last; empty when none.
    QString sceneFile() const { return currentFile; }
    // Whether the scene changed since the scene file was opened or saved
    // (false when there is none).
    bool changedSinceSaved() const;
    // Asks whether to save a changed scene before quitting; false to stay.
    bool confirmQuit();

private:
    void applyPendingScene();
    // The file, or its new place where the user gives one; empty when it is
    // missing and none is given.
    QString locate(const QString &file);

    WindowContext &context;
    LoadController &loads;
    LayerController &layers;
    std::function<void(const TransferFunction &)> applyFunction;
    std::function<void(const QString &)> remember;
    std::optional<Scene> pending; // waiting for its base file to load
    QString currentFile;
    QByteArray savedText; // the scene as last opened or saved
};
