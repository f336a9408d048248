#!/usr/bin/python3
"""make-dicom-corpus.py DIR: writes the DICOM fuzzer's starting inputs into DIR.

Small slices (4 x 3 pixels) through pydicom in every transfer syntax it can
write here (implicit and explicit little-endian, explicit big-endian,
deflated, RLE), and the cases the screen treats apart: mixed implicit and
explicit elements, YBR_FULL_422 colour, MONOCHROME1, RT dose, enhanced
multi-frame over time (explicit, and implicit with undefined lengths). Generated
rather than committed, so that no binary files live in git. JPEG is left
out: pydicom has no JPEG encoder without further packages.
"""

import os
import sys

import numpy as np
from pydicom.dataset import Dataset, FileDataset, FileMetaDataset
from pydicom.filebase import DicomBytesIO
from pydicom.filewriter import write_data_element, write_file_meta_info
from pydicom.uid import (DeflatedExplicitVRLittleEndian, ExplicitVRBigEndian,
                         ExplicitVRLittleEndian, ImplicitVRLittleEndian, RLELossless)

CT = "1.2.840.10008.5.1.4.1.1.2"
RT_DOSE = "1.2.840.10008.5.1.4.1.1.481.2"
ENHANCED_MR = "1.2.840.10008.5.1.4.1.1.4.1"


def slice_dataset(syntax, sop_class=CT):
    meta = FileMetaDataset()
    meta.MediaStorageSOPClassUID, meta.MediaStorageSOPInstanceUID = sop_class, "1.2.3.4.5"
    meta.TransferSyntaxUID, meta.ImplementationClassUID = syntax, "1.2.3.4"
    ds = FileDataset("", {}, file_meta=meta, preamble=b"\0" * 128)
    ds.is_little_endian = syntax != ExplicitVRBigEndian
    ds.is_implicit_VR = syntax == ImplicitVRLittleEndian
    ds.SOPClassUID, ds.SOPInstanceUID, ds.SeriesInstanceUID = sop_class, "1.2.3.4.5", "1.2.3.4.6"
    ds.ImagePositionPatient, ds.ImageOrientationPatient = ["1", "2", "3"], ["1", "0", "0", "0", "1", "0"]
    ds.PixelSpacing, ds.Rows, ds.Columns = ["0.5", "0.75"], 3, 4
    ds.SamplesPerPixel, ds.PhotometricInterpretation = 1, "MONOCHROME2"
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 16, 12, 11, 1
    ds.RescaleSlope, ds.RescaleIntercept = "1", "-1024"
    ds.add_new(0x7FE00010, "OW", (np.arange(12) * 300 - 1500).astype("<i2").tobytes())
    return ds


def mixed(ds, keywords):
    """The file's bytes with the named elements encoded against its syntax."""
    out = DicomBytesIO()
    out.write(ds.preamble + b"DICM")
    out.is_little_endian, out.is_implicit_VR = True, False
    write_file_meta_info(out, ds.file_meta, enforce_standard=False)
    for elem in ds:
        out.is_implicit_VR = ds.is_implicit_VR != (elem.keyword in keywords)
        write_data_element(out, elem)
    return out.getvalue()


def main():
    folder = sys.argv[1] if len(sys.argv) == 2 else sys.exit(__doc__)
    os.makedirs(folder, exist_ok=True)
    for name, syntax in (("implicit", ImplicitVRLittleEndian), ("explicit", ExplicitVRLittleEndian),
                         ("big-endian", ExplicitVRBigEndian),
                         ("deflated", DeflatedExplicitVRLittleEndian)):
        ds = slice_dataset(syntax)
        if syntax == ExplicitVRBigEndian:
            ds.PixelData = (np.arange(12) * 300 - 1500).astype(">i2").tobytes()
        ds.save_as(os.path.join(folder, f"start-{name}.dcm"), write_like_original=False)
    ds = slice_dataset(ExplicitVRLittleEndian)
    ds.compress(RLELossless, (np.arange(12) * 300 - 1500).astype("<i2").reshape(3, 4))
    ds.save_as(os.path.join(folder, "start-rle.dcm"), write_like_original=False)
    for name, syntax in (("mixed-explicit", ExplicitVRLittleEndian),
                         ("mixed-implicit", ImplicitVRLittleEndian)):
        with open(os.path.join(folder, f"start-{name}.dcm"), "wb") as f:
            f.write(mixed(slice_dataset(syntax), ("Rows", "PixelSpacing", "RescaleSlope")))
    ds = slice_dataset(ExplicitVRLittleEndian)
    ds.SamplesPerPixel, ds.PhotometricInterpretation, ds.PlanarConfiguration = 3, "YBR_FULL_422", 0
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 8, 8, 7, 0
    del ds.RescaleSlope, ds.RescaleIntercept
    ds.PixelData = bytes(range(24))
    ds.save_as(os.path.join(folder, "start-ybr-full-422.dcm"), write_like_original=False)
    ds = slice_dataset(ExplicitVRLittleEndian)
    ds.PhotometricInterpretation = "MONOCHROME1"
    ds.save_as(os.path.join(folder, "start-monochrome1.dcm"), write_like_original=False)
    ds = slice_dataset(ExplicitVRLittleEndian, RT_DOSE)
    ds.BitsAllocated, ds.BitsStored, ds.HighBit, ds.PixelRepresentation = 32, 32, 31, 0
    ds.DoseGridScaling, ds.GridFrameOffsetVector = "0.001", ["0", "2"]
    ds.NumberOfFrames, ds.FrameIncrementPointer = 2, (0x3004, 0x000C)
    ds.PixelData = np.arange(24, dtype="<u4").tobytes()
    ds.save_as(os.path.join(folder, "start-rt-dose.dcm"), write_like_original=False)
    for name, syntax in (("enhanced", ExplicitVRLittleEndian),
                         ("enhanced-implicit", ImplicitVRLittleEndian)):
        ds = enhanced_over_time(syntax, undefined=syntax == ImplicitVRLittleEndian)
        ds.save_as(os.path.join(folder, f"start-{name}.dcm"), write_like_original=False)


def enhanced_over_time(syntax, undefined):
    """Four frames: two slices at each of two temporal positions."""
    ds = slice_dataset(syntax, ENHANCED_MR)
    del ds.ImagePositionPatient, ds.ImageOrientationPatient, ds.PixelSpacing
    shared, measures, plane = Dataset(), Dataset(), Dataset()
    measures.PixelSpacing, plane.ImageOrientationPatient = ["0.5", "0.75"], [1, 0, 0, 0, 1, 0]
    shared.PixelMeasuresSequence, shared.PlaneOrientationSequence = [measures], [plane]
    ds.SharedFunctionalGroupsSequence, frames = [shared], []
    for t, k in ((1, 1), (0, 0), (1, 0), (0, 1)):
        item, content, position, cardiac = Dataset(), Dataset(), Dataset(), Dataset()
        content.TemporalPositionIndex = t + 1
        position.ImagePositionPatient = [1, 2, 3 + 2 * k]
        cardiac.NominalCardiacTriggerDelayTime = 100.0 * t
        item.FrameContentSequence, item.PlanePositionSequence = [content], [position]
        item.CardiacSynchronizationSequence = [cardiac]
        frames.append(item)
    ds.PerFrameFunctionalGroupsSequence, ds.NumberOfFrames = frames, len(frames)
    ds.PixelData = (np.arange(48) * 50 - 1000).astype("<i2").tobytes()
    if undefined:
        for element in ds.iterall():
            if element.VR == "SQ":
                element.is_undefined_length = True
                for item in element.value:
                    item.is_undefined_length_sequence_item = True
    return ds


if __name__ == "__main__":
    main()
