#pragma once

#include <QObject>
#include <QTimer>

class QLabel;
class QSlider;
class QSpinBox;
class QToolBar;
class QToolButton;
class TimeCoursePlot;
struct WindowContext;

// The volumes of a series (4D image) in the window: a "Zeitpunkt" slider at
// the window's foot with play/pause and a rate in volumes per second, and the time
// course of the cursor's voxel beside it. Each step shows the next volume in
// place of the last (the same grid: cursor, window and view stay). Hidden for
// a single volume.
class SeriesController : public QObject
{
    Q_OBJECT

public:
    SeriesController(WindowContext &context, QObject *parent);

    // Shows volume frame of the shown series; false where there is none.
    bool showFrame(int frame);
    bool isPlaying() const { return timer.isActive(); }
    void setPlaying(bool on);

private:
    void followVolume(bool keepPlace);
    void showCourse();
    void showNextFrame();

    WindowContext &context;
    QToolBar *toolBar = nullptr;
    QWidget *bar = nullptr;
    QSlider *slider = nullptr;
    QToolButton *playButton = nullptr;
    QSpinBox *rate = nullptr;
    QLabel *frameLabel = nullptr;
    TimeCoursePlot *plot = nullptr;
    QTimer timer;
};
