#pragma once

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <vector>

struct CropBox;
struct Volume;
class LabelTable;

// The base volume's values over one region: the voxels of a label, or of a
// box. Values are in the base file's units; a voxel whose value is not a
// number counts in none of the figures (voxels and volume included). Where no
// voxel counts, the mean, spread, extremes and median are NaN.
struct RegionStatistics
{
    int label = 0; // the label's value; 0 for a box
    QString name;  // the label table's name; empty where it has none
    std::uint64_t voxels = 0;
    double volumeMm3 = 0.0; // voxels times the base voxel's volume
    double mean = 0.0;
    double sd = 0.0; // sample standard deviation (n - 1); 0 for one voxel
    double minimum = 0.0;
    double maximum = 0.0;
    double median = 0.0; // for an even count the mean of the two middle values

    double volumeMl() const { return volumeMm3 / 1000.0; }
};

// The base's values under each label of a label map on its own grid: every
// voxel of the base's full-resolution grid takes the label whose voxel is
// nearest its centre in the world (LayerSampler), rounded to a whole number.
// One row per label that holds a counted voxel, ascending by value; the
// background 0, the outside of the label map and values outside the labels'
// range 1..65535 make no row. Empty where either grid is singular.
std::vector<RegionStatistics> labelStatistics(const Volume &base, const Volume &labels,
                                              const LabelTable &table);

// The base's values inside a box of fractions of its full-resolution grid
// (render/viewsettings.h, normalised as normalisedCropBox() does): voxel i of
// an axis of n voxels lies inside where its centre (i + 0.5) / n lies within
// [lower, upper], both ends included. Label 0, no name.
RegionStatistics boxStatistics(const Volume &base, const CropBox &box);

// The rows as CSV: the header label,name,voxels,volume_mm3,mean,sd,min,max,
// median, then one line per row, each ended by a line feed. Numbers carry 10
// significant digits; a figure that is not a number is an empty field. A name
// is quoted (its quotes doubled) only where it holds a comma, a quote or a
// line break.
QByteArray statisticsCsv(const std::vector<RegionStatistics> &rows);

// Writes statisticsCsv(rows) to the file, atomically: a failed write leaves
// what was there. False with a reason that names the file.
bool writeStatisticsCsv(const QString &fileName, const std::vector<RegionStatistics> &rows,
                        QString *reason);
