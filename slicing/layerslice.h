#pragma once

#include "layerappearance.h"

#include <QImage>

#include <vector>

class SliceGeometry;
struct Volume;

// Blends the visible layers, the first one lowest, over an image that
// makePlaneImage() made of base's slice: every pixel takes each layer's value
// at the world position of its base voxel (label maps nearest, images
// linearly), coloured by the layer's appearance. Outlined label maps draw
// only the pixels whose label differs from a neighbour's.
void blendLayers(QImage &image, const Volume &base, const SliceGeometry &geometry, int slice,
                 const std::vector<ShownLayer> &layers);

// What the layers hold at a voxel of base's grid, for the readout: each
// layer's name and its nearest voxel's value, a label map's with the label's
// name ("aseg.mgz: 17 Left-Hippocampus"); empty without layers.
QString layerReadout(const Volume &base, const std::array<int, 3> &voxel,
                     const std::vector<ShownLayer> &layers);
