#include "patientorientation.h"

#include <QTest>

#include <array>
#include <cmath>

using Direction = std::array<double, 3>;
using Angles = std::array<int, 3>;
Q_DECLARE_METATYPE(Direction)
Q_DECLARE_METATYPE(Angles)

class TestPatientOrientation : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(QStringLiteral(".*"))); }
    void directionLetters_data();
    void directionLetters();
    void edgeLetters_data();
    void edgeLetters();
};

void TestPatientOrientation::directionLetters_data()
{
    QTest::addColumn<Direction>("lps");
    QTest::addColumn<QString>("letters"); // the single letters: see edgeLetters
    const double off30 = std::tan(30.0 * M_PI / 180.0);
    QTest::newRow("30 degrees from L towards A") << Direction{1, -off30, 0} << "LA";
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

void TestPatientOrientation::edgeLetters_data()
{
    // Written from the patient's anatomy: what a viewer standing at each side
    // sees at the left, right, top and bottom edges.
    QTest::addColumn<Angles>("angles");
    QTest::addColumn<QString>("edges");
    QTest::newRow("from the face") << rotationViewingFrom(PatientSide::Anterior) << "R L S I";
    QTest::newRow("from the back") << rotationViewingFrom(PatientSide::Posterior) << "L R S I";
    QTest::newRow("from the left") << rotationViewingFrom(PatientSide::Left) << "A P S I";
    QTest::newRow("from the right") << rotationViewingFrom(PatientSide::Right) << "P A S I";
    QTest::newRow("from above") << rotationViewingFrom(PatientSide::Superior) << "L R A P";
    QTest::newRow("from the feet") << rotationViewingFrom(PatientSide::Inferior) << "R L A P";
    // At rest the renderer looks down the volume's -z: from above, posterior up.
    QTest::newRow("at rest") << Angles{0, 0, 0} << "R L P A";
    QTest::newRow("turns wrap") << Angles{450, 0, -720} << "R L S I";
    QTest::newRow("30 degrees about z") << Angles{0, 0, 30} << "RA LP PR AL";
    QTest::newRow("40 degrees about y") << Angles{0, 40, 0} << "RS LI P A";
}

void TestPatientOrientation::edgeLetters()
{
    QFETCH(Angles, angles);
    QFETCH(QString, edges);
    const OrientationLetters letters = orientationLetters(angles[0], angles[1], angles[2]);
    QCOMPARE(QStringList({letters.left, letters.right, letters.top, letters.bottom}).join(' '),
             edges);
}

QTEST_GUILESS_MAIN(TestPatientOrientation)
#include "tst_patientorientation.moc"
