#include "commandline.h"
#include "gradienteditor.h"
#include "hoverpoints.h"
#include "mainwindow.h"
#include "statusmessages.h"
#include "recentfiles.h"
#include "samplevolumes.h"
#include "shadewidget.h"
#include "transferfunctionhistory.h"
#include "transferfunctionpresets.h"
#include "transferfunctiontable.h"
#include "volumerenderer.h"
#include "windowdialogs.h"
#include "windowsettings.h"

#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QSettings>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>

#include <cmath>
#include <cstdint>

namespace {

class ScriptedDialogs : public WindowDialogs
{
public:
    UnsavedChoice quitAnswer = UnsavedChoice::Cancel;
    QString saveAnswer;
    QString imageAnswer;
    std::optional<PointValues> pointAnswer;
    int questions = 0;
    PointValues pointShown;

    UnsavedChoice askToSaveTransferFunction(QWidget *) override
    {
        ++questions;
        return quitAnswer;
    }
    QString saveTransferFunctionFileName(QWidget *, bool) override { return saveAnswer; }
    QString saveImageFileName(QWidget *) override { return imageAnswer; }
    std::optional<PointValues> editPoint(QWidget *, const QString &, const PointValues &shown,
                                         double, double) override
    {
        pointShown = shown;
        return pointAnswer;
    }
};

// A MetaImage scan written by hand: 16-bit values, 1 mm voxels, value(x, y, z).
template <typename Value> bool writeMetaImage(const QString &path, int size, Value value)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    file.write(
        QString("ObjectType = Image\nNDims = 3\nDimSize = %1 %1 %1\nElementType = MET_SHORT\n"
                "ElementSpacing = 1 1 1\nBinaryDataByteOrderMSB = False\n"
                "ElementDataFile = LOCAL\n")
            .arg(size)
            .toLatin1());
    QByteArray data;
    for (int z = 0; z < size; ++z)
        for (int y = 0; y < size; ++y)
            for (int x = 0; x < size; ++x) {
                const std::int16_t v = value(x, y, z);
                data.append(char(v & 0xff)).append(char((v >> 8) & 0xff));
            }
    return file.write(data) == data.size();
}

} // namespace

class TestKeptWork : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void quitAsksOnlyAfterEdits_data();
    void quitAsksOnlyAfterEdits();
    void settingsSurviveARestart();
    void recentFiles_data();
    void recentFiles();
    void scanOffersTheAutomaticFunction();
    void pointsCanBeTypedAndUndone();
    void windowTellsAndFits();
    void droppedFileLoads();

private:
    QTemporaryDir dir;
    QString headFile;
    QString mriFile;
    ScriptedDialogs *dialogs = nullptr;

    std::unique_ptr<MainWindow> makeWindow(const QString &file)
    {
        auto window = std::make_unique<MainWindow>();
        auto scripted = std::make_unique<ScriptedDialogs>();
        dialogs = scripted.get();
        window->setDialogs(std::move(scripted));
        window->show();
        if (!QTest::qWaitForWindowExposed(window.get()) || !window->loadFile(file))
            qFatal("no window with %s", qPrintable(file));
        window->setDefault();
        return window;
    }

    static void editAlpha(MainWindow &window)
    {
        ShadeWidget *alpha = window.transferFunctionEditor()->alphaStrip();
        QPolygonF points = alpha->pointEditor()->controlPoints();
        points[1].setY(alpha->height() / 2.0);
        alpha->pointEditor()->setControlPoints(points);
        window.transferFunctionEditor()->pointsUpdated();
    }
};

void TestKeptWork::initTestCase()
{
    headFile = dir.filePath("head.dat");
    QVERIFY(writeDatFile(headFile.toStdString(), makeHeadPhantom(48, 48, 48)));
    // MRI-like: faint noise around a bright ball, brighter at its core.
    mriFile = dir.filePath("mri.mha");
    QVERIFY(writeMetaImage(mriFile, 40, [](int x, int y, int z) {
        const double r = std::hypot(x - 19.5, y - 19.5, z - 19.5);
        const int noise = (x * 7 + y * 13 + z * 29) % 11;
        return std::int16_t(r < 6 ? 900 : r < 15 ? 500 + noise : 10 + noise);
    }));
}

void TestKeptWork::quitAsksOnlyAfterEdits_data()
{
    using Choice = WindowDialogs::UnsavedChoice;
    QTest::addColumn<QString>("change");
    QTest::addColumn<Choice>("answer");
    QTest::addColumn<QString>("saveName");
    QTest::addColumn<bool>("closes");
    QTest::addColumn<int>("questions");
    QTest::newRow("untouched") << "" << Choice::Cancel << "" << true << 0;
    QTest::newRow("preset is loaded") << "preset" << Choice::Cancel << "" << true << 0;
    QTest::newRow("edit, cancel") << "edit" << Choice::Cancel << "" << false << 1;
    QTest::newRow("edit, discard") << "edit" << Choice::Discard << "" << true << 1;
    QTest::newRow("edit, save") << "edit" << Choice::Save << "kept" << true << 1;
    QTest::newRow("edit, save cancelled") << "edit" << Choice::Save << "" << false << 1;
    QTest::newRow("edit undone") << "undo" << Choice::Cancel << "" << true << 0;
}

void TestKeptWork::quitAsksOnlyAfterEdits()
{
    QFETCH(QString, change);
    QFETCH(WindowDialogs::UnsavedChoice, answer);
    QFETCH(QString, saveName);
    QFETCH(bool, closes);
    QFETCH(int, questions);
    const auto window = makeWindow(headFile);
    if (change == "preset")
        window->findChild<QAction *>("actionVorlage_bone")->trigger();
    if (change == "edit" || change == "undo")
        editAlpha(*window);
    if (change == "undo")
        window->undoTransferFunction();
    dialogs->quitAnswer = answer;
    dialogs->saveAnswer = saveName.isEmpty() ? QString() : dir.filePath(saveName);

    QCOMPARE(window->close(), closes);
    QCOMPARE(dialogs->questions, questions);
    if (!saveName.isEmpty())
        QVERIFY(QFile::exists(dir.filePath(saveName + ".json")));
    if (!closes) {
        // The menu command asks the same and stays when cancelled.
        window->findChild<QAction *>("actionBeenden")->trigger();
        QCOMPARE(dialogs->questions, questions + 1);
        QVERIFY(window->isVisible());
        QCOMPARE(window->findChild<QAction *>("actionBeenden")->shortcut(), QKeySequence("Ctrl+Q"));
    }
}

void TestKeptWork::settingsSurviveARestart()
{
    // Tests never reach the user's settings: the environment turns them off.
    QVERIFY(!WindowSettings::open(true));
    QVERIFY(parseCommandLine({"kelvara", "--no-settings"}).useSettings == false);

    const QString ini = dir.filePath("restart.ini");
    {
        const auto window = makeWindow(headFile);
        window->useSettings(std::make_unique<QSettings>(ini, QSettings::IniFormat));
        QVERIFY(window->loadFile(headFile));
        window->findChild<QSpinBox *>("samplesSpinBox")->setValue(250);
        emit window->findChild<QSpinBox *>("samplesSpinBox")->editingFinished();
        window->findChild<QRadioButton *>("mipRadioButton")->setChecked(true);
        window->findChild<QAction *>("actionVorlage_bone")->trigger();
        QVERIFY(window->loadFile(mriFile)); // after the function: the last load wins the list
        window->resize(1000, 700);          // the four views a scan opens in need more than 900
        QVERIFY(window->close());
    }
    const auto restored = std::make_unique<MainWindow>();
    restored->useSettings(std::make_unique<QSettings>(ini, QSettings::IniFormat));
    QCOMPARE(restored->size(), QSize(1000, 700));
    QCOMPARE(restored->currentRenderingOptions().samples, 250);
    QVERIFY(restored->findChild<QRadioButton *>("mipRadioButton")->isChecked());
    QCOMPARE(restored->recentFiles(), QStringList({mriFile, headFile}));
    restored->setDefault();
    QVERIFY(
        sameFunction(restored->transferFunctionEditor()->transferFunction(), *presetNamed("bone")));
    QVERIFY(!restored->transferFunctionChanged());

    // Without settings: the built-in start, and the store is left alone.
    const QByteArray before = [&] {
        QFile file(ini);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    {
        const auto plain = makeWindow(headFile);
        QVERIFY(plain->size() != QSize(900, 700));
        QCOMPARE(plain->currentRenderingOptions().samples, 100);
        QVERIFY(plain->close());
    }
    QFile after(ini);
    QVERIFY(after.open(QIODevice::ReadOnly));
    QCOMPARE(after.readAll(), before);
}

void TestKeptWork::recentFiles_data()
{
    QTest::addColumn<QStringList>("before");
    QTest::addColumn<QString>("added");
    QTest::addColumn<QStringList>("after");
    QTest::newRow("first") << QStringList() << "/a" << QStringList({"/a"});
    QTest::newRow("again moves to front")
        << QStringList({"/b", "/a"}) << "/a" << QStringList({"/a", "/b"});
    QTest::newRow("cleaned path is one entry")
        << QStringList({"/a/x"}) << "/a/./x" << QStringList({"/a/x"});
    QStringList ten;
    for (int i = 0; i < 10; ++i)
        ten << QString("/f%1").arg(i);
    QTest::newRow("eleventh drops the oldest")
        << ten << "/new" << (QStringList({"/new"}) + ten.mid(0, 9));
}

void TestKeptWork::recentFiles()
{
    QFETCH(QStringList, before);
    QFETCH(QString, added);
    QFETCH(QStringList, after);
    QCOMPARE(RecentFiles::withFile(before, added), after);

    // In the menu a vanished file is greyed until removed.
    if (QTest::currentDataTag() != QByteArray("first"))
        return;
    const QString gone = dir.filePath("gone.dat");
    QVERIFY(writeDatFile(gone.toStdString(), makeHeadPhantom(8, 8, 8)));
    const auto window = makeWindow(gone);
    QVERIFY(window->loadFile(headFile));
    QVERIFY(QFile::remove(gone));
    auto *menu = window->findChild<QMenu *>("menuZuletzt_geoeffnet");
    window->loadFile(headFile); // rebuilds the menu
    QCOMPARE(window->recentFiles(), QStringList({headFile, gone}));
    QVERIFY(menu->actions()[0]->isEnabled());
    QVERIFY(!menu->actions()[1]->isEnabled());
    window->findChild<QAction *>("actionFehlende_entfernen")->trigger();
    QCOMPARE(window->recentFiles(), QStringList({headFile}));
}

void TestKeptWork::scanOffersTheAutomaticFunction()
{
    const auto window = makeWindow(mriFile);
    auto *offer = window->findChild<QPushButton *>("automaticOfferButton");
    QVERIFY(offer->isVisible());
    // The start-up ramp stays until the user takes the offer.
    QCOMPARE(window->renderer()->gradientStops(), blackToWhiteStops());
    QTest::mouseClick(offer, Qt::LeftButton);
    QVERIFY(!offer->isVisible());
    // Then the ball shows, bright in the middle of the rendering.
    const QImage frame = window->renderer()->grabFrame();
    QVERIFY(qGray(frame.pixel(frame.width() / 2, frame.height() / 2)) > 100);
    QVERIFY(!window->transferFunctionChanged());
    // The noisy background (10..20 of 10..900) stays transparent.
    const TransferFunction function = window->transferFunctionEditor()->transferFunction();
    QCOMPARE(channelValueAt(function.channel(AlphaChannel), (20.0 - 10) / 890).second, 0.0);

    // A DAT file is not offered it.
    const auto dat = makeWindow(headFile);
    QVERIFY(!dat->findChild<QPushButton *>("automaticOfferButton")->isVisible());
}

void TestKeptWork::pointsCanBeTypedAndUndone()
{
    const auto window = makeWindow(headFile);
    ShadeWidget *alpha = window->transferFunctionEditor()->alphaStrip();
    const TransferFunction before = window->transferFunctionEditor()->transferFunction();
    // Just inside the strip: the end point sits on its right edge.
    const QPoint end = alpha->pointEditor()->controlPoints().at(1).toPoint() + QPoint(-2, 2);

    QMouseEvent hover(QEvent::MouseMove, end, alpha->mapToGlobal(end), Qt::NoButton, Qt::NoButton,
                      {});
    QCoreApplication::sendEvent(alpha, &hover);
    QCOMPARE(window->statusBar()->currentMessage(),
             QString("Opacity point: data value 4095, channel value 1.000 (the rendering "
                     "runs straight between points)"));

    // The right end point keeps its end; its value lands as typed.
    dialogs->pointAnswer = WindowDialogs::PointValues{1000.0, 0.25};
    QTest::mouseDClick(alpha, Qt::LeftButton, {}, end);
    QCOMPARE(dialogs->pointShown.dataValue, 4095.0);
    TransferFunction typed = window->transferFunctionEditor()->transferFunction();
    QCOMPARE(typed.channel(AlphaChannel).points.at(1), QPointF(1.0, 0.25));
    // A point inside lands at its data value.
    window->applyTransferFunction(*presetNamed("bone"));
    const TransferFunction bone = window->transferFunctionEditor()->transferFunction();
    const QPointF inner = alpha->pointEditor()->controlPoints().at(2);
    dialogs->pointAnswer = WindowDialogs::PointValues{1500.0, 0.125};
    QTest::mouseDClick(alpha, Qt::LeftButton, {}, inner.toPoint());
    typed = window->transferFunctionEditor()->transferFunction();
    QVERIFY(std::abs(typed.channel(AlphaChannel).points.at(2).x() * 4095 - 1500) < 1e-9);
    QCOMPARE(typed.channel(AlphaChannel).points.at(2).y(), 0.125);
    QVERIFY(window->transferFunctionChanged());

    window->undoTransferFunction();
    QVERIFY(sameFunction(window->transferFunctionEditor()->transferFunction(), bone));
    QCOMPARE(window->renderer()->gradientStops(), bone.toStops());
    window->undoTransferFunction();
    window->undoTransferFunction();
    QVERIFY(sameFunction(window->transferFunctionEditor()->transferFunction(), before));
    window->redoTransferFunction();
    window->redoTransferFunction();
    window->redoTransferFunction();
    QVERIFY(sameFunction(window->transferFunctionEditor()->transferFunction(), typed));
}

void TestKeptWork::windowTellsAndFits()
{
    const auto window = makeWindow(headFile);
    QCOMPARE(window->windowTitle(), QString("head.dat - Kelvara 1"));
    // The data set's line is told once: beside another message only, whole
    // in its tooltip, and never wider than the bar allows.
    auto *line = window->findChild<QLabel *>("dataSetLabel");
    // A dialog not used yet starts beside the data set.
    QCOMPARE(dialogs->startFolder("volume"), QFileInfo(headFile).absolutePath());
    QVERIFY(window->statusBar()->currentMessage().contains("48 x 48 x 48 voxels"));
    QVERIFY(line->text().isEmpty());
    window->statusBar()->showMessage("menu tip");
    QVERIFY(line->toolTip().contains("48 x 48 x 48 voxels"));
    QVERIFY(!line->text().isEmpty());
    // No wider than before, or than its columns need since the load (which
    // a pending layout pass may apply only now).
    const int width = std::max(window->width(), window->minimumSizeHint().width());
    window->statusBar()->showMessage(QString(400, 'x'));
    window->findChild<StatusMessages *>()->setDataSetLine(QString(300, 'y'));
    QCoreApplication::processEvents();
    QCOMPARE(window->width(), width);
    QVERIFY(line->width() <= window->statusBar()->width() / 2);

    dialogs->imageAnswer = dir.filePath("shot");
    window->findChild<QAction *>("actionBild_speichern")->trigger();
    QVERIFY(QFile::exists(dir.filePath("shot.png")));
    QVERIFY(window->statusBar()->currentMessage().contains(dir.filePath("shot.png")));

    // A 1366 x 768 screen holds the window with its frame and a panel.
    QVERIFY(window->minimumSizeHint().width() <= 1366);
    // The rendering takes all the width the left column leaves.
    for (const int screenWidth : {1366, 1920}) {
        window->resize(screenWidth, 700);
        QCoreApplication::processEvents();
        const QRect column = window->findChild<QWidget *>("leftColumnScrollArea")->geometry();
        const QRect rendering = window->findChild<QWidget *>("rendererGroupBox")->geometry();
        QVERIFY2(rendering.left() - column.right() < 30 &&
                     rendering.right() > window->centralWidget()->width() - 30,
                 qPrintable(QString("column ends at %1, rendering spans %2..%3")
                                .arg(column.right())
                                .arg(rendering.left())
                                .arg(rendering.right())));
    }
    QVERIFY2(window->minimumSizeHint().height() <= 700,
             qPrintable(QString::number(window->minimumSizeHint().height())));
    QVERIFY(window->findChild<QMenu *>("menuHilfe"));
    const QString help = parseCommandLine({"kelvara", "--help"}).text;
    for (const char *format : {".dat", "NIfTI", "NRRD", "MetaImage", "DICOM"})
        QVERIFY2(help.contains(format), format);
}

// A file dropped on the window loads, in the background like the menu's.
void TestKeptWork::droppedFileLoads()
{
    const auto window = makeWindow(headFile);
    const QString small = dir.filePath("dropped.dat");
    QVERIFY(writeDatFile(small.toStdString(), makeHeadPhantom(8, 6, 4)));
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(small)});
    const QPointF centre(window->width() / 2.0, window->height() / 2.0);
    QDragEnterEvent enter(centre.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(centre, Qt::CopyAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(window.get(), &drop);
    QTRY_COMPARE(window->currentVolume()->width, 8);
    QCOMPARE(window->windowTitle(), QString("dropped.dat - Kelvara 1"));
}

QTEST_MAIN(TestKeptWork)
#include "tst_keptwork.moc"
