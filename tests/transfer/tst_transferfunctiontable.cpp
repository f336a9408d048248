#include "transferfunctiontable.h"

#include <QColor>
#include <QRegularExpression>
#include <QTest>

#include <limits>
#include <sstream>
#include <vector>

class TestTransferFunctionTable : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void startsTransparent();
    void defaultRamp();
    void singleStopFillsTable();
    void lookupClamps_data();
    void lookupClamps();
    void rgbaByteOrder();
};

namespace {

const QGradientStops defaultStops{{0.0, QColor::fromRgba(0xff000000)},
                                  {1.0, QColor::fromRgba(0xffffffff)}};

QRgb entry(const TransferFunctionTable &table, int i)
{
    return table.image().pixel(i, 0);
}

} // namespace

void TestTransferFunctionTable::init()
{
    QTest::failOnWarning(QRegularExpression(".*"));
}

void TestTransferFunctionTable::startsTransparent()
{
    TransferFunctionTable table;
    QCOMPARE(table.image().size(), QSize(TransferFunctionTable::entryCount, 1));
    QCOMPARE(table.image().format(), QImage::Format_ARGB32);
    QCOMPARE(table.transfer(0.5f), 0u);
}

void TestTransferFunctionTable::defaultRamp()
{
    TransferFunctionTable table;
    std::ostringstream probe;
    table.rebuild(defaultStops, probe);
    QCOMPARE(probe.str(), std::string("transfer(0.5) 255\n"));

    QCOMPARE(entry(table, 0), 0xff000000u);
    const QRgb last = entry(table, 1023);
    QVERIFY(qRed(last) >= 254 && qGreen(last) >= 254 && qBlue(last) >= 254);
    int previous = -1;
    for (int i = 0; i < TransferFunctionTable::entryCount; ++i) {
        const QRgb e = entry(table, i);
        QCOMPARE(qAlpha(e), 255);
        QCOMPARE(qGreen(e), qRed(e));
        QCOMPARE(qBlue(e), qRed(e));
        QVERIFY(qRed(e) >= previous);
        previous = qRed(e);
    }
}

void TestTransferFunctionTable::singleStopFillsTable()
{
    TransferFunctionTable table;
    std::ostringstream probe;
    table.rebuild({{0.0, QColor::fromRgba(0x80ff4020)}}, probe);
    for (int i = 0; i < TransferFunctionTable::entryCount; ++i)
        QCOMPARE(entry(table, i), 0x80ff4020u);
    QCOMPARE(probe.str(), std::string("transfer(0.5) 128\n"));

    // A rebuild replaces everything the previous one painted.
    table.rebuild({{1.0, QColor::fromRgba(0x00000000)}}, probe);
    QCOMPARE(table.transfer(0.0f), 0u);
}

void TestTransferFunctionTable::lookupClamps_data()
{
    QTest::addColumn<float>("value");
    QTest::addColumn<int>("index");
    QTest::newRow("below") << -0.3f << 0;
    QTest::newRow("zero") << 0.0f << 0;
    QTest::newRow("half truncates") << 0.5f << 511;
    QTest::newRow("one") << 1.0f << 1023;
    QTest::newRow("above") << 7.0f << 1023;
    QTest::newRow("nan") << std::numeric_limits<float>::quiet_NaN() << 0;
}

void TestTransferFunctionTable::lookupClamps()
{
    QFETCH(float, value);
    QFETCH(int, index);
    TransferFunctionTable table;
    std::ostringstream probe;
    // Every entry distinct, so the index is visible in the colour.
    table.rebuild({{0.0, QColor(0, 0, 0, 0)}, {1.0, QColor(255, 255, 255, 255)}}, probe);
    QCOMPARE(table.transfer(value), entry(table, index));
    if (index != 511)
        QVERIFY(table.transfer(value) != entry(table, 511));
}

void TestTransferFunctionTable::rgbaByteOrder()
{
    TransferFunctionTable table;
    std::ostringstream probe;
    table.rebuild({{0.0, QColor::fromRgba(0x80ff4020)}}, probe);
    std::vector<unsigned char> bytes(4 * TransferFunctionTable::entryCount);
    table.copyRgbaBytes(bytes.data());
    for (int i : {0, 511, 1023}) {
        QCOMPARE(int(bytes[4 * i + 0]), 0xff);
        QCOMPARE(int(bytes[4 * i + 1]), 0x40);
        QCOMPARE(int(bytes[4 * i + 2]), 0x20);
        QCOMPARE(int(bytes[4 * i + 3]), 0x80);
    }
}

QTEST_MAIN(TestTransferFunctionTable)
#include "tst_transferfunctiontable.moc"
