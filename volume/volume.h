#pragma once

#include "orientation.h"
#include "voxelallocator.h"

#include <array>
#include <memory>
#include <string>
#include <vector>

class MappedScan;
class VolumeSeries;

// The colours of a colour volume (RGB or RGBA) as its file stores them: for
// each voxel in Volume::data's order its components together, in file units.
struct VoxelColours
{
    int components = 3; // 3: red, green, blue; 4: and alpha
    VoxelArray values;
    // The value a component shows at full intensity: the largest of its
    // stored type (255 for 8 bits, 65535 for 16), or of the values for
    // floating-point data.
    double fullScale = 255.0;
};

// A regular grid of scalar samples normalised to 0..1.
//
// Voxel (x, y, z) is data[x + width * (y + height * z)]: X varies fastest, then
// Y, then Z. width, height and depth are voxel counts (0..65535, read from the
// file header). A new record is 1 x 1 x 1 holding the single value 0.0.
struct Volume
{
    int width = 1;
    int height = 1;
    int depth = 1;
    VoxelArray data = VoxelArray(1, 0.0f);

    // Edge lengths of a voxel in mm along X, Y and Z. DAT files carry none:
    // their voxels are cubes of 1 mm.
    std::array<double, 3> spacing{{1.0, 1.0, 1.0}};

    // The data units that the values 0 and 1 of data stand for: a value v is
    // minimum + v * (maximum - minimum) in the file's own units. For DAT files
    // these are the samples, 0..4095.
    struct ValueRange
    {
        double minimum = 0.0;
        double maximum = 4095.0;
    };
    ValueRange valueRange;
    // For files of whole-number samples: file values are
    // sampleOffset + n * sampleStep, so that a value rebuilt from data can be
    // given exactly (volumegrid.h). 0 for floating-point samples, and where
    // nothing is known of them.
    double sampleStep = 0.0;
    double sampleOffset = 0.0;

    // Whether X, Y and Z are the patient's axes in LPS order (a scan); DAT
    // files and MRC maps (whose world is their own x, y, z) carry no patient
    // frame.
    bool patientFrame = false;
    // Whether the data means high values dark (DICOM MONOCHROME1): the slices
    // start inverted. Values stay the file's.
    bool invertedGrey = false;

    // Where the slice side's grid (full resolution, see SliceGrid) lies in the
    // world, in LPS mm: the centre of its voxel (0, 0, 0) and the unit vectors
    // along which its X, Y and Z indices grow (columns). With that grid's
    // spacing they make its ImageGrid (volumegrid.h). DAT files: 0 and the
    // identity.
    std::array<double, 3> worldOrigin{{0.0, 0.0, 0.0}};
    DirectionMatrix worldDirection{{1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0}};
    // How the file's stored axes were turned into X, Y, Z, so that a voxel
    // can be named by the file's own index.
    Reorientation fileAxes;

    // For volumes too large to hold at full resolution in memory: data holds
    // a reduced level, or a region, and fullResolution reads the file's values
    // at full resolution (the slice views and the cursor readout read those).
    // Null for volumes held whole.
    std::shared_ptr<MappedScan> fullResolution;
    // data's voxel (i, j, k) stands for the full-resolution voxels from
    // origin + (i, j, k) * 2^level on, 2^level of them along each axis.
    int level = 0;
    std::array<int, 3> origin{{0, 0, 0}};

    // For one volume of a 4D image: the series it belongs to (which makes its
    // other frames) and which of them this is. Null for a 3D image.
    std::shared_ptr<VolumeSeries> series;
    int frame = 0;

    // For a colour volume: its colours, shown as stored; data then holds
    // their luminance (0.299 R + 0.587 G + 0.114 B), which the transfer
    // function and the window work on. Null for scalar data.
    std::shared_ptr<const VoxelColours> colours;

    // Reads a volume file of any supported format (see volumefile.h) and
    // reports progress on standard output
    // and failures on standard error. The name is passed to the file-open call
    // as it is: an 8-bit path in the file system's encoding.
    //
    // Returns true when the record now holds the file's data set. On false the
    // record is exactly as it was before the call.
    [[nodiscard]] bool load(const std::string &fileName);
};
