#!/usr/bin/env python3
"""dat-to-nifti.py IN.dat OUT.nii

Writes the samples of a DAT file (little-endian 16-bit width, height, depth,
then 16-bit samples) as an uncompressed NIfTI-1 file of uint16 samples with
1 mm voxels, copying the samples without reading them into memory: the large
volumes of bench/bigvolumes.sh as a scan format.
"""
import os
import struct
import sys


def nifti_header(width, height, depth):
    header = bytearray(352)
    struct.pack_into("<i", header, 0, 348)
    struct.pack_into("<8h", header, 40, 3, width, height, depth, 1, 1, 1, 1)
    struct.pack_into("<hh", header, 70, 512, 16)  # uint16, 16 bits
    struct.pack_into("<8f", header, 76, 1, 1, 1, 1, 0, 0, 0, 0)
    struct.pack_into("<fff", header, 108, 352.0, 1.0, 0.0)  # offset, slope, intercept
    header[123] = 2  # millimetres
    header[344:348] = b"n+1\0"
    return bytes(header)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, target = sys.argv[1], sys.argv[2]
    with open(source, "rb") as dat, open(target, "wb") as nii:
        width, height, depth = struct.unpack("<3H", dat.read(6))
        nii.write(nifti_header(width, height, depth))
        nii.flush()
        remaining = 2 * width * height * depth
        offset = 6
        while remaining > 0:
            copied = os.copy_file_range(dat.fileno(), nii.fileno(), min(remaining, 1 << 30),
                                        offset_src=offset)
            if copied <= 0:
                sys.exit("the DAT file is shorter than its header says")
            offset += copied
            remaining -= copied


if __name__ == "__main__":
    main()
