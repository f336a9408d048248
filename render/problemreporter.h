#pragma once

#include <QObject>
#include <QString>

// Carries the renderer's problem reports (no shader, a data set too large, GL
// errors) to whoever shows them: the status bar, batch mode, tests. It is an
// object of its own so that the renderer's signals and slots stay the rotation
// signals, setGradientStops and the rotation setters, in that order, which
// callers that go through the meta-object by index rely on.
class ProblemReporter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void problemReported(const QString &message);
};
