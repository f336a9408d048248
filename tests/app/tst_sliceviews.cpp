#include "cursoroverlay.h"
#include "fileinfo.h"
#include "mainwindow.h"
#include "orthogonalsliceview.h"
#include "samplevolumes.h"
#include "sliceimage.h"
#include "slicesession.h"
#include "slicingview.h"
#include "transferfunction.h"
#include "viewsettings.h"
#include "volume.h"
#include "viewersession.h"
#include "volumerenderer.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QEvent>
#include <QGroupBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QRegularExpression>
#include <QMenu>
#include <QScrollBar>
#include <QSlider>
#include <QStatusBar>
#include <QTreeWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <sstream>

namespace {

// Counts the paint events of the object it filters.
struct PaintCounter : QObject
{
    int paints = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

} // namespace

// The linked slice views in the window: the cursor they share, keys and
// focus, the window/level menu on the single slice view.
class TestSliceViews : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void clickInOneViewMovesTheOthers();
    void keysMoveSlicesNotHiddenBoxes();
    void presetsReachTheSingleSliceView();
    void shiftClickOnTheRenderingMovesTheCursor();
    void labelMapShowsInTheViewsAndTheReadout();
    void rulerAndAngleMeasureTheWorld();

private:
    OrthogonalSliceView *view(MainWindow &window, const char *name)
    {
        return window.findChild<OrthogonalSliceView *>(name);
    }
    QTemporaryDir dir;
    QString volumeFile;
};

void TestSliceViews::initTestCase()
{
    volumeFile = dir.filePath("head.dat");
    QVERIFY(writeDatFile(volumeFile.toStdString(), makeHeadPhantom(40, 32, 24)));
}

void TestSliceViews::clickInOneViewMovesTheOthers()
{
    MainWindow window;
    window.show();
    QVERIFY(window.loadFile(volumeFile));
    QAction *fourViews = window.findChild<QAction *>("actionVier_Ansichten");
    fourViews->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(!window.findChild<QGroupBox *>("groupBox")->isVisible());

    OrthogonalSliceView *axial = view(window, "axialSliceView");
    OrthogonalSliceView *coronal = view(window, "coronalSliceView");
    OrthogonalSliceView *sagittal = view(window, "sagittalSliceView");
    QVERIFY(axial->isVisible() && coronal->isVisible() && sagittal->isVisible());
    const QRectF area = axial->imageRect();
    // DAT files show index order: three quarters across is x 30, a quarter
    // down y 8.
    const QPoint click(int(area.left() + 0.76 * area.width()),
                       int(area.top() + 0.26 * area.height()));
    QTest::mouseClick(axial, Qt::LeftButton, {}, click);
    SliceSession *session = window.findChild<SliceSession *>("sliceSession");
    QCOMPARE(session->cursor(), (VoxelIndex{{30, 8, 11}}));
    QCOMPARE(coronal->slice(), 8);
    QCOMPARE(sagittal->slice(), 30);
    // The others draw the crosshair through the same point.
    QCOMPARE(coronal->cursorWidgetPosition().x(),
             coronal->imageRect().left() + 30.5 / 40 * coronal->imageRect().width());
    QVERIFY(window.findChild<QLabel *>("cursorReadoutLabel")->text().contains("(30, 8, 11)"));
    // The left view follows along its axis (X), and moves the cursor back.
    auto *scrollBar = window.findChild<QScrollBar *>("slicingScrollBar");
    QCOMPARE(scrollBar->value(), 30);
    scrollBar->setValue(12);
    QCOMPARE(session->cursor(), (VoxelIndex{{12, 8, 11}}));

    // Back to the window's own layout, the rendering where it was.
    fourViews->trigger();
    QVERIFY(window.findChild<QGroupBox *>("groupBox")->isVisible());
    QVERIFY(!axial->isVisible());
}

void TestSliceViews::keysMoveSlicesNotHiddenBoxes()
{
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(volumeFile));
    auto *k1 = window.findChild<QDoubleSpinBox *>("k1SpinBox");
    auto *scrollBar = window.findChild<QScrollBar *>("slicingScrollBar");
    auto *slicingView = window.findChild<SlicingView *>("slicingView");
    const double k1Before = k1->value();

    QTest::mouseClick(slicingView, Qt::LeftButton);
    QCOMPARE(window.focusWidget(), slicingView);
    // A load starts at the middle slice.
    const int start = scrollBar->value();
    QVERIFY(start + 6 <= scrollBar->maximum());
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(window.focusWidget(), Qt::Key_Up);
    QTest::keyClick(window.focusWidget(), Qt::Key_Right);
    QCOMPARE(scrollBar->value(), start + 6);
    QCOMPARE(slicingView->slice, start + 6);
    QTest::keyClick(window.focusWidget(), Qt::Key_PageDown);
    QCOMPARE(scrollBar->value(), std::max(0, start - 4));

    window.findChild<QAction *>("actionVier_Ansichten")->trigger();
    OrthogonalSliceView *axial = view(window, "axialSliceView");
    QCOMPARE(window.focusWidget(), axial);
    const int before = axial->slice();
    QTest::keyClick(axial, Qt::Key_Up);
    QTest::keyClick(axial, Qt::Key_PageUp);
    QCOMPARE(axial->slice(), before + 11);
    QCOMPARE(k1->value(), k1Before);
    QCOMPARE(window.findChild<QAction *>("actionBeenden")->shortcut(), QKeySequence("Ctrl+Q"));
}

void TestSliceViews::presetsReachTheSingleSliceView()
{
    MainWindow window;
    QVERIFY(window.loadFile(volumeFile));
    auto *slicingView = window.findChild<SlicingView *>("slicingView");
    const QImage plain = makeSliceImage(*window.currentVolume(), slicingView->axis, 12);
    slicingView->slice = 12;

    // The menu checks the window shown; CT's presets come last for data that
    // is not CT (before the separator and "Invertiert").
    auto *fullRange = window.findChild<QAction *>("actionFensterung_voller_Bereich");
    auto *bone = window.findChild<QAction *>("actionFensterung_CT_Knochen");
    QVERIFY(fullRange->isChecked());
    const QList<QAction *> entries = window.findChild<QMenu *>("menuFensterung")->actions();
    QCOMPARE(entries.last()->objectName(), QString("actionFensterung_invertiert"));
    QVERIFY(!entries.last()->isChecked());
    QCOMPARE(entries.at(entries.size() - 3), bone);
    bone->trigger();
    QVERIFY(bone->isChecked() && !fullRange->isChecked());
    QVERIFY(window.findChild<QLabel *>("cursorReadoutLabel")->text().endsWith("W 2000 / L 300"));
    slicingView->grab();
    QCOMPARE(slicingView->sliceImage(),
             makeSliceImage(*window.currentVolume(), slicingView->axis, 12,
                            GreyMapping::of({2000, 300}, window.currentVolume()->valueRange)));
    QVERIFY(slicingView->sliceImage() != plain);
    window.findChild<QAction *>("actionFensterung_voller_Bereich")->trigger();
    slicingView->grab();
    QCOMPARE(slicingView->sliceImage(), plain);
}

void TestSliceViews::shiftClickOnTheRenderingMovesTheCursor()
{
    // Voxels 8..23 of every axis hold the box; the table is opaque above 0.6.
    const QString boxFile = dir.filePath("box.dat");
    QVERIFY(writeDatFile(boxFile.toStdString(), makeCentredBox(32, 32, 32, 8, 4095)));
    MainWindow window;
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QVERIFY(window.loadFile(boxFile));
    window.applyTransferFunction(TransferFunction::fromStops({{0.0, QColor(0, 0, 0, 0)},
                                                              {0.4, QColor(255, 255, 255, 0)},
                                                              {0.6, QColor(255, 255, 255)},
                                                              {1.0, QColor(255, 255, 255)}}));
    VolumeRenderer *renderer = window.renderer();
    QVERIFY(!renderer->grabFrame().isNull());
    SliceSession *session = window.findChild<SliceSession *>("sliceSession");
    auto *overlay = window.findChild<CursorOverlay *>("cursorOverlay");

    QTest::mouseClick(renderer, Qt::LeftButton, Qt::ShiftModifier, renderer->rect().center());
    // Seen from +z, the centre ray meets the near face at z 23.5.
    const VoxelIndex cursor = session->cursor();
    const QString seen =
        QStringLiteral("(%1, %2, %3)").arg(cursor[0]).arg(cursor[1]).arg(cursor[2]);
    QVERIFY2(std::abs(cursor[2] - 23.5) <= 1.0, qPrintable(seen));
    QVERIFY2(std::abs(cursor[0] - 15.5) <= 1.0 && std::abs(cursor[1] - 15.5) <= 1.0,
             qPrintable(seen));
    QCOMPARE(view(window, "axialSliceView")->slice(), cursor[2]);
    QCOMPARE(overlay->cursorVoxel(), std::optional<VoxelIndex>(cursor));
    // The marker is drawn again with each frame: a zoom moves it.
    PaintCounter overlayPaints;
    overlay->installEventFilter(&overlayPaints);
    renderer->setViewTransform(ViewTransform{2.0, QPointF(0.1, 0.0)});
    QTRY_VERIFY(overlayPaints.paints > 0);
    overlay->removeEventFilter(&overlayPaints);
    // A cut that is on follows the cursor along its axis.
    window.findChild<QComboBox *>("slicingComboBox")->setCurrentIndex(2);
    window.findChild<QCheckBox *>("sliceCutCheckBox")->setChecked(true);
    session->setCursor({cursor[0], cursor[1], 20});
    QCOMPARE(renderer->sliceCut(), sliceCutAt(2, 20, 32));

    // Beside the box nothing reaches half opacity: the cursor stays.
    QTest::mouseClick(renderer, Qt::LeftButton, Qt::ShiftModifier, QPoint(2, 2));
    QCOMPARE(session->cursor(), (VoxelIndex{{cursor[0], cursor[1], 20}}));
    QVERIFY(window.statusBar()->currentMessage().startsWith("Nothing picked"));
    window.findChild<QCheckBox *>("cursorMarkerCheckBox")->setChecked(false);
    QVERIFY(!overlay->cursorVoxel());
}

void TestSliceViews::labelMapShowsInTheViewsAndTheReadout()
{
    // Label 5 in a box of a map smaller than the head; DAT grids share the
    // identity, so the box lands on the same voxels of the head.
    SampleVolume labels{20, 16, 12, {}};
    labels.samples.assign(20 * 16 * 12, 0);
    for (int z = 4; z < 10; ++z)
        for (int y = 4; y < 14; ++y)
            for (int x = 6; x < 18; ++x)
                labels.samples[std::size_t(x + 20 * (y + 16 * z))] = 5;
    const QString labelFile = dir.filePath("labels.dat");
    QVERIFY(writeDatFile(labelFile.toStdString(), labels));
    QFile table(dir.filePath("labels.txt"));
    QVERIFY(table.open(QIODevice::WriteOnly));
    table.write("5 Tumour core\n");
    table.close();
    QFile badTable(dir.filePath("bad.txt"));
    QVERIFY(badTable.open(QIODevice::WriteOnly));
    badTable.write("5 Tumour core\n6 255 0 0 1 1 1 \"x\"\n");
    badTable.close();

    MainWindow window;
    window.show();
    QVERIFY(window.loadFile(volumeFile));
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    LayerRequest request;
    request.file = labelFile;
    request.kind = LayerKind::Labels;
    request.labelTable = badTable.fileName();
    QVERIFY(!window.loadLayer(request));
    QVERIFY2(window.statusBar()->currentMessage().contains("bad.txt, line 2"),
             qPrintable(window.statusBar()->currentMessage()));
    request.labelTable = table.fileName();
    request.opacity = 1.0;
    QVERIFY(window.loadLayer(request));
    auto *panel = window.findChild<QGroupBox *>("layersGroupBox");
    QVERIFY(panel->isVisible());

    auto *session = window.findChild<ViewerSession *>("viewerSession");
    session->slices()->setCursor({12, 8, 6});
    const QLabel *readout = window.findChild<QLabel *>("cursorReadoutLabel");
    QVERIFY2(readout->text().contains("labels.dat: 5 Tumour core"), qPrintable(readout->text()));

    // Ansicht > Statistik: the label's voxels and a row for the crop box.
    window.findChild<QAction *>("actionStatistik")->trigger();
    auto *statistics = window.findChild<QTableWidget *>("statisticsTable");
    QTRY_COMPARE(statistics->rowCount(), 2);
    QCOMPARE(statistics->item(0, 1)->text(), QString("Tumour core"));
    QCOMPARE(statistics->item(0, 2)->text(), QString("720"));
    QCOMPARE(statistics->item(1, 2)->text(), QString::number(40 * 32 * 24));

    window.findChild<QAction *>("actionVier_Ansichten")->trigger();
    OrthogonalSliceView *axial = view(window, "axialSliceView");
    QTRY_VERIFY(axial->isVisible());
    const QColor colour = session->layerAppearance(1).labels.find(5)->colour;
    const QPoint inside = (axial->cursorWidgetPosition() + QPointF(4, 4)).toPoint();
    QCOMPARE(axial->grab().toImage().pixelColor(inside).rgb(), colour.rgb());

    // The panel's controls reach the session, and the views follow.
    window.findChild<QSlider *>("layerOpacitySlider")->setValue(30);
    QCOMPARE(session->layerAppearance(1).opacity, 0.3);
    auto *labelTree = window.findChild<QTreeWidget *>("labelTree");
    const QList<QTreeWidgetItem *> five = labelTree->findItems("5", Qt::MatchExactly, 0);
    QCOMPARE(five.size(), 1);
    five.first()->setCheckState(0, Qt::Unchecked);
    QTRY_VERIFY(!session->layerAppearance(1).labels.find(5)->visible);
    QVERIFY(axial->grab().toImage().pixelColor(inside).rgb() != colour.rgb());

    // --probe names the label under each point, one JSON line per layer.
    std::ostringstream out, err;
    LayerRequest probed = request;
    QCOMPARE(
        printProbes({volumeFile}, {{{12.0, 8.0, 6.0}}}, 0, true, std::nullopt, {probed}, out, err),
        0);
    QVERIFY2(QString::fromStdString(out.str()).contains("\"name\":\"Tumour core\""),
             out.str().c_str());

    window.findChild<QPushButton *>("removeLayerButton")->click();
    QVERIFY(!panel->isVisible());
    QVERIFY(axial->grab().toImage().pixelColor(inside).rgb() != colour.rgb());
}

// A ruler dragged between two voxel centres reads their distance in mm, an
// angle clicked on three reads its angle; both land in the scene and the
// table, which deletes them.
void TestSliceViews::rulerAndAngleMeasureTheWorld()
{
    MainWindow window;
    window.resize(1100, 800);
    window.show();
    QVERIFY(window.loadFile(volumeFile));
    window.findChild<QAction *>("actionVier_Ansichten")->trigger();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    OrthogonalSliceView *axial = view(window, "axialSliceView");
    QTRY_VERIFY(axial->isVisible());
    auto *session = window.findChild<ViewerSession *>("viewerSession");
    const auto at = [&](const VoxelIndex &voxel) {
        session->slices()->setCursor(voxel);
        return axial->cursorWidgetPosition().toPoint();
    };
    const QPoint from = at({{6, 10, 12}});
    const QPoint to = at({{30, 10, 12}});
    const QPoint corner = at({{6, 28, 12}});
    at({{20, 20, 12}});

    QTest::keyClick(axial, Qt::Key_M);
    QCOMPARE(axial->tool(), OrthogonalSliceView::Tool::Ruler);
    QTest::mousePress(axial, Qt::LeftButton, {}, from);
    QTest::mouseMove(axial, (from + to) / 2);
    QTest::mouseMove(axial, to);
    QTest::mouseRelease(axial, Qt::LeftButton, {}, to);
    axial->setTool(OrthogonalSliceView::Tool::Angle);
    for (const QPoint &point : {to, from, corner})
        QTest::mouseClick(axial, Qt::LeftButton, {}, point);

    const std::vector<Measurement> measured = session->scene().measurements;
    QCOMPARE(int(measured.size()), 2);
    // The head's voxels are 1 mm: 24 voxel centres apart, within half a voxel.
    QVERIFY2(std::abs(measured[0].value() - 24.0) <= 0.5, qPrintable(measured[0].text()));
    QVERIFY2(std::abs(measured[1].value() - 90.0) <= 3.0, qPrintable(measured[1].text()));

    window.findChild<QAction *>("actionMessungen")->trigger();
    auto *table = window.findChild<QTableWidget *>("measurementsTable");
    QTRY_COMPARE(table->rowCount(), 2);
    table->selectRow(0);
    window.findChild<QPushButton *>("deleteMeasurementButton")->click();
    QCOMPARE(table->rowCount(), 1);
    QCOMPARE(int(session->scene().measurements.size()), 1);
}

QTEST_MAIN(TestSliceViews)
#include "tst_sliceviews.moc"
