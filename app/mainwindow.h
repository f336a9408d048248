#pragma once

#include "layerloading.h"
#include "renderingoptions.h"
#include "transferfunction.h"
#include "transferfunctionfile.h"

#include <QMainWindow>

#include <array>
#include <functional>
#include <memory>

class BackgroundLoad;
class ColorLabel;
class GradientEditor;
class LayerController;
class SceneController;
class LoadController;
class QSettings;
class RenderController;
class SettingsController;
class SliceViewsController;
class TransferFunctionController;
class ViewerSession;
class VolumeRenderer;
class WindowChrome;
class WindowDialogs;
struct Volume;
struct WindowContext;

namespace Ui {
class MainWindow;
}
// The generated layout object: every widget of the window's fixed layout.
using MainWindowUi = Ui::MainWindow;

// The single top-level window: slices on the left, the rendering on the right,
// the rendering options and the transfer-function editor below the slices.
// Owns the loaded volume; every widget belongs to the window's object tree.
class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    // Loads a volume file (any supported format, or a DICOM folder) through
    // the same path as the menu command. On failure
    // the current data set, slice and range stay as they were and the status
    // bar says why. Returns whether the file was loaded.
    bool loadFile(const QString &fileName);
    // Loads a layer (overlay or label map) over the shown data set, as
    // Datei > "Overlay laden..." does; false with the reason in the status
    // bar.
    bool loadLayer(const LayerRequest &request);
    // Layers to load over file once the window shows it (the command line's
    // --overlay and --labels).
    void setStartupLayers(const QString &file, const std::vector<LayerRequest> &requests);
    // Opens a scene file (its base file loads in the background, the rest
    // follows), or writes the window's scene; false with the reason in the
    // status bar.
    bool openScene(const QString &fileName);
    bool saveScene(const QString &fileName);

    // Loads a file as loadFile() does, but on a worker thread: the window
    // stays responsive, the status bar shows progress and a cancel button,
    // and the data set is applied when the read ends. The menu commands,
    // drag and drop, recent files and the command line load this way. A load
    // still running is cancelled: the newest request wins. A cancelled or
    // failed load keeps the current data set.
    void startLoad(const QString &fileName);

    // The worker of startLoad() (object name "backgroundLoad").
    BackgroundLoad *backgroundLoad() const;

    // The loaded data set, null until the first successful load.
    const Volume *currentVolume() const;

    // Replaces the modal dialogs (tests script them).
    void setDialogs(std::unique_ptr<WindowDialogs> replacement);

    // The options the renderer draws with.
    const RenderingOptions &currentRenderingOptions() const { return renderingOptions; }

    // The rendering widget; it shows the session's scene.
    VolumeRenderer *renderer() const { return volumeRenderer; }

    // The transfer-function editor of the window.
    GradientEditor *transferFunctionEditor() const { return gradientEditor; }

    // Shows the function on the editor's strips and renders with its stops.
    void applyTransferFunction(const TransferFunction &function);

    // Reads a transfer-function file (ours or a ParaView colour map, data
    // units through the loaded data set's range) and applies it. On failure
    // nothing changes and the status bar names the file and what is wrong.
    bool loadTransferFunctionFile(const QString &fileName);

    // Writes the editor's function; on failure the status bar says why.
    bool saveTransferFunctionFile(const QString &fileName, TransferFunctionFile::Format format);

    // A preset's name or a file that setDefault() applies after the default
    // ramp, once (the command line's --transfer-function).
    void setStartupTransferFunction(const QString &nameOrFile);
    // The voxel size that fileName loads with in place of its own (the
    // command line's --spacing for its file).
    void setSpacingFor(const QString &fileName, const std::array<double, 3> &spacing);

    // The scene, its volume and its undo history (object name "viewerSession").
    ViewerSession *viewerSession() const { return session; }

    // Restores what store remembers (geometry, options, dialog folders,
    // recent files; the last transfer function when setDefault() runs) and
    // from then on writes every change to it. Without a call (--no-settings,
    // tests) the window starts with its built-in defaults and writes nothing.
    void useSettings(std::unique_ptr<QSettings> store);

    // Whether the editor's function differs from the one last saved or
    // applied whole (a preset, a file, the start-up default).
    bool transferFunctionChanged() const;

    // Asks to save, discard or cancel when the function changed (quitting
    // through the menu, Ctrl+Q or the close button). Returns whether to go on.
    bool confirmQuit();

    // Steps through the last TransferFunctionHistory::maximumSteps functions.
    void undoTransferFunction();
    void redoTransferFunction();

    // The function built from the loaded data's histogram ("Automatisch");
    // false with a status message when there is no data set.
    bool applyAutomaticTransferFunction();

    // The recent files, newest first.
    QStringList recentFiles() const;

public slots:
    void setDefault();

private slots:
    void on_actionBild_speichern_triggered();
    void on_slicingScrollBar_valueChanged(int value);
    void on_slicingComboBox_currentIndexChanged(int index);
    void on_actionBeenden_triggered();
    void on_actionDatensatz_laden_triggered();
    void updateRenderingOptions();
    void updateTransferFunction();

private:
    void addPictureCommands();
    // Asks for a PNG file name and writes the picture taken then there.
    void savePicture(const std::function<QImage()> &picture);
    void updateSlicingView();
    void updateSlicingRange();
    // The colour swatches and spin boxes show the session's options, and the
    // renderer draws with them.
    void showRenderingOptions();
    // The layout and view a scan opens in.
    void showScanReadyToRead();
    bool handleClose(QEvent *event);

    std::unique_ptr<MainWindowUi> ui;
    // Owns the loaded volume (null until the first load), the scene and the
    // undo history; every view follows its signals.
    ViewerSession *session = nullptr;
    RenderingOptions renderingOptions;
    GradientEditor *gradientEditor = nullptr;
    VolumeRenderer *volumeRenderer = nullptr;
    std::array<ColorLabel *, 4> colorLabels{}; // light, ambient, diffuse, specular

    std::unique_ptr<WindowContext> context;
    LoadController *loads = nullptr;
    LayerController *layers = nullptr;
    SceneController *scenes = nullptr;
    TransferFunctionController *transferFunctions = nullptr;
    SliceViewsController *sliceViews = nullptr;
    RenderController *rendering = nullptr;
    SettingsController *settingsKeeper = nullptr;
    WindowChrome *chrome = nullptr;
    bool quitConfirmed = false;
};
