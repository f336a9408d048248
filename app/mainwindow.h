#pragma once

#include "renderingoptions.h"
#include "transferfunctionfile.h"

#include <QGradient>
#include <QMainWindow>

#include <array>
#include <memory>

struct TransferFunction;
struct Volume;
class ColorLabel;
class QAction;
class QCheckBox;
class QGridLayout;
class QLabel;
class QMenu;
class QVBoxLayout;
class QRadioButton;
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
    // show it in the four-view layout; the specified slice view takes its
    // window.
    void addSliceViews();
    void addWindowLevelMenu();
    // Ctrl+O, Ctrl+S and Ctrl+Q on the file actions, click focus for the
    // views, keys of the specified slice view to its scroll bar, tooltips.
    void addKeyboardAndToolTips();
    // The three views and the rendering in a grid (true), or the window's
    // own layout (false, the default).
    void setFourViewLayout(bool on);
    void showCursorReadout(const QString &text);
    SliceSession *sliceSession = nullptr;
    std::array<OrthogonalSliceView *, 3> sliceViews{}; // axial, coronal, sagittal
    QGridLayout *fourViewLayout = nullptr;
    QLabel *cursorReadoutLabel = nullptr;
};
