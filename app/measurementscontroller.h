#pragma once

#include <QByteArray>
#include <QObject>

#include <array>
#include <optional>
#include <vector>

class MeasurementOverlay;
class QDockWidget;
class QTableWidget;
struct WindowContext;

// Ansicht > "Messungen": the session's rulers and angles in a table (kind,
// value, the points in RAS mm for a scan), with Delete and CSV export.
class MeasurementsController : public QObject
{
    Q_OBJECT

public:
    MeasurementsController(WindowContext &context, QObject *parent = nullptr);

    bool exportCsv(const QString &fileName);

private:
    void showMeasurements();

    WindowContext &context;
    QDockWidget *panel = nullptr;
    QTableWidget *table = nullptr;
    MeasurementOverlay *overlay = nullptr;
    // The first of the two picks of the rendering's ruler.
    std::optional<std::array<double, 3>> firstPick;
};

struct Measurement;

// The measurements as CSV: kind,value,unit,x1,y1,z1,x2,y2,z2,x3,y3,z3, the
// points in RAS mm where patientFrame (LPS held), else as held.
QByteArray measurementsCsv(const std::vector<Measurement> &measurements, bool patientFrame);
