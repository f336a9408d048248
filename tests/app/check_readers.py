#!/usr/bin/python3
"""Our MGH and MRC readers, and the MINC, TIFF and legacy VTK files read
through ITK, checked from outside the program.

Usage: check_readers.py KELVARA_BINARY WORK_DIR

Writes small volumes with the formats' own libraries into WORK_DIR, MGH and
MGZ (also of several frames) and 4D NIfTI through nibabel, MRC through mrcfile, and compares what
`kelvara --info --json` and `kelvara FILE --probe X,Y,Z --json` say about them
with what those libraries make of the same files: nibabel's affine for MGH,
mrcfile's voxel size, origin (or start indices) and axis order for MRC,
nibabel's for MINC (written by hand, MINC 1 as netCDF and MINC 2 as HDF5
through h5py: nibabel reads MINC but does not write it), tifffile's resolution tags for TIFF and VTK's own reader for legacy
VTK files, DICOM over time (a series, an enhanced multi-frame file and a
cine) as pydicom reads it, colour volumes (RGB and RGBA TIFF through tifffile, RGB24 NIfTI
through nibabel) component by component, the
data type, the value range and the voxel (and its value) under world points.
The comparisons are check_world_geometry.py's; every voxel holds its own
value, so a wrong index order or byte order shows as a wrong probe value.
"""

import os
import sys

import h5py
import mrcfile
import nibabel as nib
import numpy as np
import tifffile
import vtk
from nibabel.externals.netcdf import netcdf_file
import pydicom
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.pixel_data_handlers.util import convert_color_space
from pydicom.uid import ExplicitVRLittleEndian, RLELossless, generate_uid
from vtk.util import numpy_support

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import check_world_geometry as wg  # noqa: E402

SHAPE = wg.SHAPE  # 5 x 6 x 7: odd and even sizes, so the centre voxel is exact
results = wg.results


def distinct_values(dtype):
    """SHAPE values in x-fastest order, all distinct and of the dtype's range."""
    n = int(np.prod(SHAPE))
    ramp = np.arange(n)
    values = {
        "uint8": ramp,
        "int8": ramp - 105,
        "int16": ramp * 13 - 1000,
        "uint16": ramp * 300 + 7,
        "int32": ramp * 100003 - 5000000,
        "float16": ramp * 0.25 - 20.5,
        "float32": ramp * 0.37 - 31.5 + 0.01 * np.sin(ramp),
    }[np.dtype(dtype).name]
    return values.astype(dtype)


# ---------------------------------------------------------------- MGH


def write_mgh(work, name, dtype, affine, frames=1):
    data = distinct_values(dtype).reshape(SHAPE, order="F")
    if frames > 1:  # later frames differ, so a wrong frame shows in the probes
        data = np.stack([data + 3 * f for f in range(frames)], axis=3).astype(dtype)
    path = wg.fresh(os.path.join(work, name))
    nib.save(nib.MGHImage(data, affine), path)
    return expected_series(path, "MGH", nib.load(path))


def write_nifti_series(work, name, dtype, affine, frames, step, unit):
    data = distinct_values(dtype).reshape(SHAPE, order="F")
    data = np.stack([data + 3 * f for f in range(frames)], axis=3).astype(dtype)
    path = wg.fresh(os.path.join(work, name))
    image = nib.Nifti1Image(data, affine)
    image.header.set_xyzt_units("mm", unit)
    image.header["pixdim"][4] = step
    nib.save(image, path)
    exp = expected_series(path, "NIfTI", nib.load(path))
    exp["time_step"], exp["time_unit"] = step, {"sec": "s", "msec": "ms"}[unit]
    return exp


def expected_series(path, fmt, back):
    """What nibabel reads: the first volume, and each volume for --frame."""
    data = np.asanyarray(back.dataobj)
    volumes = [data[..., f] for f in range(data.shape[3])] if data.ndim == 4 else [data]
    exp = wg.expected_from_affine(path, fmt, volumes[0], back.affine)
    exp["range"] = (data.min(), data.max())  # one range for the whole series
    exp["frames"] = len(volumes)
    exp["frame_values"] = [lambda ijk, v=v: v[tuple(ijk)] for v in volumes]
    return exp


# ---------------------------------------------------------------- MRC


def write_mrc(work, name, dtype, voxel_size, origin=None, start=None, axis_order=None,
              extended_bytes=0, big_endian=False):
    data = distinct_values(dtype).reshape(SHAPE[::-1])  # sections, rows, columns
    if big_endian:
        data = data.astype(data.dtype.newbyteorder(">"))
    path = wg.fresh(os.path.join(work, name))
    with mrcfile.new(path) as mrc:
        mrc.set_data(data)
        mrc.voxel_size = voxel_size
        if extended_bytes:
            mrc.set_extended_header(np.arange(extended_bytes, dtype=np.uint8))
        if origin is not None:
            mrc.header.origin = origin
        if start is not None:
            mrc.header.nxstart, mrc.header.nystart, mrc.header.nzstart = start
        if axis_order is not None:
            mrc.header.mapc, mrc.header.mapr, mrc.header.maps = axis_order
    return expected_of_mrc(path)


def expected_of_mrc(path):
    """The map's voxel-to-xyz affine as mrcfile's header gives it: column a
    (columns, rows, sections) runs along the map's axis mapc, mapr, maps by
    that axis' voxel size; voxel 0 lies at the origin field, or where it is
    zero, at the start indices times the voxel sizes."""
    with mrcfile.open(path) as mrc:
        h = mrc.header
        size = np.array([mrc.voxel_size.x, mrc.voxel_size.y, mrc.voxel_size.z], float)
        order = [int(h.mapc) - 1, int(h.mapr) - 1, int(h.maps) - 1]
        origin = np.array([h.origin.x, h.origin.y, h.origin.z], float)
        start = [int(h.nxstart), int(h.nystart), int(h.nzstart)]
        data = np.array(mrc.data)
        big = mrc.header.mode.dtype.byteorder == ">"
    aff = np.eye(4)
    aff[:3, :3] = 0
    for column, axis in enumerate(order):
        aff[axis, column] = size[axis]
        if not origin.any():
            aff[axis, 3] = start[column] * size[axis]
    if origin.any():
        aff[:3, 3] = origin
    return dict(path=path, format="MRC", datatype=data.dtype.name, dims=list(data.shape[::-1]),
                affine=aff, orientation=None, range=(float(data.min()), float(data.max())),
                spacing=np.linalg.norm(aff[:3, :3], axis=0), big_endian=big,
                value=lambda ijk: data[ijk[2], ijk[1], ijk[0]])


# ------------------------------------------------- MINC, TIFF, legacy VTK


def write_minc1(work, name, cosines, steps, starts):
    """A MINC 1 file as MINC's tools write it: netCDF with x, y, z space
    variables (step, start, direction cosines) and an int16 image scaled
    through image-min and image-max."""
    data = distinct_values(np.int16).reshape(SHAPE, order="F")
    path = wg.fresh(os.path.join(work, name))
    f = netcdf_file(path, "w")
    axes = ("xspace", "yspace", "zspace")
    for axis in reversed(axes):
        f.createDimension(axis, SHAPE[axes.index(axis)])
    for axis, cosine, step, start in zip(axes, cosines, steps, starts):
        v = f.createVariable(axis, "d", ())
        v.step, v.start, v.direction_cosines = step, start, list(cosine)
        v.spacing, v.alignment, v.units = b"regular__", b"centre", b"mm"
    image = f.createVariable("image", "h", tuple(reversed(axes)))
    image[:] = data.transpose(2, 1, 0)
    image.signtype, image.valid_range = b"signed__", np.array([-32768.0, 32767.0])
    for extreme, value in (("image-max", 32767.0), ("image-min", -32768.0)):
        f.createVariable(extreme, "d", ("zspace",))[:] = value
    f.close()
    exp = expected_of_minc(path, steps)
    exp["datatype"] = "float32"  # ITK gives MINC 1's scaled values as floats
    return exp


def write_minc2(work, name, cosines, steps, starts):
    """A MINC 2 file as libminc lays it out in HDF5: /minc-2.0 with the
    dimensions (step, start, direction cosines as attributes) and image 0,
    int16 samples whose image-max and image-min are the type's range."""
    data = distinct_values(np.int16).reshape(SHAPE, order="F")
    path = wg.fresh(os.path.join(work, name))
    standard = {"varid": np.bytes_("MINC standard variable"),
                "version": np.bytes_("MINC Version    1.0")}
    with h5py.File(path, "w") as f:
        root = f.create_group("minc-2.0")
        root.attrs["ident"], root.attrs["minc_version"] = np.bytes_("kelvara"), np.bytes_("2.0")
        dimensions = root.create_group("dimensions")
        for axis, cosine, step, start, length in zip(("xspace", "yspace", "zspace"), cosines,
                                                     steps, starts, SHAPE):
            d = dimensions.create_dataset(axis, data=np.int32(0))
            d.attrs.update(standard, start=np.float64(start), step=np.float64(step),
                           direction_cosines=np.asarray(cosine, dtype=np.float64),
                           length=np.int32(length), spacing=np.bytes_("regular__"),
                           alignment=np.bytes_("centre"), units=np.bytes_("mm"),
                           vartype=np.bytes_("dimension____"))
        group = root.create_group("image").create_group("0")
        image = group.create_dataset("image", data=data.transpose(2, 1, 0))
        image.attrs.update(standard, dimorder=np.bytes_("zspace,yspace,xspace"),
                           signtype=np.bytes_("signed__"), complete=np.bytes_("true_"),
                           valid_range=np.array([-32768.0, 32767.0]),
                           vartype=np.bytes_("group________"))
        for extreme, value in (("image-max", 32767.0), ("image-min", -32768.0)):
            group.create_dataset(extreme, data=np.float64(value)).attrs.update(
                standard, vartype=np.bytes_("var_attribute"))
        root.create_group("info")
    exp = expected_of_minc(path, steps)
    exp["datatype"] = "int16"
    return exp


def expected_of_minc(path, steps):
    """What nibabel makes of a MINC file, in the file's index order."""
    back = nib.load(path)
    # nibabel's axes run as stored, zspace first; the file's index runs x first.
    data, aff = back.get_fdata().transpose(2, 1, 0), back.affine[:, [2, 1, 0, 3]]
    # ITK turns an axis of negative step round (libminc's own habit): the
    # index is then that of the turned grid, the world the same.
    for axis, step in enumerate(steps):
        if step < 0:
            aff[:3, 3] += (SHAPE[axis] - 1) * aff[:3, axis]
            aff[:3, axis] = -aff[:3, axis]
            data = np.flip(data, axis)
    return wg.expected_from_affine(path, "MINC", data, aff)


def write_tiff(work, name, dtype, resolution, unit):
    """A multi-page TIFF, one page per slice; spacing from the resolution tags."""
    data = distinct_values(dtype).reshape(SHAPE, order="F")
    path = wg.fresh(os.path.join(work, name))
    tifffile.imwrite(path, data.transpose(2, 1, 0), resolution=resolution, resolutionunit=unit)
    with tifffile.TiffFile(path) as tif:
        page = tif.pages[0]
        mm = {2: 25.4, 3: 10.0}[int(page.tags["ResolutionUnit"].value)]
        steps = [mm * den / num for num, den in (page.tags["XResolution"].value,
                                                  page.tags["YResolution"].value)]
        back = tif.asarray().transpose(2, 1, 0)
    exp = wg.expected_from_affine(path, "TIFF", back, np.diag(steps + [1.0, 1.0]))
    exp["orientation"] = None
    return exp


def write_vtk_legacy(work, name, dtype, spacing, origin):
    data = distinct_values(dtype).reshape(SHAPE, order="F")
    grid = vtk.vtkImageData()
    grid.SetDimensions(*SHAPE)
    grid.SetSpacing(*spacing)
    grid.SetOrigin(*origin)
    grid.GetPointData().SetScalars(numpy_support.numpy_to_vtk(data.ravel(order="F"), deep=True))
    path = wg.fresh(os.path.join(work, name))
    writer = vtk.vtkStructuredPointsWriter()
    writer.SetFileName(path)
    writer.SetInputData(grid)
    writer.SetFileTypeToBinary()
    writer.Write()
    reader = vtk.vtkStructuredPointsReader()
    reader.SetFileName(path)
    reader.Update()
    read = reader.GetOutput()
    values = numpy_support.vtk_to_numpy(read.GetPointData().GetScalars())
    back = values.reshape(read.GetDimensions(), order="F")
    aff = np.diag(list(read.GetSpacing()) + [1.0])
    aff[:3, 3] = read.GetOrigin()
    exp = wg.expected_from_affine(path, "legacy VTK", back, aff)
    exp["orientation"] = None
    return exp


def write_tiff_folder(work, name):
    """Numbered 2D TIFF slices, named without leading zeros: slice_10 must
    follow slice_9, not slice_1."""
    data = distinct_values(np.uint16).reshape(SHAPE, order="F")
    folder = wg.fresh(os.path.join(work, name))
    os.makedirs(folder)
    for k in range(SHAPE[2]):
        tifffile.imwrite(os.path.join(folder, f"slice_{k + 5}.tif"), data[:, :, k].T,
                         resolution=(4.0, 2.0), resolutionunit="CENTIMETER")
    slices = [tifffile.imread(os.path.join(folder, f"slice_{k + 5}.tif"))
              for k in range(SHAPE[2])]
    back = np.stack(slices, axis=2).transpose(1, 0, 2)
    exp = wg.expected_from_affine(folder, "image stack", back, np.diag([2.5, 5.0, 1.0, 1.0]))
    exp["orientation"] = None
    return exp


def write_png_pattern(work, name):
    """16-bit PNG slices named by a printf pattern from 0 on, as VTK writes them."""
    data = distinct_values(np.uint16).reshape(SHAPE, order="F")
    folder = wg.fresh(os.path.join(work, name))
    os.makedirs(folder)
    pattern = os.path.join(folder, "img_%03d.png")
    reader = vtk.vtkPNGReader()
    slices = []
    for k in range(SHAPE[2]):
        grid = vtk.vtkImageData()
        grid.SetDimensions(SHAPE[0], SHAPE[1], 1)
        grid.GetPointData().SetScalars(
            numpy_support.numpy_to_vtk(data[:, :, k].ravel(order="F"), deep=True))
        writer = vtk.vtkPNGWriter()
        writer.SetFileName(pattern % k)
        writer.SetInputData(grid)
        writer.Write()
        reader.SetFileName(pattern % k)
        reader.Update()
        values = numpy_support.vtk_to_numpy(reader.GetOutput().GetPointData().GetScalars())
        slices.append(values.reshape(SHAPE[:2], order="F"))
    # VTK's rows run upwards, the file's downwards: the file's own order.
    back = np.flip(np.stack(slices, axis=2), axis=1)
    exp = wg.expected_from_affine(pattern, "image stack", back, np.eye(4))
    exp["orientation"] = None
    return exp


# ---------------------------------------------------------------- DICOM over time


def dicom_slice(path, sop_class, study, series):
    """An explicit little-endian data set of the study and series, to be filled."""
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = sop_class
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = ExplicitVRLittleEndian
    ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.is_little_endian, ds.is_implicit_VR = True, False
    ds.SOPClassUID, ds.SOPInstanceUID = sop_class, meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID, ds.SeriesInstanceUID = study, series
    return ds


def write_dicom_over_time(work, name, volumes):
    """An axial series of SHAPE[2] slices at each of `volumes` temporal
    positions, shuffled file names; pydicom reads it back."""
    folder = wg.fresh(os.path.join(work, name))
    os.makedirs(folder)
    columns, rows, slices = SHAPE
    base = distinct_values(np.int16).reshape(SHAPE, order="F")
    series, study = generate_uid(), generate_uid()
    names = np.random.default_rng(7).permutation(slices * volumes)
    for t in range(volumes):
        for k in range(slices):
            path = os.path.join(folder, f"im{names[t * slices + k]:03d}.dcm")
            ds = dicom_slice(path, wg.CT_IMAGE_STORAGE, study, series)
            ds.Modality, ds.InstanceNumber, ds.TemporalPositionIdentifier = "MR", 1 + t * 100 + k, t + 1
            ds.TriggerTime = f"{40.0 * t + 0.5 * k:.1f}"  # ms
            ds.ImagePositionPatient = [-10.0, 20.0, 30.0 + 2.5 * k]
            ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
            ds.PixelSpacing = [0.8, 0.9]
            ds.Rows, ds.Columns = rows, columns
            ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
            ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
            ds.PixelData = np.ascontiguousarray((base[:, :, k] + 50 * t).T).astype("<i2").tobytes()
            ds.save_as(path, write_like_original=False)
    read = [pydicom.dcmread(os.path.join(folder, n)) for n in sorted(os.listdir(folder))]
    volumes_read = []
    for t in range(volumes):
        stack = sorted((d for d in read if int(d.TemporalPositionIdentifier) == t + 1),
                       key=lambda d: float(d.ImagePositionPatient[2]))
        volumes_read.append(np.stack([d.pixel_array.T for d in stack], axis=2))  # [c, r, k]
    aff = np.diag([0.9, 0.8, 2.5, 1.0])
    aff[:3, 3] = [-10.0, 20.0, 30.0]
    return expected_over_time(folder, volumes_read, aff)


def expected_over_time(path, volumes_read, aff):
    """A DICOM series over time of these volumes ([c, r, k] each), placed by
    the LPS affine aff, 40 ms apart."""
    exp = wg.expected_from_affine(path, "DICOM series", volumes_read[0], wg.LPS_TO_RAS @ aff)
    every = np.stack(volumes_read, axis=3)
    exp["range"] = (every.min(), every.max())
    exp["datatype"] = None
    exp["frames"] = len(volumes_read)
    exp["frame_values"] = [lambda ijk, v=v: v[tuple(ijk)] for v in volumes_read]
    exp["time_step"], exp["time_unit"] = 40.0, "ms"
    return exp


def write_enhanced_over_time(work, name, volumes):
    """One Enhanced MR file of SHAPE[2] slices at each of `volumes` temporal
    positions, its frames shuffled; the per-frame functional groups place
    each, and pydicom's pixel array, put in their order, is the expected."""
    path = wg.fresh(os.path.join(work, name))
    columns, rows, slices = SHAPE
    base = distinct_values(np.int16).reshape(SHAPE, order="F")
    ds = dicom_slice(path, "1.2.840.10008.5.1.4.1.1.4.1", generate_uid(), generate_uid())
    ds.Modality, ds.Rows, ds.Columns = "MR", rows, columns
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
    shared = Dataset()
    measures, plane = Dataset(), Dataset()
    measures.PixelSpacing, measures.SliceThickness = [0.8, 0.9], 2.5
    plane.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
    shared.PixelMeasuresSequence, shared.PlaneOrientationSequence = [measures], [plane]
    ds.SharedFunctionalGroupsSequence = [shared]
    order = np.random.default_rng(11).permutation(slices * volumes)
    frames, pixels = [], []
    for f in order:
        t, k = divmod(int(f), slices)
        item, content, position, cardiac = Dataset(), Dataset(), Dataset(), Dataset()
        content.TemporalPositionIndex, content.DimensionIndexValues = t + 1, [t + 1, k + 1]
        position.ImagePositionPatient = [-10.0, 20.0, 30.0 - 2.5 * k]
        cardiac.NominalCardiacTriggerDelayTime = 40.0 * t
        item.FrameContentSequence, item.PlanePositionSequence = [content], [position]
        item.CardiacSynchronizationSequence = [cardiac]
        frames.append(item)
        pixels.append(np.ascontiguousarray((base[:, :, k] * 3 + 50 * t).T).astype("<i2"))
    ds.PerFrameFunctionalGroupsSequence = frames
    ds.NumberOfFrames = len(frames)
    ds.PixelData = np.stack(pixels).tobytes()
    ds.save_as(path, write_like_original=False)
    back = pydicom.dcmread(path)
    array = back.pixel_array
    volumes_read = []
    for t in range(volumes):
        mine = [i for i, g in enumerate(back.PerFrameFunctionalGroupsSequence)
                if int(g.FrameContentSequence[0].TemporalPositionIndex) == t + 1]
        mine.sort(key=lambda i: float(back.PerFrameFunctionalGroupsSequence[i]
                                      .PlanePositionSequence[0].ImagePositionPatient[2]))
        volumes_read.append(np.stack([array[i].T for i in mine], axis=2))  # [c, r, k]
    aff = np.diag([0.9, 0.8, 2.5, 1.0])
    aff[:3, 3] = [-10.0, 20.0, 30.0 - 2.5 * (slices - 1)]
    return expected_over_time(path, volumes_read, aff)


def check_cine(binary, work):
    """An ultrasound cine (frames one after another in time, Frame Time
    apart): a series of one-slice volumes, each pydicom's frame."""
    path = wg.fresh(os.path.join(work, "cine.dcm"))
    ds = dicom_slice(path, "1.2.840.10008.5.1.4.1.1.3.1", generate_uid(), generate_uid())
    ds.Modality, ds.Rows, ds.Columns, ds.PixelSpacing = "US", SHAPE[1], SHAPE[0], [0.5, 0.25]
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 8, 8, 7, 0
    ds.NumberOfFrames, ds.FrameIncrementPointer, ds.FrameTime = 4, 0x00181063, "33.5"
    ds.PixelData = (np.arange(4 * SHAPE[0] * SHAPE[1]) * 7 % 251).astype(np.uint8).tobytes()
    ds.save_as(path, write_like_original=False)
    frames = pydicom.dcmread(path).pixel_array  # [frame, row, column]
    rc, objects, _ = wg.run(binary, ["--info", "--json", path])
    got = objects[0] if objects else {}
    expected = (4, [SHAPE[0], SHAPE[1], 1], 33.5, "ms")
    results.check(rc == 0 and (got.get("volumes"), got.get("dimensions"), got.get("time_step"),
                               got.get("time_unit")) == expected, "cine.dcm",
                  "volumes, dimensions, time step", expected,
                  tuple(got.get(k) for k in ("volumes", "dimensions", "time_step", "time_unit")))
    for frame in range(4):
        voxels = [(0, 0), (4, 5), (3, 1)]
        args = [path, "--json", "--frame", str(frame)]
        for i, j in voxels:  # LPS (0.25 i, 0.5 j, 0) as RAS
            args += ["--probe", f"{-0.25 * i},{-0.5 * j},0"]
        rc, objects, _ = wg.run(binary, args)
        got = [(o.get("voxel"), o.get("value")) for o in objects]
        want = [([i, j, 0], int(frames[frame, j, i])) for i, j in voxels]
        results.check(rc == 0 and got == want, f"cine.dcm --frame {frame}", "voxels, values",
                      want, got)


def check_signed_made_unsigned(binary, work):
    """Signed samples with an intercept of 32768, a common way to store
    unsigned values: ITK asserted on GDCM's narrower type for them."""
    path = wg.fresh(os.path.join(work, "signed_plus_32768.dcm"))
    ds = dicom_slice(path, wg.CT_IMAGE_STORAGE, generate_uid(), generate_uid())
    ds.Modality, ds.Rows, ds.Columns, ds.PixelSpacing = "CT", SHAPE[1], SHAPE[0], [1.0, 1.0]
    ds.ImagePositionPatient, ds.ImageOrientationPatient = [0, 0, 0], [1, 0, 0, 0, 1, 0]
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
    ds.RescaleIntercept, ds.RescaleSlope = "32768", "1"
    ds.PixelData = (np.arange(SHAPE[0] * SHAPE[1]) * 1500 - 32768).astype("<i2").tobytes()
    ds.save_as(path, write_like_original=False)
    read = pydicom.dcmread(path)
    values = pydicom.pixel_data_handlers.util.apply_modality_lut(read.pixel_array, read)
    voxels = [(0, 0), (4, 5), (2, 3)]
    args = [path, "--json"]
    for i, j in voxels:
        args += ["--probe", f"{-float(i)},{-float(j)},0"]
    rc, objects, _ = wg.run(binary, args)
    got = [o.get("value") for o in objects]
    want = [float(values[j, i]) for i, j in voxels]
    results.check(rc == 0 and got == want, "signed_plus_32768.dcm", "values", want, got)


# ---------------------------------------------------------------- colour


def colour_voxels(dtype, components):
    """data[x, y, z, c]: components distinct from voxel to voxel."""
    n = int(np.prod(SHAPE))
    full = np.iinfo(dtype).max
    ramp = (np.arange(n * components).reshape(n, components) * 37 + 11) % 251
    values = (ramp * (full // 250)).astype(dtype)
    return values.reshape(SHAPE[::-1] + (components,)).transpose(2, 1, 0, 3)


def write_colour_tiff(work, name, dtype, components):
    data = colour_voxels(dtype, components)
    path = wg.fresh(os.path.join(work, name))
    tifffile.imwrite(path, data.transpose(2, 1, 0, 3), photometric="rgb",
                     extrasamples=[2] if components == 4 else None)
    back = tifffile.imread(path).transpose(2, 1, 0, 3)
    return dict(path=path, affine=np.eye(4), colours=back, world="XYZ")


def write_colour_nifti(work, name, affine, frames=1):
    """RGB24 NIfTI; of several frames, each with colours of its own."""
    rgb = colour_voxels(np.uint8, 3)
    data = np.zeros(SHAPE + (frames,), dtype=[("R", "u1"), ("G", "u1"), ("B", "u1")])
    for c, key in enumerate("RGB"):
        for t in range(frames):
            data[key][..., t] = (rgb[..., (c + t) % 3].astype(int) + 17 * t) % 256
    path = wg.fresh(os.path.join(work, name))
    nib.save(nib.Nifti1Image(data if frames > 1 else data[..., 0], affine), path)
    back = np.asanyarray(nib.load(path).dataobj)
    colours = np.stack([back[key] for key in "RGB"], axis=-1)
    every = [colours[..., t, :] for t in range(frames)] if frames > 1 else [colours]
    return dict(path=path, affine=nib.load(path).affine, colours=every[0], frame_colours=every,
                world="RAS")


def write_colour_dicom(work, name, photometric="RGB", syntax=ExplicitVRLittleEndian, volumes=1):
    """An axial series of SHAPE[2] colour slices (RGB, or YBR_FULL that the
    reader turns into RGB as pydicom's convert_color_space does); of several
    volumes over time, each with colours of its own."""
    folder = wg.fresh(os.path.join(work, name))
    os.makedirs(folder)
    columns, rows, slices = SHAPE
    series, study = generate_uid(), generate_uid()
    for t, k in ((t, k) for t in range(volumes) for k in range(slices)):
        data = (colour_voxels(np.uint8, 3).astype(int) + 40 * t) % 256  # [c, r, k, component]
        path = os.path.join(folder, f"colour{t}-{k}.dcm")
        ds = dicom_slice(path, "1.2.840.10008.5.1.4.1.1.7", study, series)  # secondary capture
        ds.Modality = "OT"
        ds.InstanceNumber = t * slices + k + 1
        if volumes > 1:
            ds.TemporalPositionIdentifier = t + 1
        ds.ImagePositionPatient = [5.0, -3.0, 2.0 * k]
        ds.ImageOrientationPatient = [1, 0, 0, 0, 1, 0]
        ds.PixelSpacing = [1.0, 1.0]
        ds.Rows, ds.Columns = rows, columns
        ds.SamplesPerPixel, ds.PhotometricInterpretation, ds.PlanarConfiguration = 3, photometric, 0
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 8, 8, 7, 0
        pixels = np.ascontiguousarray(data[:, :, k, :].transpose(1, 0, 2).astype(np.uint8))
        if syntax == RLELossless:
            ds.compress(RLELossless, pixels)
        else:
            ds.PixelData = pixels.tobytes()
        ds.save_as(path, write_like_original=False)
    every = []
    for t in range(volumes):
        read = sorted((d for d in (pydicom.dcmread(os.path.join(folder, n))
                                   for n in os.listdir(folder))
                       if volumes == 1 or int(d.TemporalPositionIdentifier) == t + 1),
                      key=lambda d: float(d.ImagePositionPatient[2]))
        arrays = [d.pixel_array if photometric == "RGB"
                  else convert_color_space(d.pixel_array, photometric, "RGB") for d in read]
        every.append(np.stack([a.transpose(1, 0, 2) for a in arrays], axis=2))  # [c, r, k, rgb]
    aff = np.diag([1.0, 1.0, 2.0, 1.0])
    aff[:3, 3] = [5.0, -3.0, 0.0]
    return dict(path=folder, affine=wg.LPS_TO_RAS @ aff, colours=every[0], frame_colours=every,
                world="RAS", tolerance=2 if photometric != "RGB" else 0)


def check_colour(binary, exp):
    """Every component of a voxel, and its luminance as the value, in each
    volume of a series."""
    where = os.path.basename(exp["path"])
    every = exp.get("frame_colours", [exp["colours"]])
    rc, objects, _ = wg.run(binary, ["--info", "--json", exp["path"]])
    got = objects[0] if objects else {}
    results.check(rc == 0 and got.get("components") == every[0].shape[3]
                  and got.get("dimensions") == list(SHAPE) and got.get("volumes") == len(every),
                  where, "components, dimensions, volumes",
                  (every[0].shape[3], list(SHAPE), len(every)),
                  (got.get("components"), got.get("dimensions"), got.get("volumes")))
    for frame, colours in enumerate(every):
        check_colour_probes(binary, exp, colours, ["--frame", str(frame)] if frame else [])


def check_colour_probes(binary, exp, colours, extra):
    where = os.path.basename(exp["path"]) + " ".join([""] + extra)
    voxels = [(0, 0, 0), (4, 5, 6), (2, 3, 1), (1, 4, 5)]
    args = [exp["path"], "--json"] + extra
    for ijk in voxels:
        point = (exp["affine"] @ np.append(ijk, 1.0))[:3]
        args += ["--probe", ",".join(f"{x:.6f}" for x in point)]
    rc, objects, _ = wg.run(binary, args)
    for ijk, got in zip(voxels, objects):
        rgb = [float(v) for v in colours[ijk]]
        light = 0.299 * rgb[0] + 0.587 * rgb[1] + 0.114 * rgb[2]
        # YBR is turned into RGB in integers: a level either way.
        near = got.get("components") == rgb or (
            isinstance(got.get("components"), list) and len(got["components"]) == len(rgb)
            and max(abs(a - b) for a, b in zip(got["components"], rgb)) <= exp.get("tolerance", 0))
        results.check(near, f"{where} {ijk}", "components", rgb, got.get("components"))
        value = got.get("value")
        results.check(isinstance(value, (int, float))
                      and abs(value - light) <= 1e-3 * max(1.0, light) + exp.get("tolerance", 0),
                      f"{where} {ijk}", "value", light, value)


def check_warnings(exp, got):
    where = os.path.basename(exp["path"])
    warnings = [str(w) for w in got.get("warnings") or []]
    if exp["format"] == "MRC":
        results.check(any("in Å" in w for w in warnings), where, "warnings",
                      "the note that lengths are in Å", warnings)
    frames = exp.get("frames", 1)
    results.check(got.get("volumes") == frames, where, "volumes", frames, got.get("volumes"))
    if "time_step" in exp:
        results.check(wg.close(got.get("time_step"), exp["time_step"])
                      and got.get("time_unit") == exp["time_unit"], where, "time step",
                      (exp["time_step"], exp["time_unit"]),
                      (got.get("time_step"), got.get("time_unit")))


def check_frames(binary, exp):
    """Each volume of a series as nibabel reads it, through --frame."""
    for frame, value in enumerate(exp.get("frame_values", [])):
        wg.check_probes(binary, dict(exp, value=value), ["--frame", str(frame)])


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    binary, work = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(work, exist_ok=True)

    lia = wg.axis_affine("LIA", (1.0, 1.0, 1.0), (127.5, -98.0, 110.25))  # FreeSurfer's own
    ras = wg.axis_affine("RAS", (0.8, 1.2, 2.5), (-30.0, 12.0, -4.5))
    tilted = wg.axis_affine("LIA", (1.1, 0.9, 1.4), (20.0, -7.5, 33.0),
                            wg.rotation((1, 2, 0), 28))
    turned = wg.axis_affine("RAS", (2.0, 1.5, 0.7), (4.0, 9.0, -12.0),
                            wg.rotation((0, 0, 1), -35))
    expected = [
        write_mgh(work, "conformed_uint8.mgh", np.uint8, lia),
        write_mgh(work, "ras_int16.mgz", np.int16, ras),
        write_mgh(work, "tilted_int32.mgh", np.int32, tilted),
        write_mgh(work, "turned_float32.mgz", np.float32, turned),
        write_mgh(work, "three_frames.mgh", np.float32, ras, frames=3),
        write_mgh(work, "four_frames_int16.mgz", np.int16, lia, frames=4),
        write_nifti_series(work, "series_int16.nii.gz", np.int16, tilted, 4, 2.5, "sec"),
        write_nifti_series(work, "series_float32.nii", np.float32, ras, 3, 750.0, "msec"),
        write_dicom_over_time(work, "dicom_over_time", 3),
        write_enhanced_over_time(work, "enhanced_over_time.dcm", 3),
    ]
    for e, aligned in zip(expected, (True, True, False, False, True, True, False, True, True,
                                     True)):
        e["oblique"] = not aligned

    expected += [
        write_mrc(work, "int8.mrc", np.int8, (1.5, 2.0, 2.5), origin=(10.0, -20.0, 35.5)),
        write_mrc(work, "int16_started.map", np.int16, (0.9, 0.9, 1.8), start=(-2, 3, 10)),
        write_mrc(work, "float32_extended.mrc", np.float32, (3.2, 3.2, 3.2),
                  extended_bytes=96, origin=(-5.0, 0.0, 2.0)),
        write_mrc(work, "uint16.rec", np.uint16, (12.5, 12.5, 25.0), start=(1, 1, 1)),
        write_mrc(work, "float16.mrc", np.float16, (1.0, 1.25, 1.5)),
        write_mrc(work, "big_endian_int16.ccp4", np.int16, (2.0, 2.5, 3.0),
                  origin=(1.0, 2.0, 3.0), big_endian=True),
        write_mrc(work, "zxy_order.mrc", np.float32, (1.1, 1.7, 2.3), start=(4, -1, 2),
                  axis_order=(3, 1, 2)),
    ]
    results.check(expected[-2]["big_endian"], "big_endian_int16.ccp4", "byte order",
                  "mrcfile writes it big-endian", "little-endian")
    turned = wg.rotation((0, 0, 1), 20)
    expected += [
        write_minc1(work, "aligned.mnc", np.eye(3), (1.5, 2.0, 2.5), (-3.0, 4.0, 5.5)),
        write_minc1(work, "reversed.mnc", np.eye(3), (-1.0, 1.25, -2.0), (40.0, -8.0, 60.0)),
        write_minc1(work, "turned.mnc", turned.T, (1.0, 1.0, 1.5), (10.0, 20.0, -5.0)),
        write_minc2(work, "aligned2.mnc", np.eye(3), (0.5, 1.25, 2.0), (7.0, -2.0, 1.5)),
        write_minc2(work, "reversed2.mnc", np.eye(3), (1.0, -1.5, -2.5), (-20.0, 30.0, 44.0)),
        write_minc2(work, "turned2.mnc", turned.T, (1.2, 0.8, 1.0), (-6.0, 2.0, 9.0)),
        write_tiff(work, "stack_cm.tif", np.uint16, (2.0, 4.0 / 3), "CENTIMETER"),
        write_tiff(work, "stack_inch.tiff", np.float32, (254.0, 127.0), "INCH"),
        write_vtk_legacy(work, "grid_int16.vtk", np.int16, (0.5, 0.75, 2.0), (-3.0, 4.0, 5.5)),
        write_vtk_legacy(work, "grid_float32.vtk", np.float32, (1.0, 1.0, 1.0), (0.0, 0.0, 0.0)),
    ]
    for e in expected:
        if os.path.basename(e["path"]) in ("turned.mnc", "turned2.mnc"):
            e["oblique"] = True
    expected += [write_tiff_folder(work, "tiff_slices"), write_png_pattern(work, "png_pattern")]

    rc, objects, noise = wg.run(binary, ["--info", "--json"] + [e["path"] for e in expected])
    results.check(rc == 0, "--info (all readable)", "exit status", 0, rc)
    results.check(not noise, "--info --json", "non-JSON lines on stdout", "none", noise[:3])
    if not results.check(len(objects) == len(expected), "--info (all readable)", "objects",
                         len(expected), len(objects)):
        objects = []
        for e in expected:
            objects += (wg.run(binary, ["--info", "--json", e["path"]])[1]
                        or [{"error": "no output"}])[:1]
    for e, got in zip(expected, objects):
        wg.check_info(e, got)
        check_warnings(e, got)
    for e in expected:
        wg.check_probes(binary, e)
        check_frames(binary, e)

    for colour in (write_colour_tiff(work, "rgb8.tif", np.uint8, 3),
                   write_colour_tiff(work, "rgba16.tif", np.uint16, 4),
                   write_colour_nifti(work, "rgb24.nii", ras),
                   write_colour_nifti(work, "rgb24_series.nii.gz", tilted, frames=3),
                   write_colour_dicom(work, "dicom_rgb"),
                   write_colour_dicom(work, "dicom_rgb_rle", syntax=RLELossless),
                   write_colour_dicom(work, "dicom_ybr", photometric="YBR_FULL"),
                   write_colour_dicom(work, "dicom_rgb_over_time", volumes=3)):
        check_colour(binary, colour)

    check_cine(binary, work)
    check_signed_made_unsigned(binary, work)

    # --series names a pattern, --spacing gives the voxel size a stack lacks.
    pattern = expected[-1]["path"]
    rc, objects, _ = wg.run(binary, ["--info", "--json", "--series", pattern,
                                     "--spacing", "0.5,0.25,3"])
    got = objects[0] if objects else {}
    results.check(rc == 0 and wg.close(got.get("spacing"), [0.5, 0.25, 3.0])
                  and wg.close(got.get("dimensions"), expected[-1]["dims"]),
                  "--series --spacing", "spacing, dimensions",
                  ([0.5, 0.25, 3.0], expected[-1]["dims"]),
                  (got.get("spacing"), got.get("dimensions")))

    print(f"{results.passed} passed, {results.failed} failed")
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
