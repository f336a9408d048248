#include "windowdialogs.h"

#include <QInputDialog>

#include <QColorDialog>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QFormLayout>
#include <QCoreApplication>
#include <QFileDialog>
#include <QMessageBox>

QString volumeFileFilters()
{
    const QStringList filters = {
        QCoreApplication::translate("MainWindow",
                                    "All volumes (*.dat *.nii *.nii.gz *.hdr *.img "
                                    "*.nrrd *.nhdr *.mha *.mhd *.dcm *.mgh *.mgz "
                                    "*.mrc *.mrcs *.map *.ccp4 *.rec *.st *.ali *.mnc "
                                    "*.tif *.tiff *.vtk *.vti)"),
        QCoreApplication::translate("MainWindow", "DAT files (*.dat)"),
        QCoreApplication::translate("MainWindow", "NIfTI (*.nii *.nii.gz *.hdr *.img)"),
        QCoreApplication::translate("MainWindow", "NRRD (*.nrrd *.nhdr)"),
        QCoreApplication::translate("MainWindow", "MetaImage (*.mha *.mhd)"),
        QCoreApplication::translate("MainWindow", "DICOM (*.dcm)"),
        QCoreApplication::translate("MainWindow", "MGH (*.mgh *.mgz)"),
        QCoreApplication::translate("MainWindow",
                                    "MRC/CCP4 (*.mrc *.mrcs *.map *.ccp4 *.rec *.st *.ali)"),
        QCoreApplication::translate("MainWindow", "MINC (*.mnc)"),
        QCoreApplication::translate("MainWindow", "TIFF stacks (*.tif *.tiff)"),
        QCoreApplication::translate("MainWindow", "Legacy VTK (*.vtk)"),
        QCoreApplication::translate("MainWindow", "VTK image data (*.vti)"),
        QCoreApplication::translate("MainWindow", "All files (*)"),
    };
    return filters.join(";;");
}

QString WindowDialogs::openVolumeFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Datensatz laden"),
        startFolder("volume", "."), volumeFileFilters());
}

QString WindowDialogs::openLayerFileName(QWidget *parent, bool labels)
{
    return QFileDialog::getOpenFileName(
        parent,
        QCoreApplication::translate("MainWindow", labels ? "Labelkarte laden" : "Overlay laden"),
        startFolder("layer", "."), volumeFileFilters());
}

QString WindowDialogs::openLabelTableFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Labeltabelle laden"),
        startFolder("labelTable", "."),
        QCoreApplication::translate("MainWindow",
                                    "Label tables (*.txt *.ctbl *.lut *.label);;All files (*)"));
}

QString WindowDialogs::openColorMapFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Farbtabelle laden"),
        startFolder("colorMap", "."),
        QCoreApplication::translate("MainWindow", "Colour maps (*.lut *.json);;All files (*)"));
}

QString WindowDialogs::openSceneFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Szene öffnen"),
        startFolder("scene", "."),
        QCoreApplication::translate("MainWindow", "Kelvara scenes (*.kelvara);;All files (*)"));
}

QString WindowDialogs::saveSceneFileName(QWidget *parent)
{
    QString file = QFileDialog::getSaveFileName(
        parent, QCoreApplication::translate("MainWindow", "Szene speichern"),
        startFolder("scene", "."),
        QCoreApplication::translate("MainWindow", "Kelvara scenes (*.kelvara)"));
    if (!file.isEmpty() && !file.endsWith(QLatin1String(".kelvara"), Qt::CaseInsensitive))
        file += QLatin1String(".kelvara");
    return file;
}

QString WindowDialogs::saveStatisticsFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(
        parent, QCoreApplication::translate("MainWindow", "Statistik speichern"),
        startFolder("statistics", "."),
        QCoreApplication::translate("MainWindow", "CSV tables (*.csv)"));
}

QString WindowDialogs::locateMissingFile(QWidget *parent, const QString &missing)
{
    return QFileDialog::getOpenFileName(parent,
                                        QCoreApplication::translate("MainWindow", "Where is %1?")
                                            .arg(QFileInfo(missing).fileName()),
                                        startFolder("volume", "."), volumeFileFilters());
}

QString WindowDialogs::openDicomFolder(QWidget *parent)
{
    return QFileDialog::getExistingDirectory(
        parent, QCoreApplication::translate("MainWindow", "DICOM-Ordner laden"),
        startFolder("dicom", "."));
}

QString WindowDialogs::openImageStackFolder(QWidget *parent)
{
    return QFileDialog::getExistingDirectory(
        parent, QCoreApplication::translate("MainWindow", "Bildstapel laden"),
        startFolder("stack", "."));
}

QString WindowDialogs::saveImageFileName(QWidget *parent)
{
    return QFileDialog::getSaveFileName(parent, "Save image", startFolder("image"),
                                        "PNG Image (*.png)");
}

QString WindowDialogs::openTransferFunctionFileName(QWidget *parent)
{
    return QFileDialog::getOpenFileName(
        parent, QCoreApplication::translate("MainWindow", "Transferfunktion laden"),
        startFolder("transferFunction"),
        QCoreApplication::translate("MainWindow",
                                    "Transfer functions and ParaView colour maps (*.json)"));
}

QString WindowDialogs::saveTransferFunctionFileName(QWidget *parent, bool paraView)
{
    return QFileDialog::getSaveFileName(
        parent,
        paraView ? QCoreApplication::translate("MainWindow", "Als ParaView-Farbtabelle exportieren")
                 : QCoreApplication::translate("MainWindow", "Transferfunktion speichern"),
        startFolder("transferFunction"),
        paraView ? QCoreApplication::translate("MainWindow", "ParaView colour maps (*.json)")
                 : QCoreApplication::translate("MainWindow", "Transfer functions (*.json)"));
}

QColor WindowDialogs::pickColor(const QColor &initial, QWidget *parent)
{
    return QColorDialog::getColor(initial, parent);
}

int WindowDialogs::askTextureBudgetMiB(QWidget *parent, int current)
{
    bool ok = false;
    const int chosen = QInputDialog::getInt(
        parent, QObject::tr("Texture budget"),
        QObject::tr("Memory for the textures of the 3D view, in MiB (0: a quarter of this "
                    "machine's memory). Larger volumes are shown at a reduced resolution; "
                    "the next load uses it."),
        current, 0, 1 << 24, 256, &ok);
    return ok ? chosen : -1;
}

void WindowDialogs::warnImageNotSaved(QWidget *parent)
{
    QMessageBox::warning(parent, "Save Image", "Error saving image.", QMessageBox::Ok,
                         QMessageBox::NoButton);
}

namespace {

WindowDialogs::UnsavedChoice askToSave(QWidget *parent, const char *title, const char *question)
{
    const QMessageBox::StandardButton answer = QMessageBox::question(
        parent, QCoreApplication::translate("MainWindow", title),
        QCoreApplication::translate("MainWindow", question),
        QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, QMessageBox::Save);
    if (answer == QMessageBox::Save)
        return WindowDialogs::UnsavedChoice::Save;
    if (answer == QMessageBox::Discard)
        return WindowDialogs::UnsavedChoice::Discard;
    return WindowDialogs::UnsavedChoice::Cancel;
}

} // namespace

WindowDialogs::UnsavedChoice WindowDialogs::askToSaveTransferFunction(QWidget *parent)
{
    return askToSave(parent, QT_TRANSLATE_NOOP("MainWindow", "Transfer function changed"),
                     QT_TRANSLATE_NOOP("MainWindow",
                                       "The transfer function has changed since it was last "
                                       "saved or loaded. Save it before quitting?"));
}

WindowDialogs::UnsavedChoice WindowDialogs::askToSaveScene(QWidget *parent)
{
    return askToSave(parent, QT_TRANSLATE_NOOP("MainWindow", "Scene changed"),
                     QT_TRANSLATE_NOOP("MainWindow", "The scene has changed since it was last "
                                                     "saved or opened. Save it before quitting?"));
}

std::optional<WindowDialogs::PointValues> WindowDialogs::editPoint(QWidget *parent,
                                                                   const QString &channelName,
                                                                   const PointValues &values,
                                                                   double minimum, double maximum)
{
    QDialog dialog(parent);
    dialog.setWindowTitle(QCoreApplication::translate("MainWindow", "Point"));
    auto *layout = new QFormLayout(&dialog);
    auto *dataValue = new QDoubleSpinBox(&dialog);
    dataValue->setObjectName("pointDataValueSpinBox");
    dataValue->setDecimals(4);
    dataValue->setRange(minimum, maximum);
    dataValue->setValue(values.dataValue);
    auto *channelValue = new QDoubleSpinBox(&dialog);
    channelValue->setObjectName("pointChannelValueSpinBox");
    channelValue->setDecimals(4);
    channelValue->setRange(0.0, 1.0);
    channelValue->setSingleStep(0.01);
    channelValue->setValue(values.channelValue);
    layout->addRow(QCoreApplication::translate("MainWindow", "Data value"), dataValue);
    layout->addRow(channelName, channelValue);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addRow(buttons);
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return PointValues{dataValue->value(), channelValue->value()};
}

void WindowDialogs::showText(QWidget *parent, const QString &title, const QString &text)
{
    QMessageBox::information(parent, title, text);
}
