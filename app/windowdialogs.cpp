#include "windowdialogs.h"

#include <QColorDialog>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

QString WindowDialogs::openVolumeFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Datensatz laden"), ".",
        QCoreApplication::translate("MainWindow", "DAT files (*.dat)"));
}

QString WindowDialogs::saveImageFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(parent, "Save image", QString(), "PNG Image (*.png)");
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
