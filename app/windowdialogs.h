#pragma once

#include <QColor>
#include <QString>

class QWidget;

// The open dialog's filters, ";;"-separated: all supported volumes first, then
// DAT files and one filter per scan format, then every file (DICOM files often
// have no extension).
QString volumeFileFilters();

// The modal dialogs the main window opens. Tests replace them with scripted
// answers; the application uses this default, which opens the real dialogs.
class WindowDialogs
{
public:
    virtual ~WindowDialogs() = default;

    // A volume file to load (any format of volumeFileFilters()); empty when
    // the user cancelled.
    virtual QString openVolumeFileName(QWidget *parent);
    // A folder holding a DICOM series; empty when the user cancelled.
    virtual QString openDicomFolder(QWidget *parent);
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
