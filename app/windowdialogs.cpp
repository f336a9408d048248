#include "windowdialogs.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

QString volumeFileFilters()
{
    const QStringList filters = {
        QCoreApplication::translate("MainWindow", "All volumes (*.dat *.nii *.nii.gz *.hdr *.img "
                                                  "*.nrrd *.nhdr *.mha *.mhd *.dcm)"),
        QCoreApplication::translate("MainWindow", "DAT files (*.dat)"),
        QCoreApplication::translate("MainWindow", "NIfTI (*.nii *.nii.gz *.hdr *.img)"),
        QCoreApplication::translate("MainWindow", "NRRD (*.nrrd *.nhdr)"),
        QCoreApplication::translate("MainWindow", "MetaImage (*.mha *.mhd)"),
        QCoreApplication::translate("MainWindow", "DICOM (*.dcm)"),
        QCoreApplication::translate("MainWindow", "All files (*)"),
    };
    return filters.join(";;");
}

QString WindowDialogs::openVolumeFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Datensatz laden"), ".",
        volumeFileFilters());
}

QString WindowDialogs::openDicomFolder(QWidget *parent)
{
    return QFileDialog::getExistingDirectory(
        parent, QCoreApplication::translate("MainWindow", "DICOM-Ordner laden"), ".");
}

QString WindowDialogs::saveImageFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(parent, "Save image", QString(), "PNG Image (*.png)");
}

QString WindowDialogs::openTransferFunctionFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Transferfunktion laden"), QString(),
        QCoreApplication::translate("MainWindow",
                                    "Transfer functions and ParaView colour maps (*.json)"));
}

QString WindowDialogs::saveTransferFunctionFileName(QWidget *parent, bool paraView)
{
    return QFileDialog::getSaveFileName(
        parent,
        paraView ? QCoreApplication::translate("MainWindow", "Als ParaView-Farbtabelle exportieren")
                 : QCoreApplication::translate("MainWindow", "Transferfunktion speichern"),
        QString(),
        paraView ? QCoreApplication::translate("MainWindow", "ParaView colour maps (*.json)")
                 : QCoreApplication::translate("MainWindow", "Transfer functions (*.json)"));
}

QColor WindowDialogs::pickColor(const QColor &initial, QWidget *parent)
{
    return QColorDialog::getColor(initial, parent);
}

void WindowDialogs::warnImageNotSaved(QWidget *parent)
{
    QMessageBox::warning(parent, "Save Image", "Error saving image.", QMessageBox::Ok,
                         QMessageBox::NoButton);
}
