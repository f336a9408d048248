#pragma once

#include "volumefile.h"

#include <QCoreApplication>
#include <QObject>

#include <functional>

#include <array>
#include <optional>
#include <QString>

#include <memory>

class BackgroundLoad;
class QAction;
class WindowDialogs;
class QProgressBar;
class QPushButton;
struct Volume;
struct WindowContext;

// Loading data sets into the session: the file and DICOM-folder commands,
// the background load with its progress bar and cancel button, and volumes
// beyond memory (Ansicht > "Ausschnitt in voller Auflösung" swaps in the
// cropped part at full resolution; "Speicherbudget für 3D..." sets the budget
// loads are planned with, setting "render/textureBudgetMiB").
class LoadController : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    LoadController(WindowContext &context, QObject *parent);

    bool loadFile(const QString &fileName);
    // A scene file (.kelvara) goes to the scene opener instead.
    void startLoad(const QString &fileName);
    // The voxel size that loads of fileName take in place of the file's own
    // (the command line's --spacing for its file); other files keep theirs.
    void setSpacingFor(const QString &fileName, const std::array<double, 3> &spacing);
    void askForVolumeFile();
    BackgroundLoad *backgroundLoad() const { return loader; }
    // 0 or less: a quarter of memory.
    void setTextureBudgetMiB(int mebibytes);

    // Who opens a scene asked for where a volume file is (drop, recent
    // files, the command line, loadFile()).
    void setSceneOpener(std::function<bool(const QString &)> opener)
    {
        openScene = std::move(opener);
    }

private:
    std::function<bool(const QString &)> openScene;
    bool applyLoadedVolume(const QString &fileName, std::unique_ptr<Volume> loaded,
                           const VolumeReadResult &result);
    // A Datei command that loads a folder the dialog function asks for.
    void addFolderCommand(const QString &text, const char *name, const QString &toolTip,
                          const char *folderKey, QString (WindowDialogs::*askForFolder)(QWidget *));
    void addBackgroundLoadControls();
    void addLargeVolumeControls();
    void showLoadBusy(bool busy);
    void showFullResolutionRegion(bool on);

    WindowContext &context;
    BackgroundLoad *loader = nullptr;
    QProgressBar *progressBar = nullptr;
    QPushButton *cancelButton = nullptr;
    QAction *fullResolutionRegionAction = nullptr;
    int textureBudgetMiB = 0;
    QString spacingFile;
    std::optional<std::array<double, 3>> spacingGiven;
    // What the background loader was last told, so that a reader a test set
    // stays unless a spacing is asked for.
    std::optional<std::array<double, 3>> spacingApplied;
    std::optional<std::array<double, 3>> spacingOf(const QString &fileName) const
    {
        return fileName == spacingFile ? spacingGiven : std::nullopt;
    }
};
