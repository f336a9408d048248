#include "seriescontroller.h"

#include "timecourseplot.h"
#include "windowcontext.h"

#include "slicesession.h"
#include "viewersession.h"
#include "volume.h"
#include "volumeseries.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QSlider>
#include <QSpinBox>
#include <QStyle>
#include <QToolBar>
#include <QToolButton>

#include <cmath>

namespace {

QString frameText(const VolumeSeries &series, int frame)
{
    QString text = QStringLiteral("%1 / %2").arg(frame + 1).arg(series.frameCount());
    if (series.frameInterval() > 0.0) {
        const QString unit = QString::fromStdString(series.frameUnit());
        text += QStringLiteral("  (%1%2)")
                    .arg(frame * series.frameInterval(), 0, 'g', 6)
                    .arg(unit.isEmpty() ? QString() : QStringLiteral(" ") + unit);
    }
    return text;
}

} // namespace

SeriesController::SeriesController(WindowContext &windowContext, QObject *parent)
    : QObject(parent), context(windowContext)
{
    // A tool bar along the window's foot, as video and time-line controls sit,
    // whatever the layout of the views above it.
    toolBar = new QToolBar(tr("Zeitpunkt"), context.window);
    toolBar->setObjectName("seriesToolBar");
    toolBar->setMovable(false);
    bar = new QWidget(toolBar);
    bar->setObjectName("seriesBar");
    auto *layout = new QHBoxLayout(bar);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("Zeitpunkt"), bar));
    slider = new QSlider(Qt::Horizontal, bar);
    slider->setObjectName("frameSlider");
    slider->setToolTip(tr("The volume of the series shown"));
    slider->setMinimumWidth(240);
    layout->addWidget(slider, 1);
    frameLabel = new QLabel(bar);
    frameLabel->setObjectName("frameLabel");
    layout->addWidget(frameLabel);
    playButton = new QToolButton(bar);
    playButton->setObjectName("playButton");
    playButton->setCheckable(true);
    playButton->setIcon(bar->style()->standardIcon(QStyle::SP_MediaPlay));
    playButton->setToolTip(tr("Play the series"));
    layout->addWidget(playButton);
    rate = new QSpinBox(bar);
    rate->setObjectName("framesPerSecondSpinBox");
    rate->setRange(1, 30);
    rate->setValue(5);
    rate->setSuffix(tr(" fps"));
    rate->setToolTip(tr("Volumes per second while playing"));
    layout->addWidget(rate);
    plot = new TimeCoursePlot(bar);
    plot->setObjectName("timeCoursePlot");
    plot->setToolTip(tr("The cursor voxel's value in every volume of the series"));
    layout->addWidget(plot);
    toolBar->addWidget(bar);
    context.window->addToolBar(Qt::BottomToolBarArea, toolBar);
    toolBar->hide();

    connect(slider, &QSlider::valueChanged, this, [this](int frame) {
        if (!showFrame(frame))
            setPlaying(false);
    });
    connect(playButton, &QToolButton::toggled, this, &SeriesController::setPlaying);
    connect(rate, qOverload<int>(&QSpinBox::valueChanged), this,
            [this](int perSecond) { timer.setInterval(1000 / perSecond); });
    timer.setInterval(1000 / rate->value());
    connect(&timer, &QTimer::timeout, this, &SeriesController::showNextFrame);
    connect(context.session, &ViewerSession::volumeChanged, this, &SeriesController::followVolume);
    connect(context.session, &ViewerSession::cursorChanged, this, &SeriesController::showCourse);
}

bool SeriesController::showFrame(int frame)
{
    bool outOfMemory = false;
    if (context.session->showSeriesFrame(frame, outOfMemory))
        return true;
    if (outOfMemory)
        context.showMessage(tr("There is not enough memory for volume %1.").arg(frame + 1));
    return false;
}

void SeriesController::setPlaying(bool on)
{
    const Volume *volume = context.session->volume();
    on = on && volume && volume->series;
    if (on)
        timer.start();
    else
        timer.stop();
    const QSignalBlocker blocker(playButton);
    playButton->setChecked(on);
    playButton->setIcon(
        bar->style()->standardIcon(on ? QStyle::SP_MediaPause : QStyle::SP_MediaPlay));
}

void SeriesController::showNextFrame()
{
    const Volume *volume = context.session->volume();
    if (!volume || !volume->series) {
        setPlaying(false);
        return;
    }
    slider->setValue((volume->frame + 1) % volume->series->frameCount());
}

void SeriesController::followVolume(bool keepPlace)
{
    const Volume *volume = context.session->volume();
    const VolumeSeries *series = volume ? volume->series.get() : nullptr;
    if (!keepPlace)
        setPlaying(false);
    toolBar->setVisible(series != nullptr);
    if (series) {
        const QSignalBlocker blocker(slider);
        slider->setRange(0, series->frameCount() - 1);
        slider->setValue(volume->frame);
        frameLabel->setText(frameText(*series, volume->frame));
    }
    showCourse();
}

void SeriesController::showCourse()
{
    const Volume *volume = context.session->volume();
    if (!volume || !volume->series) {
        plot->setCourse({}, 0);
        return;
    }
    const VoxelIndex voxel = context.session->slices()->cursor();
    plot->setCourse(volume->series->timeCourse(voxel[0], voxel[1], voxel[2]), volume->frame);
}
