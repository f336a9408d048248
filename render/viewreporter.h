#pragma once

#include <QObject>

// Tells when the renderer's zoom, pan or crop box change, by the mouse or a
// setter. An object of its own for the same reason as PickReporter: the
// renderer's own signals and slots stay as callers that go through the
// meta-object by index expect them.
class ViewReporter : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

signals:
    void viewTransformChanged();
    void cropBoxChanged();
};
