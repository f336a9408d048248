#include "capturedoutput.h"
#include "colorlabel.h"
#include "commandline.h"
#include "gradienteditor.h"
#include "hoverpoints.h"
#include "mainwindow.h"
#include "orientationoverlay.h"
#include "patientorientation.h"
#include "samplevolumes.h"
#include "shadewidget.h"
#include "statusmessages.h"
#include "sliceimage.h"
#include "transferfunctiontable.h"
#include "volume.h"
#include "volumerenderer.h"
#include "windowdialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QFile>
#include <QMenuBar>
#include <QRadioButton>
#include <QScrollBar>
#include <QVBoxLayout>
#include <QWheelEvent>
#include <QSignalSpy>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>

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

void turnWheel(QWidget *widget, int angleDelta)
{
    const QPointF centre(widget->width() / 2.0, widget->height() / 2.0);
    QWheelEvent event(centre, widget->mapToGlobal(centre), QPoint(), QPoint(0, angleDelta),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(widget, &event);
}

int litPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += (image.pixel(x, y) & 0xffffff) != 0 ? 1 : 0;
    return count;
}

// A scan with the identity direction, as MetaImage (which the loader reads
// through ITK): its axes are L, P and S.
bool writeMetaImage(const QString &path, int side)
{
    QFile file(path);
    const QByteArray content = QString("ObjectType = Image\nNDims = 3\nDimSize = %1 %1 %1\n"
                                       "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n")
                                   .arg(side)
                                   .toLatin1() +
                               QByteArray(side * side * side, char(200));
    return file.open(QIODevice::WriteOnly) && file.write(content) == content.size();
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
    void wideVolumeIsShownInBlocks();
    void largeVolumeAtReducedResolution();
    void wheelZoomsMiddleButtonPans();
    void sliceCutFollowsTheSlice();
    void projectionIsOneClickAway();
    void orientationLettersAndStandardViews();

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
    // Batch mode refuses what these spin boxes cannot hold.
    for (const char *name : {"k1SpinBox", "k2SpinBox", "exponentSpinBox"}) {
        const auto *spinBox = window.findChild<QDoubleSpinBox *>(name);
        QCOMPARE(spinBox->minimum(), 0.0);
        QCOMPARE(spinBox->maximum(), maximumPanelCoefficient);
        QCOMPARE(spinBox->decimals(), panelCoefficientDecimals);
    }
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

    // Pull the alpha strip's left end point down to no opacity: the air,
    // opaque black so far, clears and the box inside shows.
    ShadeWidget *alpha = editor->alphaStrip();
    const int h = alpha->height();
    QSignalSpy stopsChanged(editor, &GradientEditor::gradientStopsChanged);
    CapturedOutput output;
    QTest::mousePress(alpha, Qt::LeftButton, {}, QPoint(1, 1));
    QTest::mouseMove(alpha, QPoint(1, h));
    QTest::mouseRelease(alpha, Qt::LeftButton, {}, QPoint(1, h));
    QCOMPARE(stopsChanged.count(), 1);
    QCOMPARE(output.count("transfer(0.5) "), 1);
    const QGradientStops stops = renderer->gradientStops();
    QVERIFY(!stops.isEmpty());
    QCOMPARE(stops.first().second.alpha(), 0);
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

void TestWindowControls::wideVolumeIsShownInBlocks()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(volumeFile));
    auto *renderer = window.findChild<VolumeRenderer *>();
    QVERIFY(renderer->isVolumeShown());

    // Wider than any one 3D texture (llvmpipe allows 2048 per side): shown in
    // blocks, like any other data set.
    const QString wide = dir.filePath("wide.dat");
    QVERIFY(writeDatFile(wide.toStdString(), makeUniform(16385, 1, 1, 100)));
    QVERIFY(window.loadFile(wide));
    QVERIFY2(renderer->isVolumeShown(), qPrintable(renderer->lastError()));
    // The data set's line, not the passing message: a slow frame on a busy
    // machine may have said something since.
    QVERIFY(window.findChild<StatusMessages *>()->dataSetLine().startsWith("wide.dat"));
    QCOMPARE(window.currentVolume()->width, 16385);

    QVERIFY(window.loadFile(volumeFile));
    QVERIFY(renderer->isVolumeShown());
}

namespace {
// Answers the texture budget question with 1 MiB.
class SmallBudgetDialogs : public WindowDialogs
{
public:
    int askTextureBudgetMiB(QWidget *, int) override { return 1; }
};
} // namespace

// Beyond the texture budget a volume is shown at a reduced level, and its
// cropped part at full resolution on request.
void TestWindowControls::largeVolumeAtReducedResolution()
{
    const QString large = dir.filePath("large.dat");
    QVERIFY(writeDatFile(large.toStdString(), makeHeadPhantom(128, 128, 64)));
    Volume whole;
    QVERIFY(whole.load(large.toStdString()));

    MainWindow window;
    window.setDialogs(std::make_unique<SmallBudgetDialogs>());
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    auto *renderer = window.findChild<VolumeRenderer *>();
    window.findChild<QAction *>("actionSpeicherbudget_fuer_3D")->trigger();
    auto *region = window.findChild<QAction *>("actionAusschnitt_in_voller_Aufloesung");
    QVERIFY(!region->isEnabled());

    // 2 MiB of 16-bit texels against 1 MiB: level 1.
    QVERIFY(window.loadFile(large));
    const Volume *shown = window.currentVolume();
    QCOMPARE(shown->level, 1);
    QVERIFY(shown->fullResolution);
    QCOMPARE(shown->width, 64);
    QVERIFY2(window.statusBar()->currentMessage().contains("Shown at 1/2 resolution in 3D"),
             qPrintable(window.statusBar()->currentMessage()));
    QVERIFY(renderer->isVolumeShown());
    QVERIFY(region->isEnabled());
    // The slices come from the file at full resolution.
    auto *scrollBar = window.findChild<QScrollBar *>("slicingScrollBar");
    QCOMPARE(scrollBar->maximum(), 127);
    QCOMPARE(makeSliceImage(*shown, 2, 21), makeSliceImage(whole, 2, 21));
    scrollBar->setValue(90);

    // The whole volume does not fit at full resolution: nothing changes.
    region->trigger();
    QVERIFY(!region->isChecked());
    QCOMPARE(window.currentVolume()->level, 1);
    QVERIFY(window.statusBar()->currentMessage().contains("crop it further"));

    CropBox corner;
    corner.lower = {0.25, 0.5, 0.0};
    corner.upper = {0.75, 1.0, 0.5};
    renderer->setCropBox(corner);
    region->trigger();
    QVERIFY(region->isChecked());
    shown = window.currentVolume();
    QCOMPARE(shown->level, 0);
    QCOMPARE(shown->origin, (std::array<int, 3>{{32, 64, 0}}));
    QCOMPARE(shown->width, 64);
    QCOMPARE(shown->height, 64);
    QCOMPARE(shown->depth, 32);
    QVERIFY(renderer->cropBox().isFull());
    QVERIFY(renderer->isVolumeShown());
    QCOMPARE(scrollBar->value(), 90);
    for (int z = 0; z < shown->depth; z += 7)
        for (int y = 0; y < shown->height; y += 5)
            for (int x = 0; x < shown->width; x += 3)
                QCOMPARE(shown->data[std::size_t(x + 64 * (y + 64 * z))],
                         whole.data[std::size_t(x + 32 + 128 * (y + 64 + 128 * z))]);

    region->trigger();
    QVERIFY(!region->isChecked());
    QCOMPARE(window.currentVolume()->level, 1);
    QCOMPARE(renderer->cropBox(), corner);
}

void TestWindowControls::wheelZoomsMiddleButtonPans()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(volumeFile));
    VolumeRenderer *renderer = window.renderer();
    // Clear where the box's border is, so that the box itself shows.
    renderer->setGradientStops({{0.0, QColor(0, 0, 0, 0)}, {1.0, QColor(255, 255, 255, 255)}});
    renderer->updateTransferFunctionTexture();
    const int litBefore = litPixels(renderer->grabFrame());

    turnWheel(renderer, 240);
    QVERIFY(qFuzzyCompare(renderer->viewTransform().zoom, std::sqrt(2.0)));
    const int litAfter = litPixels(renderer->grabFrame());
    QVERIFY2(litAfter > litBefore * 3 / 2,
             qPrintable(QString("%1 -> %2").arg(litBefore).arg(litAfter)));

    // Middle drag to the right and up: the picture follows, no angle changes.
    QTest::mousePress(renderer, Qt::MiddleButton, {}, QPoint(40, 40));
    QMouseEvent move(QEvent::MouseMove, QPointF(60, 30), renderer->mapToGlobal(QPointF(60, 30)),
                     Qt::NoButton, Qt::MiddleButton, Qt::NoModifier);
    QCoreApplication::sendEvent(renderer, &move);
    QTest::mouseRelease(renderer, Qt::MiddleButton, {}, QPoint(60, 30));
    const int shorter = std::min(renderer->width(), renderer->height());
    QVERIFY(qFuzzyCompare(renderer->viewTransform().pan.x(), 40.0 / shorter));
    QVERIFY(qFuzzyCompare(renderer->viewTransform().pan.y(), 20.0 / shorter));
    QCOMPARE(renderer->xRotation() + renderer->yRotation() + renderer->zRotation(), 0);

    QTest::mouseDClick(renderer, Qt::LeftButton, {}, QPoint(50, 50));
    QCOMPARE(renderer->viewTransform(), ViewTransform());

    // The menu command does the same; it sits in a menu of its own after "Datei"
    // (the window/level, transfer-function and help menus follow).
    turnWheel(renderer, -120);
    QVERIFY(renderer->viewTransform().zoom < 1.0);
    const QList<QAction *> menus = window.menuBar()->actions();
    QCOMPARE(menus.size(), 5);
    QCOMPARE(menus[0]->text(), QString("Datei"));
    QCOMPARE(menus[1]->text(), QString("Ansicht"));
    // Reset, crop, the full-resolution region and the texture budget, a
    // separator, the six standard views, a separator, the four-view switch,
    // the statistics, the measurements, the rendering's ruler and the message
    // log.
    QCOMPARE(menus[1]->menu()->actions().size(), 17);
    auto *reset = window.findChild<QAction *>("actionAnsicht_zuruecksetzen");
    QCOMPARE(reset->text(), QString("Ansicht zurücksetzen"));
    reset->trigger();
    QCOMPARE(renderer->viewTransform(), ViewTransform());
}

void TestWindowControls::sliceCutFollowsTheSlice()
{
    MainWindow window;
    QVERIFY(window.loadFile(volumeFile));
    VolumeRenderer *renderer = window.renderer();
    auto *cut = window.findChild<QCheckBox *>("sliceCutCheckBox");
    auto *scrollBar = window.findChild<QScrollBar *>("slicingScrollBar");
    auto *axes = window.findChild<QComboBox *>("slicingComboBox");
    QVERIFY(cut && !cut->isChecked());
    // Below the three controls of the slicing group.
    QCOMPARE(window.findChild<QVBoxLayout *>("verticalLayout_3")->indexOf(cut), 3);
    QVERIFY(renderer->sliceCut().isOff());

    cut->setChecked(true);
    QCOMPARE(renderer->sliceCut(), sliceCutAt(0, 12, 24));
    scrollBar->setValue(10);
    QCOMPARE(renderer->sliceCut(), sliceCutAt(0, 10, 24));
    axes->setCurrentIndex(2); // the range starts again at the middle
    QCOMPARE(renderer->sliceCut(), sliceCutAt(2, 12, 24));
    scrollBar->setValue(23);
    QCOMPARE(renderer->sliceCut(), sliceCutAt(2, 23, 24));
    // A cut left on follows the next data set's middle, not its edge.
    QVERIFY(window.loadFile(volumeFile));
    QCOMPARE(renderer->sliceCut(), sliceCutAt(2, 12, 24));

    cut->setChecked(false);
    QVERIFY(renderer->sliceCut().isOff());
    cut->setChecked(true);
    renderer->setCropBox(CropBox{{0.5, 0, 0}, {1, 1, 1}});
    QVERIFY(!renderer->sliceCut().isOff());
    window.findChild<QAction *>("actionZuschnitt_aufheben")->trigger();
    QVERIFY(!cut->isChecked());
    QVERIFY(renderer->sliceCut().isOff());
    QVERIFY(renderer->cropBox().isFull());
}

void TestWindowControls::projectionIsOneClickAway()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(volumeFile));
    window.setDefault();
    VolumeRenderer *renderer = window.renderer();
    auto *mip = window.findChild<QRadioButton *>("mipRadioButton");
    auto *composite = window.findChild<QRadioButton *>("compositeRadioButton");
    QVERIFY(composite->isChecked());
    QCOMPARE(renderer->renderMode(), RenderMode::Composite);
    const QImage composited = renderer->grabFrame();

    QTest::mouseClick(mip, Qt::LeftButton);
    QCOMPARE(renderer->renderMode(), RenderMode::MaximumIntensity);
    QVERIFY(!composite->isChecked());
    QVERIFY(renderer->grabFrame() != composited);
    QTest::mouseClick(composite, Qt::LeftButton);
    QCOMPARE(renderer->renderMode(), RenderMode::Composite);
}

void TestWindowControls::orientationLettersAndStandardViews()
{
    const QString scanFile = dir.filePath("cube.mha");
    QVERIFY(writeMetaImage(scanFile, 8));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    VolumeRenderer *renderer = window.renderer();
    auto *overlay = window.findChild<OrientationOverlay *>("orientationOverlay");
    QVERIFY(overlay && overlay->parent() == renderer);
    QVERIFY(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY(overlay->letters().isEmpty());

    // A scan opens seen from the front, superior up, in the four views.
    QVERIFY(window.loadFile(scanFile));
    const std::array<int, 3> front = rotationViewingFrom(PatientSide::Anterior);
    QCOMPARE(overlay->letters(), orientationLetters(front[0], front[1], front[2]));
    QVERIFY(window.findChild<QAction *>("actionVier_Ansichten")->isChecked());
    renderer->setXRotation(0);
    renderer->setYRotation(30); // as a drag does
    QCOMPARE(overlay->letters(), orientationLetters(0, 30, 0));
    const std::pair<const char *, PatientSide> views[] = {
        {"actionAnsicht_von_vorne", PatientSide::Anterior},
        {"actionAnsicht_von_hinten", PatientSide::Posterior},
        {"actionAnsicht_von_links", PatientSide::Left},
        {"actionAnsicht_von_rechts", PatientSide::Right},
        {"actionAnsicht_von_oben", PatientSide::Superior},
        {"actionAnsicht_von_unten", PatientSide::Inferior}};
    for (const auto &[name, side] : views) {
        window.findChild<QAction *>(name)->trigger();
        const std::array<int, 3> angles = rotationViewingFrom(side);
        QCOMPARE(overlay->letters(), orientationLetters(angles[0], angles[1], angles[2]));
    }
    window.resize(window.width() + 80, window.height() + 40);
    QTRY_COMPARE(overlay->geometry(), renderer->rect());

    // A DAT file has no patient frame.
    QVERIFY(window.loadFile(volumeFile));
    QVERIFY(overlay->letters().isEmpty());
    window.findChild<QAction *>("actionAnsicht_von_vorne")->trigger();
    QVERIFY(overlay->letters().isEmpty());
}

QTEST_MAIN(TestWindowControls)
#include "tst_windowcontrols.moc"
