#pragma once

#include <QCoreApplication>
#include <QObject>
#include <QStringList>

class LoadController;
class QMenu;
class TransferFunctionController;
struct WindowContext;

// What the window remembers between runs: geometry, the rendering options,
// the dialogs' folders, the recent files ("Zuletzt geöffnet"), the texture
// budget, the last transfer function and the layout scans open in. It reads
// the store once and from then on writes each change of the session to it.
// Without a store (--no-settings, tests) it remembers the recent files of
// this run only.
class SettingsController : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    SettingsController(WindowContext &context, LoadController &loads,
                       TransferFunctionController &transferFunctions, QObject *parent);

    // Reads the store the context holds and restores what it remembers.
    void restore();
    // Saves the window's geometry and dock state.
    void saveWindowState();
    QStringList recentFiles() const { return recentFileList; }
    // Puts a file (a data set or a scene) first among the recent files.
    void rememberRecentFile(const QString &fileName);
    // Whether scans open in the four-view layout.
    bool fourViewsForScans() const { return scansInFourViews; }

private:
    void writeOptions();
    void writeTransferFunction();
    void setRecentFiles(const QStringList &files);
    void rebuildRecentFilesMenu();
    // Shrinks and moves the window into its screen's available area.
    void fitIntoScreen();

    WindowContext &context;
    LoadController &loads;
    TransferFunctionController &transferFunctions;
    QStringList recentFileList;
    QMenu *recentFilesMenu = nullptr;
    bool scansInFourViews = true;
};
