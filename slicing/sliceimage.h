#pragma once

#include "windowlevel.h"

#include <QImage>
#include <QSize>

class SliceGeometry;
struct Volume;

// Axis perpendicular to a slice: 0 X, 1 Y, 2 Z (the index of the window's axis
// combo box).
enum SliceAxis
{
    SliceAxisX = 0,
    SliceAxisY = 1,
    SliceAxisZ = 2
};

// The functions here show the slice side's grid (SliceGrid): Volume::data, or
// for a volume read through a store the file at full resolution, never its
// reduced data.

// Size in pixels of a slice image, one pixel per voxel: axis X gives
// depth x height, Y width x depth, Z width x height. An invalid axis gives an
// invalid QSize.
QSize sliceImageSize(const Volume &volume, int axis);

// Size at which the slice view shows a slice: one pixel per voxel where the
// slice's two directions have equal spacing, else stretched along the coarser
// one to physical proportions; then, proportions kept, scaled down to fit
// within limit. Invalid for an invalid axis or a slice without pixels (the
// view then keeps its size).
QSize sliceDisplaySize(const Volume &volume, int axis, QSize limit);

// Number of slices along the axis (width, height or depth); 0 for an invalid
// axis.
int sliceCount(const Volume &volume, int axis);

// The grey image of one slice in QImage::Format_RGB32. Pixel (i, j), row 0 at
// the top, shows voxel (slice, j, i) for axis X, (i, slice, j) for Y and
// (i, j, slice) for Z; no axis is flipped. The grey level is the low 8 bits of
// the integer part of 255 * v. An invalid axis or slice index, or a slice the
// store cannot read, gives a null image. A window (see GreyMapping) replaces the grey level; the
// default mapping is the one just described.
QImage makeSliceImage(const Volume &volume, int axis, int slice,
                      const GreyMapping &mapping = GreyMapping());

// The grey image (QImage::Format_RGB32, one pixel per voxel) of one slice of a
// plane as the geometry lays it out on the screen. A slice index outside the
// grid, or data shorter than the grid, gives a null image.
QImage makePlaneImage(const Volume &volume, const SliceGeometry &geometry, int slice,
                      const GreyMapping &mapping);
