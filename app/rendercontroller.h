#pragma once

#include "patientorientation.h"

#include <QCoreApplication>
#include <QObject>

class OrientationOverlay;
class QRadioButton;
struct WindowContext;

// The rendering side of the window: the renderer shows the session's scene
// (function, options, camera, crop and cut) and hands the camera it is
// turned and zoomed to back to the session; the mode buttons, the "Ansicht"
// menu's view and crop commands, the standard views and the orientation
// letters over a scan.
class RenderController : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    RenderController(WindowContext &context, QObject *parent);

    // Turns the rendering to look at the patient from side, superior up.
    void viewFrom(PatientSide side);
    QRadioButton *mipButton() const { return mipRadioButton; }
    // Lets go of the volume before the window goes.
    void detach();

private:
    void addModeButtons();
    void addViewMenu();
    void showScene();
    void takeCamera();
    void updateOrientationLetters();

    WindowContext &context;
    OrientationOverlay *orientationOverlay = nullptr;
    QRadioButton *compositeRadioButton = nullptr;
    QRadioButton *mipRadioButton = nullptr;
    // Set while the renderer takes the scene, whose rotation it reports one
    // angle at a time: those reports are not the user's.
    bool showingScene = false;
};
