#include "windowchrome.h"

#include "controlstable.h"
#include "eventhook.h"
#include "filenamebytes.h"
#include "scrollbarkeys.h"
#include "statusmessages.h"
#include "ui_mainwindow.h"
#include "windowcontext.h"

#include "gradienteditor.h"
#include "volumerenderer.h"

#include <QAction>
#include <QCoreApplication>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QRadioButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QUrl>

WindowChrome::WindowChrome(WindowContext &windowContext, FileHandler volumeHandler,
                           FileHandler transferFunctionHandler, QObject *parent)
    : QObject(parent), context(windowContext), openVolume(std::move(volumeHandler)),
      openTransferFunction(std::move(transferFunctionHandler))
{
    addStatusLog();
    addHelpMenu();
    makeLeftColumnScrollable();
    context.window->setAcceptDrops(true);
    new EventHook(context.window, [this](QEvent *event) { return handleDrop(event); });
}

void WindowChrome::addStatusLog()
{
    // The data set's line stays beside the transient messages.
    auto *dataSetLabel = new QLabel(context.window->statusBar());
    dataSetLabel->setObjectName("dataSetLabel");
    context.window->statusBar()->addPermanentWidget(dataSetLabel);
    context.messages = new StatusMessages(context.window->statusBar(), dataSetLabel);
    if (QMenu *viewMenu = context.menu("menuAnsicht")) {
        QAction *log = viewMenu->addAction(tr("Meldungen..."));
        log->setObjectName("actionMeldungen");
        log->setToolTip(tr("Every message of the status bar, whole"));
        connect(log, &QAction::triggered, this, [this] {
            const QStringList &messages = context.messages->log();
            context.dialogs->showText(context.window, tr("Meldungen"),
                                      messages.isEmpty() ? tr("No messages yet.")
                                                         : messages.join('\n'));
        });
    }
}

void WindowChrome::addHelpMenu()
{
    QMenu *help = context.window->menuBar()->addMenu(tr("Hilfe"));
    help->setObjectName("menuHilfe");
    QAction *controls = help->addAction(tr("Bedienung"));
    controls->setObjectName("actionBedienung");
    controls->setShortcut(QKeySequence(Qt::Key_F1));
    connect(controls, &QAction::triggered, this, [this] {
        context.dialogs->showText(context.window, tr("Bedienung"), controlsHelpText());
    });
    QAction *about = help->addAction(tr("Über Kelvara"));
    about->setObjectName("actionUeber_Kelvara");
    connect(about, &QAction::triggered, this, [this] {
        context.dialogs->showText(
            context.window, tr("Über Kelvara"),
            tr("Kelvara %1\nA viewer for 3D scalar volumes (DAT, NIfTI, NRRD, "
               "MetaImage, DICOM, MGH, MRC) with slices and GPU ray casting.")
                .arg(QCoreApplication::applicationVersion()));
    });
}

void WindowChrome::makeLeftColumnScrollable()
{
    MainWindowUi *ui = context.ui;
    // The generated grid of slices, options and editor moves into a widget
    // inside a scroll area at the same place; widgets and names stay.
    auto *column = new QWidget;
    column->setObjectName("leftColumn");
    const int index = ui->horizontalLayout->indexOf(ui->gridLayout_3);
    ui->horizontalLayout->removeItem(ui->gridLayout_3);
    ui->gridLayout_3->setParent(nullptr);
    column->setLayout(ui->gridLayout_3);
    auto *scrollArea = new QScrollArea(ui->centralWidget);
    scrollArea->setObjectName("leftColumnScrollArea");
    scrollArea->setWidget(column);
    scrollArea->setWidgetResizable(true);
    scrollArea->setFrameShape(QFrame::NoFrame);
    scrollArea->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scrollArea->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Ignored);
    ui->horizontalLayout->insertWidget(index, scrollArea);
    // As wide as the column wants, so that only the height scrolls, and no
    // wider: the renderer group takes the rest of the width.
    const auto fitWidth = [scrollArea, column] {
        scrollArea->setFixedWidth(column->minimumSizeHint().width() +
                                  scrollArea->verticalScrollBar()->sizeHint().width());
    };
    fitWidth();
    new EventHook(column, [fitWidth](QEvent *event) {
        if (event->type() == QEvent::LayoutRequest)
            fitWidth();
        return false;
    });
}

void WindowChrome::addKeyboardAndToolTips()
{
    MainWindowUi *ui = context.ui;
    ui->actionDatensatz_laden->setShortcut(QKeySequence(tr("Ctrl+O")));
    ui->actionBild_speichern->setShortcut(QKeySequence(tr("Ctrl+S")));
    ui->actionBeenden->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));

    // Views take focus on click; the single slice view's keys move its
    // scroll bar, so the window's own slots run as they would for a drag.
    ui->slicingView->setFocusPolicy(Qt::ClickFocus);
    ui->slicingView->installEventFilter(new ScrollBarKeys(ui->slicingScrollBar, context.window));
    context.renderer->setFocusPolicy(Qt::ClickFocus);
    // Start with the slice view focused: the first control in the tab chain
    // is a spin box that arrow keys would change unseen.
    ui->slicingView->setFocus(Qt::OtherFocusReason);

    ui->slicingView->setToolTip(tr("Slice along the chosen axis; click it, then use the arrow or "
                                   "Page Up/Page Down keys to move through slices"));
    ui->slicingScrollBar->setToolTip(tr("Slice shown"));
    ui->slicingComboBox->setToolTip(tr("Axis perpendicular to the slice"));
    ui->samplesSpinBox->setToolTip(tr("Samples along each ray"));
    ui->k1SpinBox->setToolTip(tr("Depth cueing: how fast far samples darken"));
    ui->k2SpinBox->setToolTip(tr("Depth cueing: second coefficient of the fall-off"));
    ui->exponentSpinBox->setToolTip(tr("Specular exponent: higher gives smaller highlights"));
    context.editor->setToolTip(tr("Transfer function: drag the points of the red, green, blue "
                                  "and alpha strips; the rendering runs straight between points"));
    context.renderer->setToolTip(tr("Volume rendering: drag to rotate"));
    for (QAction *action : {ui->actionDatensatz_laden, ui->actionBild_speichern, ui->actionBeenden})
        action->setToolTip(action->text().remove("..."));
}

bool WindowChrome::handleDrop(QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter: {
        auto *drag = static_cast<QDragEnterEvent *>(event);
        const QList<QUrl> urls = drag->mimeData()->urls();
        if (!urls.isEmpty() && urls.first().isLocalFile())
            drag->acceptProposedAction();
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        const QList<QUrl> urls = drop->mimeData()->urls();
        if (urls.isEmpty() || !urls.first().isLocalFile())
            return true;
        drop->acceptProposedAction();
        const QString path = localFileText(urls.first());
        if (path.endsWith(".json", Qt::CaseInsensitive))
            openTransferFunction(path);
        else
            openVolume(path);
        return true;
    }
    default:
        return false;
    }
}
