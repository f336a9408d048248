#include "framegeometry.h"
#include "patientorientation.h"

#include <QTest>

#include <array>
#include <cmath>

using Direction = std::array<double, 3>;
using Angles = std::array<int, 3>;
Q_DECLARE_METATYPE(Direction)
Q_DECLARE_METATYPE(Angles)
Q_DECLARE_METATYPE(PatientSide)

class TestPatientOrientation : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void directionLetters_data();
    void directionLetters();
    void standardViews_data();
    void standardViews();
    void lettersFollowTheRotation_data();
    void lettersFollowTheRotation();
};

void TestPatientOrientation::directionLetters_data()
{
    QTest::addColumn<Direction>("lps");
    QTest::addColumn<QString>("letters");
    const double off30 = std::tan(30.0 * M_PI / 180.0);
    QTest::newRow("left") << Direction{1, 0, 0} << "L";
    QTest::newRow("right") << Direction{-2, 0, 0} << "R";
    QTest::newRow("anterior") << Direction{0, -1, 0} << "A";
    QTest::newRow("posterior") << Direction{0, 1, 0} << "P";
    QTest::newRow("inferior") << Direction{0, 0, -1} << "I";
    QTest::newRow("superior") << Direction{0, 0, 1} << "S";
    QTest::newRow("30 degrees from L towards A") << Direction{1, -off30, 0} << "LA";
    QTest::newRow("30 degrees from S towards R") << Direction{-off30, 0, 1} << "SR";
    QTest::newRow("10 degrees off stays plain") << Direction{0.17, 0, -0.98} << "I";
    QTest::newRow("just below 22.5 degrees") << Direction{0, 0.41, 1} << "S";
    QTest::newRow("just beyond 22.5 degrees") << Direction{0, 0.42, 1} << "SP";
    QTest::newRow("a tie ranks x first") << Direction{-1, 1, 0} << "RP";
    QTest::newRow("three strong components give two") << Direction{0.5, 0.6, -0.7} << "IP";
    QTest::newRow("zero") << Direction{0, 0, 0} << "";
}

void TestPatientOrientation::directionLetters()
{
    QFETCH(Direction, lps);
    QFETCH(QString, letters);
    QCOMPARE(patientDirectionLetters(lps), letters);
}

void TestPatientOrientation::standardViews_data()
{
    // Written from the patient's anatomy, not from the search: screen-right
    // and screen-up in LPS, and what each edge must then read.
    QTest::addColumn<PatientSide>("side");
    QTest::addColumn<Direction>("right");
    QTest::addColumn<Direction>("up");
    QTest::addColumn<QString>("edges"); // left, right, top, bottom
    QTest::newRow("anterior (the face)")
        << PatientSide::Anterior << Direction{1, 0, 0} << Direction{0, 0, 1} << "R L S I";
    QTest::newRow("posterior (the back)")
        << PatientSide::Posterior << Direction{-1, 0, 0} << Direction{0, 0, 1} << "L R S I";
    QTest::newRow("left side") << PatientSide::Left << Direction{0, 1, 0} << Direction{0, 0, 1}
                               << "A P S I";
    QTest::newRow("right side") << PatientSide::Right << Direction{0, -1, 0} << Direction{0, 0, 1}
                                << "P A S I";
    QTest::newRow("superior (from above)")
        << PatientSide::Superior << Direction{-1, 0, 0} << Direction{0, -1, 0} << "L R A P";
    QTest::newRow("inferior (from the feet)")
        << PatientSide::Inferior << Direction{1, 0, 0} << Direction{0, -1, 0} << "R L A P";
}

void TestPatientOrientation::standardViews()
{
    QFETCH(PatientSide, side);
    QFETCH(Direction, right);
    QFETCH(Direction, up);
    QFETCH(QString, edges);
    const std::array<int, 3> angles = rotationViewingFrom(side);
    for (int angle : angles)
        QVERIFY2(angle >= 0 && angle < 360 && angle % 90 == 0, qPrintable(QString::number(angle)));

    // The renderer's own geometry: u along screen-right, v up, n0 into the
    // screen, so the viewer stands on the side named (right x up).
    const FrameGeometry geometry =
        computeFrameGeometry(angles[0], angles[1], angles[2], QSize(2, 2), 4, 4, 4);
    const QVector3D towardsViewer(float(right[1] * up[2] - right[2] * up[1]),
                                  float(right[2] * up[0] - right[0] * up[2]),
                                  float(right[0] * up[1] - right[1] * up[0]));
    QCOMPARE(geometry.u, QVector3D(float(right[0]), float(right[1]), float(right[2])));
    QCOMPARE(geometry.v, QVector3D(float(up[0]), float(up[1]), float(up[2])));
    QCOMPARE(geometry.n0, -towardsViewer);

    const OrientationLetters letters = orientationLetters(angles[0], angles[1], angles[2]);
    QCOMPARE(QStringList({letters.left, letters.right, letters.top, letters.bottom}).join(' '),
             edges);
}

void TestPatientOrientation::lettersFollowTheRotation_data()
{
    QTest::addColumn<Angles>("angles");
    QTest::addColumn<QString>("edges"); // left, right, top, bottom
    // At rest the renderer looks down the volume's -z: from superior, with
    // posterior (+y) up.
    QTest::newRow("at rest") << Angles{0, 0, 0} << "R L P A";
    QTest::newRow("turns wrap") << Angles{450, 0, 720} << "R L S I";
    QTest::newRow("negative angles") << Angles{-90, 0, 0} << "R L I S";
    QTest::newRow("10 degrees about z") << Angles{0, 0, 10} << "R L P A";
    QTest::newRow("30 degrees about z") << Angles{0, 0, 30} << "RA LP PR AL";
    QTest::newRow("40 degrees about y") << Angles{0, 40, 0} << "RS LI P A";
}

void TestPatientOrientation::lettersFollowTheRotation()
{
    QFETCH(Angles, angles);
    QFETCH(QString, edges);
    const OrientationLetters letters = orientationLetters(angles[0], angles[1], angles[2]);
    QCOMPARE(QStringList({letters.left, letters.right, letters.top, letters.bottom}).join(' '),
             edges);
}

QTEST_GUILESS_MAIN(TestPatientOrientation)
#include "tst_patientorientation.moc"
