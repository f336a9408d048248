#pragma once

#include "orientation.h"
#include "rawscan.h"
#include "volumefile.h"

#include <array>
#include <cstdint>
#include <string>

// What a volume file holds and where its samples lie, from its header alone:
// enough to decide how to load it (as floats, in blocks, at a reduced level,
// or not at all) before a sample is read, and, for uncompressed data, to map
// the samples from the file instead of copying them.
struct ScanLayout
{
    VolumeFormat format = VolumeFormat::Dat;
    // Voxel counts along the stored axes (X fastest in the file).
    std::array<std::uint64_t, 3> size{{1, 1, 1}};
    // The volumes of a series (4D image) that follow one another in the data,
    // each of size; their time step as RawScan gives it.
    std::uint64_t frames = 1;
    // Components per voxel (colour: 3 or 4), each voxel's together.
    std::uint64_t components = 1;
    double frameInterval = 0.0;
    std::string frameUnit;
    SampleType type = SampleType::UInt16;
    bool bigEndian = false;
    // A file value is slope * sample + intercept (scans; DAT: 1 and 0).
    double slope = 1.0;
    double intercept = 0.0;
    // DAT samples are 12-bit values in 16-bit words: the value is
    // min(sample, 4095) and the range 0..4095 is fixed, not measured.
    bool twelveBitSamples = false;
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}};
    DirectionMatrix direction{{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0}};
    std::array<double, 3> origin{{0.0, 0.0, 0.0}}; // stored voxel 0's centre, LPS mm

    enum class Storage
    {
        Raw,        // plain samples at dataOffset in dataPath: can be mapped
        Compressed, // a gzip or zlib stream at dataOffset: must be inflated
        Other       // DICOM slices, text encodings: only the readers know
    };
    Storage storage = Storage::Raw;
    std::string dataPath;            // the file holding the samples
    std::uint64_t dataOffset = 0;    // where the samples (or their stream) start
    std::uint64_t dataFileBytes = 0; // that file's size
    // Compressed storage: bytes of the inflated stream before the samples (a
    // .nii.gz's vox_offset, an NRRD byte skip); 0 otherwise.
    std::uint64_t inflatedOffset = 0;

    // Samples of one volume (frame).
    std::uint64_t sampleCount() const { return size[0] * size[1] * size[2]; }
    // Samples the data file holds in full from dataOffset (Raw storage).
    std::uint64_t samplesPresent() const
    {
        if (dataFileBytes <= dataOffset)
            return 0;
        const std::uint64_t whole = (dataFileBytes - dataOffset) / sampleSize(type);
        return whole < sampleCount() ? whole : sampleCount();
    }
};

// A layout of format for a scan whose header a reader has read: its size,
// volumes, components, sample type, byte order, scaling and geometry, and
// dataPath as the file of its samples with that file's size. The caller
// tells the storage and where the samples start. False (with reason) where
// dataPath is no regular file.
ScanReadResult layoutOfScan(const RawScan &scan, VolumeFormat format, const std::string &dataPath,
                            ScanLayout &layout);

// Fills layout from the header of the volume file at path (a folder: a DICOM
// series) without reading a sample, so that a header announcing 64 GiB answers
// at once. The format is detected as readVolumeFile() detects it, and every
// header the readers refuse as impossible is refused here with the same
// reason; the memory rule is not applied (that is planVolumeLoad()'s work).
//
// Raw: DAT, NIfTI (.nii, .hdr/.img: dataPath is the .img), .mgh, MRC maps but
// float16 ones, NRRD and MetaImage with raw encoding, attached or detached,
// .vti files whose samples are appended raw and uncompressed.
// Compressed: .nii.gz, .mgz and gzip/zlib NRRD and MetaImage (dataOffset where
// the stream starts, inflatedOffset the bytes to skip after inflating). Other:
// float16 MRC maps (widened to the Float32 they report), text encodings, the
// other .vti encodings (base64, zlib blocks) and DICOM series;
// there size, type and geometry are the readers' but the samples can only be
// had through them. A DICOM series' size comes from its slices' headers (each
// file is screened and ordered as a load does), dataPath is the folder and
// dataFileBytes 0; the type is Float32, the form a series is read in.
// FIFOs, devices and sockets are refused at once. layout is replaced only on
// success.
ScanReadResult probeScanLayout(const std::string &path, ScanLayout &layout);
