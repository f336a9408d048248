#include "transferfunctiontable.h"

#include <QColor>
#include <QRegularExpression>
#include <QTest>

#include <cmath>
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
    void straightCurvesAtFullPrecision();
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

// Between a transparent black and an opaque white stop lie greys of rising
// opacity, not white (as an interpolation premultiplied by opacity gives);
// the float entries keep opacities no byte holds, and a jump at one position
// keeps its stops' order.
void TestTransferFunctionTable::straightCurvesAtFullPrecision()
{
    TransferFunctionTable table;
    std::ostringstream probe;
    table.rebuild({{0.0, QColor(0, 0, 0, 0)}, {1.0, QColor(255, 255, 255, 255)}}, probe);
    const QRgb middle = entry(table, 511);
    QVERIFY2(std::abs(qRed(middle) - 128) <= 1 && std::abs(qAlpha(middle) - 128) <= 1,
             qPrintable(QString::number(middle, 16)));
    const std::vector<float> &floats = table.rgbaFloats();
    QCOMPARE(floats.size(), std::size_t(4 * TransferFunctionTable::entryCount));
    for (int i : {0, 300, 1023}) {
        const float expected = float(i) / 1023.0f;
        for (int channel = 0; channel < 4; ++channel)
            QVERIFY(std::abs(floats[4 * i + channel] - expected) < 1e-6f);
    }

    const QColor faint = QColor::fromRgbF(1, 1, 1, 0.001f);
    table.rebuild({{0.0, faint}, {0.5, faint}, {0.5, QColor(255, 0, 0, 255)}}, probe);
    QCOMPARE(qAlpha(table.transfer(0.25f)), 0); // a byte cannot hold it
    QVERIFY(std::abs(table.rgbaFloats()[4 * 200 + 3] - 0.001f) < 1e-5f);
    QCOMPARE(table.transfer(0.75f), 0xffff0000u);
    QVERIFY(std::abs(table.rgbaFloats()[4 * 600 + 1]) < 1e-6f);
}

QTEST_MAIN(TestTransferFunctionTable)
#include "tst_transferfunctiontable.moc"
