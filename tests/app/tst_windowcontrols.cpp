#include "capturedoutput.h"
#include "colorlabel.h"
#include "gradienteditor.h"
#include "hoverpoints.h"
#include "mainwindow.h"
#include "samplevolumes.h"
#include "shadewidget.h"
#include "transferfunctiontable.h"
#include "volume.h"
#include "volumerenderer.h"
#include "windowdialogs.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

namespace {

class ScriptedDialogs : public WindowDialogs
{
public:
    QString saveAnswer;
    QColor colorAnswer;
    int warnings = 0;

    QString saveImageFileName(QWidget *) override { return saveAnswer; }
    QColor pickColor(const QColor &, QWidget *) override { return colorAnswer; }
    void warnImageNotSaved(QWidget *) override { ++warnings; }
};

QList<ColorLabel *> swatches(MainWindow &window)
{
    QList<ColorLabel *> labels = window.findChildren<ColorLabel *>();
    // Order by grid cell: light (0,1), ambient (0,3), diffuse (1,3), specular (2,3).
    std::sort(labels.begin(), labels.end(), [](ColorLabel *a, ColorLabel *b) {
        return std::make_pair(a->y(), a->x()) < std::make_pair(b->y(), b->x());
    });
    return labels;
}

} // namespace

class TestWindowControls : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void startState();
    void anyEditCopiesEveryField();
    void swatchPressUpdatesOptions();
    void saveAppliesSuffixRule_data();
    void saveAppliesSuffixRule();
    void saveFailureWarns();
    void probeLinesAndDefaultStops();
    void dragInStripChangesRendering();
    void missingShaderIsReported();
    void oversizedVolumeIsReported();

private:
    QTemporaryDir dir;
    QString volumeFile;
};

void TestWindowControls::initTestCase()
{
    volumeFile = dir.filePath("box.dat");
    QVERIFY(writeDatFile(volumeFile.toStdString(), makeCentredBox(24, 24, 24, 4, 2600)));
}

void TestWindowControls::startState()
{
    MainWindow window;
    const QList<ColorLabel *> labels = swatches(window);
    QCOMPARE(labels.size(), 4);
    const QColor expected[] = {QColor(255, 255, 255), QColor(55, 55, 55), QColor(200, 200, 200),
                               QColor(255, 255, 255)};
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(labels[i]->color(), expected[i]);
        QCOMPARE(labels[i]->text(), expected[i].name());
    }
    QCOMPARE(window.findChild<QDoubleSpinBox *>("exponentSpinBox")->value(), 16.0);
    QCOMPARE(window.findChild<QDoubleSpinBox *>("k1SpinBox")->value(), 1.0);
    QCOMPARE(window.findChild<QDoubleSpinBox *>("k2SpinBox")->value(), 1.0);
    QCOMPARE(window.findChild<QSpinBox *>("samplesSpinBox")->value(), 100);
    QVERIFY(window.findChild<VolumeRenderer *>()->parent() ==
            window.findChild<QWidget *>("rendererGroupBox"));
    QVERIFY(window.findChild<GradientEditor *>()->parent() ==
            window.findChild<QWidget *>("transferFunctionGroupBox"));
}

void TestWindowControls::anyEditCopiesEveryField()
{
    MainWindow window;
    auto *exponent = window.findChild<QDoubleSpinBox *>("exponentSpinBox");
    exponent->setValue(20.5);
    emit exponent->editingFinished();
    const RenderingOptions &options = window.currentRenderingOptions();
    QCOMPARE(options.exponent, 20.5f);
    // The depth-cueing fields show the values in effect, so they stay 1.0.
    QCOMPARE(options.k1, 1.0f);
    QCOMPARE(options.k2, 1.0f);

    auto *k1 = window.findChild<QDoubleSpinBox *>("k1SpinBox");
    auto *samples = window.findChild<QSpinBox *>("samplesSpinBox");
    k1->setValue(0.1);
    samples->setValue(250);
    emit samples->editingFinished();
    QCOMPARE(options.k1, 0.1f); // the single-precision float nearest to 0.1
    QCOMPARE(options.samples, 250);
    QCOMPARE(options.exponent, 20.5f);
}

void TestWindowControls::swatchPressUpdatesOptions()
{
    MainWindow window;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *script = dialogs.get();
    window.setDialogs(std::move(dialogs));
    const QList<ColorLabel *> labels = swatches(window);

    script->colorAnswer = QColor(10, 20, 30);
    QTest::mousePress(labels[1], Qt::LeftButton);
    QCOMPARE(window.currentRenderingOptions().ambient, QColor(10, 20, 30));
    QCOMPARE(labels[1]->text(), QString("#0a141e"));

    // A cancelled dialog still rewrites the record from the widgets.
    auto *k2 = window.findChild<QDoubleSpinBox *>("k2SpinBox");
    k2->setValue(3.0);
    script->colorAnswer = QColor();
    QTest::mousePress(labels[3], Qt::RightButton);
    QCOMPARE(window.currentRenderingOptions().specular, QColor(255, 255, 255));
    QCOMPARE(window.currentRenderingOptions().k2, 3.0f);
}

void TestWindowControls::saveAppliesSuffixRule_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QString>("written");
    QTest::newRow("no suffix") << "shot"
                               << "shot.png";
    QTest::newRow("png suffix") << "kept.png"
                                << "kept.png";
    QTest::newRow("upper-case suffix") << "upper.PNG"
                                       << "upper.PNG.png";
}

void TestWindowControls::saveAppliesSuffixRule()
{
    QFETCH(QString, answer);
    QFETCH(QString, written);
    MainWindow window;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    dialogs->saveAnswer = dir.filePath(answer);
    window.setDialogs(std::move(dialogs));
    QVERIFY(window.loadFile(volumeFile));
    window.findChild<QAction *>("actionBild_speichern")->trigger();
    QFile file(dir.filePath(written));
    QVERIFY2(file.open(QIODevice::ReadOnly), qPrintable(written));
    QCOMPARE(file.read(8), QByteArray("\x89PNG\r\n\x1a\n", 8));
    QImage image;
    QVERIFY(image.load(dir.filePath(written), "PNG"));
    QVERIFY(!image.hasAlphaChannel());
}

void TestWindowControls::saveFailureWarns()
{
    MainWindow window;
    auto dialogs = std::make_unique<ScriptedDialogs>();
    ScriptedDialogs *script = dialogs.get();
    script->saveAnswer = dir.filePath("no-such-folder/shot.png");
    window.setDialogs(std::move(dialogs));
    QVERIFY(window.loadFile(volumeFile));
    const Volume *loaded = window.currentVolume();
    window.findChild<QAction *>("actionBild_speichern")->trigger();
    QCOMPARE(script->warnings, 1);
    QVERIFY(!QFile::exists(script->saveAnswer));
    QCOMPARE(window.currentVolume(), loaded);

    // A cancelled dialog writes nothing and warns about nothing.
    script->saveAnswer.clear();
    window.findChild<QAction *>("actionBild_speichern")->trigger();
    QCOMPARE(script->warnings, 1);
}

void TestWindowControls::probeLinesAndDefaultStops()
{
    std::unique_ptr<MainWindow> window;
    {
        CapturedOutput output;
        window = std::make_unique<MainWindow>();
        QCOMPARE(output.count("transfer(0.5) "), 1);
    }
    auto *renderer = window->findChild<VolumeRenderer *>();
    auto *editor = window->findChild<GradientEditor *>();
    QVERIFY(!renderer->gradientStops().isEmpty());
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    {
        CapturedOutput output;
        window->setDefault();
        QCOMPARE(output.count("transfer(0.5) 255\n"), 1);
    }
    QCOMPARE(renderer->gradientStops(), blackToWhiteStops());
    const double w = editor->redStrip()->width();
    const double h = editor->redStrip()->height();
    QCOMPARE(editor->redStrip()->pointEditor()->controlPoints(),
             QPolygonF({QPointF(0, h), QPointF(w, 0)}));
    QCOMPARE(editor->alphaStrip()->pointEditor()->controlPoints(),
             QPolygonF({QPointF(0, 0), QPointF(w, 0)}));
}

void TestWindowControls::dragInStripChangesRendering()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(volumeFile));
    window.setDefault();
    auto *renderer = window.findChild<VolumeRenderer *>();
    auto *editor = window.findChild<GradientEditor *>();
    const QImage before = renderer->grabFrame();
    QVERIFY(!before.isNull());

    // Pull the alpha strip's right end point down to half opacity.
    ShadeWidget *alpha = editor->alphaStrip();
    const int w = alpha->width();
    const int h = alpha->height();
    QSignalSpy stopsChanged(editor, &GradientEditor::gradientStopsChanged);
    CapturedOutput output;
    QTest::mousePress(alpha, Qt::LeftButton, {}, QPoint(w - 1, 1));
    QTest::mouseMove(alpha, QPoint(w - 1, h / 2));
    QTest::mouseRelease(alpha, Qt::LeftButton, {}, QPoint(w - 1, h / 2));
    QCOMPARE(stopsChanged.count(), 1);
    QCOMPARE(output.count("transfer(0.5) "), 1);
    const QGradientStops stops = renderer->gradientStops();
    QVERIFY(!stops.isEmpty());
    QVERIFY(qAbs(stops.last().second.alpha() - 128) <= 8);
    const QImage after = renderer->grabFrame();
    QVERIFY(after != before);
}

void TestWindowControls::missingShaderIsReported()
{
    MainWindow window;
    auto *renderer = window.findChild<VolumeRenderer *>();
    renderer->setFragmentShaderCandidates({dir.filePath("nowhere/FragmentShader.glsl")});
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QTRY_VERIFY(renderer->isGlReady() || !renderer->lastError().isEmpty());
    QVERIFY(!renderer->lastError().isEmpty());
    QCOMPARE(window.statusBar()->currentMessage(), renderer->lastError());
    // The window goes on working: loading and slicing still do.
    QVERIFY(window.loadFile(volumeFile));
    QCOMPARE(window.currentVolume()->width, 24);
}

void TestWindowControls::oversizedVolumeIsReported()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(volumeFile));
    auto *renderer = window.findChild<VolumeRenderer *>();
    QVERIFY(renderer->isVolumeShown());

    // Wider than any 3D texture this renderer accepts (llvmpipe allows 2048).
    const QString wide = dir.filePath("wide.dat");
    QVERIFY(writeDatFile(wide.toStdString(), makeUniform(16385, 1, 1, 100)));
    QVERIFY(window.loadFile(wide));
    QVERIFY(!renderer->isVolumeShown());
    QVERIFY(!window.statusBar()->currentMessage().startsWith("wide.dat"));
    QCOMPARE(window.statusBar()->currentMessage(), renderer->lastError());
    QCOMPARE(window.currentVolume()->width, 16385); // the slices still show it

    QVERIFY(window.loadFile(volumeFile));
    QVERIFY(renderer->isVolumeShown());
}

QTEST_MAIN(TestWindowControls)
#include "tst_windowcontrols.moc"
