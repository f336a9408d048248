#include "measurementscontroller.h"

#include "measurementoverlay.h"
#include "windowcontext.h"

#include "imagegrid.h"
#include "measurement.h"
#include "slicesession.h"
#include "viewersession.h"
#include "pickreporter.h"
#include "volume.h"
#include "volumegrid.h"
#include "volumerenderer.h"

#include <QAction>
#include <QDockWidget>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QSaveFile>
#include <QTableWidget>
#include <QVBoxLayout>

#include <iostream>

namespace {

std::array<double, 3> shownPoint(const std::array<double, 3> &point, bool patientFrame)
{
    return patientFrame ? swapLpsRas(point) : point;
}

} // namespace

QByteArray measurementsCsv(const std::vector<Measurement> &measurements, bool patientFrame)
{
    QByteArray csv = "kind,value,unit,x1,y1,z1,x2,y2,z2,x3,y3,z3\n";
    for (const Measurement &m : measurements) {
        const bool angle = m.kind == Measurement::Kind::Angle;
        QStringList fields{angle ? "angle" : "distance", QString::number(m.value(), 'g', 10),
                           angle ? "degrees" : "mm"};
        for (std::size_t i = 0; i < 3; ++i)
            for (std::size_t axis = 0; axis < 3; ++axis)
                fields << (i < m.points.size()
                               ? QString::number(shownPoint(m.points[i], patientFrame)[axis], 'g',
                                                 10)
                               : QString());
        csv += fields.join(',').toUtf8() + '\n';
    }
    return csv;
}

MeasurementsController::MeasurementsController(WindowContext &windowContext, QObject *parent)
    : QObject(parent), context(windowContext)
{
    panel = new QDockWidget(tr("Measurements"), context.window);
    panel->setObjectName("measurementsDock");
    auto *content = new QWidget(panel);
    auto *layout = new QVBoxLayout(content);
    table = new QTableWidget(content);
    table->setObjectName("measurementsTable");
    table->setColumnCount(3);
    table->setHorizontalHeaderLabels({tr("Kind"), tr("Value"), tr("Points")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(table);
    auto *buttons = new QHBoxLayout;
    auto *remove = new QPushButton(tr("Delete"), content);
    remove->setObjectName("deleteMeasurementButton");
    auto *exportButton = new QPushButton(tr("Export CSV..."), content);
    exportButton->setObjectName("exportMeasurementsButton");
    buttons->addWidget(remove);
    buttons->addStretch(1);
    buttons->addWidget(exportButton);
    layout->addLayout(buttons);
    panel->setWidget(content);
    context.window->addDockWidget(Qt::BottomDockWidgetArea, panel);
    panel->hide();

    QAction *show = panel->toggleViewAction();
    show->setText(tr("Messungen"));
    show->setObjectName("actionMessungen");
    if (QMenu *view = context.menu("menuAnsicht"))
        view->addAction(show);

    // The ruler of the rendering: two Shift+click picks make a distance.
    auto *ruler3d = new QAction(tr("Lineal in 3D"), context.window);
    ruler3d->setObjectName("actionLineal_in_3D");
    ruler3d->setCheckable(true);
    ruler3d->setToolTip(tr("Measure the distance between two Shift+click picks in the rendering"));
    if (QMenu *view = context.menu("menuAnsicht"))
        view->addAction(ruler3d);
    connect(ruler3d, &QAction::toggled, this, [this] { firstPick.reset(); });
    connect(context.renderer->pickReporter(), &PickReporter::voxelPicked, this,
            [this, ruler3d](int x, int y, int z) {
                const Volume *shown = context.session->volume();
                if (!ruler3d->isChecked() || !shown)
                    return;
                const std::array<double, 3> world =
                    dataGrid(*shown).worldOf({{double(x), double(y), double(z)}});
                if (!firstPick) {
                    firstPick = world;
                    context.showMessage(tr("First point picked: Shift+click the second"));
                    return;
                }
                Measurement distance;
                distance.points = {*firstPick, world};
                firstPick.reset();
                context.session->slices()->addMeasurement(distance);
                context.showMessage(tr("Distance %1").arg(distance.text()));
            });

    SliceSession *slices = context.session->slices();
    overlay = new MeasurementOverlay(context.renderer);
    connect(slices, &SliceSession::measurementsChanged, this,
            &MeasurementsController::showMeasurements);
    connect(context.session, &ViewerSession::volumeChanged, this,
            &MeasurementsController::showMeasurements);
    connect(remove, &QPushButton::clicked, this, [this, slices] {
        const int row = table->currentRow();
        if (row >= 0)
            slices->removeMeasurement(row);
    });
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString file = context.dialogs->saveStatisticsFileName(context.window);
        if (!file.isEmpty())
            exportCsv(file);
    });
}

void MeasurementsController::showMeasurements()
{
    const std::vector<Measurement> &measurements = context.session->slices()->measurements();
    const Volume *volume = context.session->volume();
    overlay->setMeasurements(volume ? measurements : std::vector<Measurement>(),
                             volume ? dataGrid(*volume) : ImageGrid());
    const bool patientFrame = volume && volume->patientFrame;
    table->setRowCount(int(measurements.size()));
    for (int row = 0; row < int(measurements.size()); ++row) {
        const Measurement &m = measurements[std::size_t(row)];
        QStringList points;
        for (const std::array<double, 3> &p : m.points) {
            const std::array<double, 3> shown = shownPoint(p, patientFrame);
            points << QString("(%1, %2, %3)")
                          .arg(shown[0], 0, 'f', 1)
                          .arg(shown[1], 0, 'f', 1)
                          .arg(shown[2], 0, 'f', 1);
        }
        table->setItem(row, 0,
                       new QTableWidgetItem(m.kind == Measurement::Kind::Angle ? tr("angle")
                                                                               : tr("distance")));
        table->setItem(row, 1, new QTableWidgetItem(m.text()));
        table->setItem(
            row, 2,
            new QTableWidgetItem(points.join(" ") +
                                 (patientFrame ? QStringLiteral(" RAS mm") : QString())));
    }
}

bool MeasurementsController::exportCsv(const QString &fileName)
{
    const Volume *volume = context.session->volume();
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(measurementsCsv(context.session->slices()->measurements(),
                                   volume && volume->patientFrame)) < 0 ||
        !file.commit()) {
        const QString reason =
            QString("%1: %2").arg(QFileInfo(fileName).fileName(), file.errorString());
        std::cerr << "+ Error writing measurements: " << reason.toStdString() << std::endl;
        context.showMessage(tr("Measurements not saved: %1").arg(reason));
        return false;
    }
    context.showMessage(tr("Measurements saved as %1").arg(QFileInfo(fileName).fileName()));
    return true;
}
