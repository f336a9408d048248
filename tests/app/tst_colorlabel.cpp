#include "colorlabel.h"

#include <QSignalSpy>
#include <QTest>

class TestColorLabel : public QObject
{
    Q_OBJECT

private slots:
    void startsWithoutColour();
    void showsValidColours();
    void pressOpensPickerOnGreen_data();
    void pressOpensPickerOnGreen();
};

void TestColorLabel::startsWithoutColour()
{
    QWidget parent;
    ColorLabel label(&parent);
    QVERIFY(!label.color().isValid());
    QVERIFY(label.text().isEmpty());
    QCOMPARE(label.frameShape(), QFrame::StyledPanel);
    QVERIFY(!label.autoFillBackground());
}

void TestColorLabel::showsValidColours()
{
    QWidget parent;
    ColorLabel label(&parent);
    label.setColor(QColor(55, 55, 55));
    QCOMPARE(label.text(), QString("#373737"));
    QCOMPARE(label.color(), QColor(55, 55, 55));
    QVERIFY(label.autoFillBackground());
    QCOMPARE(label.palette().color(QPalette::Window), QColor(55, 55, 55));

    label.setColor(QColor());
    QCOMPARE(label.text(), QString("#373737"));
    QCOMPARE(label.color(), QColor(55, 55, 55));
    QCOMPARE(label.palette().color(QPalette::Window), QColor(55, 55, 55));

    // Alpha is not part of the name.
    label.setColor(QColor(0x12, 0xab, 0xef, 0x40));
    QCOMPARE(label.text(), QString("#12abef"));
}

void TestColorLabel::pressOpensPickerOnGreen_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QColor>("answer");
    QTest::newRow("left, picked") << Qt::LeftButton << QColor(10, 20, 30);
    QTest::newRow("right, cancelled") << Qt::RightButton << QColor();
    QTest::newRow("middle, picked") << Qt::MiddleButton << QColor(200, 0, 0);
}

void TestColorLabel::pressOpensPickerOnGreen()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QColor, answer);
    QWidget parent;
    ColorLabel label(&parent);
    label.setColor(QColor(255, 255, 255));
    QList<QColor> initials;
    label.setColorPicker([&](const QColor &initial, QWidget *) {
        initials.append(initial);
        return answer;
    });
    QSignalSpy finished(&label, &ColorLabel::editingFinished);
    QTest::mousePress(&label, button);
    QCOMPARE(initials, QList<QColor>{QColor(Qt::green)});
    QCOMPARE(finished.count(), 1);
    QCOMPARE(label.color(), answer.isValid() ? answer : QColor(255, 255, 255));
}

QTEST_MAIN(TestColorLabel)
#include "tst_colorlabel.moc"
