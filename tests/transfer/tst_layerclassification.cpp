#include "colormap.h"
#include "labeltable.h"
#include "layerappearance.h"

#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <cmath>

namespace {

LabelTable parsed(const QByteArray &text, const QString &fileName)
{
    const LabelTables::ReadResult result = LabelTables::parse(text, fileName);
    if (!result.ok)
        qFatal("%s", qPrintable(result.reason));
    return result.table;
}

QList<int> valuesOf(const LabelTable &table)
{
    QList<int> values;
    for (const Label &label : table.labels())
        values.append(label.value);
    return values;
}

} // namespace

class TestLayerClassification : public QObject
{
    Q_OBJECT

private slots:
    void init() { QTest::failOnWarning(QRegularExpression(".*")); }
    void labelForms();
    void labelRefusals_data();
    void labelRefusals();
    void generatedColoursAndMissingLabels();
    void lookupTableFiles();
    void paraViewMapResampled();
    void mapRefusals_data();
    void mapRefusals();
    void namedMaps();
    void appearanceColoursValues();
};

void TestLayerClassification::labelForms()
{
    // ITK-SNAP: names with spaces kept as written, opacity from 0..1, VIS 0
    // hidden; Windows line ends.
    const LabelTable itk = parsed("# ITK-SnAP Label Description File\r\n"
                                  "    0     0    0    0        0  0  0    \"Clear Label\"\r\n"
                                  "    1   255    0    0        1  1  1    \"Label 1\"\r\n"
                                  "\r\n"
                                  "  300     0  128   64      0.5  0  1    \"Left  hippo\"\r\n",
                                  "labels.txt");
    QCOMPARE(valuesOf(itk), (QList<int>{0, 1, 300}));
    QCOMPARE(itk.labels()[0], (Label{0, "Clear Label", QColor(0, 0, 0, 0), false}));
    QCOMPARE(itk.labels()[1], (Label{1, "Label 1", QColor(255, 0, 0, 255), true}));
    QCOMPARE(itk.labels()[2], (Label{300, "Left  hippo", QColor(0, 128, 64, 128), false}));

    // FreeSurfer keeps transparency (0 opaque); unsorted lines are sorted and
    // the later of two lines for a value wins.
    const QByteArray colourTable = "17  Left-Hippocampus  220 216 20 0\n"
                                   "0   Unknown           0   0   0  0\n"
                                   "53\tRight-Hippocampus\t220 216 20 55\n"
                                   "17  Hippocampus-L     1   2   3  0\n";
    const LabelTable freeSurfer = parsed(colourTable, "aseg.txt");
    QCOMPARE(valuesOf(freeSurfer), (QList<int>{0, 17, 53}));
    QCOMPARE(*freeSurfer.find(0), (Label{0, "Unknown", QColor(0, 0, 0, 255), true}));
    QCOMPARE(*freeSurfer.find(17), (Label{17, "Hippocampus-L", QColor(1, 2, 3, 255), true}));
    QCOMPARE(freeSurfer.find(53)->colour, QColor(220, 216, 20, 200));

    // The same lines from Slicer hold opacity.
    const LabelTable slicer = parsed(colourTable, "brain.CTBL");
    QCOMPARE(slicer.find(0)->colour.alpha(), 0);
    QCOMPARE(slicer.find(53)->colour.alpha(), 55);

    // A plain list names values only; its background stays hidden.
    const LabelTable plain =
        parsed("0 Background\n37 Hippocampus_L\n38   Hippocampus left  \n", "atlas.nii.txt");
    QCOMPARE(*plain.find(38), (Label{38, "Hippocampus left", generatedLabelColour(38), true}));
    QVERIFY(!plain.find(0)->visible);
}

void TestLayerClassification::labelRefusals_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QString>("reason");
    const QString itk = "an ITK-SNAP label line (IDX R G B A VIS MSH \"LABEL\")";
    const QString table = "a colour-table line (index name R G B A)";
    const QString plain = "a line of a value and a name";

    QTest::newRow("colour table among ITK-SNAP lines")
        << QByteArray("# header\n1 255 0 0 1 1 1 \"A\"\n\n17 Left 220 216 20 0\n")
        << "t.txt, line 4: " + table + ", but line 2 is " + itk;
    QTest::newRow("ITK-SNAP among plain lines")
        << QByteArray("5 Five\n1 255 0 0 1 1 1 \"One\"\n")
        << "t.txt, line 2: " + itk + ", but line 1 is " + plain;
    QTest::newRow("plain among colour-table lines")
        << QByteArray("1 A 1 2 3 0\n2 B 1 2 3\n")
        << "t.txt, line 2: " + plain + ", but line 1 is " + table;
    QTest::newRow("value above the range")
        << QByteArray("1 A\n65536 B\n") << "t.txt, line 2: value 65536 is outside 0..65535";
    QTest::newRow("negative value")
        << QByteArray("-1 A 0 0 0 0\n") << "t.txt, line 1: value -1 is outside 0..65535";
    QTest::newRow("colour above 255")
        << QByteArray("1 A 0 256 0 0\n") << "t.txt, line 1: green 256 is outside 0..255";
    QTest::newRow("opacity above 1")
        << QByteArray("1 255 0 0 1.5 1 1 \"A\"\n") << "t.txt, line 1: opacity 1.5 is outside 0..1";
    QTest::newRow("open quote") << QByteArray("1 255 0 0 1 1 1 \"A\n")
                                << "t.txt, line 1: the label's name lacks its closing quote";
    QTest::newRow("no value") << QByteArray("\n\nLabel 1\n")
                              << "t.txt, line 3: \"Label\" is not a label value (a whole number)";
    QTest::newRow("only comments") << QByteArray("# a\n\n   # b\n") << "t.txt: holds no labels";
}

void TestLayerClassification::labelRefusals()
{
    QFETCH(QByteArray, text);
    QFETCH(QString, reason);
    const LabelTables::ReadResult result = LabelTables::parse(text, "/some/folder/t.txt");
    QVERIFY(!result.ok);
    QCOMPARE(result.reason, reason);
}

void TestLayerClassification::generatedColoursAndMissingLabels()
{
    for (int value = 0; value < 1000; ++value) {
        const QColor colour = generatedLabelColour(value);
        QCOMPARE(colour.alpha(), 255);
        // Neighbours far apart in hue.
        const int hueStep = std::abs(colour.hsvHue() - generatedLabelColour(value + 1).hsvHue());
        QVERIFY2(std::min(hueStep, 360 - hueStep) > 100, qPrintable(QString::number(value)));
    }

    LabelTable table = parsed("5 Five\n9 Nine\n", "t.txt");
    table.addMissing({9, 0, 7, 7, 5});
    QCOMPARE(valuesOf(table), (QList<int>{0, 5, 7, 9}));
    QCOMPARE(*table.find(7), (Label{7, QString(), generatedLabelColour(7), true}));
    QVERIFY(!table.find(0)->visible);
    QCOMPARE(table.find(9)->name, QString("Nine"));
}

void TestLayerClassification::lookupTableFiles()
{
    QByteArray bytes(768, '\0');
    for (int i = 0; i < 256; ++i) {
        bytes[i] = char(i);
        bytes[256 + i] = char(255 - i);
        bytes[512 + i] = char(i * 7);
    }
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    // The header of the 800-byte form begins like JSON, which it is not.
    const QByteArray header = "[" + QByteArray(31, 'x');
    for (const QByteArray &content : {bytes, header + bytes}) {
        QFile file(dir.filePath("ramp.lut"));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(content), content.size());
        file.close();
        const ColorMaps::ReadResult result = ColorMaps::byNameOrFile(file.fileName());
        QVERIFY2(result.ok, qPrintable(result.reason));
        QCOMPARE(result.map.name, QString("ramp"));
        for (int i = 0; i < 256; ++i)
            QCOMPARE(result.map.entries[i], qRgb(i, 255 - i, (i * 7) & 255));
    }
    const ColorMaps::ReadResult shortFile = ColorMaps::parse(bytes.chopped(1), "x/ramp.lut");
    QVERIFY(!shortFile.ok);
    QVERIFY2(shortFile.reason.startsWith("ramp.lut: neither a lookup table"),
             qPrintable(shortFile.reason));
}

void TestLayerClassification::paraViewMapResampled()
{
    // Two segments over x in -10..10; a second map in the list is ignored.
    const QByteArray json = R"([{"Name": "Fire", "Points": [0, 1, 0.5, 0],
        "RGBPoints": [-10, 0, 0, 0,  0, 1, 0, 0,  10, 1, 1, 1]},
        {"Name": "Other", "RGBPoints": [0, 0, 0, 1, 1, 0, 0, 1]}])";
    const ColorMaps::ReadResult result = ColorMaps::parse(json, "fire.json");
    QVERIFY2(result.ok, qPrintable(result.reason));
    QCOMPARE(result.map.name, QString("Fire"));
    QCOMPARE(result.map.entries[0], qRgb(0, 0, 0));
    // Entry 127 lies at x = -0.04, entry 128 at x = 0.04.
    QCOMPARE(result.map.entries[127], qRgb(254, 0, 0));
    QCOMPARE(result.map.entries[128], qRgb(255, 1, 1));
    QCOMPARE(result.map.entries[255], qRgb(255, 255, 255));
    QCOMPARE(result.map.at(0.5), result.map.entries[128]);

    // One object, no name, and a step: two points on one x.
    const ColorMaps::ReadResult step = ColorMaps::parse(
        R"({"RGBPoints": [0, 1, 0, 0, 0.5, 1, 0, 0, 0.5, 0, 0, 1, 1, 0, 0, 1]})", "d/step.json");
    QVERIFY2(step.ok, qPrintable(step.reason));
    QCOMPARE(step.map.name, QString("step"));
    QCOMPARE(step.map.entries[127], qRgb(255, 0, 0));
    QCOMPARE(step.map.entries[128], qRgb(0, 0, 255));
}

void TestLayerClassification::mapRefusals_data()
{
    QTest::addColumn<QByteArray>("content");
    QTest::addColumn<QString>("reason");
    QTest::newRow("syntax") << QByteArray("[\n {\"RGBPoints\": [0, 0, 0, 0,\n 1, 1 1, 1]}\n]")
                            << "m.json, line 3: not JSON";
    QTest::newRow("no map") << QByteArray("[{\"Name\": \"x\"}]")
                            << "m.json: holds no colour map with \"RGBPoints\"";
    QTest::newRow("not a number") << QByteArray(R"({"RGBPoints": [0, 0, 0, 0, "1", 1, 1, 1]})")
                                  << "m.json: number 5 of \"RGBPoints\" is not a number";
    QTest::newRow("descending") << QByteArray(R"({"RGBPoints": [1, 0, 0, 0, 0, 1, 1, 1]})")
                                << "m.json: point 2 of \"RGBPoints\" lies left";
    QTest::newRow("colour above 1") << QByteArray(R"({"RGBPoints": [0, 0, 0, 0, 1, 1, 1.5, 1]})")
                                    << "m.json: number 7 of \"RGBPoints\" is 1.5, a colour outside";
    QTest::newRow("one point") << QByteArray(R"({"RGBPoints": [0, 0, 0, 0]})")
                               << "m.json: \"RGBPoints\" has only one point (a map needs two)";
    QTest::newRow("not groups of four") << QByteArray(R"({"RGBPoints": [0, 0, 0, 0, 1, 1, 1]})")
                                        << "m.json: \"RGBPoints\" has 7 numbers, not a multiple";
    QTest::newRow("no range") << QByteArray(R"({"RGBPoints": [2, 0, 0, 0, 2, 1, 1, 1]})")
                              << "m.json: the points of \"RGBPoints\" all lie at x = 2";
}

void TestLayerClassification::mapRefusals()
{
    QFETCH(QByteArray, content);
    QFETCH(QString, reason);
    const ColorMaps::ReadResult result = ColorMaps::parse(content, "maps/m.json");
    QVERIFY(!result.ok);
    QVERIFY2(result.reason.startsWith(reason), qPrintable(result.reason));
}

void TestLayerClassification::namedMaps()
{
    // Names match without regard to case.
    for (const QString &name : ColorMaps::names())
        QCOMPARE(ColorMaps::named(name.toUpper())->name, name);

    const auto ends = [](const char *name) {
        const ColorMap map = *ColorMaps::named(name);
        return std::pair(map.entries.front(), map.entries.back());
    };
    QCOMPARE(ends("Gray"), std::pair(qRgb(0, 0, 0), qRgb(255, 255, 255)));
    QCOMPARE(ends("hot"), std::pair(qRgb(0, 0, 0), qRgb(255, 255, 255)));
    QCOMPARE(ends("red-yellow"), std::pair(qRgb(255, 0, 0), qRgb(255, 255, 0)));
    QCOMPARE(ends("cool"), std::pair(qRgb(0, 255, 255), qRgb(255, 0, 255)));
    QCOMPARE(ends("blue-green"), std::pair(qRgb(0, 0, 255), qRgb(0, 255, 255)));
    QCOMPARE(ends("viridis"), std::pair(qRgb(68, 1, 84), qRgb(253, 231, 37)));
    // hot passes red, then yellow, on its way.
    const ColorMap hot = *ColorMaps::named("hot");
    QVERIFY(qRed(hot.at(0.375)) >= 250 && qGreen(hot.at(0.375)) <= 5);
    QVERIFY(qGreen(hot.at(0.75)) >= 250 && qBlue(hot.at(0.75)) <= 5);

    const ColorMap grey = *ColorMaps::named("grey");
    QCOMPARE(grey.at(std::nan("")), grey.entries[0]);
    QCOMPARE(grey.at(7.0), grey.entries[255]);
    const ColorMaps::ReadResult missing = ColorMaps::byNameOrFile("no such map");
    QVERIFY(!missing.ok);
    QVERIFY2(missing.reason.contains("neither a colour map's name (grey, hot,"),
             qPrintable(missing.reason));
}

// What a layer shows of a value: a map's colour from the range's low end on,
// the negative side mirrored, a label's own colour and alpha times the
// layer's opacity, nothing for NaN, hidden labels or hidden layers.
void TestLayerClassification::appearanceColoursValues()
{
    LayerAppearance map = defaultImageAppearance(1.0, 5.0);
    QCOMPARE(map.rangeMinimum, 1.0);
    map.opacity = 0.5;
    QCOMPARE(qAlpha(map.colourOf(0.99)), 0);
    QCOMPARE(map.colourOf(1.0) & 0xffffffu, map.colorMap.at(0.0) & 0xffffffu);
    QCOMPARE(map.colourOf(9.0) & 0xffffffu, map.colorMap.at(1.0) & 0xffffffu);
    QCOMPARE(qAlpha(map.colourOf(3.0)), 128);
    QCOMPARE(qAlpha(map.colourOf(-3.0)), 0); // no negative side yet
    map.negativeMap = *ColorMaps::named("cool");
    QCOMPARE(map.colourOf(-3.0) & 0xffffffu, map.negativeMap->at(0.5) & 0xffffffu);
    QCOMPARE(qAlpha(map.colourOf(std::nan(""))), 0);
    // A range reaching below zero has no room for a mirrored side.
    map.rangeMinimum = -2.0;
    QCOMPARE(map.colourOf(-3.0), qRgba(0, 0, 0, 0));
    // Nothing above zero: nothing drawn until a range is given.
    QCOMPARE(qAlpha(defaultImageAppearance(0.0, -1.0).colourOf(0.5)), 0);

    LayerAppearance labels = defaultLabelAppearance({0, 4});
    labels.opacity = 1.0;
    QCOMPARE(qAlpha(labels.colourOf(0.0)), 0); // the background
    labels.labels.find(4)->colour.setAlpha(100);
    QCOMPARE(labels.colourOf(4.2), labels.colourOf(4.0)); // rounded to the label
    QCOMPARE(qAlpha(labels.colourOf(4.0)), 100);
    QCOMPARE(qAlpha(labels.colourOf(5.0)), 0); // not in the table
    labels.visible = false;
    QCOMPARE(qAlpha(labels.colourOf(4.0)), 0);
}

QTEST_GUILESS_MAIN(TestLayerClassification)
#include "tst_layerclassification.moc"
