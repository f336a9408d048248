#pragma once

#include <QCoreApplication>
#include <QObject>

class QEvent;
class ShadeWidget;
class TransferFunctionController;
struct WindowContext;

// The strips' points in the data's units: hovering a point reads it out in
// the status bar, a double click opens the editor on its exact values, and a
// drag becomes one undo step of the controller when the button is released.
class StripPointEditor : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    StripPointEditor(WindowContext &context, TransferFunctionController &controller,
                     QObject *parent);

private:
    bool handle(ShadeWidget *strip, int channel, QEvent *event);
    void editPoint(int channel, int index);

    WindowContext &context;
    TransferFunctionController &controller;
};
