#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>

#include <vector>

// One label of a label map: its value in the map, its name, colour (alpha
// is the label's own opacity, multiplied by the layer's) and whether it is
// shown.
struct Label
{
    int value = 0;
    QString name;
    QColor colour;
    bool visible = true;

    bool operator==(const Label &other) const
    {
        return value == other.value && name == other.name && colour == other.colour &&
               visible == other.visible;
    }
};

// The labels of a label map, sorted by value, each value once. Value 0 is
// the background where a table does not name it: not shown.
class LabelTable
{
public:
    const std::vector<Label> &labels() const { return entries; }
    std::vector<Label> &labels() { return entries; }
    // The label of a value, or null.
    const Label *find(int value) const;
    Label *find(int value);
    // Adds the labels the map holds that the table lacks, each with a
    // generated colour (generatedLabelColour()) and no name; 0 is
    // added hidden.
    void addMissing(const std::vector<int> &values);
    bool operator==(const LabelTable &other) const { return entries == other.entries; }

    // Sorts and removes repeated values (the last one read wins).
    void normalise();

private:
    std::vector<Label> entries;
};

// A colour for a label that no table colours: distinct for neighbouring
// values (golden-ratio steps of hue), stable for a value.
QColor generatedLabelColour(int value);

namespace LabelTables {

constexpr qint64 maximumFileBytes = 16 * 1024 * 1024;
constexpr int maximumValue = 65535;

struct ReadResult
{
    bool ok = false;
    LabelTable table;
    QString reason; // names the file and the line: "aseg.txt, line 12: ..."
};

// Parses a label table, the form told apart by its lines (blank lines and
// lines starting with '#' are skipped everywhere):
// - ITK-SNAP label descriptions: IDX -R- -G- -B- -A-- VIS MSH "LABEL"
//   (A 0..1 as opacity, VIS 0/1);
// - FreeSurfer colour tables: index name R G B A (A is 0 for opaque in
//   FreeSurfer's files: opacity 255 - A);
// - 3D Slicer colour tables (.ctbl): index name R G B A (A 0..255 opacity);
//   told from FreeSurfer's by the file name's suffix .ctbl;
// - a plain list of index and name (the .nii.txt files beside atlases; a
//   name may hold spaces), coloured by generatedLabelColour().
// Values lie in 0..maximumValue, colours in 0..255. A line that fits no form,
// or the form of the first line when later lines differ, is refused naming
// the file and line.
ReadResult parse(const QByteArray &bytes, const QString &fileName);
ReadResult readFile(const QString &fileName);

} // namespace LabelTables
