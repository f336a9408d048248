#!/usr/bin/python3
"""World geometry of every reader, checked from outside the program.

Usage: check_world_geometry.py KELVARA_BINARY WORK_DIR

Writes small volumes (NIfTI through nibabel, NRRD and MetaImage by hand, a
DICOM series through pydicom) into WORK_DIR and compares what
`kelvara --info --json` and `kelvara FILE --probe X,Y,Z --json` say about them
with what nibabel and pydicom make of the same files: the voxel-to-RAS affine,
the axis codes, the value range and the voxel (and its value) under a world
point. Every voxel holds its own value, so a wrong index order or a flipped
axis shows as a wrong probe value.
"""

import json
import os
import random
import shutil
import subprocess
import sys
import warnings

import nibabel as nib
import numpy as np
import pydicom
from pydicom.dataset import FileDataset, FileMetaDataset
from pydicom.filebase import DicomBytesIO
from pydicom.filewriter import write_data_element, write_file_meta_info
from pydicom.uid import (DeflatedExplicitVRLittleEndian, ExplicitVRBigEndian,
                         ExplicitVRLittleEndian, ImplicitVRLittleEndian, generate_uid)

SHAPE = (5, 6, 7)
LPS_TO_RAS = np.diag([-1.0, -1.0, 1.0, 1.0])
CT_IMAGE_STORAGE = "1.2.840.10008.5.1.4.1.1.2"
rng = random.Random(20240611)


class Results:
    def __init__(self):
        self.passed = 0
        self.failed = 0

    def check(self, ok, where, key, expected, got):
        if ok:
            self.passed += 1
        else:
            self.failed += 1
            print(f"FAIL {where}: {key}: expected {expected}, got {got}")
        return ok


results = Results()


def rotation(axis, degrees):
    axis = np.asarray(axis, float) / np.linalg.norm(axis)
    a = np.radians(degrees)
    k = np.array([[0, -axis[2], axis[1]], [axis[2], 0, -axis[0]], [-axis[1], axis[0], 0]])
    return np.eye(3) + np.sin(a) * k + (1 - np.cos(a)) * (k @ k)


def axis_affine(codes, zooms, origin, rot=None):
    """Voxel-to-RAS affine whose index axes run towards the given letters."""
    toward = {"R": (0, 1), "L": (0, -1), "A": (1, 1), "P": (1, -1), "S": (2, 1), "I": (2, -1)}
    aff = np.eye(4)
    aff[:3, :3] = 0
    for col, letter in enumerate(codes):
        row, sign = toward[letter]
        aff[row, col] = sign * zooms[col]
    if rot is not None:
        aff[:3, :3] = rot @ aff[:3, :3]
    aff[:3, 3] = origin
    return aff


def volume(dtype):
    n = int(np.prod(SHAPE))
    if dtype == np.int16:
        values = np.arange(n) * 13 - 1000
    else:  # distinct, negative and not integral
        values = np.arange(n) * 0.37 - 31.5 + 0.01 * np.sin(np.arange(n))
    return values.astype(dtype).reshape(SHAPE)


def fresh(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.lexists(path):
        os.remove(path)
    return path


# ---------------------------------------------------------------- writers


def write_nifti(work, name, cls, dtype, sform, qform, scaling=None):
    """sform, qform: (code, affine or None)."""
    img = cls(volume(dtype), np.eye(4))
    img.set_qform(qform[1], code=qform[0])
    img.set_sform(sform[1], code=sform[0])
    if scaling:
        img.header.set_slope_inter(*scaling)
    path = fresh(os.path.join(work, name))
    nib.save(img, path)
    back = nib.load(path)  # expectations from what the file holds
    data = back.get_fdata()
    aff = back.affine
    # Spacing only where every reading of it agrees (sform, qform, pixdim).
    norms = np.linalg.norm(aff[:3, :3], axis=0)
    zooms = np.asarray(back.header.get_zooms()[:3], float)
    return dict(
        path=path, format="NIfTI", datatype=np.dtype(dtype).name, dims=list(back.shape),
        affine=aff, orientation="".join(nib.aff2axcodes(aff)),
        range=(data.min(), data.max()),
        spacing=norms if np.allclose(norms, zooms, atol=1e-5) else None,
        value=lambda ijk: data[tuple(ijk)])


def nrrd_vector(v):
    return "(" + ",".join(f"{x:.10g}" for x in v) + ")"


def write_nrrd(work, name, space, directions, origin):
    """directions: 3 x 3, row n the step of index axis n in the file's space."""
    data = volume(np.int16)
    header = [
        "NRRD0004", "type: short", "dimension: 3", f"space: {space}",
        "sizes: " + " ".join(str(n) for n in SHAPE),
        "space directions: " + " ".join(nrrd_vector(d) for d in directions),
        "kinds: domain domain domain", "endian: little", "encoding: raw",
        "space origin: " + nrrd_vector(origin),
    ]
    path = fresh(os.path.join(work, name))
    with open(path, "wb") as f:
        f.write(("\n".join(header) + "\n\n").encode())
        f.write(data.astype("<i2").tobytes(order="F"))  # i fastest
    aff = np.eye(4)
    aff[:3, :3] = np.asarray(directions, float).T
    aff[:3, 3] = origin
    if space == "left-posterior-superior":
        aff = LPS_TO_RAS @ aff
    return expected_from_affine(path, "NRRD", data, aff)


def write_mha(work, name, matrix, spacing, origin, orientation=None):
    """matrix: 3 x 3, row n the direction of index axis n (LPS)."""
    data = volume(np.int16)
    header = [
        "ObjectType = Image", "NDims = 3", "BinaryData = True",
        "BinaryDataByteOrderMSB = False", "CompressedData = False",
        "TransformMatrix = " + " ".join(f"{x:.10g}" for x in np.ravel(matrix)),
        "Offset = " + " ".join(f"{x:.10g}" for x in origin),
        "CenterOfRotation = 0 0 0",
    ]
    if orientation:
        header.append(f"AnatomicalOrientation = {orientation}")
    header += [
        "ElementSpacing = " + " ".join(f"{x:.10g}" for x in spacing),
        "DimSize = " + " ".join(str(n) for n in SHAPE),
        "ElementType = MET_SHORT", "ElementDataFile = LOCAL",
    ]
    path = fresh(os.path.join(work, name))
    with open(path, "wb") as f:
        f.write(("\n".join(header) + "\n").encode())
        f.write(data.astype("<i2").tobytes(order="F"))
    aff = np.eye(4)
    aff[:3, :3] = np.asarray(matrix, float).T * np.asarray(spacing, float)
    aff[:3, 3] = origin
    return expected_from_affine(path, "MetaImage", data, LPS_TO_RAS @ aff)


def expected_from_affine(path, fmt, data, aff):
    return dict(
        path=path, format=fmt, datatype=data.dtype.name, dims=list(data.shape), affine=aff,
        orientation="".join(nib.aff2axcodes(aff)), range=(data.min(), data.max()),
        spacing=np.linalg.norm(aff[:3, :3], axis=0), value=lambda ijk: data[tuple(ijk)])


def write_dicom_series(work, name, pixel_spacing=("0.7", "0.85"), orientation=None,
                       syntax=ExplicitVRLittleEndian):
    folder = fresh(os.path.join(work, name))
    os.makedirs(folder)
    columns, rows, slices = SHAPE
    tilt = rotation((1, 0, 0), 41)
    row_dir, col_dir = tilt @ [1.0, 0, 0], tilt @ [0, 1.0, 0]
    normal = np.cross(row_dir, col_dir)
    step, start = 1.25, np.array([-12.5, 30.25, 44.0])
    vol = volume(np.int16)  # vol[c, r, k]
    series, study, frame = generate_uid(), generate_uid(), generate_uid()
    order = list(range(slices))
    rng.shuffle(order)
    names = [f"img{n:03d}.dcm" for n in rng.sample(range(100, 999), slices)]
    for k in order:
        sop = generate_uid()
        meta = FileMetaDataset()
        meta.MediaStorageSOPClassUID = CT_IMAGE_STORAGE
        meta.MediaStorageSOPInstanceUID = sop
        meta.TransferSyntaxUID = syntax
        meta.ImplementationClassUID = generate_uid()
        path = os.path.join(folder, names[k])
        ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
        ds.is_little_endian, ds.is_implicit_VR = True, False
        ds.SOPClassUID, ds.SOPInstanceUID = CT_IMAGE_STORAGE, sop
        ds.StudyInstanceUID, ds.SeriesInstanceUID, ds.FrameOfReferenceUID = study, series, frame
        ds.Modality, ds.PatientName, ds.PatientID = "CT", "Geometry^Check", "WG1"
        ds.StudyDate, ds.SeriesNumber = "20240611", 3
        ds.ImageType = ["ORIGINAL", "PRIMARY", "AXIAL"]
        # Instance numbers run against the positions: the order must come
        # from the positions along the normal.
        ds.InstanceNumber = slices - k
        ds.ImagePositionPatient = [f"{x:.6f}" for x in start + k * step * normal]
        ds.ImageOrientationPatient = orientation or [f"{x:.8f}" for x in (*row_dir, *col_dir)]
        ds.PixelSpacing = list(pixel_spacing)  # between rows, between columns
        ds.SliceThickness = "1.5"  # overlapping slices: not the spacing
        ds.Rows, ds.Columns = rows, columns
        ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 16, 15, 1
        ds.RescaleSlope, ds.RescaleIntercept, ds.RescaleType = "1", "0", "HU"
        ds.PixelData = np.ascontiguousarray(vol[:, :, k].T).astype("<i2").tobytes()
        ds.save_as(path, write_like_original=False)
    if orientation or tuple(pixel_spacing) != ("0.7", "0.85"):
        return folder  # unsound on purpose: no expectations

    # Expectations from the files as pydicom reads them back.
    read = [pydicom.dcmread(os.path.join(folder, n)) for n in os.listdir(folder)]
    iop = np.array(read[0].ImageOrientationPatient, float)
    ps = np.array(read[0].PixelSpacing, float)
    n = np.cross(iop[:3], iop[3:])
    read.sort(key=lambda d: float(np.dot(n, np.array(d.ImagePositionPatient, float))))
    positions = [float(np.dot(n, np.array(d.ImagePositionPatient, float))) for d in read]
    distance = float(np.min(np.diff(positions)))
    pixels = np.stack([d.pixel_array * float(d.RescaleSlope) + float(d.RescaleIntercept)
                       for d in read], axis=2)  # [r, c, k]
    aff = np.eye(4)
    aff[:3, 0], aff[:3, 1], aff[:3, 2] = iop[:3] * ps[1], iop[3:] * ps[0], n * distance
    aff[:3, 3] = np.array(read[0].ImagePositionPatient, float)
    exp = expected_from_affine(folder, "DICOM series", vol, LPS_TO_RAS @ aff)
    exp["dims"] = [int(read[0].Columns), int(read[0].Rows), len(read)]
    exp["range"] = (pixels.min(), pixels.max())
    exp["value"] = lambda ijk: pixels[ijk[1], ijk[0], ijk[2]]
    one = dict(exp, path=os.path.join(folder, names[slices // 2]))
    return exp, one


RT_DOSE_STORAGE = "1.2.840.10008.5.1.4.1.1.481.2"


def write_dicom_variant(work, name, kind):
    """One file, in a folder of its own, of a kind GDCM reads wrongly or not at all:
    RT dose of one frame (GDCM aborts) or three, 32-bit big-endian, MONOCHROME1, and
    files that mix implicit and explicit elements (expectations from the file unmixed)."""
    folder = fresh(os.path.join(work, name))
    os.makedirs(folder)
    path = os.path.join(folder, "image.dcm")
    columns, rows = 4, 5
    frames = 3 if kind == "rt_dose_frames" else 1
    rt = kind.startswith("rt_dose")
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID = RT_DOSE_STORAGE if rt else CT_IMAGE_STORAGE
    meta.MediaStorageSOPInstanceUID = generate_uid()
    meta.TransferSyntaxUID = {"big_endian_32": ExplicitVRBigEndian,
                              "mixed_implicit": ImplicitVRLittleEndian}.get(kind, ExplicitVRLittleEndian)
    meta.ImplementationClassUID = generate_uid()
    ds = FileDataset(path, {}, file_meta=meta, preamble=b"\0" * 128)
    ds.is_little_endian, ds.is_implicit_VR = kind != "big_endian_32", kind == "mixed_implicit"
    ds.SOPClassUID, ds.SOPInstanceUID = meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID
    ds.StudyInstanceUID, ds.SeriesInstanceUID = generate_uid(), generate_uid()
    ds.Modality = "RTDOSE" if rt else "CT"
    ds.Rows, ds.Columns, ds.SamplesPerPixel = rows, columns, 1
    ds.PhotometricInterpretation = "MONOCHROME1" if kind == "monochrome1" else "MONOCHROME2"
    ds.ImagePositionPatient = ["-20", "10.5", "33"]
    ds.ImageOrientationPatient = ["0", "1", "0", "0", "0", "-1"]  # sagittal
    ds.PixelSpacing = ["2.5", "3"]
    n = rows * columns * frames
    if kind == "big_endian_32":
        stored = (np.arange(n) * 70001 - 300000).astype(">i4")  # both halves vary
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 32, 32, 31, 1
    elif rt:
        stored = (np.arange(n) * 1234 + 7).astype("<u4")
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 32, 32, 31, 0
        ds.DoseGridScaling, ds.DoseUnits, ds.DoseType = "0.0001", "GY", "PHYSICAL"
        ds.GridFrameOffsetVector = ["0", "-2", "-4"][:frames]
        if frames > 1:
            ds.NumberOfFrames, ds.FrameIncrementPointer = frames, (0x3004, 0x000C)
    else:
        stored = (np.arange(n) * 41 + 5).astype("<u2")
        ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 0
        ds.RescaleSlope, ds.RescaleIntercept = "2", "-100"
    ds.PixelData = stored.tobytes()
    ds.save_as(path, write_like_original=False)

    read = pydicom.dcmread(path)
    pixels = read.pixel_array.reshape(frames, rows, columns).astype(float)
    scale = float(read.get("DoseGridScaling", read.get("RescaleSlope", 1)))
    pixels = pixels * scale + float(read.get("RescaleIntercept", 0))
    data = np.transpose(pixels, (2, 1, 0))  # [column, row, frame]
    iop = np.array(read.ImageOrientationPatient, float)
    ps = np.array(read.PixelSpacing, float)
    normal = np.cross(iop[:3], iop[3:])
    offsets = read.get("GridFrameOffsetVector", [0])
    offsets = [float(x) for x in (offsets if isinstance(offsets, (list, pydicom.multival.MultiValue)) else [offsets])]
    step = offsets[1] - offsets[0] if frames > 1 else 1.0
    aff = np.eye(4)
    aff[:3, 0], aff[:3, 1], aff[:3, 2] = iop[:3] * ps[1], iop[3:] * ps[0], normal * step
    aff[:3, 3] = np.array(read.ImagePositionPatient, float) + offsets[0] * normal
    exp = expected_from_affine(path, "DICOM series", data, LPS_TO_RAS @ aff)
    exp["datatype"] = read.pixel_array.dtype.name.replace(">", "")
    exp["value"] = lambda ijk: data[tuple(ijk)]
    if kind.startswith("mixed"):
        mix_encodings(path, ("Rows", "PixelSpacing", "ImagePositionPatient", "RescaleSlope"))
        exp["datatype"] = None  # GDCM's widening of the rescaled samples
    return exp


def mix_encodings(path, keywords):
    """Rewrites the file with the named elements encoded against its transfer syntax."""
    ds = pydicom.dcmread(path)
    implicit = ds.file_meta.TransferSyntaxUID == ImplicitVRLittleEndian
    with open(path, "wb") as f:
        f.write(ds.preamble + b"DICM")
        for part, as_implicit in [(ds.file_meta, False)] + [
                (e, implicit != (e.keyword in keywords)) for e in ds]:
            fp = DicomBytesIO()
            fp.is_little_endian, fp.is_implicit_VR = True, as_implicit
            if part is ds.file_meta:
                write_file_meta_info(fp, part, enforce_standard=False)
            else:
                write_data_element(fp, part)
            f.write(fp.getvalue())


def add_localisers(folder, planes):
    """Slices of the series' first file turned into the given planes (a localiser)."""
    cosines = {"coronal": ["1", "0", "0", "0", "0", "-1"], "sagittal": ["0", "1", "0", "0", "0", "-1"]}
    first = sorted(os.listdir(folder))[0]
    for n, plane in enumerate(planes):
        ds = pydicom.dcmread(os.path.join(folder, first))
        ds.SOPInstanceUID = ds.file_meta.MediaStorageSOPInstanceUID = generate_uid()
        ds.ImageOrientationPatient, ds.InstanceNumber = cosines[plane], 100 + n
        ds.save_as(os.path.join(folder, f"scout{n}.dcm"), write_like_original=False)


def write_dicom_refused(work, name, kind):
    """A deflated data set inflating a thousandfold, which the screen must refuse (with
    the words of the reason), or a whole YBR_FULL_422 colour file."""
    path = write_dicom_variant(work, name, "monochrome1")["path"]
    ds = pydicom.dcmread(path)
    if kind == "deflate_bomb":
        ds.file_meta.TransferSyntaxUID = DeflatedExplicitVRLittleEndian
        ds.add_new(0x00091010, "OB", bytes(4 << 20))
    else:
        ds.SamplesPerPixel, ds.PhotometricInterpretation, ds.PlanarConfiguration = 3, "YBR_FULL_422", 0
        ds.BitsAllocated, ds.BitsStored, ds.HighBit = 8, 8, 7
        ds.PixelData = bytes(range(ds.Rows * ds.Columns * 2))  # Y Y Cb Cr for two pixels
        del ds.RescaleSlope, ds.RescaleIntercept  # monochrome only
    ds.save_as(path, write_like_original=False)
    return path, "inflates to more than" if kind == "deflate_bomb" else "3 components per voxel"


# ---------------------------------------------------------------- running


def run(binary, args):
    env = dict(os.environ, QT_QPA_PLATFORM="offscreen")
    try:
        p = subprocess.run([binary] + args, capture_output=True, encoding="utf-8", errors="replace",
                           timeout=60, env=env)
    except subprocess.TimeoutExpired:
        return None, [], ["(no answer within 60 s)"]
    except OSError as e:
        return None, [], [str(e)]
    objects, noise = [], []
    for line in p.stdout.splitlines():
        if not line.strip():
            continue
        try:
            objects.append(json.loads(line))
        except ValueError:
            noise.append(line)
    return p.returncode, objects, noise


def close(got, expected, tol=1e-4):
    try:
        g = np.asarray(got, float)
    except (TypeError, ValueError):
        return False
    e = np.asarray(expected, float)
    return g.shape == e.shape and bool(np.all(np.abs(g - e) <= tol * np.maximum(1.0, np.abs(e))))


def fmt(a):
    return np.array2string(np.asarray(a, float), precision=5, suppress_small=True,
                           separator=",").replace("\n", "")


def show(a):
    try:
        return fmt(a)
    except (TypeError, ValueError):
        return a


def check_info(exp, got):
    where = os.path.basename(exp["path"])
    c = results.check
    if not c("error" not in got, where, "error", "none", got.get("error")):
        return
    c(got.get("file") == exp["path"], where, "file", exp["path"], got.get("file"))
    c(str(got.get("format", "")).startswith(exp["format"]), where, "format", exp["format"],
      got.get("format"))
    c(got.get("dimensions") == exp["dims"], where, "dimensions", exp["dims"], got.get("dimensions"))
    if exp["datatype"]:
        c(got.get("datatype") == exp["datatype"], where, "datatype", exp["datatype"],
          got.get("datatype"))
    c(close(got.get("affine"), exp["affine"]), where, "affine", fmt(exp["affine"]),
      show(got.get("affine")))
    c(got.get("orientation") == exp["orientation"], where, "orientation", exp["orientation"],
      got.get("orientation"))
    c(close(got.get("range"), exp["range"]), where, "range", list(exp["range"]), got.get("range"))
    if exp.get("spacing") is not None:
        c(close(got.get("spacing"), exp["spacing"]), where, "spacing", fmt(exp["spacing"]),
          got.get("spacing"))
    if exp.get("warning"):
        c(any(exp["warning"] in str(w) for w in got.get("warnings", [])), where, "warnings",
          exp["warning"], got.get("warnings"))
    if exp.get("oblique") is not None:
        warnings = got.get("warnings")
        said = isinstance(warnings, list) and any("oblique by" in str(w) for w in warnings)
        c(said == exp["oblique"], where, "warnings",
          "an 'oblique by' warning" if exp["oblique"] else "no 'oblique by' warning", warnings)


def probe_points(exp):
    """World points with the voxel under each by rounding through the affine."""
    aff, n = exp["affine"], np.array(exp["dims"])
    mid = n // 2
    indices = [np.zeros(3), n - 1, mid, [1, n[1] - 2, 2]]  # centres
    third = 1.0 / 3.0
    indices += [np.array(ijk, float) + off for ijk, off in
                ((mid, [third, -third, third]), ([0, 0, 0], [-third, third, -third]),
                 (n - 1, [third, third, third]))]
    # Edges: 0.4 beyond the last centre still rounds into the grid, 0.6 leaves it.
    indices += [[-0.4, mid[1], mid[2]], [mid[0], n[1] - 0.6, mid[2]],
                [-0.6, mid[1], mid[2]], [mid[0], mid[1], n[2] - 0.4], [mid[0], -0.6, 1]]
    points = [np.round((aff @ np.append(ijk, 1.0))[:3], 6) for ijk in indices]
    points.append(np.array([900.0, -900.0, 900.0]))
    inv = np.linalg.inv(aff)
    out = []
    for p in points:
        ijk = np.rint((inv @ np.append(p, 1.0))[:3]).astype(int)
        inside = bool(np.all(ijk >= 0) and np.all(ijk < n))
        out.append((p, [int(x) for x in ijk] if inside else None,
                    float(exp["value"](ijk)) if inside else None))
    return out


def check_probes(binary, exp, extra=()):
    where = " ".join([os.path.basename(exp["path"]), "--probe", *extra])
    points = probe_points(exp)
    args = [exp["path"], *extra]
    for p, _, _ in points:
        args += ["--probe", ",".join(f"{x:.6f}" for x in p)]
    rc, objects, noise = run(binary, args + ["--json"])
    if not results.check(rc == 0 and len(objects) == len(points), where, "exit status, lines",
                         f"0, {len(points)}", f"{rc}, {len(objects)} {noise[-2:]}"):
        return
    for (p, voxel, value), got in zip(points, objects):
        at = f"{where} {fmt(p)}"
        results.check(got.get("layer") == exp["path"] and close(got.get("point"), p), at,
                      "layer, point", (exp["path"], fmt(p)), (got.get("layer"), got.get("point")))
        results.check(got.get("voxel") == voxel, at, "voxel", voxel, got.get("voxel"))
        results.check(value is None and got.get("value") is None
                      or value is not None and close(got.get("value"), value), at, "value",
                      value, got.get("value"))


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    binary, work = sys.argv[1], os.path.abspath(sys.argv[2])
    os.makedirs(work, exist_ok=True)

    ras = axis_affine("RAS", (1.5, 2.0, 2.5), (-3.0, -5.5, 7.25))
    las = axis_affine("LAS", (0.9, 1.1, 3.0), (12.0, -20.0, 5.0))
    lps = axis_affine("LPS", (1.2, 0.8, 2.0), (40.0, 35.5, -60.0))
    pir = axis_affine("PIR", (2.0, 1.0, 1.5), (-8.0, 14.0, 22.0))
    oblique = axis_affine("RAS", (1.0, 1.25, 1.5), (-2.0, 3.0, -4.0), rotation((0, 1, 0), 30))
    sheared = ras.copy()
    sheared[0, 1], sheared[2, 0] = 0.6, -0.3
    n2 = axis_affine("LPI", (0.75, 0.75, 2.0), (10.0, 20.0, 30.0), rotation((0, 0, 1), 20))

    N1, N2, i16, f32 = nib.Nifti1Image, nib.Nifti2Image, np.int16, np.float32
    cases = [  # name, class, dtype, sform, qform, scaling, axis-aligned
        ("ras_sform.nii", N1, i16, (2, ras), (0, None), (0.5, -20.0), True),
        ("las_qform.nii", N1, f32, (0, None), (1, las), None, True),
        ("lps_sform_over_qform.nii", N1, i16, (4, lps), (1, ras), None, True),
        ("pir_qform_over_srow.nii", N1, f32, (0, lps), (2, pir), None, True),
        ("no_codes_fallback.nii", N1, i16, (0, lps), (0, las), (2.0, 7.0), True),
        ("oblique30.nii.gz", N1, f32, (1, oblique), (1, oblique), None, None),
        ("sheared_sform.nii", N1, f32, (3, sheared), (1, las), None, None),
        ("nifti2_qform.nii", N2, i16, (0, None), (1, n2), (0.25, 100.0), None),
    ]
    expected = []
    for name, cls, dtype, sform, qform, scaling, aligned in cases:
        e = write_nifti(work, name, cls, dtype, sform, qform, scaling)
        e["oblique"] = False if aligned else None
        expected.append(e)

    lps_dirs = (rotation((1, 2, 3), 25) @ np.diag([0.8, 1.1, 2.4])).T
    ras_dirs = (rotation((0, 1, 1), -15) @ np.diag([1.3, 0.6, 1.9])).T
    expected += [
        write_nrrd(work, "lps_oblique.nrrd", "left-posterior-superior", lps_dirs, (-30.0, 12.5, 8.0)),
        write_nrrd(work, "ras_oblique.nrrd", "right-anterior-superior", ras_dirs, (4.0, -6.0, 18.5)),
    ]
    mha_oblique = write_mha(work, "oblique.mha", rotation((1, 1, 0), 25).T, (0.9, 1.3, 2.2),
                            (-15.0, 22.0, -7.5))
    mha_rai = write_mha(work, "rai_identity.mha", np.eye(3), (1.1, 0.7, 3.0), (5.0, -9.0, 12.0),
                        "RAI")
    mha_oblique["oblique"], mha_rai["oblique"] = True, False
    series, one_slice = write_dicom_series(work, "ct_series")
    series["oblique"] = one_slice["oblique"] = True
    deflated, _ = write_dicom_series(work, "ct_deflated", syntax=DeflatedExplicitVRLittleEndian)
    localised, _ = write_dicom_series(work, "ct_localised")
    add_localisers(localised["path"], ["coronal", "coronal", "sagittal"])
    localised["warning"] = ("3 orientations; the 7 axial-like slices are shown; 2 coronal slices "
                            "and 1 sagittal slice are left out")
    expected += [mha_oblique, mha_rai, series, one_slice, deflated, localised]
    expected += [write_dicom_variant(work, kind, kind) for kind in
                 ("rt_dose_one_frame", "rt_dose_frames", "big_endian_32", "monochrome1",
                  "mixed_explicit", "mixed_implicit")]

    # All files in one call: one line each, in order, pure JSON.
    rc, objects, noise = run(binary, ["--info", "--json"] + [e["path"] for e in expected])
    results.check(rc == 0, "--info (all readable)", "exit status", 0, rc)
    results.check(not noise, "--info --json", "non-JSON lines on stdout", "none", noise[:3])
    if not results.check(len(objects) == len(expected), "--info (all readable)", "objects",
                         len(expected), len(objects)):
        objects = []  # one call per file tells which file breaks it
        for e in expected:
            objects += (run(binary, ["--info", "--json", e["path"]])[1] or [{"error": "no output"}])[:1]
    for e, got in zip(expected, objects):
        check_info(e, got)
    for e in expected:
        check_probes(binary, e)

    # Placements that GDCM replaces silently: the load says what it replaced.
    unsound = [
        ("spacing_zero", ("0", "0.85"), None, "voxel spacing of 0 along Y"),
        ("spacing_nan", ("0.7", "nan"), None, "voxel spacing of nan along X"),
        ("orientation_zero", ("0.7", "0.85"), ["0"] * 6, "zero or parallel"),
        ("orientation_parallel", ("0.7", "0.85"), ["1", "0", "0", "1", "0", "0"],
         "zero or parallel"),
    ]
    for name, spacing, orientation, warning in unsound:
        with warnings.catch_warnings():
            warnings.simplefilter("ignore")  # pydicom's word on a "nan" decimal string
            folder = write_dicom_series(work, name, spacing, orientation)
        rc, objects, _ = run(binary, ["--info", "--json", folder])
        said = objects[0].get("warnings", []) if objects else []
        results.check(rc == 0 and any(warning in w for w in said), name, "warnings", warning,
                      said)

    path, words = write_dicom_refused(work, "deflate_bomb", "deflate_bomb")
    rc, objects, _ = run(binary, ["--info", "--json", path])
    said = objects[0].get("error", "") if objects else ""
    results.check(rc == 1 and words in said, "deflate_bomb", "error", words, said)
    # YBR_FULL_422 colour loads as RGB, three components a voxel.
    path, _ = write_dicom_refused(work, "ybr_full_422", "ybr_full_422")
    rc, objects, _ = run(binary, ["--info", "--json", path])
    got = objects[0] if objects else {}
    results.check(rc == 0 and got.get("components") == 3, "ybr_full_422", "components", 3,
                  got.get("components", got.get("error")))

    # A broken file and a missing one among a good one: errors for those,
    # the good one still described, exit status 1.
    bad = fresh(os.path.join(work, "random_bytes.nii"))
    with open(bad, "wb") as f:
        f.write(bytes(rng.randrange(256) for _ in range(10)))
    missing = fresh(os.path.join(work, "does_not_exist.nii"))
    good = expected[0]["path"]
    rc, objects, _ = run(binary, ["--info", "--json", bad, good, missing])
    results.check(rc == 1, "--info with unreadable files", "exit status", 1, rc)
    by_file = {o.get("file"): o for o in objects}
    for path in (bad, missing):
        err = by_file.get(path, {}).get("error")
        results.check(isinstance(err, str) and err != "", os.path.basename(path), "error",
                      "a reason", by_file.get(path))
    results.check("error" not in by_file.get(good, {"error": "absent"}), "good file beside them",
                  "error", "none", by_file.get(good))

    print(f"{results.passed} passed, {results.failed} failed")
    return 1 if results.failed else 0


if __name__ == "__main__":
    sys.exit(main())
