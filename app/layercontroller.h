#pragma once

#include "layerloading.h"

#include <QObject>

#include <vector>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QListWidget;
class QPushButton;
class QSlider;
class QTreeWidget;
class QWidget;
struct WindowContext;

// The layers over the data set in the window: Datei > "Overlay laden..."
// and "Labelkarte laden...", and the layer panel below the transfer
// function (object name "layersGroupBox"), shown while there are layers: the
// layers, the top one first, with their visibility, order and removal; the
// chosen layer's opacity, and its colour maps and range (an overlay) or its
// label table, outlines and each label's visibility and opacity (a label
// map). Every edit goes to the session, which the views follow.
class LayerController : public QObject
{
    Q_OBJECT

public:
    LayerController(WindowContext &context, QWidget *panelParent, QObject *parent = nullptr);

    // The panel, for the window to place.
    QGroupBox *panel() const { return group; }

    // Loads a layer over the shown data set; false (with the reason in the
    // status bar and on standard error) when there is none or the layer
    // cannot be read.
    bool loadLayer(const LayerRequest &request);
    // Layers to load once file (the command line's FILE) is shown.
    void setStartupLayers(const QString &file, const std::vector<LayerRequest> &layers);

private:
    void askForLayer(bool labels);
    void buildPanel(QWidget *parent);
    // The session's layer of the list's current row; 0 when none.
    int currentLayer() const;
    void showLayers();
    void showCurrentLayer();
    void changeCurrent(void (*edit)(LayerAppearance &, double), double value);
    void chooseColorMap(QComboBox *box, bool negative);
    void chooseLabelTable();

    WindowContext &context;
    QString startupFile;
    std::vector<LayerRequest> startupLayers;
    bool showing = false; // the controls are being set from the session

    QGroupBox *group = nullptr;
    QListWidget *layerList = nullptr;
    QPushButton *upButton = nullptr;
    QPushButton *downButton = nullptr;
    QPushButton *removeButton = nullptr;
    QSlider *opacitySlider = nullptr;
    QWidget *imageControls = nullptr;
    QComboBox *colorMapBox = nullptr;
    QComboBox *negativeMapBox = nullptr;
    QDoubleSpinBox *rangeMinimumBox = nullptr;
    QDoubleSpinBox *rangeMaximumBox = nullptr;
    QWidget *labelControls = nullptr;
    QCheckBox *outlineBox = nullptr;
    QPushButton *labelTableButton = nullptr;
    QTreeWidget *labelTree = nullptr;
    QSlider *labelOpacitySlider = nullptr;
};
