#include "statisticscontroller.h"

#include "windowcontext.h"

#include "regionstatistics.h"
#include "viewersession.h"
#include "volume.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDockWidget>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include <cmath>
#include <iostream>

namespace {

// A cell that sorts by its number, not its text.
class NumberItem : public QTableWidgetItem
{
public:
    explicit NumberItem(double value)
        : QTableWidgetItem(std::isfinite(value) ? QString::number(value, 'g', 7) : QString())
    {
        setData(Qt::UserRole, value);
        setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
    }
    bool operator<(const QTableWidgetItem &other) const override
    {
        return data(Qt::UserRole).toDouble() < other.data(Qt::UserRole).toDouble();
    }
};

} // namespace

StatisticsController::StatisticsController(WindowContext &windowContext, QObject *parent)
    : QObject(parent), context(windowContext)
{
    panel = new QDockWidget(tr("Statistics"), context.window);
    panel->setObjectName("statisticsDock");
    auto *content = new QWidget(panel);
    auto *layout = new QVBoxLayout(content);
    auto *row = new QHBoxLayout;
    labelMapBox = new QComboBox(content);
    labelMapBox->setObjectName("statisticsLabelMapComboBox");
    labelMapBox->setToolTip(tr("The label map whose labels the table lists"));
    auto *exportButton = new QPushButton(tr("Export CSV..."), content);
    exportButton->setObjectName("exportStatisticsButton");
    row->addWidget(labelMapBox, 1);
    row->addWidget(exportButton);
    layout->addLayout(row);
    table = new QTableWidget(content);
    table->setObjectName("statisticsTable");
    table->setColumnCount(10);
    table->setHorizontalHeaderLabels({tr("Label"), tr("Name"), tr("Voxels"), tr("mm³"), tr("mL"),
                                      tr("Mean"), tr("SD"), tr("Min"), tr("Max"), tr("Median")});
    table->verticalHeader()->hide();
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setSortingEnabled(true);
    layout->addWidget(table);
    panel->setWidget(content);
    context.window->addDockWidget(Qt::BottomDockWidgetArea, panel);
    panel->hide();

    QAction *show = panel->toggleViewAction();
    show->setText(tr("Statistik"));
    show->setObjectName("actionStatistik");
    if (QMenu *view = context.menu("menuAnsicht"))
        view->addAction(show);

    connect(panel, &QDockWidget::visibilityChanged, this, [this](bool visible) {
        if (visible)
            refresh();
    });
    for (auto changed : {&ViewerSession::layersChanged, &ViewerSession::cropChanged})
        connect(context.session, changed, this, [this] {
            showLabelMaps();
            if (panel->isVisible())
                refresh();
        });
    connect(context.session, &ViewerSession::volumeChanged, this, [this] {
        showLabelMaps();
        if (panel->isVisible())
            refresh();
    });
    connect(labelMapBox, &QComboBox::activated, this, &StatisticsController::refresh);
    connect(exportButton, &QPushButton::clicked, this, [this] {
        const QString file = context.dialogs->saveStatisticsFileName(context.window);
        if (!file.isEmpty())
            exportCsv(file);
    });
}

void StatisticsController::showLabelMaps()
{
    const int chosen = labelMapBox->currentData().toInt();
    labelMapBox->clear();
    const Scene scene = context.session->scene();
    for (int layer = 1; layer < int(scene.layers.size()); ++layer)
        if (scene.layers[std::size_t(layer)].appearance.kind == LayerKind::Labels)
            labelMapBox->addItem(QFileInfo(scene.layers[std::size_t(layer)].file).fileName(),
                                 layer);
    const int index = labelMapBox->findData(chosen);
    labelMapBox->setCurrentIndex(index >= 0 ? index : 0);
}

namespace {

std::vector<RegionStatistics> rowsOf(const WindowContext &context, int layer)
{
    std::vector<RegionStatistics> rows;
    const Volume *base = context.session->volume();
    if (!base)
        return rows;
    const Volume *labels = layer > 0 ? context.session->layerVolume(layer) : nullptr;
    if (labels)
        rows = labelStatistics(*base, *labels, context.session->layerAppearance(layer).labels);
    RegionStatistics box = boxStatistics(*base, context.session->scene().crop);
    box.name = QCoreApplication::translate("MainWindow", "crop box");
    rows.push_back(box);
    return rows;
}

} // namespace

void StatisticsController::refresh()
{
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const std::vector<RegionStatistics> rows = rowsOf(context, labelMapBox->currentData().toInt());
    QApplication::restoreOverrideCursor();
    table->setSortingEnabled(false);
    table->setRowCount(int(rows.size()));
    for (int r = 0; r < int(rows.size()); ++r) {
        const RegionStatistics &s = rows[std::size_t(r)];
        table->setItem(r, 0, new NumberItem(s.label));
        table->setItem(r, 1, new QTableWidgetItem(s.name));
        const double numbers[] = {double(s.voxels), s.volumeMm3, s.volumeMl(), s.mean, s.sd,
                                  s.minimum,        s.maximum,   s.median};
        for (int c = 0; c < 8; ++c)
            table->setItem(r, c + 2, new NumberItem(numbers[c]));
    }
    table->setSortingEnabled(true);
    table->resizeColumnsToContents();
}

bool StatisticsController::exportCsv(const QString &fileName)
{
    QString reason;
    if (!writeStatisticsCsv(fileName, rowsOf(context, labelMapBox->currentData().toInt()),
                            &reason)) {
        std::cerr << "+ Error writing statistics: " << reason.toStdString() << std::endl;
        context.showMessage(tr("Statistics not saved: %1").arg(reason));
        return false;
    }
    context.showMessage(tr("Statistics saved as %1").arg(QFileInfo(fileName).fileName()));
    return true;
}
