#pragma once

#include <QColor>
#include <QHash>
#include <QString>

#include <optional>

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
    // A folder of numbered 2D images (a stack); empty when the user cancelled.
    virtual QString openImageStackFolder(QWidget *parent);
    // A volume to show over the data set: an overlay, or a label map where
    // labels is true; empty when the user cancelled.
    virtual QString openLayerFileName(QWidget *parent, bool labels);
    // A label table, or a colour map file; empty when the user cancelled.
    virtual QString openLabelTableFileName(QWidget *parent);
    virtual QString openColorMapFileName(QWidget *parent);
    // A scene file to open or to save to (.kelvara); empty when the user
    // cancelled.
    virtual QString openSceneFileName(QWidget *parent);
    virtual QString saveSceneFileName(QWidget *parent);
    // The new place of a file a scene names that is not where it was; empty
    // when the user cancelled.
    virtual QString locateMissingFile(QWidget *parent, const QString &missing);
    // A CSV file to write a table of statistics to; empty when cancelled.
    virtual QString saveStatisticsFileName(QWidget *parent);
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
    // The texture budget for 3D views in MiB (0: a quarter of memory),
    // starting from current; -1 when the user cancelled.
    virtual int askTextureBudgetMiB(QWidget *parent, int current);

    // Asked on quit when the transfer function changed since it was last
    // saved or loaded.
    enum class UnsavedChoice
    {
        Save,
        Discard,
        Cancel
    };
    virtual UnsavedChoice askToSaveTransferFunction(QWidget *parent);
    // Asked on quit when the scene changed since its file was opened or saved.
    virtual UnsavedChoice askToSaveScene(QWidget *parent);

    // A control point's two numbers: its data value (in the data set's units,
    // minimum..maximum) and its channel value (0..1). None when cancelled.
    struct PointValues
    {
        double dataValue = 0.0;
        double channelValue = 0.0;
    };
    virtual std::optional<PointValues> editPoint(QWidget *parent, const QString &channelName,
                                                 const PointValues &values, double minimum,
                                                 double maximum);

    // A page of text: the controls, the about box.
    virtual void showText(QWidget *parent, const QString &title, const QString &text);

    // The folder each file dialog starts in, by dialog ("volume", "dicom",
    // "image", "transferFunction"): the last one it was used in, else the
    // open data set's folder, else the working directory or Qt's choice.
    void setStartFolder(const QString &dialog, const QString &folder)
    {
        startFolders.insert(dialog, folder);
    }
    void setDataSetFolder(const QString &folder) { dataSetFolder = folder; }
    QString startFolder(const QString &dialog, const QString &fallback = QString()) const
    {
        return startFolders.value(dialog, dataSetFolder.isEmpty() ? fallback : dataSetFolder);
    }

private:
    QHash<QString, QString> startFolders;
    QString dataSetFolder;
};
