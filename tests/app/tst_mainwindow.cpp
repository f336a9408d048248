#include "mainwindow.h"
#include "samplevolumes.h"
#include "slicingview.h"
#include "volume.h"
#include "windowdialogs.h"

#include <QAction>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenuBar>
#include <QScrollBar>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QDir>
#include <QTest>

namespace {

// Answers the window's dialogs from a script instead of opening them.
class ScriptedDialogs : public WindowDialogs
{
public:
    QString openAnswer;
    int openCalls = 0;

    QString openVolumeFileName(QWidget *) override
    {
        ++openCalls;
        return openAnswer;
    }
    QString openDicomFolder(QWidget *) override
    {
        ++openCalls;
        return openAnswer;
    }
};

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void layoutAndTexts();
    void slicingFollowsAxis_data();
    void slicingFollowsAxis();
    void axisSurvivesReload();
    void failedLoadKeepsDataSet();
    void cancelledDialogKeepsDataSet();
    void slicingBeforeAnyLoad();
    void menuLoadUsesDialog();
    void dicomFolderCommand();

private:
    QTemporaryDir dir;
    QString file64, file8;

    template <typename T> T *child(MainWindow &window, const char *name)
    {
        T *widget = window.findChild<T *>(name);
        if (!widget)
            qFatal("missing child %s", name);
        return widget;
    }
};

void TestMainWindow::initTestCase()
{
    file64 = dir.filePath("coded-64x32x16.dat");
    file8 = dir.filePath("box-8x6x5.dat");
    QVERIFY(writeDatFile(file64.toStdString(), makeHeadPhantom(64, 32, 16)));
    QVERIFY(writeDatFile(file8.toStdString(), makeCentredBox(8, 6, 5, 1, 4095)));
}

void TestMainWindow::layoutAndTexts()
{
    MainWindow window;
    QCOMPARE(window.windowTitle(), QString("Kelvara 1"));
    QCOMPARE(window.objectName(), QString("MainWindow"));
    QCOMPARE(window.size(), QSize(741, 726));
    QCOMPARE(child<QAction>(window, "actionDatensatz_laden")->text(),
             QString("Datensatz laden..."));
    QCOMPARE(child<QAction>(window, "actionBild_speichern")->text(), QString("Bild speichern..."));
    QCOMPARE(child<QAction>(window, "actionBeenden")->text(), QString("Beenden"));
    QCOMPARE(child<QMenu>(window, "menuDatei")->title(), QString("Datei"));
    const QList<QAction *> actions = child<QMenu>(window, "menuDatei")->actions();
    // The folder commands for DICOM series and image stacks and the layer
    // commands join the file command, the recent files and the scene commands
    // follow them; the pictures of the slice view and the layout follow the
    // rendering's.
    QCOMPARE(actions.size(), 12);
    QCOMPARE(actions[0]->objectName(), QString("actionDatensatz_laden"));
    QCOMPARE(actions[1]->objectName(), QString("actionDicomOrdner_laden"));
    QCOMPARE(actions[1]->text(), QString("DICOM-Ordner laden..."));
    QCOMPARE(actions[2]->text(), QString("Bildstapel laden..."));
    QCOMPARE(actions[3]->text(), QString("Overlay laden..."));
    QCOMPARE(actions[4]->text(), QString("Labelkarte laden..."));
    QCOMPARE(actions[5]->menu()->title(), QString("Zuletzt geöffnet"));
    QCOMPARE(actions[6]->text(), QString("Szene öffnen..."));
    QCOMPARE(actions[7]->text(), QString("Szene speichern..."));
    QCOMPARE(actions[8]->objectName(), QString("actionBild_speichern"));
    QCOMPARE(actions[9]->text(), QString("Schnittbild speichern..."));
    QCOMPARE(actions[10]->text(), QString("Layout speichern..."));
    QCOMPARE(actions[11]->objectName(), QString("actionBeenden"));

    const std::pair<const char *, const char *> titles[] = {
        {"transferFunctionGroupBox", "Transfer Function"},
        {"optionsGroupBox", "Rendering Options"},
        {"groupBox", "Slicing"},
        {"rendererGroupBox", "Volume Rendering"},
    };
    for (const auto &[name, title] : titles)
        QCOMPARE(child<QGroupBox>(window, name)->title(), QString(title));
    const std::pair<const char *, const char *> labels[] = {
        {"label_16", "Light Color"}, {"label_17", "Ambient"},
        {"label_13", "Diffuse"},     {"label_12", "Depth-Cueing, k1"},
        {"label_14", "Specular"},    {"label_11", "Depth-Cueing, k2"},
        {"label_15", "Exponent"},    {"label_4", "Samples"},
    };
    for (const auto &[name, text] : labels)
        QCOMPARE(child<QLabel>(window, name)->text(), QString(text));

    auto *combo = child<QComboBox>(window, "slicingComboBox");
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->currentText(), QString("X axis"));
    QCOMPARE(combo->itemText(2), QString("Z axis"));
    auto *scrollBar = child<QScrollBar>(window, "slicingScrollBar");
    QCOMPARE(scrollBar->minimum(), 0);
    QCOMPARE(scrollBar->maximum(), 0);
    QCOMPARE(scrollBar->orientation(), Qt::Horizontal);
    auto *samples = child<QSpinBox>(window, "samplesSpinBox");
    QCOMPARE(samples->value(), 100);
    QCOMPARE(samples->minimum(), 2);
    QCOMPARE(samples->maximum(), 999);
    QCOMPARE(child<QGroupBox>(window, "groupBox")->sizePolicy().horizontalPolicy(),
             QSizePolicy::Fixed);
    QCOMPARE(child<SlicingView>(window, "slicingView")->minimumSize(), QSize(200, 200));
    QVERIFY(window.currentVolume() == nullptr);
}

void TestMainWindow::slicingFollowsAxis_data()
{
    QTest::addColumn<int>("axis");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QSize>("viewSize");
    QTest::newRow("Y") << 1 << 31 << QSize(64, 16);
    QTest::newRow("X") << 0 << 63 << QSize(16, 32);
    QTest::newRow("Z") << 2 << 15 << QSize(64, 32);
}

void TestMainWindow::slicingFollowsAxis()
{
    QFETCH(int, axis);
    QFETCH(int, maximum);
    QFETCH(QSize, viewSize);
    MainWindow window;
    QVERIFY(window.loadFile(file64));
    auto *combo = child<QComboBox>(window, "slicingComboBox");
    auto *scrollBar = child<QScrollBar>(window, "slicingScrollBar");
    auto *view = child<SlicingView>(window, "slicingView");
    // Start elsewhere so that every switch is a real change with a slice to reset.
    combo->setCurrentIndex(axis == 2 ? 1 : 2);
    scrollBar->setValue(5);
    QCOMPARE(view->slice, 5);

    // Each switch starts at the middle slice, where the subject is.
    combo->setCurrentIndex(axis);
    QCOMPARE(scrollBar->maximum(), maximum);
    QCOMPARE(scrollBar->value(), (maximum + 1) / 2);
    QCOMPARE(view->axis, axis);
    QCOMPARE(view->slice, (maximum + 1) / 2);
    QCOMPARE(view->minimumSize(), viewSize);
    QCOMPARE(view->maximumSize(), viewSize);

    scrollBar->setValue(maximum);
    QCOMPARE(view->slice, maximum);
    // The view is shown one pixel per voxel: its paint builds exactly one slice
    // image of its own size.
    QCOMPARE(view->size(), viewSize);
    view->grab();
    QCOMPARE(view->sliceImage().size(), viewSize);
}

void TestMainWindow::axisSurvivesReload()
{
    MainWindow window;
    auto *combo = child<QComboBox>(window, "slicingComboBox");
    auto *scrollBar = child<QScrollBar>(window, "slicingScrollBar");
    auto *view = child<SlicingView>(window, "slicingView");
    QVERIFY(window.loadFile(file64));
    combo->setCurrentIndex(2);
    scrollBar->setValue(7);
    QVERIFY(window.loadFile(file8));
    QCOMPARE(combo->currentIndex(), 2);
    QCOMPARE(view->axis, 2);
    QCOMPARE(scrollBar->value(), 2);
    QCOMPARE(scrollBar->maximum(), 4);
    QCOMPARE(view->minimumSize(), QSize(8, 6));
    QCOMPARE(window.currentVolume()->width, 8);
    QVERIFY(window.statusBar()->currentMessage().contains(
        "8 x 6 x 5 voxels of 1 x 1 x 1 mm, values 0 to 4095"));
}

void TestMainWindow::failedLoadKeepsDataSet()
{
    MainWindow window;
    auto *combo = child<QComboBox>(window, "slicingComboBox");
    auto *scrollBar = child<QScrollBar>(window, "slicingScrollBar");
    auto *view = child<SlicingView>(window, "slicingView");
    QVERIFY(window.loadFile(file64));
    combo->setCurrentIndex(1);
    scrollBar->setValue(9);
    const Volume *loaded = window.currentVolume();

    QVERIFY(!window.loadFile(dir.filePath("missing.dat")));
    QCOMPARE(window.currentVolume(), loaded);
    QCOMPARE(view->volume, loaded);
    QCOMPARE(scrollBar->maximum(), 31);
    QCOMPARE(scrollBar->value(), 9);
    QCOMPARE(view->slice, 9);
    QVERIFY(window.statusBar()->currentMessage().startsWith("Could not load missing.dat"));
}

void TestMainWindow::cancelledDialogKeepsDataSet()
{
    MainWindow window;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *script = dialogs.get();
    window.setDialogs(std::move(dialogs));
    QVERIFY(window.loadFile(file64));
    const Volume *loaded = window.currentVolume();
    child<QAction>(window, "actionDatensatz_laden")->trigger();
    QCOMPARE(script->openCalls, 1);
    QCOMPARE(window.currentVolume(), loaded);
}

void TestMainWindow::slicingBeforeAnyLoad()
{
    MainWindow window;
    auto *combo = child<QComboBox>(window, "slicingComboBox");
    auto *view = child<SlicingView>(window, "slicingView");
    combo->setCurrentIndex(2);
    QCOMPARE(view->axis, 2);
    QCOMPARE(view->minimumSize(), QSize(200, 200));
    QCOMPARE(view->maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QCOMPARE(child<QScrollBar>(window, "slicingScrollBar")->maximum(), 0);
}

void TestMainWindow::menuLoadUsesDialog()
{
    MainWindow window;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs->openAnswer = file8;
    window.setDialogs(std::move(dialogs));
    child<QAction>(window, "actionDatensatz_laden")->trigger();
    // The menu loads in the background: the window applies the file later.
    QTRY_VERIFY(window.currentVolume() != nullptr);
    QCOMPARE(window.currentVolume()->depth, 5);
    QCOMPARE(child<SlicingView>(window, "slicingView")->minimumSize(), QSize(5, 6));
}

void TestMainWindow::dicomFolderCommand()
{
    MainWindow window;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *script = dialogs.get();
    window.setDialogs(std::move(dialogs));
    QVERIFY(window.loadFile(file8));
    const Volume *loaded = window.currentVolume();
    QAction *command = child<QAction>(window, "actionDicomOrdner_laden");
    command->trigger(); // cancelled
    QCOMPARE(script->openCalls, 1);
    QCOMPARE(window.currentVolume(), loaded);

    QVERIFY(QDir().mkpath(dir.filePath("no-series")));
    script->openAnswer = dir.filePath("no-series") + "/";
    command->trigger();
    QTRY_COMPARE(window.statusBar()->currentMessage(),
                 QString("Could not load no-series: The folder holds no DICOM series."));
    QCOMPARE(window.currentVolume(), loaded);
}

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
