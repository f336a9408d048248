#include "slicegeometry.h"

#include "imagegrid.h"
#include "slicegrid.h"
#include "volume.h"
#include "volumegrid.h"

#include <QStringList>

#include <algorithm>
#include <cmath>

SliceGeometry::SliceGeometry(SlicePlane plane, const std::array<int, 3> &gridDimensions,
                             const std::array<double, 3> &gridSpacing, bool patientFrame)
    : slicePlane(plane), dimensions(gridDimensions), spacing(gridSpacing), patient(patientFrame)
{
    // In LPS, Y grows towards posterior, so anterior (low Y) is up in axial
    // and left in sagittal as it comes; Z grows towards superior, which must
    // be up, so rows run against Z.
    switch (plane) {
    case SlicePlane::Axial:
        axes = {{0, 1, 2}};
        reversed = {{false, false}};
        break;
    case SlicePlane::Coronal:
        axes = {{0, 2, 1}};
        reversed = {{false, patient}};
        break;
    case SlicePlane::Sagittal:
        axes = {{1, 2, 0}};
        reversed = {{false, patient}};
        break;
    }
    for (double &step : spacing)
        if (!(step > 0.0) || !std::isfinite(step))
            step = 1.0;
}

SliceGeometry SliceGeometry::of(const Volume &volume, SlicePlane plane)
{
    const SliceGrid grid = SliceGrid::of(volume);
    return SliceGeometry(plane, grid.dimensions, grid.spacing, volume.patientFrame);
}

QSizeF SliceGeometry::physicalSize() const
{
    return QSizeF(columns() * columnSpacing(), rows() * rowSpacing());
}

QSize SliceGeometry::finestPixelSize() const
{
    const double finest = *std::min_element(spacing.begin(), spacing.end());
    const QSizeF size = physicalSize() / finest;
    return QSize(std::max(1, int(std::lround(size.width()))),
                 std::max(1, int(std::lround(size.height()))));
}

VoxelIndex SliceGeometry::voxelAt(const QPointF &imagePosition, int slice) const
{
    const int i = std::clamp(int(std::floor(imagePosition.x())), 0, std::max(columns() - 1, 0));
    const int j = std::clamp(int(std::floor(imagePosition.y())), 0, std::max(rows() - 1, 0));
    VoxelIndex voxel{};
    voxel[std::size_t(axes[0])] = voxelOfColumn(i);
    voxel[std::size_t(axes[1])] = voxelOfRow(j);
    voxel[std::size_t(axes[2])] = std::clamp(slice, 0, std::max(sliceCount() - 1, 0));
    return voxel;
}

QPointF SliceGeometry::imagePositionOf(const VoxelIndex &voxel) const
{
    // Reversal is its own inverse.
    return QPointF(voxelOfColumn(voxel[std::size_t(axes[0])]) + 0.5,
                   voxelOfRow(voxel[std::size_t(axes[1])]) + 0.5);
}

EdgeLabels SliceGeometry::edgeLabels() const
{
    // The name of the direction in which an axis grows, and of the opposite.
    auto name = [this](int axis, bool growing) -> QString {
        if (patient) {
            static const char *const towards[] = {"L", "P", "S"};
            static const char *const against[] = {"R", "A", "I"};
            return growing ? towards[axis] : against[axis];
        }
        static const char *const axisNames[] = {"X", "Y", "Z"};
        return QString(growing ? "+" : "-") + axisNames[axis];
    };
    EdgeLabels labels;
    labels.right = name(axes[0], !reversed[0]);
    labels.left = name(axes[0], reversed[0]);
    labels.bottom = name(axes[1], !reversed[1]);
    labels.top = name(axes[1], reversed[1]);
    return labels;
}

VoxelIndex centreVoxel(const Volume &volume)
{
    const std::array<int, 3> size = SliceGrid::of(volume).dimensions;
    return {{(size[0] - 1) / 2, (size[1] - 1) / 2, (size[2] - 1) / 2}};
}

QString slicePositionText(const Volume &volume, int axis, const VoxelIndex &cursor, int slice)
{
    const std::size_t normal = std::size_t(std::clamp(axis, 0, 2));
    std::array<double, 3> voxel{{double(cursor[0]), double(cursor[1]), double(cursor[2])}};
    voxel[normal] = slice;
    const ImageGrid grid = fullResolutionGrid(volume);
    if (!volume.patientFrame)
        return QString("%1 mm").arg((grid.worldOf(voxel)[normal] - grid.origin[normal]) + 0.0, 0,
                                    'f', 1);
    const double ras = swapLpsRas(grid.worldOf(voxel))[normal];
    return QString("%1 %2 mm")
        .arg(QChar("RAS"[normal]))
        .arg(std::round(ras * 10.0) / 10.0 + 0.0, 0, 'f', 1);
}

QString voxelReadout(const Volume &volume, const VoxelIndex &voxel)
{
    const SliceGrid grid = SliceGrid::of(volume);
    for (std::size_t axis = 0; axis < 3; ++axis)
        if (voxel[axis] < 0 || voxel[axis] >= grid.dimensions[axis])
            return QString();
    const double value = fileValueAt(volume, voxel);
    if (std::isnan(value) && !volume.fullResolution)
        return QString();
    // A scan is named as other tools name it: the file's own index and the
    // position in RAS.
    const std::array<int, 3> index = fileIndexOf(volume, voxel);
    std::array<double, 3> mm = fullResolutionGrid(volume).worldOf(
        {{double(voxel[0]), double(voxel[1]), double(voxel[2])}});
    if (volume.patientFrame)
        mm = swapLpsRas(mm);
    for (double &coordinate : mm)
        coordinate = std::round(coordinate * 10.0) / 10.0 + 0.0; // never "-0.0"
    QString text = QString("Voxel (%1, %2, %3)  %4 (%5, %6, %7) mm  Value %8")
                       .arg(index[0])
                       .arg(index[1])
                       .arg(index[2])
                       .arg(volume.patientFrame ? "RAS" : "XYZ")
                       .arg(mm[0], 0, 'f', 1)
                       .arg(mm[1], 0, 'f', 1)
                       .arg(mm[2], 0, 'f', 1)
                       .arg(value, 0, 'g', 6);
    // A colour volume's value is its luminance; its components follow.
    const std::vector<double> colours = coloursAt(volume, voxel);
    if (!colours.empty()) {
        QStringList components;
        for (double component : colours)
            components << QString::number(component, 'g', 6);
        text += QString("  %1 (%2)")
                    .arg(colours.size() == 4 ? "RGBA" : "RGB")
                    .arg(components.join(", "));
    }
    return text;
}
