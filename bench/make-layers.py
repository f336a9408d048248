#!/usr/bin/env python3
"""make-layers.py KELVARA BASE OUT_LABELS OUT_MAP [LABELS]

Writes two layers for BASE (any file Kelvara reads), placed over its world
box as the atlases users load lie over their scans: a label map on a 2 mm
grid stored right-to-left (LABELS regions, default 50: the base's voxels
above a threshold, cut into slabs and quadrants) and a signed statistical
map on a 3 mm grid (two blobs, one positive, one negative), both NIfTI.
The base's geometry comes from `KELVARA --info --json`; needs numpy and
nibabel.
"""
import json
import subprocess
import sys

import nibabel
import numpy


def main():
    if len(sys.argv) not in (5, 6):
        sys.exit(__doc__)
    kelvara, base, labels_path, map_path = sys.argv[1:5]
    count = int(sys.argv[5]) if len(sys.argv) == 6 else 50
    info = json.loads(subprocess.run([kelvara, "--info", "--json", base], check=True,
                                     capture_output=True, text=True).stdout.splitlines()[0])
    affine = numpy.array(info["affine"])
    size = numpy.array(info["dimensions"])
    corners = numpy.array([[i, j, k, 1] for i in (0, size[0] - 1) for j in (0, size[1] - 1)
                           for k in (0, size[2] - 1)]).T
    world = (affine @ corners)[:3]
    low, high = world.min(axis=1), world.max(axis=1)
    centre, half = (low + high) / 2, (high - low) / 2

    def grid(spacing, flip_x):
        shape = numpy.ceil((high - low) / spacing).astype(int) + 1
        grid_affine = numpy.diag([spacing, spacing, spacing, 1.0])
        grid_affine[:3, 3] = low
        if flip_x:
            grid_affine[0, 0] = -spacing
            grid_affine[0, 3] = high[0]
        i, j, k = numpy.meshgrid(*[numpy.arange(n) for n in shape], indexing="ij")
        points = grid_affine @ numpy.stack([i, j, k, numpy.ones_like(i)]).reshape(4, -1)
        return shape, grid_affine, [(points[a].reshape(shape) - centre[a]) / half[a]
                                    for a in range(3)]

    shape, label_affine, (x, y, z) = grid(2.0, True)
    # Inside the head, as a brain atlas lies inside its scan.
    inside = (x / 0.55) ** 2 + (y / 0.7) ** 2 + (z / 0.6) ** 2 < 1.0
    slabs = max(1, count // 4)
    slab = numpy.clip(((z + 1) / 2 * slabs).astype(int), 0, slabs - 1)
    quadrant = (x > 0).astype(int) + 2 * (y > 0).astype(int)
    labels = numpy.where(inside, 1 + (slab * 4 + quadrant) % count, 0).astype(numpy.uint16)
    nibabel.save(nibabel.Nifti1Image(labels, label_affine), labels_path)

    shape, map_affine, (x, y, z) = grid(3.0, False)
    blob = lambda cx, cy, cz: numpy.exp(-((x - cx) ** 2 + (y - cy) ** 2 + (z - cz) ** 2) / 0.04)
    values = 8.0 * blob(0.3, 0.2, 0.1) - 6.0 * blob(-0.35, -0.1, -0.2)
    # Thresholded, as a map of significant voxels is: zero elsewhere.
    values[numpy.abs(values) < 0.5] = 0.0
    nibabel.save(nibabel.Nifti1Image(values.astype(numpy.float32), map_affine), map_path)


if __name__ == "__main__":
    main()
