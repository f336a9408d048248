#pragma once

#include "histogram.h"
#include "renderingoptions.h"
#include "viewsettings.h"
#include "transferfunction.h"
#include "transferfunctionfile.h"
#include "transferfunctionhistory.h"

#include <QGradient>
#include <QMainWindow>

#include <array>
#include <memory>
#include <optional>

struct TransferFunction;
struct Volume;
struct VolumeReadResult;
class BackgroundLoad;
class ColorLabel;
class CursorOverlay;
class QAction;
class QCheckBox;
class QGridLayout;
class QLabel;
class QMenu;
class QVBoxLayout;
class QRadioButton;
class QProgressBar;
class QPushButton;
class QSettings;
class ShadeWidget;
class StatusMessages;
class GradientEditor;
class OrientationOverlay;
class OrthogonalSliceView;
class SliceSession;
class VolumeRenderer;
class WindowDialogs;

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

    // Loads a file as loadFile() does, but on a worker thread: the window
    // stays responsive, the status bar shows progress and a cancel button,
    // and the data set is applied when the read ends. The menu commands,
    // drag and drop, recent files and the command line load this way. A load
    // still running is cancelled: the newest request wins. A cancelled or
    // failed load keeps the current data set.
    void startLoad(const QString &fileName);

    // The worker of startLoad() (object name "backgroundLoad").
    BackgroundLoad *backgroundLoad() const { return loader; }

    // The loaded data set, null until the first successful load.
    const Volume *currentVolume() const { return volume.get(); }

    // Replaces the modal dialogs (tests script them).
    void setDialogs(std::unique_ptr<WindowDialogs> replacement);

    // The options the renderer draws with.
    const RenderingOptions &currentRenderingOptions() const { return renderingOptions; }

    // The rendering widget (zoom, pan, cropping and mode live there).
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

    // ---- Kept work: settings, the quit question, undo, recent files ----

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
    QStringList recentFiles() const { return recentFileList; }

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
    void updateSlicingView();
    void updateSlicingRange();
    // Hands a volume read from fileName to every view, in the order a load
    // always had, and keeps the file as the data set; on failure only says
    // why. Returns result.ok.
    bool applyLoadedVolume(const QString &fileName, std::unique_ptr<Volume> loaded,
                           const VolumeReadResult &result);
    // The status bar's progress bar and cancel button, the busy cursor.
    void addBackgroundLoadControls();
    void showLoadBusy(bool busy);
    // Controls beside the generated layout: the slice cut, the mode buttons
    // and the "Ansicht" menu. Plain functions and lambdas, not slots, so the
    // window's own meta-object stays as it is.
    void addViewControls();
    void addDicomFolderAction();
    // The data range under the editor, and the histogram behind it, for the
    // loaded data set.
    void addDataRangeLabels(QVBoxLayout *transferLayout);
    void updateDataRange();
    // The "Transferfunktion" menu: load, save, export and the presets.
    void addTransferFunctionMenu();
    void askToSaveTransferFunction(TransferFunctionFile::Format format);
    // Cuts the rendering at the slice shown while the cut is on.
    void updateSliceCut();
    // The standard views of the "Ansicht" menu (see rotationViewingFrom()).
    void addStandardViews(QMenu *viewMenu);
    // The letters for the renderer's rotation over a scan; none over a DAT
    // file or nothing.
    void updateOrientationLetters();
    // The layout and view a scan opens in.
    void showScanReadyToRead();

    // ---- Kept work (see the public block above) ----
    void addKeptWorkControls();
    void addHelpMenu();
    void restoreSettings();
    // Shrinks and moves the window into its screen's available area.
    void fitIntoScreen();
    void writeOptionSettings();
    void writeTransferFunctionSetting();
    void rememberFolder(const QString &dialog, const QString &path, bool isFolder = false);
    void rememberRecentFile(const QString &fileName);
    void rebuildRecentFilesMenu();
    // The editor's function as loaded whole: quitting does not ask until it
    // changes, and undo can come back to it.
    // The command line's or the remembered function over the start-up ramp.
    void applyStartupTransferFunction();
    void markTransferFunctionLoaded();
    void recordTransferFunctionStep();
    // Shows the function on the strips and renders it, recording nothing.
    void showTransferFunction(const TransferFunction &function);
    void updateAutomaticOffer();
    // Hover readout and the point editor of a strip's events.
    bool handleStripEvent(ShadeWidget *strip, int channel, QEvent *event);
    bool handleWindowEvent(QEvent *event);
    // Wraps the left column in a scroll area so that the window fits small
    // screens.
    void makeLeftColumnScrollable();

    std::unique_ptr<QSettings> settings;
    TransferFunction loadedFunction; // last saved or applied whole
    TransferFunctionHistory history;
    bool stripMouseDown = false;      // a drag is one undo step, recorded on release
    bool startupDefaultInUse = false; // the untouched start-up ramp
    bool quitConfirmed = false;
    std::optional<TransferFunction> rememberedFunction; // from settings, for setDefault()
    Histogram volumeHistogram;
    QStringList recentFileList;
    QMenu *recentFilesMenu = nullptr;
    QLabel *dataSetLabel = nullptr;
    StatusMessages *statusMessages = nullptr;
    bool fourViewsForScans = true;
    QPushButton *automaticOfferButton = nullptr;
    // ---- end of kept work ----

    std::unique_ptr<MainWindowUi> ui;
    std::unique_ptr<Volume> volume;
    RenderingOptions renderingOptions;
    GradientEditor *gradientEditor = nullptr;
    VolumeRenderer *volumeRenderer = nullptr;
    OrientationOverlay *orientationOverlay = nullptr; // a child of the renderer
    std::array<ColorLabel *, 4> colorLabels{};        // light, ambient, diffuse, specular
    std::unique_ptr<WindowDialogs> dialogs;
    QCheckBox *sliceCutCheckBox = nullptr;
    QRadioButton *compositeRadioButton = nullptr;
    QRadioButton *mipRadioButton = nullptr;
    QString startupTransferFunction;
    std::array<QLabel *, 2> dataRangeLabels{}; // minimum, maximum

    // Linked orthogonal slice views, window/level and the cursor readout.
    // The session (object name "sliceSession") holds the cursor and window;
    // the views ("axialSliceView", "coronalSliceView", "sagittalSliceView")
    // show it in the four-view layout; the single slice view takes its
    // window.
    void addSliceViews();
    void addWindowLevelMenu();
    // Ctrl+O, Ctrl+S and Ctrl+Q on the file actions, click focus for the
    // views, keys of the single slice view to its scroll bar, tooltips.
    void addKeyboardAndToolTips();
    // The three views and the rendering in a grid (true), or the window's
    // own layout (false, the default).
    void setFourViewLayout(bool on);
    void showCursorReadout(const QString &text);
    // The readout of the session's cursor, when no view is hovered.
    void showSessionCursorReadout();
    SliceSession *sliceSession = nullptr;
    std::array<OrthogonalSliceView *, 3> sliceViews{}; // axial, coronal, sagittal
    QGridLayout *fourViewLayout = nullptr;
    QLabel *cursorReadoutLabel = nullptr;

    BackgroundLoad *loader = nullptr;
    QProgressBar *loadProgressBar = nullptr;
    QPushButton *cancelLoadButton = nullptr;
    // The cursor in the rendering: its marker ("cursorOverlay", switched by
    // "cursorMarkerCheckBox"), Shift+click on the rendering moving it, and
    // the slice cut following it.
    void addRenderingCursor();
    void showCursorInRendering();
    // While the cut is on, cuts the rendering at the cursor's slice along the
    // chosen axis.
    // The left slice view and the cursor move together along its axis.
    void followCursorInLeftView();
    void moveCursorToLeftSlice();
    CursorOverlay *cursorOverlay = nullptr;
    QCheckBox *cursorMarkerCheckBox = nullptr;

    // Volumes beyond memory or the texture budget, held at a reduced level
    // (Volume::fullResolution): Ansicht > "Ausschnitt in voller Auflösung"
    // ("actionAusschnitt_in_voller_Aufloesung") shows the cropped part at full
    // resolution in 3D, Ansicht > "Speicherbudget für 3D..."
    // ("actionSpeicherbudget_fuer_3D") sets the budget loads are planned with
    // (setting "render/textureBudgetMiB"; 0 or none: a quarter of memory).
    void addLargeVolumeControls(QMenu *viewMenu);
    void showFullResolutionRegion(bool on);
    void setTextureBudgetMiB(int mebibytes);
    // Hands the current volume to the renderer and the slice side, keeping the
    // cursor and window where the data is the same file (a region's swap).
    void showVolumeInViews(bool keepSlicePlace);
    QAction *fullResolutionRegionAction = nullptr;
    // The reduced level while a region of it is shown, and its crop box.
    std::unique_ptr<Volume> reducedVolume;
    CropBox reducedCropBox;
    int textureBudgetMiB = 0;
};
