#pragma once

#include <QColor>
#include <QString>

class QWidget;

// The modal dialogs the main window opens. Tests replace them with scripted
// answers; the application uses this default, which opens the real dialogs.
class WindowDialogs
{
public:
    virtual ~WindowDialogs() = default;

    // A ".dat" file to load; empty when the user cancelled.
    virtual QString openVolumeFileName(QWidget *parent);
    // A PNG file name to save to; empty when the user cancelled.
    virtual QString saveImageFileName(QWidget *parent);
    // A transfer-function file to load; empty when the user cancelled.
    virtual QString openTransferFunctionFileName(QWidget *parent);
    // A file to save the transfer function to, in our own form or as a
    // ParaView colour map; empty when the user cancelled.
    virtual QString saveTransferFunctionFileName(QWidget *parent, bool paraView);
    // A colour for a swatch; invalid when the user cancelled.
    virtual QColor pickColor(const QColor &initial, QWidget *parent);
    // Tells the user that the image could not be written.
    virtual void warnImageNotSaved(QWidget *parent);
};
