#include "gradienteditor.h"
#include "hoverpoints.h"
#include "mainwindow.h"
#include "picturechecks.h"
#include "samplevolumes.h"
#include "shadewidget.h"
#include "transferfunction.h"
#include "transferfunctionfile.h"
#include "transferfunctionpresets.h"
#include "transferfunctiontable.h"
#include "volumerenderer.h"
#include "windowdialogs.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

class ScriptedDialogs : public WindowDialogs
{
public:
    QString openAnswer;
    QString saveAnswer;
    bool askedForParaView = false;

    QString openTransferFunctionFileName(QWidget *) override { return openAnswer; }
    QString saveTransferFunctionFileName(QWidget *, bool paraView) override
    {
        askedForParaView = paraView;
        return saveAnswer;
    }
};

// The same points and locks, up to the rounding of the pixel mapping.
bool samePoints(const TransferFunction &a, const TransferFunction &b)
{
    for (int c = 0; c < 4; ++c) {
        const ChannelPoints &p = a.channels[c];
        const ChannelPoints &q = b.channels[c];
        if (p.locks != q.locks || p.points.size() != q.points.size())
            return false;
        for (int i = 0; i < p.points.size(); ++i)
            if (QLineF(p.points[i], q.points[i]).length() > 1e-12)
                return false;
    }
    return true;
}

} // namespace

class TestTransferFunctionWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void saveAndLoadThroughTheMenu();
    void badFilesChangeNothing();
    void presetsShowThePhantom();
    void startupFunctionFollowsTheDefault();
    void dataUnitsFollowTheScan();
    void functionOutlivesResizesAndUndoStopsAtTheLoad();

private:
    QTemporaryDir dir;
    QString headFile;
    ScriptedDialogs *dialogs = nullptr;

    // A window with the phantom loaded and the start-up default in place.
    std::unique_ptr<MainWindow> makeWindow()
    {
        auto window = std::make_unique<MainWindow>();
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        window->setDialogs(std::move(scripted));
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()) || !window->loadFile(headFile))
            qFatal("no window with the phantom");
        window->setDefault();
        return window;
    }
};

void TestTransferFunctionWindow::initTestCase()
{
    headFile = dir.filePath("head.dat");
    QVERIFY(writeDatFile(headFile.toStdString(), makeHeadPhantom(48, 48, 48)));
}

void TestTransferFunctionWindow::saveAndLoadThroughTheMenu()
{
    const auto window = makeWindow();
    GradientEditor *editor = window->transferFunctionEditor();
    const QList<QAction *> menus = window->menuBar()->actions();
    QCOMPARE(menus[menus.size() - 2]->text(), QString("Transferfunktion"));

    // A red strip of two points, the others of several at odd places.
    TransferFunction function = *presetNamed("soft-tissue");
    function.channels[RedChannel] = {QPolygonF({QPointF(0, 0.3), QPointF(1, 0.9)}),
                                     {HoverPoints::LockLeftEdge, HoverPoints::LockRightEdge}};
    window->applyTransferFunction(function);
    const TransferFunction shown = editor->transferFunction();
    QVERIFY(samePoints(shown, function));
    QCOMPARE(window->renderer()->gradientStops(), function.toStops());

    dialogs->saveAnswer = dir.filePath("mine");
    window->findChild<QAction *>("actionTransferfunktion_speichern")->trigger();
    QVERIFY(!dialogs->askedForParaView);
    QVERIFY(QFile::exists(dir.filePath("mine.json")));

    window->findChild<QAction *>("actionVorlage_grey_ramp")->trigger();
    QVERIFY(!samePoints(editor->transferFunction(), function));

    // The file holds the strips' points as they were, and loading puts them
    // back point for point.
    const TransferFunctionFile::ReadResult saved =
        TransferFunctionFile::readFile(dir.filePath("mine.json"), DataRange());
    QVERIFY(saved.ok && saved.function == shown);
    dialogs->openAnswer = dir.filePath("mine.json");
    window->findChild<QAction *>("actionTransferfunktion_laden")->trigger();
    QCOMPARE(editor->redStrip()->pointEditor()->controlPoints().size(), 2);
    QVERIFY(samePoints(editor->transferFunction(), shown));
    QCOMPARE(window->renderer()->gradientStops(), shown.toStops());
}

void TestTransferFunctionWindow::badFilesChangeNothing()
{
    const auto window = makeWindow();
    GradientEditor *editor = window->transferFunctionEditor();
    window->findChild<QAction *>("actionVorlage_bone")->trigger();
    const TransferFunction function = editor->transferFunction();
    const QGradientStops stops = window->renderer()->gradientStops();

    QFile broken(dir.filePath("broken.json"));
    QVERIFY(broken.open(QIODevice::WriteOnly));
    broken.write(R"({"kelvara-transfer-function": 1, "red": [[0, 0.5], [1, 7]]})");
    broken.close();
    const std::pair<QString, QString> cases[] = {
        {broken.fileName(), "broken.json: point 2 of \"red\": x and y must be numbers in 0..1"},
        {dir.filePath("absent.json"), "absent.json: cannot be read (no such file)"},
    };
    for (const auto &[file, message] : cases) {
        dialogs->openAnswer = file;
        window->findChild<QAction *>("actionTransferfunktion_laden")->trigger();
        const QString shown = window->statusBar()->currentMessage();
        QVERIFY2(shown.endsWith(message), qPrintable(shown));
        QVERIFY(editor->transferFunction() == function);
        QCOMPARE(window->renderer()->gradientStops(), stops);
    }
}

void TestTransferFunctionWindow::presetsShowThePhantom()
{
    const auto window = makeWindow();
    const int pixels = window->renderer()->width() * window->renderer()->height();
    // The start-up ramp hides the phantom in its black bounding box.
    QCOMPARE(litPixels(window->renderer()->grabFrame()), 0);
    QList<QAction *> presets = window->findChild<QMenu *>("menuVorlage_anwenden")->actions();
    // "Automatisch" and a separator come first.
    QCOMPARE(presets.size(), transferFunctionPresets().size() + 2);
    QCOMPARE(presets.first()->text(), QString("Automatisch"));
    QVERIFY(presets[1]->isSeparator());
    presets = presets.mid(2);
    for (QAction *preset : presets) {
        preset->trigger();
        const int lit = litPixels(window->renderer()->grabFrame());
        QVERIFY2(lit > pixels / 20, qPrintable(preset->text() + ": " + QString::number(lit)));
    }
    QCOMPARE(presets.first()->text(), QString("Haut"));
    QVERIFY(!window->transferFunctionEditor()->alphaStrip()->histogram().isEmpty());
    QCOMPARE(window->findChild<QLabel *>("dataRangeMaximumLabel")->text(), QString("4095"));
}

void TestTransferFunctionWindow::startupFunctionFollowsTheDefault()
{
    MainWindow window;
    window.setStartupTransferFunction("skin");
    window.setDefault();
    QCOMPARE(window.renderer()->gradientStops(), presetNamed("skin")->toStops());
    // Only once: a later default is the default.
    window.setDefault();
    QCOMPARE(window.renderer()->gradientStops(), blackToWhiteStops());

    window.setStartupTransferFunction(dir.filePath("nowhere.json"));
    window.setDefault();
    QCOMPARE(window.renderer()->gradientStops(), blackToWhiteStops());
    QVERIFY(window.statusBar()->currentMessage().contains("nowhere.json': cannot be read"));
}

void TestTransferFunctionWindow::dataUnitsFollowTheScan()
{
    // A scan in its own units (-1000..2000): ParaView maps travel in those.
    QFile scan(dir.filePath("ct.nrrd"));
    QVERIFY(scan.open(QIODevice::WriteOnly));
    scan.write("NRRD0004\ntype: short\ndimension: 3\nsizes: 2 2 2\nencoding: raw\n"
               "endian: little\n\n");
    for (qint16 value : {-1000, 500, 500, 500, 500, 500, 500, 2000})
        scan.write(reinterpret_cast<const char *>(&value), sizeof value);
    scan.close();
    const auto window = makeWindow();
    QVERIFY(window->loadFile(scan.fileName()));
    QCOMPARE(window->findChild<QLabel *>("dataRangeMinimumLabel")->text(), QString("-1000"));

    QFile map(dir.filePath("ct-map.json"));
    QVERIFY(map.open(QIODevice::WriteOnly));
    map.write(R"([{"RGBPoints": [-1000, 0, 0, 0, 500, 1, 1, 1, 2000, 0, 0, 0]}])");
    map.close();
    QVERIFY(window->loadTransferFunctionFile(map.fileName()));
    const QGradientStops stops = window->renderer()->gradientStops();
    QCOMPARE(stops.size(), 3);
    QCOMPARE(stops[1], QGradientStop(0.5, QColor(255, 255, 255, 255)));

    dialogs->saveAnswer = dir.filePath("ct-export.json");
    window->findChild<QAction *>("actionParaView_Farbtabelle_exportieren")->trigger();
    QVERIFY(dialogs->askedForParaView);
    QFile exported(dialogs->saveAnswer);
    QVERIFY(exported.open(QIODevice::ReadOnly));
    const QByteArray text = exported.readAll().simplified();
    QVERIFY2(text.contains("\"RGBPoints\": [ -1000, 0, 0, 0, 500, 1, 1, 1, 2000, 0, 0, 0 ]"),
             text.constData());
}

// The function is the truth, not the strips' pixels: resizing the window and
// switching layouts leaves the renderer's stops (and so its table) bit for bit
// those of the function, which batch mode renders too. A new data set starts
// a new undo history.
void TestTransferFunctionWindow::functionOutlivesResizesAndUndoStopsAtTheLoad()
{
    const auto window = makeWindow();
    GradientEditor *editor = window->transferFunctionEditor();
    window->findChild<QAction *>("actionVorlage_bone")->trigger();
    const TransferFunction function = editor->transferFunction();
    const QGradientStops stops = function.toStops();
    QCOMPARE(window->renderer()->gradientStops(), stops);
    QAction *fourViews = window->findChild<QAction *>("actionVier_Ansichten");
    for (const QSize size : {QSize(1366, 768), QSize(900, 700), QSize(1920, 1080)}) {
        window->resize(size);
        fourViews->toggle();
        QCoreApplication::processEvents();
        QVERIFY(editor->transferFunction() == function);
        QCOMPARE(window->renderer()->gradientStops(), stops);
    }

    window->findChild<QAction *>("actionVorlage_grey_ramp")->trigger();
    QVERIFY(window->loadFile(headFile));
    const TransferFunction afterLoad = editor->transferFunction();
    window->undoTransferFunction();
    QVERIFY(editor->transferFunction() == afterLoad);
}

QTEST_MAIN(TestTransferFunctionWindow)
#include "tst_transferfunctionwindow.moc"
