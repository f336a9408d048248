#include "layercontroller.h"

#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "viewersession.h"
#include "volume.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QTreeWidget>
#include <QVBoxLayout>

#include <cmath>
#include <iostream>
#include <sstream>

namespace {

const char *const otherFile = QT_TRANSLATE_NOOP("MainWindow", "File...");

void fillMapBox(QComboBox *box, bool withNone)
{
    if (withNone)
        box->addItem(QCoreApplication::translate("MainWindow", "none"));
    for (const QString &name : ColorMaps::names())
        box->addItem(name);
    box->addItem(QCoreApplication::translate("MainWindow", otherFile));
}

// Shows a map in its box: its name, added where the map came from a file.
void showMap(QComboBox *box, const QString &name)
{
    int index = box->findText(name);
    if (index < 0) {
        box->insertItem(box->count() - 1, name);
        index = box->count() - 2;
    }
    box->setCurrentIndex(index);
}

} // namespace

LayerController::LayerController(WindowContext &windowContext, QWidget *panelParent,
                                 QObject *parent)
    : QObject(parent), context(windowContext)
{
    for (const bool labels : {false, true}) {
        auto *command = new QAction(labels ? tr("Labelkarte laden...") : tr("Overlay laden..."),
                                    context.window);
        command->setObjectName(labels ? "actionLabelkarte_laden" : "actionOverlay_laden");
        command->setToolTip(labels ? tr("Show a label map (a segmentation, an atlas) over the "
                                        "data set, placed by the world geometry of both")
                                   : tr("Show a second volume (a statistical map, a PET) over "
                                        "the data set, placed by the world geometry of both"));
        command->setEnabled(false);
        context.ui->menuDatei->insertAction(context.ui->actionBild_speichern, command);
        connect(command, &QAction::triggered, this, [this, labels] { askForLayer(labels); });
        connect(context.session, &ViewerSession::volumeChanged, command,
                [this, command] { command->setEnabled(context.session->volume() != nullptr); });
    }
    buildPanel(panelParent);
    connect(context.session, &ViewerSession::layersChanged, this, &LayerController::showLayers);
    connect(context.session, &ViewerSession::volumeChanged, this, [this](bool keepPlace) {
        if (keepPlace || startupLayers.empty() ||
            context.session->scene().layer().file != startupFile)
            return;
        const std::vector<LayerRequest> requests = std::move(startupLayers);
        startupLayers.clear();
        for (const LayerRequest &request : requests)
            loadLayer(request);
    });
    showLayers();
}

void LayerController::setStartupLayers(const QString &file, const std::vector<LayerRequest> &layers)
{
    startupFile = file;
    startupLayers = layers;
}

bool LayerController::loadLayer(const LayerRequest &request)
{
    const Volume *base = context.session->volume();
    if (!base)
        return false;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    std::ostringstream progress;
    LoadedLayer loaded = ::loadLayer(request, *base, 0, progress, std::cerr);
    QApplication::restoreOverrideCursor();
    const QString name = QFileInfo(request.file).fileName();
    if (!loaded.ok) {
        std::cerr << "+ Error loading layer '" << QFile::encodeName(request.file).toStdString()
                  << "': " << loaded.reason.toStdString() << std::endl;
        context.showMessage(tr("Layer %1 not loaded: %2").arg(name, loaded.reason));
        return false;
    }
    for (const QString &warning : loaded.warnings)
        std::cerr << "+ Warning: layer '" << QFile::encodeName(request.file).toStdString()
                  << "': " << warning.toStdString() << std::endl;
    context.session->addLayer(std::move(loaded.volume), request.file, loaded.appearance);
    context.showMessage(loaded.warnings.isEmpty()
                            ? tr("Layer %1 loaded").arg(name)
                            : tr("Layer %1 loaded: %2").arg(name, loaded.warnings.join("; ")));
    layerList->setCurrentRow(0);
    return true;
}

void LayerController::askForLayer(bool labels)
{
    const QString file = context.dialogs->openLayerFileName(context.window, labels);
    if (file.isEmpty())
        return;
    context.rememberFolder("layer", file);
    LayerRequest request;
    request.file = file;
    request.kind = labels ? LayerKind::Labels : LayerKind::Image;
    loadLayer(request);
}

void LayerController::buildPanel(QWidget *parent)
{
    group = new QGroupBox(tr("Layers"), parent);
    group->setObjectName("layersGroupBox");
    auto *layout = new QVBoxLayout(group);

    layerList = new QListWidget(group);
    layerList->setObjectName("layerList");
    layerList->setToolTip(tr("The layers over the data set, the top one first; the check box "
                             "shows or hides a layer"));
    layerList->setMaximumHeight(90);
    layout->addWidget(layerList);
    auto *buttons = new QHBoxLayout;
    upButton = new QPushButton(tr("Up"), group);
    upButton->setObjectName("layerUpButton");
    downButton = new QPushButton(tr("Down"), group);
    downButton->setObjectName("layerDownButton");
    removeButton = new QPushButton(tr("Remove"), group);
    removeButton->setObjectName("removeLayerButton");
    for (QPushButton *button : {upButton, downButton, removeButton})
        buttons->addWidget(button);
    layout->addLayout(buttons);

    auto *form = new QFormLayout;
    opacitySlider = new QSlider(Qt::Horizontal, group);
    opacitySlider->setObjectName("layerOpacitySlider");
    opacitySlider->setRange(0, 100);
    form->addRow(tr("Opacity"), opacitySlider);
    layout->addLayout(form);

    imageControls = new QWidget(group);
    auto *imageForm = new QFormLayout(imageControls);
    imageForm->setContentsMargins(0, 0, 0, 0);
    colorMapBox = new QComboBox(imageControls);
    colorMapBox->setObjectName("colorMapComboBox");
    fillMapBox(colorMapBox, false);
    negativeMapBox = new QComboBox(imageControls);
    negativeMapBox->setObjectName("negativeMapComboBox");
    negativeMapBox->setToolTip(tr("Also show the values from -minimum down to -maximum through "
                                  "this map"));
    fillMapBox(negativeMapBox, true);
    rangeMinimumBox = new QDoubleSpinBox(imageControls);
    rangeMinimumBox->setObjectName("rangeMinimumSpinBox");
    rangeMaximumBox = new QDoubleSpinBox(imageControls);
    rangeMaximumBox->setObjectName("rangeMaximumSpinBox");
    for (QDoubleSpinBox *box : {rangeMinimumBox, rangeMaximumBox}) {
        box->setRange(-1.0e9, 1.0e9);
        box->setDecimals(4);
        box->setKeyboardTracking(false);
    }
    rangeMinimumBox->setToolTip(tr("Below this value (file units) nothing is drawn"));
    imageForm->addRow(tr("Colour map"), colorMapBox);
    imageForm->addRow(tr("Negative"), negativeMapBox);
    imageForm->addRow(tr("Minimum"), rangeMinimumBox);
    imageForm->addRow(tr("Maximum"), rangeMaximumBox);
    layout->addWidget(imageControls);

    labelControls = new QWidget(group);
    auto *labelLayout = new QVBoxLayout(labelControls);
    labelLayout->setContentsMargins(0, 0, 0, 0);
    auto *labelRow = new QHBoxLayout;
    outlineBox = new QCheckBox(tr("Outlines"), labelControls);
    outlineBox->setObjectName("labelOutlineCheckBox");
    outlineBox->setToolTip(tr("Draw the labels' boundaries in the slices instead of filling them"));
    labelTableButton = new QPushButton(tr("Label table..."), labelControls);
    labelTableButton->setObjectName("labelTableButton");
    labelRow->addWidget(outlineBox);
    labelRow->addWidget(labelTableButton);
    labelLayout->addLayout(labelRow);
    labelTree = new QTreeWidget(labelControls);
    labelTree->setObjectName("labelTree");
    labelTree->setHeaderLabels({tr("Label"), tr("Name")});
    labelTree->setRootIsDecorated(false);
    labelTree->setMaximumHeight(140);
    labelLayout->addWidget(labelTree);
    auto *labelForm = new QFormLayout;
    labelOpacitySlider = new QSlider(Qt::Horizontal, labelControls);
    labelOpacitySlider->setObjectName("labelOpacitySlider");
    labelOpacitySlider->setRange(0, 255);
    labelOpacitySlider->setToolTip(tr("The chosen label's own opacity"));
    labelForm->addRow(tr("Label opacity"), labelOpacitySlider);
    labelLayout->addLayout(labelForm);
    layout->addWidget(labelControls);

    connect(layerList, &QListWidget::currentRowChanged, this, &LayerController::showCurrentLayer);
    // The session's change rebuilds the lists: it goes out once the item
    // that changed is done with its signal.
    connect(layerList, &QListWidget::itemChanged, this, [this](QListWidgetItem *item) {
        if (showing)
            return;
        const int layer = context.session->layerCount() - 1 - layerList->row(item);
        const bool visible = item->checkState() == Qt::Checked;
        QMetaObject::invokeMethod(
            this,
            [this, layer, visible] {
                LayerAppearance appearance = context.session->layerAppearance(layer);
                appearance.visible = visible;
                context.session->setLayerAppearance(layer, appearance);
            },
            Qt::QueuedConnection);
    });
    connect(upButton, &QPushButton::clicked, this, [this] {
        const int row = layerList->currentRow();
        if (context.session->moveLayer(currentLayer(), 1))
            layerList->setCurrentRow(row - 1);
    });
    connect(downButton, &QPushButton::clicked, this, [this] {
        const int row = layerList->currentRow();
        if (context.session->moveLayer(currentLayer(), -1))
            layerList->setCurrentRow(row + 1);
    });
    connect(removeButton, &QPushButton::clicked, this,
            [this] { context.session->removeLayer(currentLayer()); });
    connect(opacitySlider, &QSlider::valueChanged, this, [this](int value) {
        changeCurrent([](LayerAppearance &a, double v) { a.opacity = v; }, value / 100.0);
    });
    connect(rangeMinimumBox, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        changeCurrent([](LayerAppearance &a, double v) { a.rangeMinimum = v; }, value);
    });
    connect(rangeMaximumBox, &QDoubleSpinBox::valueChanged, this, [this](double value) {
        changeCurrent([](LayerAppearance &a, double v) { a.rangeMaximum = v; }, value);
    });
    connect(outlineBox, &QCheckBox::toggled, this, [this](bool on) {
        changeCurrent([](LayerAppearance &a, double v) { a.outline = v != 0.0; }, on ? 1.0 : 0.0);
    });
    connect(colorMapBox, &QComboBox::activated, this,
            [this] { chooseColorMap(colorMapBox, false); });
    connect(negativeMapBox, &QComboBox::activated, this,
            [this] { chooseColorMap(negativeMapBox, true); });
    connect(labelTableButton, &QPushButton::clicked, this, &LayerController::chooseLabelTable);
    connect(labelTree, &QTreeWidget::itemChanged, this, [this](QTreeWidgetItem *item) {
        if (showing)
            return;
        const int layer = currentLayer();
        const int value = item->data(0, Qt::UserRole).toInt();
        const bool visible = item->checkState(0) == Qt::Checked;
        QMetaObject::invokeMethod(
            this,
            [this, layer, value, visible] {
                LayerAppearance appearance = context.session->layerAppearance(layer);
                if (Label *label = appearance.labels.find(value)) {
                    label->visible = visible;
                    context.session->setLayerAppearance(layer, appearance);
                }
            },
            Qt::QueuedConnection);
    });
    connect(labelTree, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem *item) {
        const Label *label = item ? context.session->layerAppearance(currentLayer())
                                        .labels.find(item->data(0, Qt::UserRole).toInt())
                                  : nullptr;
        labelOpacitySlider->setEnabled(label != nullptr);
        if (label) {
            const bool wasShowing = std::exchange(showing, true);
            labelOpacitySlider->setValue(label->colour.alpha());
            showing = wasShowing;
        }
    });
    connect(labelOpacitySlider, &QSlider::valueChanged, this, [this](int alpha) {
        QTreeWidgetItem *item = labelTree->currentItem();
        if (showing || !item)
            return;
        const int layer = currentLayer();
        LayerAppearance appearance = context.session->layerAppearance(layer);
        if (Label *label = appearance.labels.find(item->data(0, Qt::UserRole).toInt())) {
            label->colour.setAlpha(alpha);
            context.session->setLayerAppearance(layer, appearance);
        }
    });
}

int LayerController::currentLayer() const
{
    const int row = layerList->currentRow();
    return row < 0 ? 0 : context.session->layerCount() - 1 - row;
}

void LayerController::showLayers()
{
    const bool wasShowing = std::exchange(showing, true);
    const int row = layerList->currentRow();
    layerList->clear();
    const Scene scene = context.session->scene();
    for (int layer = int(scene.layers.size()) - 1; layer >= 1; --layer) {
        const SceneLayer &shown = scene.layers[std::size_t(layer)];
        auto *item = new QListWidgetItem(
            QStringLiteral("%1 (%2)").arg(
                QFileInfo(shown.file).fileName(),
                shown.appearance.kind == LayerKind::Labels ? tr("labels") : tr("overlay")),
            layerList);
        item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
        item->setCheckState(shown.appearance.visible ? Qt::Checked : Qt::Unchecked);
        item->setToolTip(shown.file);
    }
    group->setVisible(layerList->count() > 0);
    layerList->setCurrentRow(std::clamp(row, 0, layerList->count() - 1));
    showing = wasShowing;
    showCurrentLayer();
}

void LayerController::showCurrentLayer()
{
    const int layer = currentLayer();
    const bool any = layer > 0;
    for (QWidget *control :
         std::initializer_list<QWidget *>{upButton, downButton, removeButton, opacitySlider})
        control->setEnabled(any);
    if (!any) {
        imageControls->hide();
        labelControls->hide();
        return;
    }
    const bool wasShowing = std::exchange(showing, true);
    const LayerAppearance &appearance = context.session->layerAppearance(layer);
    upButton->setEnabled(layer + 1 < context.session->layerCount());
    downButton->setEnabled(layer > 1);
    opacitySlider->setValue(int(std::lround(appearance.opacity * 100.0)));
    const bool labels = appearance.kind == LayerKind::Labels;
    imageControls->setVisible(!labels);
    labelControls->setVisible(labels);
    if (!labels) {
        showMap(colorMapBox, appearance.colorMap.name);
        if (appearance.negativeMap)
            showMap(negativeMapBox, appearance.negativeMap->name);
        else
            negativeMapBox->setCurrentIndex(0);
        rangeMinimumBox->setValue(appearance.rangeMinimum);
        rangeMaximumBox->setValue(appearance.rangeMaximum);
    } else {
        outlineBox->setChecked(appearance.outline);
        const QVariant current =
            labelTree->currentItem() ? labelTree->currentItem()->data(0, Qt::UserRole) : QVariant();
        labelTree->clear();
        for (const Label &label : appearance.labels.labels()) {
            auto *item = new QTreeWidgetItem(labelTree);
            item->setText(0, QString::number(label.value));
            item->setText(1, label.name);
            item->setData(0, Qt::UserRole, label.value);
            item->setData(0, Qt::DecorationRole, QColor(label.colour.rgb()));
            item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
            item->setCheckState(0, label.visible ? Qt::Checked : Qt::Unchecked);
            if (current.isValid() && current.toInt() == label.value)
                labelTree->setCurrentItem(item);
        }
        labelOpacitySlider->setEnabled(labelTree->currentItem() != nullptr);
    }
    showing = wasShowing;
}

void LayerController::changeCurrent(void (*edit)(LayerAppearance &, double), double value)
{
    const int layer = currentLayer();
    if (showing || layer < 1)
        return;
    LayerAppearance appearance = context.session->layerAppearance(layer);
    edit(appearance, value);
    context.session->setLayerAppearance(layer, appearance);
}

void LayerController::chooseColorMap(QComboBox *box, bool negative)
{
    const int layer = currentLayer();
    if (layer < 1)
        return;
    LayerAppearance appearance = context.session->layerAppearance(layer);
    const bool none = negative && box->currentIndex() == 0;
    if (none) {
        appearance.negativeMap.reset();
    } else {
        QString nameOrFile = box->currentText();
        if (box->currentIndex() == box->count() - 1) {
            nameOrFile = context.dialogs->openColorMapFileName(context.window);
            if (nameOrFile.isEmpty()) {
                showCurrentLayer();
                return;
            }
            context.rememberFolder("colorMap", nameOrFile);
        }
        const ColorMaps::ReadResult map = ColorMaps::byNameOrFile(nameOrFile);
        if (!map.ok) {
            std::cerr << "+ Error loading colour map: " << map.reason.toStdString() << std::endl;
            context.showMessage(tr("Colour map not loaded: %1").arg(map.reason));
            showCurrentLayer();
            return;
        }
        if (negative)
            appearance.negativeMap = map.map;
        else
            appearance.colorMap = map.map;
    }
    context.session->setLayerAppearance(layer, appearance);
    showCurrentLayer();
}

void LayerController::chooseLabelTable()
{
    const int layer = currentLayer();
    if (layer < 1)
        return;
    const QString file = context.dialogs->openLabelTableFileName(context.window);
    if (file.isEmpty())
        return;
    context.rememberFolder("labelTable", file);
    LayerRequest request;
    request.labelTable = file;
    LayerAppearance appearance = context.session->layerAppearance(layer);
    QString reason;
    if (!applyLayerRequest(request, appearance, &reason)) {
        std::cerr << "+ Error loading label table: " << reason.toStdString() << std::endl;
        context.showMessage(tr("Label table not loaded: %1").arg(reason));
        return;
    }
    context.session->setLayerAppearance(layer, appearance);
}
