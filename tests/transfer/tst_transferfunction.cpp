#include "automatictransferfunction.h"
#include "histogram.h"
#include "transferfunction.h"
#include "transferfunctionfile.h"
#include "transferfunctionpresets.h"
#include "transferfunctionhistory.h"
#include "transferfunctiontable.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>
#include <limits>

using namespace TransferFunctionFile;

namespace {

ChannelPoints channel(QPolygonF points, QList<uint> locks = {})
{
    if (locks.isEmpty())
        locks = QList<uint>(points.size(), 0u);
    return {points, locks};
}

// The same stops up to rounding of the positions (data units and back).
bool sameStops(const QGradientStops &a, const QGradientStops &b)
{
    if (a.size() != b.size())
        return false;
    for (int i = 0; i < a.size(); ++i)
        if (std::abs(a[i].first - b[i].first) > 1e-12 || a[i].second != b[i].second)
            return false;
    return true;
}

} // namespace

class TestTransferFunction : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void stopsRoundTrip();
    void toStopsSamplesEveryChannel();
    void ownFileKeepsPointsExactly();
    void paraViewImport();
    void paraViewExportImport();
    void badInput_data();
    void badInput();
    void unreadableFiles();
    void presets();
    void histogram();
    void automaticRamp_data();
    void automaticRamp();
    void historySteps();
};

void TestTransferFunction::stopsRoundTrip()
{
    // Two stops on one position are a hard step and stay two stops.
    const QGradientStops stops{{0.0, QColor(0, 10, 20, 0)},
                               {0.4, QColor(255, 128, 1, 77)},
                               {0.4, QColor(3, 4, 5, 255)},
                               {1.0, QColor(250, 251, 252, 253)}};
    const TransferFunction function = TransferFunction::fromStops(stops);
    QCOMPARE(function.channel(GreenChannel).points.size(), 4);
    QCOMPARE(function.channel(AlphaChannel).locks,
             (QList<uint>{ControlPoints::LockLeftEdge, 0, 0, ControlPoints::LockRightEdge}));
    QCOMPARE(function.toStops(), stops);
    QCOMPARE(TransferFunction::fromStops(blackToWhiteStops()).toStops(), blackToWhiteStops());
}

void TestTransferFunction::toStopsSamplesEveryChannel()
{
    TransferFunction function;
    function.channel(RedChannel) = channel({QPointF(0, 0), QPointF(1, 1)});
    function.channel(AlphaChannel) = channel({QPointF(0, 0), QPointF(0.5, 1), QPointF(1, 0)});
    // Green covers only the middle: 0 outside, as a strip samples it.
    function.channel(GreenChannel) = channel({QPointF(0.25, 1), QPointF(0.75, 1)});
    // Values that no byte holds keep QColor's 16 bits.
    const QGradientStops expected{{0.0, QColor(0, 0, 0, 0)},
                                  {0.25, QColor::fromRgbF(0.25f, 1, 0, 0.5f)},
                                  {0.5, QColor::fromRgbF(0.5f, 1, 0, 1)},
                                  {0.75, QColor::fromRgbF(0.75f, 1, 0, 0.5f)},
                                  {1.0, QColor(255, 0, 0, 0)}};
    QCOMPARE(function.toStops(), expected);
    QCOMPARE(TransferFunction().toStops(), QGradientStops());
}

void TestTransferFunction::ownFileKeepsPointsExactly()
{
    // Values that no short decimal holds, and a red strip of only two points.
    TransferFunction function;
    function.channel(RedChannel) =
        channel({QPointF(0, 1.0 / 3), QPointF(1, 0.1)},
                {ControlPoints::LockLeftEdge, ControlPoints::LockRightEdge});
    function.channel(GreenChannel) =
        channel({QPointF(0, 0), QPointF(std::nextafter(0.7, 1.0), 2.0 / 3), QPointF(1, 1e-300)});
    function.channel(BlueChannel) = channel({QPointF(0.5, 0.5), QPointF(0.5, 1)}, {15, 4});
    const ReadResult read = parse(toKelvaraJson(function), DataRange());
    QVERIFY2(read.ok, qPrintable(read.reason));
    QCOMPARE(read.function.channel(RedChannel).points.size(), 2);
    QVERIFY(read.function == function);

    // Locks may be left out; the file's values are taken as they are.
    const ReadResult plain = parse(R"({"kelvara-transfer-function": 1, "red": [[0, 0], [1, 1]],
        "green": [], "blue": [[0.25, 0.5]], "alpha": [[0, 1, 1]]})",
                                   DataRange());
    QVERIFY2(plain.ok, qPrintable(plain.reason));
    QCOMPARE(plain.function.channel(RedChannel), channel({QPointF(0, 0), QPointF(1, 1)}));
    QCOMPARE(plain.function.channel(AlphaChannel).locks, QList<uint>{1});
}

void TestTransferFunction::paraViewImport()
{
    // A grey ramp over the DAT range, opaque in the middle only.
    const ReadResult ramp = parse(R"([{"Name": "x", "ColorSpace": "RGB",
        "RGBPoints": [0, 0, 0, 0, 4095, 1, 1, 1],
        "Points": [0, 0, 0.5, 0, 2047.5, 1, 0.5, 0, 4095, 0, 0.5, 0]}])",
                                  DataRange{0, 4095});
    QVERIFY2(ramp.ok, qPrintable(ramp.reason));
    const QGradientStops expected{{0.0, QColor(0, 0, 0, 0)},
                                  {0.5, QColor::fromRgbF(0.5f, 0.5f, 0.5f, 1)},
                                  {1.0, QColor(255, 255, 255, 0)}};
    QCOMPARE(ramp.function.toStops(), expected);

    // Data units through the range; beyond a map's ends its end colours hold,
    // inside it is cut at the range's ends. No "Points": opaque.
    const ReadResult wide = parse(
        R"({"RGBPoints": [-1000, 1, 0, 0, 1000, 0, 0, 1, 5000, 0, 1, 1]})", DataRange{0, 2000});
    QVERIFY2(wide.ok, qPrintable(wide.reason));
    const ChannelPoints &red = wide.function.channel(RedChannel);
    QCOMPARE(red.points, QPolygonF({QPointF(0, 0.5), QPointF(0.5, 0), QPointF(1, 0)}));
    QCOMPARE(red.locks,
             (QList<uint>{ControlPoints::LockLeftEdge, 0, ControlPoints::LockRightEdge}));
    QCOMPARE(wide.function.channel(GreenChannel).points.last(), QPointF(1, 0.25));
    QCOMPARE(wide.function.channel(AlphaChannel).points, QPolygonF({QPointF(0, 1), QPointF(1, 1)}));
}

void TestTransferFunction::paraViewExportImport()
{
    // Channels with points at different x: the export samples red, green and
    // blue together, so the stops come back the same.
    TransferFunction function;
    function.channel(RedChannel) = channel({QPointF(0, 0), QPointF(0.3, 1), QPointF(1, 0.2)});
    function.channel(GreenChannel) = channel({QPointF(0, 1), QPointF(0.6, 0), QPointF(1, 0.5)});
    function.channel(BlueChannel) = channel({QPointF(0, 0.5), QPointF(1, 0.5)});
    function.channel(AlphaChannel) = channel({QPointF(0, 0), QPointF(0.8, 0.9), QPointF(1, 1)});
    const DataRange range{-1024, 3071};
    const ReadResult read = parse(toParaViewJson(function, range), range);
    QVERIFY2(read.ok, qPrintable(read.reason));
    QVERIFY(sameStops(read.function.toStops(), function.toStops()));
}

void TestTransferFunction::badInput_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("reason");
    const QByteArray head = R"({"kelvara-transfer-function": 1, "green": [], "blue": [], )";
    QTest::newRow("not JSON") << QByteArray("red: 0 0 1 1") << "not JSON";
    QTest::newRow("NaN") << head + R"("alpha": [], "red": [[NaN, 0]]})"
                         << "not JSON";
    QTest::newRow("channel missing") << head + R"("red": []})"
                                     << "\"alpha\" is missing";
    QTest::newRow("non-numeric") << head + R"("alpha": [], "red": [["0", 0]]})"
                                 << "point 1 of \"red\": x and y must be numbers in 0..1";
    QTest::newRow("out of range") << head + R"("alpha": [[0, 0], [1, 1.5]], "red": []})"
                                  << "point 2 of \"alpha\": x and y";
    QTest::newRow("short point") << head + R"("alpha": [[0]], "red": []})"
                                 << "point 1 of \"alpha\" is not [x, y]";
    QTest::newRow("x decreasing") << head + R"("alpha": [[0.5, 0], [0.25, 1]], "red": []})"
                                  << "point 2 of \"alpha\" lies left";
    QTest::newRow("bad locks") << head + R"("alpha": [[0, 0, 1.5]], "red": []})"
                               << "locks must be a whole number";
    QTest::newRow("other version")
        << QByteArray(R"({"kelvara-transfer-function": 2})") << "unknown version";
    QByteArray many = head + R"("alpha": [], "red": [)";
    for (int i = 0; i <= maximumPointsPerChannel; ++i)
        many += i ? ",[0.5,0.5]" : "[0.5,0.5]";
    QTest::newRow("too many points") << many + "]}"
                                     << "\"red\" has 4097 points (at most 4096)";
    QTest::newRow("neither form") << QByteArray(R"({"colors": []})") << "neither";
    QTest::newRow("empty list") << QByteArray("[]") << "no colour map";
    QTest::newRow("paraview count")
        << QByteArray(R"([{"RGBPoints": [0, 1, 0]}])") << "\"RGBPoints\" has 3 numbers";
    QTest::newRow("paraview colour") << QByteArray(R"([{"RGBPoints": [0, 1, 0, 2]}])")
                                     << "number 4 of \"RGBPoints\" is 2, outside 0..1";
    QTest::newRow("paraview huge x")
        << QByteArray(R"([{"RGBPoints": [-1e308, 1, 0, 0, 1e308, 0, 0, 0]}])") << "too far outside";
    QTest::newRow("paraview opacity")
        << QByteArray(R"([{"RGBPoints": [0, 1, 0, 0], "Points": [0, 1, 0.5, "x"]}])")
        << "number 4 of \"Points\" is not a finite number";
}

void TestTransferFunction::badInput()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, reason);
    const ReadResult read = parse(bytes, DataRange());
    QVERIFY(!read.ok);
    QVERIFY2(read.reason.contains(reason), qPrintable(read.reason));
}

void TestTransferFunction::unreadableFiles()
{
    QTemporaryDir dir;
    QVERIFY(readFile(dir.filePath("missing.json"), DataRange()).reason.contains("no such file"));
    QCOMPARE(readFile(dir.path(), DataRange()).reason, QString("cannot be read (not a file)"));

    QFile large(dir.filePath("large.json"));
    QVERIFY(large.open(QIODevice::WriteOnly));
    QVERIFY(large.resize(maximumFileBytes + 1));
    large.close();
    QCOMPARE(readFile(large.fileName(), DataRange()).reason, QString("larger than 16 MiB"));

    QString reason;
    QVERIFY(!writeFile(dir.filePath("no/such/folder.json"), TransferFunction(), Format::Kelvara,
                       DataRange(), &reason));
    QVERIFY(!reason.isEmpty());

    // Neither a preset nor a file: the message says both.
    const ReadResult typo = presetOrFile("skn", DataRange());
    QVERIFY(!typo.ok);
    QVERIFY2(typo.reason.startsWith("'skn': cannot be read") && typo.reason.contains("grey-ramp"),
             qPrintable(typo.reason));
}

void TestTransferFunction::presets()
{
    QStringList names;
    for (const TransferFunctionPreset &preset : transferFunctionPresets()) {
        names << preset.name;
        QVERIFY(!preset.menuText.isEmpty());
        // Each must survive its own file form, which checks every value.
        const ReadResult read = parse(toKelvaraJson(preset.function), DataRange());
        QVERIFY2(read.ok, qPrintable(preset.name + ": " + read.reason));
        for (const ChannelPoints &c : preset.function.channels) {
            QCOMPARE(c.points.first().x(), 0.0);
            QCOMPARE(c.points.last().x(), 1.0);
        }
    }
    QCOMPARE(names, (QStringList{"skin", "bone", "soft-tissue", "grey-ramp", "mri-brain",
                                 "mri-overview"}));
    QCOMPARE(presetNamed("grey-ramp")->toStops(),
             (QGradientStops{{0.0, QColor(0, 0, 0, 0)}, {1.0, QColor(255, 255, 255, 255)}}));
    QVERIFY(!presetNamed("Skin"));

    // Air stays clear in the tissue presets: its surface is not what they show.
    for (const char *name : {"skin", "bone", "soft-tissue"})
        QCOMPARE(channelValueAt(presetNamed(name)->channel(AlphaChannel), 0.05).first, 0.0);
    QCOMPARE(channelValueAt(presetNamed("skin")->channel(AlphaChannel), 0.3).first, 1.0);
    QCOMPARE(channelValueAt(presetNamed("bone")->channel(AlphaChannel), 0.3).first, 0.0);
    QVERIFY(channelValueAt(presetNamed("soft-tissue")->channel(AlphaChannel), 0.3).first < 0.05);
}

void TestTransferFunction::histogram()
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float values[] = {0.0f, -1.0f, 0.5f, 0.74f, 1.0f, 1.0f, 2.0f, nan};
    const Histogram h = Histogram::of(values, std::size(values), 4);
    QCOMPARE(h.binCount(), 4);
    QCOMPARE((QList<quint64>{h.count(0), h.count(1), h.count(2), h.count(3)}),
             (QList<quint64>{2, 0, 2, 3}));
    QCOMPARE(h.logHeight(3), 1.0);
    QCOMPARE(h.logHeight(1), 0.0);
    QVERIFY(qFuzzyCompare(h.logHeight(0), std::log(3.0) / std::log(4.0)));
    QVERIFY(Histogram::of(values, 0).logHeight(0) == 0.0);
    QVERIFY(Histogram().isEmpty());
}

void TestTransferFunction::automaticRamp_data()
{
    // Values as fractions of 0..1, and the ramp's start and end up to one bin.
    QTest::addColumn<std::vector<float>>("values");
    QTest::addColumn<double>("start");
    QTest::addColumn<double>("end");
    std::vector<float> ct(6000, 0.0f); // air
    ct.insert(ct.end(), 3000, 0.25f);  // soft tissue
    ct.insert(ct.end(), 950, 0.6f);    // bone
    ct.insert(ct.end(), 50, 1.0f);     // metal, 0.5 %: not the ramp's end
    QTest::newRow("CT-like") << ct << 1.0 / 256 << 0.6 + 1.0 / 256;
    std::vector<float> mri;
    for (int i = 0; i < 6000; ++i)
        mri.push_back(0.02f + 0.0001f * float(i % 100)); // noise, bins 5..7
    for (int i = 0; i < 4000; ++i)
        mri.push_back(0.3f + 0.0001f * float(i % 1000)); // tissue 0.3..0.4
    QTest::newRow("MRI-like") << mri << 8.0 / 256 << 0.4;
    QTest::newRow("one value") << std::vector<float>(100, 0.5f) << 129.0 / 256 << 130.0 / 256;
    QTest::newRow("top value") << std::vector<float>(100, 1.0f) << 255.0 / 256 << 1.0;
    QTest::newRow("only NaN") << std::vector<float>(10, std::nanf("")) << -1.0 << -1.0;
}

void TestTransferFunction::automaticRamp()
{
    QFETCH(std::vector<float>, values);
    QFETCH(double, start);
    QFETCH(double, end);
    const std::optional<AutomaticRamp> ramp =
        ::automaticRamp(Histogram::of(values.data(), values.size()));
    if (start < 0) {
        QVERIFY(!ramp);
        return;
    }
    QVERIFY(ramp);
    const double bin = 1.0 / 256;
    QVERIFY2(std::abs(ramp->start - start) <= bin, qPrintable(QString::number(ramp->start)));
    QVERIFY2(std::abs(ramp->end - end) <= bin, qPrintable(QString::number(ramp->end)));
    QVERIFY(ramp->start < ramp->end);

    // Transparent up to the start, opaque from the end; points strictly ascending.
    const TransferFunction function = automaticTransferFunction(*ramp);
    const ChannelPoints &alpha = function.channel(AlphaChannel);
    QCOMPARE(channelValueAt(alpha, ramp->start).first, 0.0);
    QCOMPARE(channelValueAt(alpha, ramp->end).second, 1.0);
    QCOMPARE(channelValueAt(alpha, 1.0).first, 1.0);
    for (const ChannelPoints &channel : function.channels) {
        QCOMPARE(channel.points.first().x(), 0.0);
        QCOMPARE(channel.points.last().x(), 1.0);
        for (int i = 1; i < channel.points.size(); ++i)
            QVERIFY(channel.points[i - 1].x() < channel.points[i].x());
    }
    const TransferFunctionFile::ReadResult read = presetOrFile("auto", DataRange{}, nullptr);
    QVERIFY(!read.ok);
}

void TestTransferFunction::historySteps()
{
    const auto step = [](double y) {
        TransferFunction function = *presetNamed("skin");
        function.channel(AlphaChannel).points[1].setY(y);
        return function;
    };
    TransferFunctionHistory history;
    QVERIFY(!history.undo());
    history.reset(step(0));
    QVERIFY(history.record(step(0.1)));
    QVERIFY(!history.record(step(0.1 + 1e-12))); // a resize's rounding is no step
    QVERIFY(history.record(step(0.2)));
    QCOMPARE(history.undo()->channel(AlphaChannel).points[1].y(), 0.1);
    QCOMPARE(history.undo()->channel(AlphaChannel).points[1].y(), 0.0);
    QVERIFY(!history.undo());
    QCOMPARE(history.redo()->channel(AlphaChannel).points[1].y(), 0.1);
    // A new step after an undo drops what could have been redone.
    QVERIFY(history.record(step(0.5)));
    QVERIFY(!history.redo());

    // Only the last maximumSteps steps can be undone.
    for (int i = 0; i < 150; ++i)
        history.record(step(i / 1000.0 + 0.6));
    int undone = 0;
    while (history.undo())
        ++undone;
    QCOMPARE(undone, TransferFunctionHistory::maximumSteps);
    QCOMPARE(history.redo()->channel(AlphaChannel).points[1].y(), 49 / 1000.0 + 0.6 + 0.001);
}

QTEST_MAIN(TestTransferFunction)
#include "tst_transferfunction.moc"
