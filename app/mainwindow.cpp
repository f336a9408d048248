#include "mainwindow.h"

#include "backgroundload.h"
#include "colorlabel.h"
#include "eventhook.h"
#include "layercontroller.h"
#include "loadcontroller.h"
#include "measurementscontroller.h"
#include "rendercontroller.h"
#include "scenecontroller.h"
#include "seriescontroller.h"
#include "settingscontroller.h"
#include "statisticscontroller.h"
#include "sliceviewscontroller.h"
#include "strippointeditor.h"
#include "transferfunctioncontroller.h"
#include "ui_mainwindow.h"
#include "windowchrome.h"
#include "windowcontext.h"
#include "windowdialogs.h"

#include "gradienteditor.h"
#include "viewersession.h"
#include "volume.h"
#include "volumerenderer.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRadioButton>
#include <QVBoxLayout>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), ui(std::make_unique<MainWindowUi>()),
      context(std::make_unique<WindowContext>())
{
    ui->setupUi(this);
    setWindowTitle(QCoreApplication::translate("MainWindow", "Kelvara 1"));
    session = new ViewerSession(this);
    session->setObjectName("viewerSession");

    gradientEditor = new GradientEditor(ui->transferFunctionGroupBox);
    auto *transferLayout = new QVBoxLayout(ui->transferFunctionGroupBox);
    transferLayout->addWidget(gradientEditor);

    volumeRenderer = new VolumeRenderer(ui->rendererGroupBox);
    ui->renderingLayout->addWidget(volumeRenderer);
    volumeRenderer->setRenderingOptions(&renderingOptions);

    const int rows[] = {0, 0, 1, 2};
    const int columns[] = {1, 3, 3, 3};
    const char *colourTips[] = {QT_TR_NOOP("Light colour (click to choose)"),
                                QT_TR_NOOP("Ambient colour (click to choose)"),
                                QT_TR_NOOP("Diffuse colour (click to choose)"),
                                QT_TR_NOOP("Specular colour (click to choose)")};
    for (int i = 0; i < 4; ++i) {
        colorLabels[i] = new ColorLabel(ui->optionsGroupBox);
        colorLabels[i]->setColorPicker([this](const QColor &initial, QWidget *dialogParent) {
            return context->dialogs->pickColor(initial, dialogParent);
        });
        colorLabels[i]->setToolTip(tr(colourTips[i]));
        ui->optionsGridLayout->addWidget(colorLabels[i], rows[i], columns[i]);
    }
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

    // The controllers share what the window holds; each builds its own
    // menus and controls, in the order the menu bar shows them.
    context->window = this;
    context->ui = ui.get();
    context->session = session;
    context->renderer = volumeRenderer;
    context->editor = gradientEditor;
    rendering = new RenderController(*context, this);
    loads = new LoadController(*context, this);
    transferFunctions = new TransferFunctionController(*context, transferLayout, this);
    new StripPointEditor(*context, *transferFunctions, this);
    layers = new LayerController(*context, ui->transferFunctionGroupBox->parentWidget(), this);
    ui->gridLayout_3->addWidget(layers->panel(), 5, 0);
    chrome = new WindowChrome(
        *context, [this](const QString &path) { startLoad(path); },
        [this](const QString &path) { loadTransferFunctionFile(path); }, this);
    sliceViews = new SliceViewsController(*context, this);
    new SeriesController(*context, this);
    settingsKeeper = new SettingsController(*context, *loads, *transferFunctions, this);
    new StatisticsController(*context, this);
    new MeasurementsController(*context, this);
    scenes = new SceneController(
        *context, *loads, *layers,
        [this](const TransferFunction &function) { applyTransferFunction(function); },
        [this](const QString &file) { settingsKeeper->rememberRecentFile(file); }, this);
    chrome->addKeyboardAndToolTips();
    addPictureCommands();
    connect(session, &ViewerSession::volumeChanged, this, [this](bool keepPlace) {
        if (!keepPlace && session->volume()->patientFrame)
            showScanReadyToRead();
    });
    connect(session, &ViewerSession::renderingChanged, this, &MainWindow::showRenderingOptions);
    new EventHook(this, [this](QEvent *event) { return handleClose(event); });

    // Every control starts at the value in effect, so that finishing an edit
    // of one field never silently changes another.
    showRenderingOptions();
    updateTransferFunction();
}

MainWindow::~MainWindow()
{
    // The hooks call back into this window: they go first, before the widget
    // destructors below send their children's last events through them.
    qDeleteAll(findChildren<EventHook *>());
    // The views keep plain pointers to the volume and the options: detach them
    // before those go.
    sliceViews->detach();
    rendering->detach();
    volumeRenderer->setRenderingOptions(nullptr);
}

bool MainWindow::loadLayer(const LayerRequest &request)
{
    return layers->loadLayer(request);
}

void MainWindow::setStartupLayers(const QString &file, const std::vector<LayerRequest> &requests)
{
    layers->setStartupLayers(file, requests);
}

bool MainWindow::openScene(const QString &fileName)
{
    return scenes->openScene(fileName);
}

bool MainWindow::saveScene(const QString &fileName)
{
    return scenes->saveScene(fileName);
}

bool MainWindow::loadFile(const QString &fileName)
{
    return loads->loadFile(fileName);
}

void MainWindow::startLoad(const QString &fileName)
{
    loads->startLoad(fileName);
}

BackgroundLoad *MainWindow::backgroundLoad() const
{
    return loads->backgroundLoad();
}

const Volume *MainWindow::currentVolume() const
{
    return session->volume();
}

void MainWindow::setDialogs(std::unique_ptr<WindowDialogs> replacement)
{
    if (replacement)
        context->dialogs = std::move(replacement);
}

void MainWindow::applyTransferFunction(const TransferFunction &function)
{
    transferFunctions->apply(function);
}

bool MainWindow::loadTransferFunctionFile(const QString &fileName)
{
    return transferFunctions->loadFile(fileName);
}

bool MainWindow::saveTransferFunctionFile(const QString &fileName,
                                          TransferFunctionFile::Format format)
{
    return transferFunctions->saveFile(fileName, format);
}

void MainWindow::setStartupTransferFunction(const QString &nameOrFile)
{
    transferFunctions->setStartupFunction(nameOrFile);
}

void MainWindow::setSpacingFor(const QString &fileName, const std::array<double, 3> &spacing)
{
    loads->setSpacingFor(fileName, spacing);
}

void MainWindow::useSettings(std::unique_ptr<QSettings> store)
{
    context->settings = std::move(store);
    settingsKeeper->restore();
}

bool MainWindow::transferFunctionChanged() const
{
    return transferFunctions->changed();
}

bool MainWindow::confirmQuit()
{
    return quitConfirmed || (transferFunctions->confirmQuit() && scenes->confirmQuit());
}

void MainWindow::undoTransferFunction()
{
    transferFunctions->undo();
}

void MainWindow::redoTransferFunction()
{
    transferFunctions->redo();
}

bool MainWindow::applyAutomaticTransferFunction()
{
    return transferFunctions->applyAutomatic();
}

QStringList MainWindow::recentFiles() const
{
    return settingsKeeper->recentFiles();
}

void MainWindow::setDefault()
{
    transferFunctions->setDefault();
}

void MainWindow::updateTransferFunction()
{
    // The strips' function goes to the session, which the renderer follows.
    transferFunctions->takeEditorFunction();
}

void MainWindow::updateRenderingOptions()
{
    RenderingOptions options;
    options.light = colorLabels[0]->color();
    options.ambient = colorLabels[1]->color();
    options.diffuse = colorLabels[2]->color();
    options.specular = colorLabels[3]->color();
    options.k1 = float(ui->k1SpinBox->value());
    options.k2 = float(ui->k2SpinBox->value());
    options.exponent = float(ui->exponentSpinBox->value());
    options.samples = ui->samplesSpinBox->value();
    session->setRenderingOptions(options);
}

void MainWindow::showRenderingOptions()
{
    const RenderingOptions &options = session->scene().options;
    const QColor colors[] = {options.light, options.ambient, options.diffuse, options.specular};
    for (int i = 0; i < 4; ++i)
        colorLabels[i]->setColor(colors[i]);
    ui->k1SpinBox->setValue(options.k1);
    ui->k2SpinBox->setValue(options.k2);
    ui->exponentSpinBox->setValue(options.exponent);
    ui->samplesSpinBox->setValue(options.samples);
    // The renderer draws with this record; a value the controls cannot hold
    // goes back to the session as they hold it.
    updateRenderingOptions();
    renderingOptions = session->scene().options;
    volumeRenderer->setRenderingOptions(&renderingOptions);
}

void MainWindow::showScanReadyToRead()
{
    // Scans are read in their three planes, and seen from the front with
    // superior up; DAT files keep the window's own layout and view.
    session->setFourViews(settingsKeeper->fourViewsForScans());
    rendering->viewFrom(PatientSide::Anterior);
}

void MainWindow::addPictureCommands()
{
    // Beside "Bild speichern...", which keeps writing the rendering: the
    // slice view and the whole layout as they are shown.
    const struct
    {
        const char *text;
        const char *name;
        const char *tip;
        bool layout;
    } commands[] = {
        {QT_TR_NOOP("Schnittbild speichern..."), "actionSchnittbild_speichern",
         QT_TR_NOOP("Save the slice view the pointer was over last, as it is shown"), false},
        {QT_TR_NOOP("Layout speichern..."), "actionLayout_speichern",
         QT_TR_NOOP("Save the whole layout as it is shown: slices and rendering"), true}};
    QAction *before = ui->actionBild_speichern;
    const QList<QAction *> actions = ui->menuDatei->actions();
    const int next = int(actions.indexOf(before)) + 1;
    QAction *after = next < actions.size() ? actions[next] : nullptr;
    for (const auto &command : commands) {
        auto *action = new QAction(tr(command.text), this);
        action->setObjectName(command.name);
        action->setToolTip(tr(command.tip));
        ui->menuDatei->insertAction(after, action);
        const bool layout = command.layout;
        connect(action, &QAction::triggered, this, [this, layout] {
            savePicture([this, layout] {
                QWidget *shown = layout ? ui->centralWidget : sliceViews->sliceViewForPicture();
                return shown->grab().toImage();
            });
        });
    }
}

void MainWindow::savePicture(const std::function<QImage()> &picture)
{
    QString fileName = context->dialogs->saveImageFileName(this);
    if (fileName.isEmpty())
        return;
    if (!fileName.endsWith(".png"))
        fileName += ".png";
    // Taken once the dialog has gone.
    const QImage image = picture();
    if (image.isNull() || !image.save(fileName, "PNG")) {
        context->dialogs->warnImageNotSaved(this);
        return;
    }
    context->rememberFolder("image", fileName);
    context->showMessage(
        tr("Image saved to %1")
            .arg(QDir::toNativeSeparators(QFileInfo(fileName).absoluteFilePath())));
}

void MainWindow::on_actionBild_speichern_triggered()
{
    savePicture([this] { return volumeRenderer->grabFrame(); });
}

void MainWindow::on_slicingScrollBar_valueChanged(int)
{
    sliceViews->sliceChanged();
}

void MainWindow::on_slicingComboBox_currentIndexChanged(int)
{
    sliceViews->axisChanged();
}

void MainWindow::on_actionBeenden_triggered()
{
    if (!confirmQuit())
        return;
    quitConfirmed = true;
    settingsKeeper->saveWindowState();
    QCoreApplication::quit();
}

void MainWindow::on_actionDatensatz_laden_triggered()
{
    loads->askForVolumeFile();
}

void MainWindow::updateSlicingView()
{
    sliceViews->updateSlicingView();
}

void MainWindow::updateSlicingRange()
{
    sliceViews->updateSlicingRange();
}

bool MainWindow::handleClose(QEvent *event)
{
    if (event->type() != QEvent::Close)
        return false;
    if (!confirmQuit()) {
        event->ignore();
        return true;
    }
    quitConfirmed = true;
    settingsKeeper->saveWindowState();
    return false;
}
