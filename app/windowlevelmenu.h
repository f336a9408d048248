#pragma once

#include "windowlevel.h"

#include <QMenu>

#include <optional>
#include <utility>

class QActionGroup;
class SliceSession;

// The Fensterung menu: the grey-window presets of every slice view. It checks
// the entry whose window is shown (none for a window of the user's own) and
// offers CT's presets first for data in Hounsfield units, last for other data.
class WindowLevelMenu : public QMenu
{
    Q_OBJECT

public:
    // The session is observed, not owned; it outlives the menu.
    WindowLevelMenu(SliceSession *session, QWidget *parent);

private:
    void orderForVolume();
    void showActiveEntry();

    SliceSession *session;
    QActionGroup *entries;
    QAction *separator;
    QAction *invert;
    // The last preset chosen and the window it gave, as the session keeps it.
    std::optional<std::pair<WindowPreset, WindowLevel>> applied;
};
