#!/usr/bin/python3
"""Our reader of VTK's XML image data (.vti), checked from outside the program.

Usage: check_vti.py KELVARA_BINARY WORK_DIR

Writes small images with VTK's own vtkXMLImageDataWriter into WORK_DIR, in
every way it stores an array (ascii, inline base64, appended raw and base64,
each with zlib blocks and without; 32- and 64-bit headers; both byte orders;
point and cell data), and compares what `kelvara --info --json` and
`kelvara FILE --probe X,Y,Z --json` say about them with what
vtkXMLImageDataReader makes of the same files: the index-to-world map (VTK's
own, through TransformContinuousIndexToPhysicalPoint), the data type, the
value range and the voxel (and its value) under world points. The
comparisons are check_world_geometry.py's; every voxel holds its own value,
so a wrong index order, byte order or block shows as a wrong probe value.
"""

import os
import sys

import numpy as np
import vtk
from vtkmodules.util import numpy_support

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_world_geometry as wg  # noqa: E402

SHAPE = wg.SHAPE  # voxels along x, y, z: points, or cells for cell data
results = wg.results

MODES = {  # data mode, appended data encoded
    "ascii": (vtk.vtkXMLWriter.Ascii, False),
    "binary": (vtk.vtkXMLWriter.Binary, False),
    "raw": (vtk.vtkXMLWriter.Appended, False),
    "base64": (vtk.vtkXMLWriter.Appended, True),
}


def distinct_values(dtype):
    """SHAPE values in x-fastest order, all distinct, of the dtype's range, and
    for floats negative and not integral."""
    ramp = np.arange(int(np.prod(SHAPE)))
    values = {
        "uint8": ramp,
        "int16": ramp * 13 - 1000,
        "float32": ramp * 0.37 - 31.5 + 0.01 * np.sin(ramp),
        "float64": ramp * 1e-3 - 0.1 + 1e-9 * np.cos(ramp),
    }[np.dtype(dtype).name]
    return values.astype(dtype)


def image_writer(image, path, mode, zlib):
    """VTK's XML writer of image into path, in the data mode and compression asked."""
    writer = vtk.vtkXMLImageDataWriter()
    writer.SetInputData(image)
    writer.SetFileName(path)
    writer.SetDataMode(MODES[mode][0])
    writer.SetEncodeAppendedData(MODES[mode][1])
    if zlib:
        writer.SetCompressorTypeToZLib()
    else:
        writer.SetCompressorTypeToNone()
    return writer


def write_vti(work, name, dtype, mode, zlib, start=(0, 0, 0), origin=(0, 0, 0),
              spacing=(1, 1, 1), direction=np.eye(3), cells=False, uint64=False,
              big_endian=False, block_size=None, second_array=False):
    image = vtk.vtkImageData()
    cell = 1 if cells else 0  # a cell grid has one point more along each axis
    extent = []
    for first, n in zip(start, SHAPE):
        extent += [first, first + n - 1 + cell]
    image.SetExtent(*extent)
    image.SetOrigin(*origin)
    image.SetSpacing(*spacing)
    image.SetDirectionMatrix(*np.ravel(direction))
    data = image.GetCellData() if cells else image.GetPointData()
    if second_array:  # listed first, but not the scalars: must not be shown
        other = numpy_support.numpy_to_vtk(np.zeros(int(np.prod(SHAPE)), np.float32), deep=1)
        other.SetName("zeros")
        data.AddArray(other)
    scalars = numpy_support.numpy_to_vtk(distinct_values(dtype), deep=1)
    scalars.SetName("density")
    data.SetScalars(scalars)

    path = wg.fresh(os.path.join(work, name))
    writer = image_writer(image, path, mode, zlib)
    if block_size:
        writer.SetBlockSize(block_size)
    if uint64:
        writer.SetHeaderTypeToUInt64()
    if big_endian:
        writer.SetByteOrderToBigEndian()
    results.check(writer.Write() == 1, name, "written by VTK", 1, 0)
    return expected_of_vti(path, cells)


def expected_of_vti(path, cells):
    """What VTK's reader makes of the file: the grid's index-to-world map at
    the points, or at the cells' centres, and the scalars in x-fastest order."""
    reader = vtk.vtkXMLImageDataReader()
    reader.SetFileName(path)
    reader.Update()
    image = reader.GetOutput()
    array = (image.GetCellData() if cells else image.GetPointData()).GetScalars()
    values = numpy_support.vtk_to_numpy(array)
    e = image.GetExtent()
    points = [e[1] - e[0] + 1, e[3] - e[2] + 1, e[5] - e[4] + 1]
    dims = [max(n - 1, 1) for n in points] if cells else points
    first = np.array([e[0], e[2], e[4]], float)
    if cells:
        first += [0.5 if n > 1 else 0.0 for n in points]

    def world(ijk):
        out = [0.0, 0.0, 0.0]
        image.TransformContinuousIndexToPhysicalPoint(list(first + ijk), out)
        return np.array(out)

    aff = np.eye(4)
    aff[:3, 3] = world(np.zeros(3))
    for axis in range(3):
        aff[:3, axis] = world(np.eye(3)[axis]) - aff[:3, 3]
    volume = values.reshape(dims[::-1])  # z, y, x
    return dict(path=path, format="VTK image data", datatype=values.dtype.name, dims=dims,
                affine=aff, orientation=None, range=(float(values.min()), float(values.max())),
                spacing=np.linalg.norm(aff[:3, :3], axis=0), cells=cells,
                value=lambda ijk: volume[ijk[2], ijk[1], ijk[0]])


def check_warnings(exp, got, arrays):
    where = os.path.basename(exp["path"])
    warnings = [str(w) for w in got.get("warnings") or []]
    results.check(any("cell data" in w for w in warnings) == exp["cells"], where, "warnings",
                  "the note of cell data" if exp["cells"] else "no note of cell data", warnings)
    results.check(any(f"{arrays} arrays" in w for w in warnings) == (arrays > 1), where,
                  "warnings", f"the note of {arrays} arrays" if arrays > 1 else "no such note",
                  warnings)


def check_colour_vti(binary, work, mode, zlib, dtype, components):
    """A colour array (3 or 4 components of 8 or 16 bits), voxel by voxel as
    VTK's reader reads it back."""
    name = f"colour_{mode}_{np.dtype(dtype).name}_{components}.vti"
    n = int(np.prod(SHAPE))
    full = np.iinfo(dtype).max
    values = ((np.arange(n * components).reshape(n, components) * 37 + 11) % 251
              * (full // 250)).astype(dtype)
    image = vtk.vtkImageData()
    image.SetExtent(0, SHAPE[0] - 1, 0, SHAPE[1] - 1, 0, SHAPE[2] - 1)
    colours = numpy_support.numpy_to_vtk(values, deep=1)
    colours.SetName("colours")
    image.GetPointData().SetScalars(colours)
    path = wg.fresh(os.path.join(work, name))
    results.check(image_writer(image, path, mode, zlib).Write() == 1, name, "written by VTK", 1, 0)
    reader = vtk.vtkXMLImageDataReader()
    reader.SetFileName(path)
    reader.Update()
    back = numpy_support.vtk_to_numpy(reader.GetOutput().GetPointData().GetScalars())
    voxels = [(0, 0, 0), (4, 5, 6), (2, 3, 1)]
    args = [path, "--json"]
    for ijk in voxels:
        args += ["--probe", ",".join(str(float(x)) for x in ijk)]
    rc, objects, _ = wg.run(binary, args)
    results.check(rc == 0 and len(objects) == len(voxels), name, "exit status, lines",
                  (0, len(voxels)), (rc, len(objects)))
    for ijk, got in zip(voxels, objects):
        index = ijk[0] + SHAPE[0] * (ijk[1] + SHAPE[1] * ijk[2])
        expected = [float(v) for v in back[index]]
        results.check(got.get("components") == expected, f"{name} {ijk}", "components",
                      expected, got.get("components"))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    binary, work = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(work, exist_ok=True)

    turned = np.array([[0, -1, 0], [1, 0, 0], [0, 0, 1]], float)  # x along y, y against x
    oblique = wg.rotation((1, 2, 3), 25)
    u8, i16, f32, f64 = np.uint8, np.int16, np.float32, np.float64
    cases = [  # name, dtype, mode, zlib, more, arrays in the file
        ("ascii_uint8.vti", u8, "ascii", False, dict(origin=(10, -20, 5.5)), 1),
        ("ascii_zlib_float64.vti", f64, "ascii", True, dict(spacing=(0.5, 2, 1.25)), 1),
        ("binary_float32.vti", f32, "binary", False,
         dict(spacing=(0.7, 1.1, 2.3), direction=turned), 1),
        ("binary_zlib_int16_uint64.vti", i16, "binary", True,
         dict(uint64=True, block_size=96, origin=(-3, 4, 1)), 1),
        ("raw_float64_oblique.vti", f64, "raw", False,
         dict(start=(2, -3, 10), spacing=(1.5, 1, 0.8), direction=oblique), 2),
        ("raw_zlib_uint8_cells.vti", u8, "raw", True,
         dict(cells=True, origin=(1, 2, 3), spacing=(2, 3, 4), block_size=64), 1),
        ("base64_int16_big_uint64.vti", i16, "base64", False,
         dict(big_endian=True, uint64=True, start=(-1, 0, 4)), 1),
        ("base64_zlib_float32_cells.vti", f32, "base64", True,
         dict(cells=True, direction=turned, spacing=(0.9, 1.3, 0.6), block_size=200,
              big_endian=True), 2),
        ("raw_zlib_int16_big.vti", i16, "raw", True, dict(big_endian=True, uint64=True), 1),
    ]
    expected, arrays = [], []
    for name, dtype, mode, zlib, more, count in cases:
        expected.append(write_vti(work, name, dtype, mode, zlib, second_array=count > 1, **more))
        arrays.append(count)

    rc, objects, noise = wg.run(binary, ["--info", "--json"] + [e["path"] for e in expected])
    results.check(rc == 0, "--info (all readable)", "exit status", 0, rc)
    results.check(not noise, "--info --json", "non-JSON lines on stdout", "none", noise[:3])
    if not results.check(len(objects) == len(expected), "--info (all readable)", "objects",
                         len(expected), len(objects)):
        objects = []
        for e in expected:
            objects += (wg.run(binary, ["--info", "--json", e["path"]])[1]
                        or [{"error": "no output"}])[:1]
    for e, got, count in zip(expected, objects, arrays):
        wg.check_info(e, got)
        check_warnings(e, got, count)
    for e in expected:
        wg.check_probes(binary, e)

    for mode, zlib, dtype, components in (("raw", False, np.uint8, 3), ("ascii", False, np.uint8, 4),
                                          ("binary", True, np.uint16, 3)):
        check_colour_vti(binary, work, mode, zlib, dtype, components)

    print(f"{results.passed} passed, {results.failed} failed")
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
