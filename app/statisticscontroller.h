#pragma once

#include <QObject>

class QComboBox;
class QDockWidget;
class QTableWidget;
struct WindowContext;

// Ansicht > "Statistik": a table of each label of a label map over the data
// set (voxels, volume in mm^3 and mL, the data set's mean, sd, minimum,
// maximum and median inside it, in file units), with a row for the crop box;
// sortable by any column, exported as CSV. Computed when shown and again
// when the layers, the crop or the data set change while it is shown.
class StatisticsController : public QObject
{
    Q_OBJECT

public:
    StatisticsController(WindowContext &context, QObject *parent = nullptr);

    QDockWidget *dock() const { return panel; }
    // Fills the table for the chosen label map (and the crop box).
    void refresh();
    bool exportCsv(const QString &fileName);

private:
    void showLabelMaps();

    WindowContext &context;
    QDockWidget *panel = nullptr;
    QComboBox *labelMapBox = nullptr;
    QTableWidget *table = nullptr;
};
