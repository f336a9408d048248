#pragma once

#include <QPointF>
#include <QSize>
#include <QSizeF>
#include <QString>

#include <array>

struct Volume;

// A voxel's index along X, Y and Z.
using VoxelIndex = std::array<int, 3>;

// The three orthogonal planes of a reader's views.
enum class SlicePlane
{
    Axial,   // perpendicular to Z (inferior-superior in a scan)
    Coronal, // perpendicular to Y (anterior-posterior)
    Sagittal // perpendicular to X (right-left)
};

// The texts at the four edges of a slice image, each naming the direction
// that points to that edge.
struct EdgeLabels
{
    QString left;
    QString right;
    QString top;
    QString bottom;
};

// How one plane of a volume's grid lies on the screen. Image pixel (i, j),
// column i from the left and row j from the top, shows one voxel of the
// slice; image positions are in pixels of that image, pixel (i, j) covering
// [i, i + 1) x [j, j + 1).
//
// A scan (held in LPS, see volume/orientation.h) is shown in the radiological
// convention: axial with the patient's right on the left and anterior up,
// coronal with right on the left and superior up, sagittal with anterior on
// the left and superior up. A DAT file, which has no patient frame, shows the
// same planes in index order: the column's index grows to the right and the
// row's downwards.
class SliceGeometry
{
public:
    SliceGeometry() = default;
    SliceGeometry(SlicePlane plane, const std::array<int, 3> &dimensions,
                  const std::array<double, 3> &spacing, bool patientFrame);
    // The plane of the slice side's grid (SliceGrid): full resolution for a
    // volume read through a store.
    static SliceGeometry of(const Volume &volume, SlicePlane plane);

    SlicePlane plane() const { return slicePlane; }
    int normalAxis() const { return axes[2]; }
    int columnAxis() const { return axes[0]; }
    int rowAxis() const { return axes[1]; }
    bool columnsReversed() const { return reversed[0]; }
    bool rowsReversed() const { return reversed[1]; }

    int columns() const { return dimensions[std::size_t(axes[0])]; }
    int rows() const { return dimensions[std::size_t(axes[1])]; }
    int sliceCount() const { return dimensions[std::size_t(axes[2])]; }

    // The voxel spacing in mm along the image's columns, rows and the normal.
    double columnSpacing() const { return spacing[std::size_t(axes[0])]; }
    double rowSpacing() const { return spacing[std::size_t(axes[1])]; }
    double sliceSpacing() const { return spacing[std::size_t(axes[2])]; }

    // The slice's extent in mm: columns x column spacing by rows x row spacing.
    QSizeF physicalSize() const;
    // The slice's size in pixels of the finest spacing of the whole volume
    // (at least one pixel each way).
    QSize finestPixelSize() const;

    // The voxel at an image position on the given slice, clamped into the
    // grid.
    VoxelIndex voxelAt(const QPointF &imagePosition, int slice) const;
    // The centre of the voxel's pixel in image positions (its slice is not
    // looked at).
    QPointF imagePositionOf(const VoxelIndex &voxel) const;
    // The voxel index along the columns' axis for image column i, and along
    // the rows' axis for image row j.
    int voxelOfColumn(int i) const { return reversed[0] ? columns() - 1 - i : i; }
    int voxelOfRow(int j) const { return reversed[1] ? rows() - 1 - j : j; }

    // Patient letters (R/L, A/P, S/I) for a scan; "+X", "-X" and so on, the
    // sign giving where the index grows, for a DAT file.
    EdgeLabels edgeLabels() const;

private:
    SlicePlane slicePlane = SlicePlane::Axial;
    std::array<int, 3> dimensions{{1, 1, 1}};
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}};
    bool patient = false;
    std::array<int, 3> axes{{0, 1, 2}}; // column, row, normal
    std::array<bool, 2> reversed{{false, false}};
};

// Where slice `slice` along axis 0..2 lies, for a slice view's corner: a
// scan's world coordinate along that patient axis in RAS, named by the
// letter it grows towards ("S 19.0 mm"), taken at the cursor's place in the
// slice (an oblique slice is not level); a DAT file's distance from slice 0
// ("5.0 mm").
QString slicePositionText(const Volume &volume, int axis, const VoxelIndex &cursor, int slice);

// The voxel in the middle of the slice side's grid (index (n - 1) / 2 along
// each axis).
VoxelIndex centreVoxel(const Volume &volume);

// The line a status bar shows for a voxel of the slice side's grid: the file's
// own index of it, its world position in mm (RAS in a scan, as other tools
// give it) and its value in the file's units (from the store where there is
// one: "nan" for a sample that is not finite, which a loaded volume holds as
// its minimum). Empty outside the grid.
QString voxelReadout(const Volume &volume, const VoxelIndex &voxel);
