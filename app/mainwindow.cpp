#include "mainwindow.h"

#include "ui_mainwindow.h"
#include "windowdialogs.h"

#include "datreader.h"
#include "sliceimage.h"
#include "volume.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()),
      dialogs(std::make_unique<WindowDialogs>())
{
    ui->setupUi(this);
    setWindowTitle(QCoreApplication::translate("MainWindow", "Kelvara 1"));
    ui->slicingScrollBar->setMinimum(0);
}

MainWindow::~MainWindow()
{
    // The views keep plain pointers to the volume: detach them before it goes.
    ui->slicingView->volume = nullptr;
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

    // Hand the new data set to every view before the old one is freed.
    std::unique_ptr<Volume> previous = std::move(volume);
    volume = std::move(loaded);
    ui->slicingView->volume = volume.get();
    ui->slicingView->axis = 0;
    ui->slicingView->slice = 0;
    ui->slicingView->repaint();
    updateSlicingRange();
    updateSlicingView();
    previous.reset();

    QString message = tr("%1: %2 x %3 x %4 voxels")
                          .arg(shownName)
                          .arg(volume->width)
                          .arg(volume->height)
                          .arg(volume->depth);
    if (result.missingSamples > 0)
        message += tr(" (file truncated: %1 samples missing, shown as 0)")
                       .arg(qulonglong(result.missingSamples));
    statusBar()->showMessage(message);
    return true;
}

void MainWindow::setDefault() {}

void MainWindow::on_actionBild_speichern_triggered() {}

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
