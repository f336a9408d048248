// libFuzzer target for the overlay tables: label tables (ITK-SNAP, FreeSurfer,
// Slicer, plain lists) and colour-map files (MRIcron lookup tables, ParaView
// JSON). The first byte picks the parser: bit 0 clear reads a label table,
// bit 1 then names it .ctbl (Slicer) rather than .txt; bit 0 set reads a
// colour map. A refusal must carry a reason naming the file; an accepted
// table must hold sorted, unique values in range with valid colours and
// survive normalise() and addMissing() of its own values unchanged. Any
// violation traps.

#include "fuzzsupport.h"

#include "colormap.h"
#include "labeltable.h"

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace {

void checkLabels(const QByteArray &bytes, const QString &fileName)
{
    const LabelTables::ReadResult result = LabelTables::parse(bytes, fileName);
    if (!result.ok) {
        require(result.reason.startsWith(fileName + ":") ||
                result.reason.startsWith(fileName + ", line "));
        return;
    }
    require(result.reason.isEmpty());
    const std::vector<Label> &labels = result.table.labels();
    require(!labels.empty());
    std::vector<int> values;
    int previous = -1;
    for (const Label &label : labels) {
        require(label.value > previous && label.value <= LabelTables::maximumValue);
        // Held as red, green and blue, as every table writes colours.
        require(label.colour.isValid() && label.colour == label.colour.toRgb());
        require(result.table.find(label.value) == &label);
        previous = label.value;
        values.push_back(label.value);
    }
    LabelTable again = result.table;
    again.normalise();
    require(again == result.table);
    again.addMissing(values);
    require(again == result.table);
}

void checkMap(const QByteArray &bytes, const QString &fileName)
{
    const ColorMaps::ReadResult result = ColorMaps::parse(bytes, fileName);
    if (!result.ok) {
        require(result.reason.startsWith(fileName + ":") ||
                result.reason.startsWith(fileName + ", line "));
        return;
    }
    require(result.reason.isEmpty() && !result.map.name.isEmpty());
    require(result.map.entries.size() == 256);
    for (QRgb entry : result.map.entries)
        require(qAlpha(entry) == 255);
    require(result.map.at(0.0) == result.map.entries.front());
    require(result.map.at(1.0) == result.map.entries.back());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size == 0)
        return 0;
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    if (data[0] & 1)
        checkMap(bytes, "map.json");
    else
        checkLabels(bytes, data[0] & 2 ? "labels.ctbl" : "labels.txt");
    return 0;
}
