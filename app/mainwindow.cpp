#include "mainwindow.h"

#include "colorlabel.h"
#include "ui_mainwindow.h"
#include "windowdialogs.h"

#include "datreader.h"
#include "gradienteditor.h"
#include "sliceimage.h"
#include "transferfunctiontable.h"
#include "volume.h"
#include "volumerenderer.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QVBoxLayout>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()),
      dialogs(std::make_unique<WindowDialogs>())
{
    ui->setupUi(this);
    setWindowTitle(QCoreApplication::translate("MainWindow", "Kelvara 1"));

    gradientEditor = new GradientEditor(ui->transferFunctionGroupBox);
    auto *transferLayout = new QVBoxLayout(ui->transferFunctionGroupBox);
    transferLayout->addWidget(gradientEditor);

    volumeRenderer = new VolumeRenderer(ui->rendererGroupBox);
    ui->renderingLayout->addWidget(volumeRenderer);
    volumeRenderer->setRenderingOptions(&renderingOptions);
    connect(volumeRenderer->problemReporter(), &ProblemReporter::problemReported, this,
            [this](const QString &message) { statusBar()->showMessage(message); });

    const QColor colors[] = {renderingOptions.light, renderingOptions.ambient,
                             renderingOptions.diffuse, renderingOptions.specular};
    const int rows[] = {0, 0, 1, 2};
    const int columns[] = {1, 3, 3, 3};
    for (int i = 0; i < 4; ++i) {
        colorLabels[i] = new ColorLabel(ui->optionsGroupBox);
        colorLabels[i]->setColor(colors[i]);
        colorLabels[i]->setColorPicker([this](const QColor &initial, QWidget *dialogParent) {
            return dialogs->pickColor(initial, dialogParent);
        });
        ui->optionsGridLayout->addWidget(colorLabels[i], rows[i], columns[i]);
    }

    // Every spin box starts at the value in effect, so that finishing an edit of
    // one field never silently changes another.
    ui->exponentSpinBox->setValue(renderingOptions.exponent);
    ui->k1SpinBox->setValue(renderingOptions.k1);
    ui->k2SpinBox->setValue(renderingOptions.k2);
    ui->samplesSpinBox->setValue(renderingOptions.samples);
    connect(ui->samplesSpinBox, &QSpinBox::editingFinished, this,
            &MainWindow::updateRenderingOptions);
    for (QDoubleSpinBox *spinBox : {ui->k1SpinBox, ui->k2SpinBox, ui->exponentSpinBox})
        connect(spinBox, &QDoubleSpinBox::editingFinished, this,
                &MainWindow::updateRenderingOptions);
    for (ColorLabel *label : colorLabels)
        connect(label, &ColorLabel::editingFinished, this, &MainWindow::updateRenderingOptions);

    connect(gradientEditor, &GradientEditor::gradientStopsChanged, this,
            &MainWindow::updateTransferFunction);

    ui->slicingScrollBar->setMinimum(0);
    updateTransferFunction();
}

MainWindow::~MainWindow()
{
    // The views keep plain pointers to the volume and the options: detach them
    // before those go.
    ui->slicingView->volume = nullptr;
    volumeRenderer->setVolume(nullptr);
    volumeRenderer->setRenderingOptions(nullptr);
}

void MainWindow::setDialogs(std::unique_ptr<WindowDialogs> replacement)
{
    if (replacement)
        dialogs = std::move(replacement);
}

bool MainWindow::loadFile(const QString &fileName)
{
    // Read into a fresh record so that a failed load leaves the current data
    // set untouched; the file name is encoded the way the file system expects.
    auto loaded = std::make_unique<Volume>();
    const DatReadResult result = loadDatFile(QFile::encodeName(fileName).toStdString(), *loaded);
    const QString shownName = QFileInfo(fileName).fileName();
    if (!result.ok) {
        statusBar()->showMessage(
            tr("Could not load %1: %2")
                .arg(shownName, result.reason.empty()
                                    ? tr("the file cannot be read or is not a DAT file")
                                    : QString::fromStdString(result.reason)));
        return false;
    }

    QString message = tr("%1: %2 x %3 x %4 voxels")
                          .arg(shownName)
                          .arg(loaded->width)
                          .arg(loaded->height)
                          .arg(loaded->depth);
    if (result.missingSamples > 0)
        message += tr(" (file truncated: %1 samples missing, shown as 0)")
                       .arg(qulonglong(result.missingSamples));
    // Shown first, so that a problem the renderer reports with this data set
    // (too large for the graphics card, say) replaces it.
    statusBar()->showMessage(message);

    // Hand the new data set to every view before the old one is freed.
    std::unique_ptr<Volume> previous = std::move(volume);
    volume = std::move(loaded);
    ui->slicingView->volume = volume.get();
    ui->slicingView->axis = 0;
    ui->slicingView->slice = 0;
    ui->slicingView->repaint();
    updateSlicingRange();
    updateSlicingView();
    volumeRenderer->setVolume(volume.get());
    previous.reset();
    return true;
}

void MainWindow::setDefault()
{
    // The renderer gets the stops as they are, not the strips' sampling of them.
    const QGradientStops stops = blackToWhiteStops();
    gradientEditor->setGradientStops(stops);
    volumeRenderer->setGradientStops(stops);
    volumeRenderer->updateTransferFunctionTexture();
}

void MainWindow::updateTransferFunction()
{
    volumeRenderer->setGradientStops(gradientEditor->gradientStops());
    volumeRenderer->updateTransferFunctionTexture();
}

void MainWindow::updateRenderingOptions()
{
    renderingOptions.light = colorLabels[0]->color();
    renderingOptions.ambient = colorLabels[1]->color();
    renderingOptions.diffuse = colorLabels[2]->color();
    renderingOptions.specular = colorLabels[3]->color();
    renderingOptions.k1 = float(ui->k1SpinBox->value());
    renderingOptions.k2 = float(ui->k2SpinBox->value());
    renderingOptions.exponent = float(ui->exponentSpinBox->value());
    renderingOptions.samples = ui->samplesSpinBox->value();
    volumeRenderer->setRenderingOptions(&renderingOptions);
}

void MainWindow::on_actionBild_speichern_triggered()
{
    QString fileName = dialogs->saveImageFileName(this);
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(".png"))
        fileName += ".png";
    const QImage image = volumeRenderer->grabFrame();
    if (image.isNull() || !image.save(fileName, "PNG"))
        dialogs->warnImageNotSaved(this);
}

void MainWindow::on_slicingScrollBar_valueChanged(int)
{
    updateSlicingView();
}

void MainWindow::on_slicingComboBox_currentIndexChanged(int)
{
    updateSlicingRange();
    updateSlicingView();
}

void MainWindow::on_actionBeenden_triggered()
{
    QCoreApplication::quit();
}

void MainWindow::on_actionDatensatz_laden_triggered()
{
    const QString fileName = dialogs->openVolumeFileName(this);
    if (fileName.isEmpty())
        return;
    loadFile(fileName);
}

void MainWindow::updateSlicingView()
{
    SlicingView *view = ui->slicingView;
    view->axis = ui->slicingComboBox->currentIndex();
    view->slice = ui->slicingScrollBar->value();
    if (volume) {
        const QSize size = sliceImageSize(*volume, view->axis);
        if (size.isValid()) {
            view->setMinimumSize(size);
            view->setMaximumSize(size);
        }
    }
    view->repaint();
}

void MainWindow::updateSlicingRange()
{
    if (!volume)
        return;
    const int axis = ui->slicingComboBox->currentIndex();
    if (axis < 0 || axis > 2)
        return;
    // An axis without slices (depth 0) keeps the range 0..0 rather than the
    // inverted range 0..-1, which would drag the minimum below zero.
    ui->slicingScrollBar->setMaximum(std::max(sliceCount(*volume, axis) - 1, 0));
    ui->slicingScrollBar->setValue(0);
}
