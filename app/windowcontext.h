#pragma once

#include "windowdialogs.h"

#include <QFileInfo>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QSettings>
#include <QStatusBar>

#include <memory>

class GradientEditor;
class StatusMessages;
class ViewerSession;
class VolumeRenderer;

namespace Ui {
class MainWindow;
}
using MainWindowUi = Ui::MainWindow;

// What the window's controllers share: the window and its generated layout,
// the session, the renderer and editor, the dialogs (tests replace them) and
// the settings store (none with --no-settings and in tests). The window owns
// it; every controller belongs to the window.
struct WindowContext
{
    QMainWindow *window = nullptr;
    Ui::MainWindow *ui = nullptr; // the generated layout (MainWindowUi)
    ViewerSession *session = nullptr;
    VolumeRenderer *renderer = nullptr;
    GradientEditor *editor = nullptr;
    StatusMessages *messages = nullptr; // the data-set line and the log
    std::unique_ptr<WindowDialogs> dialogs = std::make_unique<WindowDialogs>();
    std::unique_ptr<QSettings> settings;

    void showMessage(const QString &text) const { window->statusBar()->showMessage(text); }
    // A menu of the menu bar by object name; null when there is none.
    QMenu *menu(const char *objectName) const
    {
        return window->menuBar()->findChild<QMenu *>(QString::fromLatin1(objectName));
    }
    // The folder a dialog starts in next time: the file's own, or the folder
    // itself (a DICOM series).
    void rememberFolder(const QString &dialog, const QString &path, bool isFolder = false) const
    {
        const QString folder =
            isFolder ? QFileInfo(path).absoluteFilePath() : QFileInfo(path).absolutePath();
        dialogs->setStartFolder(dialog, folder);
        remember("folders/" + dialog, folder);
    }
    void remember(const QString &key, const QVariant &value) const
    {
        if (settings)
            settings->setValue(key, value);
    }
};
