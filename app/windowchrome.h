#pragma once

#include <QCoreApplication>
#include <QObject>

#include <functional>

class QEvent;
struct WindowContext;

// The window around the views: the status bar's data-set line and its log
// (Ansicht > "Meldungen..."), the help menu, the left column's scroll area,
// the keyboard shortcuts, focus and tooltips, and files dropped on the
// window (volumes load, .json files are transfer functions).
class WindowChrome : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    using FileHandler = std::function<void(const QString &path)>;

    WindowChrome(WindowContext &context, FileHandler openVolume, FileHandler openTransferFunction,
                 QObject *parent);

    // Shortcuts, focus and tooltips, once every control exists.
    void addKeyboardAndToolTips();

private:
    void addStatusLog();
    void addHelpMenu();
    void makeLeftColumnScrollable();
    bool handleDrop(QEvent *event);

    WindowContext &context;
    FileHandler openVolume;
    FileHandler openTransferFunction;
};
