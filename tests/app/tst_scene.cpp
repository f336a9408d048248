#include "mainwindow.h"
#include "picturechecks.h"
#include "samplevolumes.h"
#include "scene.h"
#include "slicesession.h"
#include "transferfunctionpresets.h"
#include "viewersession.h"
#include "volumerenderer.h"

#include <QAction>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

class TestScene : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void sessionSignalsEachChangeOnce();
    void windowAndBatchDrawTheSameScene();
};

// Views repaint on these signals: a setter that changes nothing must stay
// silent, and one that changes something must say so once.
void TestScene::sessionSignalsEachChangeOnce()
{
    ViewerSession session;
    QSignalSpy rendering(&session, &ViewerSession::renderingChanged);
    QSignalSpy camera(&session, &ViewerSession::cameraChanged);
    QSignalSpy layout(&session, &ViewerSession::layoutChanged);
    QSignalSpy function(&session, &ViewerSession::transferFunctionChanged);

    const bool jitter = session.scene().jitter;
    session.setJitter(!jitter);
    session.setJitter(!jitter);
    QCOMPARE(rendering.count(), 1);
    QCOMPARE(session.scene().jitter, !jitter);

    SceneCamera turned = session.scene().camera;
    turned.rotation[1] = 370 * 16; // in 16ths of a degree
    session.setCamera(turned);
    session.setCamera(turned);
    QCOMPARE(camera.count(), 1);
    QCOMPARE(session.scene().camera.rotation[1], 10 * 16);

    const bool four = session.scene().fourViews;
    session.setFourViews(four);
    session.setFourViews(!four);
    QCOMPARE(layout.count(), 1);

    // Undo walks back to the last reset and no further.
    session.resetTransferFunctionHistory();
    const TransferFunction start = session.transferFunction();
    const TransferFunction edited = *presetNamed("bone");
    session.setTransferFunction(edited);
    session.setTransferFunction(edited);
    QCOMPARE(function.count(), 1);
    QVERIFY(session.recordTransferFunctionStep());
    QVERIFY(!session.recordTransferFunctionStep());
    QVERIFY(session.undoTransferFunction());
    QVERIFY(session.transferFunction() == start);
    QVERIFY(!session.undoTransferFunction());
    QVERIFY(session.redoTransferFunction());
    QVERIFY(session.transferFunction() == edited);
}

// The window and batch mode render one scene through one path: after a
// layout switch and a resize (which re-lay the strips) the window's frame is
// batch mode's picture of the same preset at the same size.
void TestScene::windowAndBatchDrawTheSameScene()
{
    QTemporaryDir dir;
    const QString file = dir.filePath("head.dat");
    const QString picture = dir.filePath("batch.png");
    QVERIFY(writeDatFile(file.toStdString(), makeHeadPhantom(48, 48, 48)));

    MainWindow window;
    window.resize(1100, 800);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(file));
    window.findChild<QAction *>("actionVorlage_bone")->trigger();
    QAction *fourViews = window.findChild<QAction *>("actionVier_Ansichten");
    fourViews->toggle();
    QCoreApplication::processEvents();
    fourViews->toggle();
    window.resize(1366, 768);
    QCoreApplication::processEvents();
    const QImage frame = window.renderer()->grabFrame();
    QVERIFY(!frame.isNull());
    QVERIFY(litPixels(frame) > frame.width() * frame.height() / 20); // the phantom shows

    QProcess batch;
    batch.start(KELVARA_EXECUTABLE,
                {file, "--transfer-function", "bone", "--size",
                 QString("%1x%2").arg(frame.width()).arg(frame.height()), "--output", picture});
    QVERIFY(batch.waitForFinished(60000));
    QCOMPARE(batch.exitCode(), 0);
    const QImage batchPicture(picture);
    QCOMPARE(batchPicture.size(), frame.size());
    QVERIFY2(largestDifference(frame, batchPicture) <= 1,
             qPrintable(
                 QString("largest difference %1/255").arg(largestDifference(frame, batchPicture))));
}

QTEST_MAIN(TestScene)
#include "tst_scene.moc"
