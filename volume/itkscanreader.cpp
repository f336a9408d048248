#include "itkscanreader.h"

#include "dicompixels.h"
#include "dicomscreen.h"
#include "imagestack.h"
#include "samplereading.h"
#include "scanfileaccess.h"
#include "scanlayout.h"
#include "textheader.h"

#include <gdcmTrace.h>
#include <itkBMPImageIO.h>
#include <itkGDCMImageIO.h>
#include <itkJPEGImageIO.h>
#include <itkMINCImageIO.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <itkOutputWindow.h>
#include <itkPNGImageIO.h>
#include <itkTIFFImageIO.h>
#include <itkVTKImageIO.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <optional>
#include <sstream>

namespace {

// ITK's warnings would go to standard error unseen by the window: they are
// collected and shown with the load instead.
class CollectingOutputWindow : public itk::OutputWindow
{
public:
    ITK_DISALLOW_COPY_AND_MOVE(CollectingOutputWindow);
    using Self = CollectingOutputWindow;
    using Superclass = itk::OutputWindow;
    using Pointer = itk::SmartPointer<Self>;
    itkNewMacro(Self);

    // ITK's text runs over several lines and starts with where it was said
    // ("WARNING: In FILE, line N" and the object): one line of what is said.
    void DisplayText(const char *text) override
    {
        std::string said = text ? text : "";
        const std::size_t object = said.find("): ");
        if (said.rfind("WARNING: In ", 0) == 0 && object != std::string::npos)
            said.erase(0, object + 3);
        std::string line;
        for (char c : said) {
            if (c == '\n' || c == '\r' || c == '\t')
                c = ' ';
            if (c != ' ' || (!line.empty() && line.back() != ' '))
                line += c;
        }
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        if (!line.empty())
            collected.push_back(line);
    }

    std::vector<std::string> takeCollected()
    {
        std::vector<std::string> result;
        result.swap(collected);
        return result;
    }

protected:
    CollectingOutputWindow() = default;

private:
    std::vector<std::string> collected;
};

CollectingOutputWindow *outputWindow()
{
    static CollectingOutputWindow::Pointer window;
    static std::once_flag installed;
    std::call_once(installed, [] {
        window = CollectingOutputWindow::New();
        itk::OutputWindow::SetInstance(window);
        // GDCM's warnings go straight to standard error; what they say about
        // a file (a zero spacing, missing directions) our checks tell with
        // the load instead.
        gdcm::Trace::WarningOff();
        // Its errors too: a reason reaches the user with the load, and the
        // frames of enhanced files that GDCM cannot place ("not supported
        // for now") are placed by our own code.
        gdcm::Trace::ErrorOff();
    });
    return window.GetPointer();
}

// ITK's descriptions run over several lines and start with the class and
// address of the object that threw: one line from what is said.
std::string describe(const itk::ExceptionObject &exception)
{
    std::string text = exception.GetDescription() ? exception.GetDescription() : "";
    if (text.rfind("itk::ERROR: ", 0) == 0 || text.rfind("ITK ERROR: ", 0) == 0) {
        const std::size_t start = text.find("): ");
        if (start != std::string::npos)
            text.erase(0, start + 3);
    }
    std::string line;
    for (char c : text) {
        if (c == '\n' || c == '\r' || c == '\t')
            c = ' ';
        if (c != ' ' || (!line.empty() && line.back() != ' '))
            line += c;
    }
    while (!line.empty() && line.back() == ' ')
        line.pop_back();
    return line.empty() ? std::string("ITK could not read the file.") : line;
}

// The sample type ITK's reader delivers, for encodings it decodes itself.
bool sampleTypeOf(itk::IOComponentEnum component, SampleType &type)
{
    using C = itk::IOComponentEnum;
    switch (component) {
    case C::UCHAR:
        type = SampleType::UInt8;
        return true;
    case C::CHAR:
        type = SampleType::Int8;
        return true;
    case C::USHORT:
        type = SampleType::UInt16;
        return true;
    case C::SHORT:
        type = SampleType::Int16;
        return true;
    case C::UINT:
        type = SampleType::UInt32;
        return true;
    case C::INT:
        type = SampleType::Int32;
        return true;
    case C::ULONG:
    case C::ULONGLONG:
        type = sizeof(unsigned long) == 8 || component == C::ULONGLONG ? SampleType::UInt64
                                                                       : SampleType::UInt32;
        return true;
    case C::LONG:
    case C::LONGLONG:
        type =
            sizeof(long) == 8 || component == C::LONGLONG ? SampleType::Int64 : SampleType::Int32;
        return true;
    case C::FLOAT:
        type = SampleType::Float32;
        return true;
    case C::DOUBLE:
        type = SampleType::Float64;
        return true;
    default:
        return false;
    }
}

// Checks what ITK read from the header against our own reading of it; slices
// is the number of files of a DICOM series (1 otherwise). Where frames is
// given, a fourth axis is the time of a series (its length goes there);
// otherwise it is refused.
ScanReadResult checkHeader(itk::ImageIOBase &io, std::uint64_t slices, std::uint64_t expected,
                           std::array<std::size_t, 3> &size, std::size_t *frames = nullptr,
                           std::size_t *components = nullptr)
{
    const std::size_t perVoxel = io.GetNumberOfComponents();
    const bool colour = components && (perVoxel == 3 || perVoxel == 4);
    if (perVoxel != 1 && !colour)
        return scanRefusal("The image has " + std::to_string(perVoxel) + " components per voxel; " +
                           (components
                                ? "only scalar and colour (RGB, RGBA) images can be shown."
                                : "MINC's vector dimension holds colours and vectors (the "
                                  "deformation fields of nonlinear transforms) alike without "
                                  "saying which, and only scalar MINC images are shown."));
    if (components)
        *components = perVoxel;
    size = {1, 1, 1};
    if (frames)
        *frames = 1;
    std::uint64_t count = 1;
    for (unsigned int axis = 0; axis < io.GetNumberOfDimensions(); ++axis) {
        const std::uint64_t extent = io.GetDimensions(axis);
        if (axis == 3 && extent > 1 && !frames)
            return scanRefusal(
                "The image holds " + std::to_string(extent) +
                " volumes (it has a fourth dimension); a series of volumes is not read from "
                "this format.");
        if (axis > 3 && extent > 1)
            return scanRefusal("The image has " + std::to_string(io.GetNumberOfDimensions()) +
                               " dimensions; only 3D images and series of them can be shown.");
        if (extent == 0)
            return scanRefusal("The image is empty (an axis of size 0).");
        if (extent > 65535)
            return scanRefusal("An axis of " + std::to_string(extent) +
                               " voxels is larger than 65535, the most a volume can have.");
        if (axis < 3)
            size[axis] = std::size_t(extent);
        if (axis == 3 && frames)
            *frames = std::size_t(extent);
        count *= extent;
    }
    count *= perVoxel;
    if (slices > 1) {
        if (size[2] != 1)
            return scanRefusal("The series' slices are volumes themselves.");
        size[2] = std::size_t(slices);
        count *= slices;
    }
    if (expected != 0 && count != expected)
        return scanRefusal("ITK reads the header as " + std::to_string(count) +
                           " voxels, the header itself gives " + std::to_string(expected) + ".");
    return {true, {}};
}

// A series' time step: the spacing of the fourth axis, where the header gives
// one (ITK reads 1 where it gives none).
void takeFrameInterval(itk::ImageIOBase &io, RawScan &scan)
{
    if (scan.frames > 1 && io.GetNumberOfDimensions() > 3) {
        const double step = io.GetSpacing(3);
        scan.frameInterval = std::isfinite(step) && step > 0.0 ? step : 0.0;
    }
}

void takeGeometry(itk::ImageIOBase &io, RawScan &scan)
{
    for (unsigned int axis = 0; axis < 3 && axis < io.GetNumberOfDimensions(); ++axis) {
        scan.spacing[axis] = io.GetSpacing(axis);
        scan.origin[axis] = io.GetOrigin(axis);
        const std::vector<double> column = io.GetDirection(axis);
        for (unsigned int row = 0; row < 3; ++row)
            scan.direction[3 * row + axis] = row < column.size() ? column[row] : 0.0;
    }
}

// ITK's NRRD reader scans each number of text-encoded samples into a
// 1025-byte buffer on its stack: a longer word would overrun it. The reason
// where the data at offset in path holds one, else empty.
std::string longWordProblem(const std::string &path, std::uint64_t offset)
{
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (!file)
        return {};
    std::uint64_t run = 0;
    bool tooLong = false;
    if (::fseeko(file, off_t(offset), SEEK_SET) == 0) {
        int c;
        while (!tooLong && (c = std::getc(file)) != EOF) {
            run = std::isspace(c) ? 0 : run + 1;
            tooLong = run > 1024;
        }
    }
    std::fclose(file);
    return tooLong ? "The text-encoded samples hold a word of more than 1024 characters, which "
                     "is no number."
                   : std::string();
}

// Where raw samples that end the data file start in it (NRRD byte skip -1,
// MetaImage HeaderSize -1); layout.dataOffset otherwise.
ScanReadResult rawDataOffset(const TextHeaderLayout &layout, std::uint64_t &offset)
{
    offset = layout.dataOffset;
    if (!layout.dataAtEnd)
        return {true, {}};
    std::uint64_t fileSize = 0;
    std::string problem;
    if (!regularFileSize(layout.dataPath, fileSize, problem))
        return scanRefusal(problem);
    const std::uint64_t bytes = layout.sampleCount() * sampleSize(layout.type);
    if (fileSize < bytes)
        return scanRefusal("The samples should end the data file, but it holds only " +
                           std::to_string(fileSize) + " of their " + std::to_string(bytes) +
                           " bytes.");
    offset = fileSize - bytes;
    return {true, {}};
}

// ITK 5.2 refuses an NRRD series whose patient space has three axes and whose
// fourth is time ("none" among the space directions): such a header is
// placed here, from its own fields. False (scan untouched) for any other.
bool placeNrrdSeries(const TextHeaderLayout &layout, RawScan &scan)
{
    const auto &directions = layout.spaceDirections;
    if (layout.sizes.size() != 4 || !layout.spacePlaced || directions.size() != 4 ||
        directions[3] || !directions[0] || !directions[1] || !directions[2] ||
        layout.encoding == SampleEncoding::Other)
        return false;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const std::array<double, 3> &column = *directions[axis];
        const double length =
            std::sqrt(column[0] * column[0] + column[1] * column[1] + column[2] * column[2]);
        scan.size[axis] = std::size_t(layout.sizes[axis]);
        // A zero column stays: the shared checks replace it with a warning.
        scan.spacing[axis] = length;
        for (std::size_t row = 0; row < 3; ++row)
            scan.direction[3 * row + axis] = length > 0.0 ? column[row] / length : 0.0;
    }
    scan.origin = layout.spaceOrigin;
    scan.frames = std::size_t(layout.sizes[3]);
    const double step = layout.spacings.size() == 4 ? layout.spacings[3] : 0.0;
    scan.frameInterval = std::isfinite(step) && step > 0.0 ? step : 0.0;
    return true;
}

// Our check of an NRRD or MetaImage header, then ITK's reading of it: the
// geometry goes into scan, no sample is read. The memory rule applies only
// where maxDataBytes is given.
ScanReadResult readTextHeader(const std::string &path, ScanFormat format,
                              std::optional<std::uint64_t> maxDataBytes, TextHeaderLayout &layout,
                              itk::ImageIOBase::Pointer &io, RawScan &scan)
{
    ScanReadResult checked = format == ScanFormat::Nrrd ? scanNrrdHeader(path, layout)
                                                        : scanMetaImageHeader(path, layout);
    if (!checked.ok)
        return checked;
    // Every axis beyond the fourth is 1 here or refused below; the fourth
    // counts the volumes of a series, of which one is held as floats.
    const std::uint64_t count = layout.sampleCount();
    const std::uint64_t frames =
        layout.sizes.size() > 3 && layout.sizes[3] > 0 ? layout.sizes[3] : 1;
    if (maxDataBytes) {
        const std::string problem = scanMemoryProblem(
            {count / frames, 1, 1}, sampleSize(layout.type), *maxDataBytes, frames);
        if (!problem.empty())
            return scanRefusal(problem);
    }

    if (format == ScanFormat::Nrrd && placeNrrdSeries(layout, scan))
        return {true, {}};
    if (format == ScanFormat::Nrrd)
        io = itk::NrrdImageIO::New().GetPointer();
    else
        io = itk::MetaImageIO::New().GetPointer();
    // The contents chose the format; ITK's CanReadFile() would look at the name.
    io->SetFileName(path);
    io->ReadImageInformation();
    checked = checkHeader(*io, 1, count, scan.size, &scan.frames, &scan.components);
    if (!checked.ok)
        return checked;
    // ITK takes any axis of values per voxel (vectors, a list of volumes) for
    // components: only a colour's are shown as colour.
    if (scan.components > 1) {
        const std::string kind =
            format == ScanFormat::Nrrd && !layout.kinds.empty() ? layout.kinds.front() : "";
        const bool colour =
            format == ScanFormat::Nrrd
                ? kind == "RGB-color" || kind == "RGBA-color" || kind == "3-color" ||
                      kind == "4-color"
                : layout.type == SampleType::UInt8 || layout.type == SampleType::UInt16;
        if (!colour)
            return scanRefusal("The image has " + std::to_string(scan.components) +
                               " values per voxel" +
                               (kind.empty() ? std::string() : " (kind '" + kind + "')") +
                               ", not a colour; only scalar and colour images can be shown.");
    }
    takeGeometry(*io, scan);
    takeFrameInterval(*io, scan);
    if (layout.sizes.size() == 3 && layout.spacings.size() == 3)
        for (std::size_t axis = 0; axis < 3; ++axis)
            if (!(std::isfinite(layout.spacings[axis]) && layout.spacings[axis] > 0.0))
                scan.spacing[axis] = layout.spacings[axis];
    // ITK reads only the matrix; a header that gives just the letters
    // still says how its axes lie.
    if (format == ScanFormat::MetaImage && !layout.directionGiven)
        if (const std::optional<DirectionMatrix> direction =
                anatomicalDirection(layout.anatomicalOrientation))
            scan.direction = *direction;
    return {true, {}};
}

ScanReadResult readTextHeaderFile(const std::string &path, ScanFormat format,
                                  std::uint64_t maxDataBytes, RawScan &scan)
{
    TextHeaderLayout layout;
    itk::ImageIOBase::Pointer io;
    ScanReadResult checked = readTextHeader(path, format, maxDataBytes, layout, io, scan);
    if (!checked.ok)
        return checked;
    const std::uint64_t count = layout.sampleCount();
    std::string problem;

    switch (layout.encoding) {
    case SampleEncoding::Raw: {
        scan.type = layout.type;
        scan.bigEndian = layout.bigEndian;
        std::uint64_t offset = 0;
        checked = rawDataOffset(layout, offset);
        if (!checked.ok)
            return checked;
        return readRawSamples(layout.dataPath, offset, scan);
    }
    case SampleEncoding::Compressed: {
        scan.type = layout.type;
        scan.bigEndian = layout.bigEndian;
        InflateStream stream;
        if (!stream.open(layout.dataPath, layout.dataOffset, problem))
            return scanRefusal(problem);
        if (stream.read(nullptr, layout.skipAfterInflating) < layout.skipAfterInflating &&
            stream.state() == InflateStream::State::Ended)
            return scanRefusal(
                "The compressed data ends before the bytes its header says to skip.");
        return inflateSamples(stream, scan);
    }
    case SampleEncoding::Other:
        break;
    }
    // Text and other encodings: ITK decodes them into our buffer, in the
    // machine's byte order.
    if (format == ScanFormat::Nrrd) {
        problem = longWordProblem(layout.dataPath, layout.dataOffset);
        if (!problem.empty())
            return scanRefusal(problem);
    }
    if (!sampleTypeOf(io->GetComponentType(), scan.type))
        return scanRefusal("ITK delivers a sample type that cannot be shown.");
    problem = scanMemoryProblem({count / scan.frames, 1, 1}, sampleSize(scan.type), maxDataBytes,
                                scan.frames);
    if (!problem.empty())
        return scanRefusal(problem);
    if (!scan.samples.allocate(count * sampleSize(scan.type)))
        return scanRefusal("There is not enough memory for the image.");
    scan.bigEndian = false;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    scan.bigEndian = true;
#endif
    io->Read(scan.samples.data());
    return {true, {}};
}

// A whole image through one of ITK's readers (MINC, TIFF, legacy VTK): its
// geometry, then its samples straight into scan, in the machine's order.
ScanReadResult readWholeImage(const std::string &path, ScanFormat format,
                              std::uint64_t maxDataBytes, RawScan &scan)
{
    itk::ImageIOBase::Pointer io;
    if (format == ScanFormat::Minc)
        io = itk::MINCImageIO::New().GetPointer();
    else if (format == ScanFormat::Tiff)
        io = itk::TIFFImageIO::New().GetPointer();
    else
        io = itk::VTKImageIO::New().GetPointer();
    io->SetFileName(path);
    io->ReadImageInformation();
    ScanReadResult checked =
        checkHeader(*io, 1, 0, scan.size, format == ScanFormat::Minc ? &scan.frames : nullptr,
                    format == ScanFormat::Minc ? nullptr : &scan.components);
    if (!checked.ok)
        return checked;
    takeGeometry(*io, scan);
    takeFrameInterval(*io, scan);
    scan.patientFrame = format == ScanFormat::Minc;
    // MINC's world is RAS, and this build of ITK hands it on as it stands.
    if (format == ScanFormat::Minc)
        for (std::size_t row = 0; row < 2; ++row) {
            scan.origin[row] = -scan.origin[row];
            for (std::size_t column = 0; column < 3; ++column)
                scan.direction[3 * row + column] = -scan.direction[3 * row + column];
        }
    if (!sampleTypeOf(io->GetComponentType(), scan.type))
        return scanRefusal("ITK delivers a sample type that cannot be shown.");
    const std::array<std::uint64_t, 3> size = {scan.size[0], scan.size[1], scan.size[2]};
    const std::string problem =
        scanMemoryProblem(size, sampleSize(scan.type), maxDataBytes, scan.frames * scan.components);
    if (!problem.empty())
        return scanRefusal(problem);
    if (!scan.samples.allocate(size[0] * size[1] * size[2] * scan.frames * scan.components *
                               sampleSize(scan.type)))
        return scanRefusal("There is not enough memory for the image.");
    scan.bigEndian = machineIsBigEndian();
    // These readers read the region asked for, which starts out empty.
    itk::ImageIORegion region(io->GetNumberOfDimensions());
    for (unsigned int axis = 0; axis < io->GetNumberOfDimensions(); ++axis) {
        region.SetIndex(axis, 0);
        region.SetSize(axis, io->GetDimensions(axis));
    }
    io->SetIORegion(region);
    io->Read(scan.samples.data());
    return {true, {}};
}

// A DICOM file of a folder with what its screening found.
struct DicomFile
{
    std::string path;
    DicomSliceFacts facts;
};

std::string fileName(const std::string &path)
{
    return std::filesystem::path(path).filename().string();
}

// The reader of one slice of a stack, by its name's suffix.
itk::ImageIOBase::Pointer sliceReader(const std::string &path)
{
    std::string suffix = std::filesystem::path(path).extension().string();
    for (char &c : suffix)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    if (suffix == ".png")
        return itk::PNGImageIO::New().GetPointer();
    if (suffix == ".jpg" || suffix == ".jpeg")
        return itk::JPEGImageIO::New().GetPointer();
    if (suffix == ".bmp")
        return itk::BMPImageIO::New().GetPointer();
    return itk::TIFFImageIO::New().GetPointer();
}

// Reads the slice at path into to after checking that it is a scalar 2D
// image of the given size and type (the first slice's).
ScanReadResult readStackSlice(const std::string &path, const std::array<std::size_t, 3> &size,
                              SampleType type, std::size_t components, unsigned char *to)
{
    itk::ImageIOBase::Pointer io = sliceReader(path);
    io->SetFileName(path);
    io->ReadImageInformation();
    std::array<std::size_t, 3> sliceSize{};
    std::size_t sliceComponents = 1;
    ScanReadResult checked = checkHeader(*io, 1, 0, sliceSize, nullptr, &sliceComponents);
    SampleType sliceType = SampleType::UInt8;
    if (!checked.ok)
        return scanRefusal(fileName(path) + ": " + checked.reason);
    if (!sampleTypeOf(io->GetComponentType(), sliceType) || sliceType != type ||
        sliceComponents != components || sliceSize[0] != size[0] || sliceSize[1] != size[1] ||
        sliceSize[2] != 1)
        return scanRefusal("Slice " + fileName(path) +
                           " has another size, sample type or colour than the "
                           "first slice.");
    itk::ImageIORegion region(io->GetNumberOfDimensions());
    for (unsigned int axis = 0; axis < io->GetNumberOfDimensions(); ++axis) {
        region.SetIndex(axis, 0);
        region.SetSize(axis, io->GetDimensions(axis));
    }
    io->SetIORegion(region);
    io->Read(to);
    return {true, {}};
}

// A stack of 2D images, one per slice (imagestack.h), read slice by slice
// into one buffer: the first slice gives size, type and spacing.
ScanReadResult readImageStack(const std::string &path, std::uint64_t maxDataBytes, RawScan &scan)
{
    const ImageStackFiles stack = listImageStack(path);
    if (stack.files.empty())
        return scanRefusal(stack.reason);
    if (stack.files.size() > 65535)
        return scanRefusal("The stack has " + std::to_string(stack.files.size()) +
                           " slices; a volume has at most 65535.");
    itk::ImageIOBase::Pointer first = sliceReader(stack.files.front());
    first->SetFileName(stack.files.front());
    first->ReadImageInformation();
    ScanReadResult checked = checkHeader(*first, 1, 0, scan.size, nullptr, &scan.components);
    if (!checked.ok)
        return scanRefusal(fileName(stack.files.front()) + ": " + checked.reason);
    if (scan.size[2] != 1)
        return scanRefusal(fileName(stack.files.front()) + " holds several pages; a stack is made "
                                                           "of 2D images.");
    if (!sampleTypeOf(first->GetComponentType(), scan.type))
        return scanRefusal("ITK delivers a sample type that cannot be shown.");
    scan.size[2] = stack.files.size();
    for (unsigned int axis = 0; axis < 2; ++axis)
        scan.spacing[axis] = first->GetSpacing(axis);
    scan.patientFrame = false;
    const std::array<std::uint64_t, 3> size = {scan.size[0], scan.size[1], scan.size[2]};
    const std::string problem =
        scanMemoryProblem(size, sampleSize(scan.type), maxDataBytes, scan.components);
    if (!problem.empty())
        return scanRefusal(problem);
    const std::uint64_t sliceBytes = size[0] * size[1] * scan.components * sampleSize(scan.type);
    if (!scan.samples.allocate(sliceBytes * size[2]))
        return scanRefusal("There is not enough memory for the image.");
    scan.bigEndian = machineIsBigEndian();
    for (std::size_t slice = 0; slice < stack.files.size(); ++slice) {
        checked = readStackSlice(stack.files[slice], scan.size, scan.type, scan.components,
                                 scan.samples.data() + slice * sliceBytes);
        if (!checked.ok)
            return checked;
    }
    scan.notes = stack.notes;
    scan.notes.push_back("The slices lie 1 unit apart: an image stack does not say how far.");
    return {true, {}};
}

// Lists the folder with our own code: regular files (links followed once),
// each screened by screenDicomFile(); special entries are counted in notes.
ScanReadResult listDicomFolder(const std::filesystem::path &folder, std::vector<DicomFile> &files,
                               std::vector<std::string> &notes)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return scanRefusal("The folder cannot be listed (" + error.message() + ").");
    std::uint64_t special = 0;
    for (; entries != std::filesystem::directory_iterator(); entries.increment(error)) {
        if (error)
            break;
        const std::string file = entries->path().string();
        const PathKind kind = pathKind(file);
        if (kind == PathKind::Folder)
            continue;
        if (kind != PathKind::File) {
            ++special;
            continue;
        }
        files.push_back({file, screenDicomFile(file)});
    }
    if (special > 0)
        notes.push_back(std::to_string(special) +
                        " entries of the folder are not regular files (pipes, devices, "
                        "sockets, dangling or looping links) and were skipped.");
    return {true, {}};
}

// A series put together: the file of each slice place along the normal, in
// order; -1 where no readable file holds that place.
struct DicomSeriesLayout
{
    std::vector<const DicomFile *> files; // the sound files of the series
    // Where damaged files of the series said they lie (LPS, mm).
    std::vector<std::array<double, 3>> lostPositions;
    std::vector<int> places;
    double spacing = 0.0; // between places in mm; 0 where the files give none
    bool againstNormal = false;
    // Where the slice of place 0 lies (LPS mm), where the files say.
    std::optional<std::array<double, 3>> firstPosition;
    std::vector<std::string> notes;
};

// Orders the slices by their position along normal; where positions are
// missing or repeated, by instance number (with a note), else refuses. A gap
// of whole steps between positions, or a damaged slice's position, leaves an
// empty place.
ScanReadResult layOutSeries(const std::array<double, 3> &normal, DicomSeriesLayout &layout)
{
    const std::size_t count = layout.files.size();
    std::vector<double> along(count, 0.0);
    std::size_t placed = 0;
    for (std::size_t i = 0; i < count; ++i)
        if (const auto &position = layout.files[i]->facts.position) {
            along[i] = (*position)[0] * normal[0] + (*position)[1] * normal[1] +
                       (*position)[2] * normal[2];
            ++placed;
        }
    std::vector<int> order(count);
    for (std::size_t i = 0; i < count; ++i)
        order[i] = int(i);
    std::sort(order.begin(), order.end(), [&](int a, int b) { return along[a] < along[b]; });
    // Positions are written as text with a few decimals.
    const double tolerance = 1e-3;
    std::size_t repeated = 0;
    for (std::size_t i = 1; i < count; ++i)
        if (along[order[i]] - along[order[i - 1]] <= tolerance)
            ++repeated;

    if (placed == count && repeated == 0) {
        // Damaged slices that gave their position keep their place, empty.
        std::vector<std::pair<double, int>> entries;
        for (int i : order)
            entries.emplace_back(along[std::size_t(i)], i);
        for (const std::array<double, 3> &position : layout.lostPositions) {
            const double at =
                position[0] * normal[0] + position[1] * normal[1] + position[2] * normal[2];
            if (std::none_of(along.begin(), along.end(),
                             [&](double other) { return std::fabs(other - at) <= tolerance; }))
                entries.emplace_back(at, -1);
        }
        std::sort(entries.begin(), entries.end());
        if (entries[0].second >= 0) {
            layout.firstPosition = layout.files[std::size_t(entries[0].second)]->facts.position;
        } else {
            // A damaged slice comes first: its position is the lowest of the
            // lost ones.
            auto alongNormal = [&](const std::array<double, 3> &p) {
                return p[0] * normal[0] + p[1] * normal[1] + p[2] * normal[2];
            };
            layout.firstPosition = *std::min_element(
                layout.lostPositions.begin(), layout.lostPositions.end(),
                [&](const auto &a, const auto &b) { return alongNormal(a) < alongNormal(b); });
        }
        double step = entries[1].first - entries[0].first;
        for (std::size_t i = 2; i < entries.size(); ++i)
            step = std::min(step, entries[i].first - entries[i - 1].first);
        bool uneven = false;
        layout.places.push_back(entries[0].second);
        for (std::size_t i = 1; i < entries.size(); ++i) {
            const double gap = entries[i].first - entries[i - 1].first;
            const double steps = std::round(gap / step);
            if (!(steps + double(layout.places.size()) <= 65535.0))
                return scanRefusal("The slice positions span more than 65535 steps of " +
                                   std::to_string(step) + " mm, the most a volume can have.");
            if (std::fabs(gap - steps * step) > 0.1 * step)
                uneven = true;
            else
                layout.places.insert(layout.places.end(), std::size_t(steps) - 1, -1);
            layout.places.push_back(entries[i].second);
        }
        layout.spacing = step;
        if (uneven) {
            layout.spacing =
                (entries.back().first - entries.front().first) / double(layout.places.size() - 1);
            layout.notes.push_back("The slices are unevenly spaced; an even spacing of " +
                                   std::to_string(layout.spacing) + " mm is used.");
        }
        return {true, {}};
    }

    const std::string why =
        placed < count
            ? std::to_string(count - placed) + " of the " + std::to_string(count) +
                  " slices have no position"
            : (repeated + 1 == count
                   ? "The " + std::to_string(count) + " slices lie at one position"
                   : std::to_string(repeated) + " slices lie at the position of another");
    std::set<long long> numbers;
    for (const DicomFile *file : layout.files)
        if (file->facts.instanceNumber)
            numbers.insert(*file->facts.instanceNumber);
    if (numbers.size() < count)
        return scanRefusal(why + ", and their instance numbers are missing or repeated: the order "
                                 "of the slices is unknown.");
    std::sort(order.begin(), order.end(), [&](int a, int b) {
        return *layout.files[std::size_t(a)]->facts.instanceNumber <
               *layout.files[std::size_t(b)]->facts.instanceNumber;
    });
    layout.places = order;
    if (placed == count) {
        layout.spacing = std::fabs(along[order[count - 1]] - along[order[0]]) / double(count - 1);
        layout.againstNormal = along[order[0]] > along[order[count - 1]];
        layout.firstPosition = layout.files[std::size_t(order[0])]->facts.position;
    }
    layout.notes.push_back(why + "; they are ordered by instance number.");
    return {true, {}};
}

template <typename T> void widen(const unsigned char *from, float *to, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        T value;
        std::memcpy(&value, from + i * sizeof(T), sizeof(T));
        to[i] = float(value);
    }
}

void samplesToFloat(SampleType type, const unsigned char *from, float *to, std::size_t count)
{
    switch (type) {
    case SampleType::UInt8:
        return widen<std::uint8_t>(from, to, count);
    case SampleType::Int8:
        return widen<std::int8_t>(from, to, count);
    case SampleType::UInt16:
        return widen<std::uint16_t>(from, to, count);
    case SampleType::Int16:
        return widen<std::int16_t>(from, to, count);
    case SampleType::UInt32:
        return widen<std::uint32_t>(from, to, count);
    case SampleType::Int32:
        return widen<std::int32_t>(from, to, count);
    case SampleType::UInt64:
        return widen<std::uint64_t>(from, to, count);
    case SampleType::Int64:
        return widen<std::int64_t>(from, to, count);
    case SampleType::Float32:
        return widen<float>(from, to, count);
    case SampleType::Float64:
        return widen<double>(from, to, count);
    }
}

// Reads one file's pixels (GDCM decodes and rescales them) as floats into to,
// which holds count samples; the reason where that fails.
std::string readDicomPixels(itk::GDCMImageIO &io, float *to, std::uint64_t count,
                            std::size_t components)
{
    try {
        SampleType type;
        if (io.GetNumberOfComponents() != components || !sampleTypeOf(io.GetComponentType(), type))
            return "its samples cannot be shown";
        if (std::uint64_t(io.GetImageSizeInPixels()) != count)
            return "its size differs from the series'";
        const std::size_t values = std::size_t(count * components);
        std::vector<unsigned char> samples(values * sampleSize(type));
        io.Read(samples.data());
        samplesToFloat(type, samples.data(), to, values);
    } catch (const itk::ExceptionObject &exception) {
        return describe(exception);
    }
    return {};
}

// GDCM turns a zero or non-finite Pixel Spacing into 1 and a zero or
// degenerate Image Orientation into the identity, saying so only on standard
// error. The file's own values go to scan instead, so that the checks every
// reader shares replace them with a warning that names what was wrong.
void keepUnsoundPlacement(const DicomSliceFacts &facts, RawScan &scan)
{
    if (facts.pixelSpacing) {
        // Pixel Spacing gives the step between rows (Y) first.
        const std::array<double, 2> &rowColumn = *facts.pixelSpacing;
        for (int axis = 0; axis < 2; ++axis) {
            const double step = rowColumn[std::size_t(1 - axis)];
            if (!(std::isfinite(step) && step > 0.0))
                scan.spacing[std::size_t(axis)] = step;
        }
    }
    if (facts.orientation) {
        const std::array<double, 6> &o = *facts.orientation;
        const double cross[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                                 o[0] * o[4] - o[1] * o[3]};
        const double normal =
            std::sqrt(cross[0] * cross[0] + cross[1] * cross[1] + cross[2] * cross[2]);
        if (!std::isfinite(normal) || normal < 1e-6)
            for (unsigned int row = 0; row < 3; ++row) {
                scan.direction[3 * row + 0] = o[row];
                scan.direction[3 * row + 1] = o[3 + row];
            }
    }
}

// A DICOM series as its files' headers give it, before a pixel is read.
struct DicomSeriesHeaders
{
    std::vector<DicomFile> files; // every regular file of the folder, screened
    DicomSeriesLayout layout;     // points into files
    std::vector<std::string> notes;
    std::uint64_t lost = 0; // damaged files that name the series
    std::string lostExample;
    itk::GDCMImageIO::Pointer io; // the information of the first file
    // A series over time: the slices of each volume, in temporal order (the
    // first is layout's); empty for one volume.
    std::vector<std::vector<const DicomFile *>> volumes;
    // A multi-frame file placed frame by frame (enhanced, or a cine): the
    // file's frame of each slice place, volume after volume; empty otherwise.
    std::vector<std::size_t> frameOrder;
    std::size_t frameVolumes = 0;
    double frameInterval = 0.0; // in frameUnit; 0 where the frames give no time
    std::string frameUnit;
    std::array<double, 3> normal{{0.0, 0.0, 1.0}};
};

double triggerInterval(const std::vector<std::vector<const DicomFile *>> &volumes,
                       std::string &unit);

// The slices of a series grouped by Temporal Position Identifier, in its
// order, where every slice has one, there are several and each group is as
// large as the first; else empty.
std::vector<std::vector<const DicomFile *>>
temporalVolumes(const std::vector<const DicomFile *> &files)
{
    std::map<long long, std::vector<const DicomFile *>> groups;
    for (const DicomFile *file : files) {
        if (!file->facts.temporalPosition)
            return {};
        groups[*file->facts.temporalPosition].push_back(file);
    }
    if (groups.size() < 2 || groups.size() > 65535)
        return {};
    const std::size_t slices = groups.begin()->second.size();
    std::vector<std::vector<const DicomFile *>> volumes;
    for (auto &[position, group] : groups) {
        if (group.size() != slices)
            return {};
        volumes.push_back(std::move(group));
    }
    return volumes;
}

// The third axis of scan as layout's slices lie along normal.
void placeAlongNormal(const DicomSeriesLayout &layout, const std::array<double, 3> &normal,
                      RawScan &scan)
{
    scan.spacing[2] = std::fabs(layout.spacing);
    const double sign = layout.againstNormal ? -1.0 : 1.0;
    for (unsigned int row = 0; row < 3; ++row)
        scan.direction[3 * row + 2] = sign * normal[row];
    if (layout.firstPosition)
        scan.origin = *layout.firstPosition;
}

// Places the frames of an enhanced multi-frame file as its per-frame groups
// say. Where they give every frame a Temporal Position Index and there are
// several, the frames make a series over time: each index one volume, as many
// frames in each, placed alike. Each volume's frames are ordered along normal
// as a series' slices are (a file of one volume only where every frame has a
// position of its own), and scan's third axis becomes one volume's. Leaves
// headers and scan as they are (one stack of every frame, as GDCM places it)
// otherwise, with a note where the indices are there but make no series.
void placeEnhancedFrames(const DicomFile &file, const std::array<double, 3> &normal,
                         DicomSeriesHeaders &headers, RawScan &scan)
{
    const std::vector<DicomFrameFacts> &frames = file.facts.frames;
    if (frames.size() < 2 || frames.size() != dicomFrameCount(file.facts))
        return;
    const bool timed = std::all_of(frames.begin(), frames.end(),
                                   [](const DicomFrameFacts &f) { return bool(f.temporalIndex); });
    const bool placed = std::all_of(frames.begin(), frames.end(),
                                    [](const DicomFrameFacts &f) { return bool(f.position); });
    if (!timed && !placed)
        return;
    std::map<long long, std::vector<DicomFile>> groups;
    for (std::size_t i = 0; i < frames.size(); ++i) {
        // A frame stands for a slice: its index in the file is its number.
        DicomFile frame{file.path, {}};
        frame.facts.position = frames[i].position;
        frame.facts.instanceNumber = static_cast<long long>(i);
        frame.facts.triggerTime = frames[i].triggerDelay;
        groups[timed ? *frames[i].temporalIndex : 0].push_back(std::move(frame));
    }
    if (groups.size() < 2 && !placed)
        return;
    const auto refuse = [&](const std::string &why) {
        if (groups.size() > 1)
            headers.notes.push_back("The file's frames at " + std::to_string(groups.size()) +
                                    " temporal positions make no series (" + why +
                                    "); they are shown as one stack.");
    };
    const std::size_t slices = groups.begin()->second.size();
    std::vector<std::size_t> order;
    std::vector<std::vector<const DicomFile *>> volumes;
    DicomSeriesLayout first;
    for (auto &[index, group] : groups) {
        if (group.size() != slices)
            return refuse("temporal position " + std::to_string(index) + " holds " +
                          std::to_string(group.size()) + " frames, the first " +
                          std::to_string(slices));
        DicomSeriesLayout layout;
        for (const DicomFile &frame : group)
            layout.files.push_back(&frame);
        if (slices == 1)
            layout.places = {0};
        else if (const ScanReadResult laid = layOutSeries(normal, layout); !laid.ok)
            return refuse(laid.reason);
        // One volume is laid out by position only where each frame has its
        // own: frames at one place (a cine) stay as GDCM stacks them.
        const bool byPosition =
            layout.notes.empty() &&
            std::none_of(layout.places.begin(), layout.places.end(), [](int p) { return p < 0; });
        if (groups.size() == 1 && !byPosition)
            return;
        const auto apart = [](const std::array<double, 3> &a, const std::array<double, 3> &b) {
            return std::fabs(a[0] - b[0]) + std::fabs(a[1] - b[1]) + std::fabs(a[2] - b[2]);
        };
        const bool moved = !volumes.empty() && first.firstPosition && layout.firstPosition &&
                           apart(*first.firstPosition, *layout.firstPosition) > 1e-3;
        if (layout.places.size() != slices || moved)
            return refuse("temporal position " + std::to_string(index) +
                          " does not lie as the first does");
        for (int place : layout.places)
            order.push_back(std::size_t(*layout.files[std::size_t(place)]->facts.instanceNumber));
        volumes.push_back(layout.files);
        if (volumes.size() == 1)
            first = layout;
    }
    scan.size[2] = slices;
    // GDCM gives 1 mm where it cannot read an enhanced file's spacing.
    if (const auto &spacing = file.facts.pixelSpacing)
        scan.spacing = {(*spacing)[1], (*spacing)[0], scan.spacing[2]};
    if (slices > 1)
        placeAlongNormal(first, normal, scan);
    else if (first.firstPosition)
        scan.origin = *first.firstPosition;
    headers.notes.insert(headers.notes.end(), first.notes.begin(), first.notes.end());
    headers.frameOrder = std::move(order);
    headers.frameVolumes = groups.size();
    if (groups.size() > 1)
        headers.frameInterval = triggerInterval(volumes, headers.frameUnit);
}

// A classic multi-frame file whose frames follow each other in time (its
// Frame Increment Pointer names Frame Time or the Frame Time Vector: a cine,
// ultrasound or angiography) as a series of one-slice volumes, Frame Time
// apart where it is given.
void placeCineFrames(const DicomSliceFacts &facts, DicomSeriesHeaders &headers, RawScan &scan)
{
    const std::optional<std::uint32_t> &increment = facts.pixels.frameIncrement;
    if (!facts.frames.empty() || !increment ||
        (*increment != 0x00181063 && *increment != 0x00181065))
        return;
    const std::size_t frames = std::size_t(dicomFrameCount(facts));
    headers.frameOrder.resize(frames);
    for (std::size_t frame = 0; frame < frames; ++frame)
        headers.frameOrder[frame] = frame;
    headers.frameVolumes = frames;
    scan.size[2] = 1;
    if (facts.pixels.frameTime && *facts.pixels.frameTime > 0.0) {
        headers.frameInterval = *facts.pixels.frameTime;
        headers.frameUnit = "ms";
    }
}

// Puts the planes of samples (plane values each) into the order that
// order names: plane i of the result is plane order[i] of the input, with
// one plane of scratch.
bool reorderPlanes(float *samples, std::size_t plane, const std::vector<std::size_t> &order)
{
    SampleBuffer scratch;
    if (!scratch.allocate(plane * sizeof(float)))
        return false;
    float *held = reinterpret_cast<float *>(scratch.data());
    std::vector<bool> done(order.size(), false);
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (done[start] || order[start] == start)
            continue;
        std::copy(samples + start * plane, samples + (start + 1) * plane, held);
        std::size_t at = start;
        while (order[at] != start) {
            std::copy(samples + order[at] * plane, samples + (order[at] + 1) * plane,
                      samples + at * plane);
            done[at] = true;
            at = order[at];
        }
        std::copy(held, held + plane, samples + at * plane);
        done[at] = true;
    }
    return true;
}

// Every slice of a series has the first one's rows and columns.
ScanReadResult sameSliceSizes(const DicomSeriesLayout &layout)
{
    const DicomFile &first = *layout.files.front();
    for (const DicomFile *file : layout.files)
        if (file->facts.rows != first.facts.rows || file->facts.columns != first.facts.columns)
            return scanRefusal("Slice " + fileName(file->path) + " has " +
                               std::to_string(file->facts.columns) + " x " +
                               std::to_string(file->facts.rows) + " pixels, slice " +
                               fileName(first.path) + " " + std::to_string(first.facts.columns) +
                               " x " + std::to_string(first.facts.rows) + ".");
    return {true, {}};
}

// The size and placement of a series as GDCM reads its first file.
ScanReadResult placeFromGdcm(const DicomSeriesLayout &layout, DicomSeriesHeaders &headers,
                             RawScan &scan)
{
    headers.io = itk::GDCMImageIO::New();
    itk::GDCMImageIO &io = *headers.io;
    io.SetFileName(layout.files.front()->path);
    io.ReadImageInformation();
    const bool single = layout.files.size() == 1;
    // One file: a single slice, or a multi-frame volume.
    ScanReadResult checked =
        checkHeader(io, single ? 1 : layout.files.size(), 0, scan.size, nullptr, &scan.components);
    if (!checked.ok)
        return checked;
    if (!single) {
        checked = sameSliceSizes(layout);
        if (!checked.ok)
            return checked;
    }
    const unsigned int axes = single && io.GetNumberOfDimensions() > 2 ? 3 : 2;
    for (unsigned int axis = 0; axis < axes; ++axis) {
        scan.spacing[axis] = io.GetSpacing(axis);
        const std::vector<double> column = io.GetDirection(axis);
        for (unsigned int row = 0; row < 3; ++row)
            scan.direction[3 * row + axis] = row < column.size() ? column[row] : 0.0;
    }
    for (unsigned int axis = 0; axis < 3; ++axis)
        scan.origin[axis] = axis < io.GetNumberOfDimensions() ? io.GetOrigin(axis) : 0.0;
    return {true, {}};
}

// The same from the first file's own elements, for the files that GDCM
// misreads (dicompixels.h).
ScanReadResult placeFromOwnReading(const DicomSeriesLayout &layout, RawScan &scan)
{
    const DicomSliceFacts &first = layout.files.front()->facts;
    const bool single = layout.files.size() == 1;
    if (!single) {
        ScanReadResult same = sameSliceSizes(layout);
        if (!same.ok)
            return same;
        if (dicomFrameCount(first) > 1)
            return scanRefusal("The series' slices are volumes themselves.");
    }
    scan.size = {first.columns, first.rows,
                 single ? std::size_t(dicomFrameCount(first)) : layout.files.size()};
    scan.spacing = {1.0, 1.0, 1.0};
    if (first.pixelSpacing)
        scan.spacing = {(*first.pixelSpacing)[1], (*first.pixelSpacing)[0], 1.0};
    scan.direction = {1.0, 0.0, 0.0, 0.0, 1.0, 0.0, 0.0, 0.0, 1.0};
    if (first.orientation) {
        const std::array<double, 6> &o = *first.orientation;
        const std::array<double, 3> normal = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                                              o[0] * o[4] - o[1] * o[3]};
        for (unsigned int row = 0; row < 3; ++row) {
            scan.direction[3 * row] = o[row];
            scan.direction[3 * row + 1] = o[3 + row];
            scan.direction[3 * row + 2] = normal[row];
        }
    }
    scan.origin = first.position.value_or(std::array<double, 3>{0.0, 0.0, 0.0});
    // RT dose frames lie at their grid offsets from the position, along the
    // normal.
    const std::vector<double> &offsets = first.pixels.frameOffsets;
    if (single && scan.size[2] > 1 && offsets.size() >= 2) {
        const double step = offsets[1] - offsets[0];
        scan.spacing[2] = std::fabs(step);
        for (unsigned int row = 0; row < 3; ++row) {
            scan.origin[row] += offsets[0] * scan.direction[3 * row + 2];
            if (step < 0)
                scan.direction[3 * row + 2] = -scan.direction[3 * row + 2];
        }
    }
    return {true, {}};
}

using Cosines = std::optional<std::array<double, 6>>;

// Image Orientation (Patient) alike within 1e-4 (which makes the normals
// alike too); unreadable cosines are alike among themselves.
bool sameOrientation(const Cosines &a, const Cosines &b)
{
    if (!a || !b)
        return !a && !b;
    for (std::size_t i = 0; i < 6; ++i)
        if (!(std::fabs((*a)[i] - (*b)[i]) <= 1e-4) &&
            !(std::isnan((*a)[i]) && std::isnan((*b)[i])))
            return false;
    return true;
}

// The plane slices of these cosines lie in, by the patient axis their normal
// is closest to: "axial", or "axial-like" where they are oblique.
std::string planeName(const Cosines &cosines)
{
    if (!cosines)
        return "unoriented";
    const std::array<double, 6> &o = *cosines;
    const double normal[3] = {o[1] * o[5] - o[2] * o[4], o[2] * o[3] - o[0] * o[5],
                              o[0] * o[4] - o[1] * o[3]};
    const double length =
        std::sqrt(normal[0] * normal[0] + normal[1] * normal[1] + normal[2] * normal[2]);
    if (!(length > 1e-6))
        return "unoriented";
    std::size_t axis = 0;
    for (std::size_t i = 1; i < 3; ++i)
        if (std::fabs(normal[i]) > std::fabs(normal[axis]))
            axis = i;
    static const char *const names[] = {"sagittal", "coronal", "axial"};
    return std::string(names[axis]) + (std::fabs(normal[axis]) / length < 1 - 1e-4 ? "-like" : "");
}

// Slices of one orientation.
struct OrientationGroup
{
    Cosines cosines;
    std::vector<const DicomFile *> files;
};

std::string sliceCount(std::size_t count, const std::string &plane)
{
    return std::to_string(count) + " " + plane + (count == 1 ? " slice" : " slices");
}

// A series of slices in several orientations (a localiser among axial
// slices, radial projections) cannot be stacked into one volume: only the
// largest group of one orientation is kept, and the others are named in a note.
void keepLargestOrientation(std::vector<const DicomFile *> &files, std::vector<std::string> &notes)
{
    std::vector<OrientationGroup> groups;
    for (const DicomFile *file : files) {
        auto group = std::find_if(groups.begin(), groups.end(), [&](const OrientationGroup &g) {
            return sameOrientation(g.cosines, file->facts.orientation);
        });
        if (group == groups.end())
            group = groups.insert(groups.end(), {file->facts.orientation, {}});
        group->files.push_back(file);
    }
    if (groups.size() < 2)
        return;
    // The largest group; of equal ones, the one holding the first file by name.
    const auto firstName = [](const OrientationGroup &g) {
        std::string name = g.files.front()->path;
        for (const DicomFile *file : g.files)
            name = std::min(name, file->path);
        return name;
    };
    std::sort(groups.begin(), groups.end(),
              [&](const OrientationGroup &a, const OrientationGroup &b) {
                  return a.files.size() != b.files.size() ? a.files.size() > b.files.size()
                                                          : firstName(a) < firstName(b);
              });
    std::string leftOut;
    for (std::size_t i = 1; i < groups.size(); ++i)
        leftOut += (i == 1                   ? ""
                    : i + 1 == groups.size() ? " and "
                                             : ", ") +
                   sliceCount(groups[i].files.size(), planeName(groups[i].cosines));
    notes.push_back(
        "The series holds slices in " + std::to_string(groups.size()) + " orientations; the " +
        sliceCount(groups[0].files.size(), planeName(groups[0].cosines)) + " are shown; " +
        leftOut + (groups.size() == 2 && groups[1].files.size() == 1 ? " is" : " are") +
        " left out.");
    files = groups[0].files;
}

// Lists and screens a folder's files, chooses the series (the one holding the
// chosen file, else the one with the most slices) and orders its slices: the
// size and geometry go into scan. Reads headers only.
ScanReadResult readDicomSeriesHeaders(const std::string &path, DicomSeriesHeaders &headers,
                                      RawScan &scan)
{
    const bool isFolder = pathKind(path) == PathKind::Folder;
    std::filesystem::path folder =
        isFolder ? std::filesystem::path(path) : std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    std::vector<DicomFile> &files = headers.files;
    std::vector<std::string> &notes = headers.notes;
    ScanReadResult listed = listDicomFolder(folder, files, notes);
    if (!listed.ok)
        return listed;

    std::map<std::string, std::vector<const DicomFile *>> series;
    for (const DicomFile &file : files)
        if (file.facts.problem.empty())
            series[file.facts.seriesUid].push_back(&file);
    if (series.empty())
        return scanRefusal("The folder holds no DICOM series" +
                           (files.empty() ? std::string(".")
                                          : " (" + fileName(files.front().path) + ": " +
                                                files.front().facts.problem + ")."));
    std::error_code error;
    const std::filesystem::path chosen =
        isFolder ? std::filesystem::path() : std::filesystem::weakly_canonical(path, error);
    const std::string *uid = nullptr;
    std::size_t most = 0;
    for (const DicomFile &file : files)
        if (!chosen.empty() && std::filesystem::weakly_canonical(file.path, error) == chosen &&
            series.count(file.facts.seriesUid))
            uid = &file.facts.seriesUid;
    if (!uid) {
        for (const auto &[name, members] : series)
            if (members.size() > most) {
                most = members.size();
                uid = &name;
            }
        if (series.size() > 1)
            notes.push_back("The folder holds " + std::to_string(series.size()) +
                            " series; the one with the most slices (" + std::to_string(most) +
                            ") is shown.");
    }

    // Damaged files that name the series are its lost slices; the rest are
    // merely skipped.
    std::uint64_t &lost = headers.lost, skipped = 0;
    std::string &lostExample = headers.lostExample, skippedExample;
    for (const DicomFile &file : files) {
        if (file.facts.problem.empty())
            continue;
        const bool ofSeries = !uid->empty() && file.facts.seriesUid == *uid;
        std::string &example = ofSeries ? lostExample : skippedExample;
        ++(ofSeries ? lost : skipped);
        if (example.empty())
            example = fileName(file.path) + ": " + file.facts.problem;
    }
    if (skipped > 0)
        notes.push_back(std::to_string(skipped) +
                        " files of the folder are damaged or not DICOM and were skipped (" +
                        skippedExample + ").");

    DicomSeriesLayout &layout = headers.layout;
    layout.files = series[*uid];
    keepLargestOrientation(layout.files, notes);
    headers.volumes = temporalVolumes(layout.files);
    if (!headers.volumes.empty())
        layout.files = headers.volumes.front();
    // Lost slices of another orientation have no place in the volume.
    const Cosines &kept = layout.files.front()->facts.orientation;
    for (const DicomFile &file : files)
        if (!file.facts.problem.empty() && !uid->empty() && file.facts.seriesUid == *uid &&
            file.facts.position &&
            (!file.facts.orientation || sameOrientation(file.facts.orientation, kept)))
            layout.lostPositions.push_back(*file.facts.position);
    const DicomSliceFacts &first = layout.files.front()->facts;
    if (layout.files.size() == 1)
        layout.places = {0};
    if (needsOwnPixelReading(first) && ownPixelReadingProblem(first).empty()) {
        ScanReadResult placed = placeFromOwnReading(layout, scan);
        if (!placed.ok)
            return placed;
    } else if (const std::string abort = gdcmAbortReason(first); !abort.empty()) {
        return scanRefusal("The series cannot be read: " + abort + " (" +
                           ownPixelReadingProblem(first) + ").");
    } else {
        ScanReadResult placed = placeFromGdcm(layout, headers, scan);
        if (!placed.ok)
            return placed;
    }
    keepUnsoundPlacement(layout.files.front()->facts, scan);
    const DirectionMatrix &d = scan.direction;
    std::array<double, 3> normal = {d[3] * d[7] - d[6] * d[4], d[6] * d[1] - d[0] * d[7],
                                    d[0] * d[4] - d[3] * d[1]};
    if (!(std::fabs(normal[0]) + std::fabs(normal[1]) + std::fabs(normal[2]) > 0.5))
        normal = {0.0, 0.0, 1.0};
    headers.normal = normal;
    if (layout.files.size() == 1 && dicomFrameCount(first) > 1) {
        placeEnhancedFrames(*layout.files.front(), normal, headers, scan);
        if (headers.frameOrder.empty())
            placeCineFrames(first, headers, scan);
    }
    if (layout.files.size() > 1) {
        ScanReadResult ordered = layOutSeries(normal, layout);
        if (!ordered.ok)
            return ordered;
        scan.size[2] = layout.places.size();
        placeAlongNormal(layout, normal, scan);
    }
    return {true, {}};
}

// What reading a series' slices met: empty places, slices that could not be
// read, and the first reason.
struct SliceReading
{
    std::uint64_t empty = 0;
    std::uint64_t unread = 0;
    std::string firstReason;
};

// Reads the slices of layout into samples, perPlace voxels of components
// values a place; io is the first file's GDCM reader where one has read its
// information already.
void readSeriesSlices(const DicomSeriesLayout &layout, itk::GDCMImageIO::Pointer &io,
                      float *samples, std::uint64_t perPlace, std::size_t components,
                      SliceReading &reading)
{
    for (std::size_t place = 0; place < layout.places.size(); ++place) {
        if (layout.places[place] < 0) {
            ++reading.empty;
            continue;
        }
        const DicomFile &file = *layout.files[std::size_t(layout.places[place])];
        std::string reason;
        if (components == 1 && needsOwnPixelReading(file.facts) &&
            ownPixelReadingProblem(file.facts).empty()) {
            reason =
                readOwnDicomPixels(file.path, file.facts, samples + place * perPlace, perPlace);
        } else if (!gdcmAbortReason(file.facts).empty()) {
            reason = gdcmAbortReason(file.facts);
        } else {
            if (!io || place > 0 || layout.places[0] != 0) {
                io = itk::GDCMImageIO::New();
                io->SetFileName(file.path);
            }
            try {
                io->ReadImageInformation();
            } catch (const itk::ExceptionObject &exception) {
                reason = describe(exception);
            }
            if (reason.empty())
                reason = readDicomPixels(*io, samples + place * perPlace * components, perPlace,
                                         components);
        }
        if (!reason.empty()) {
            ++reading.unread;
            ++reading.empty;
            if (reading.firstReason.empty())
                reading.firstReason = fileName(file.path) + ": " + reason;
        }
    }
}

// The time between the first two volumes of a series over time from their
// slices' mean Trigger Time (unit "ms"); 0 where a slice gives none or time
// does not advance.
double triggerInterval(const std::vector<std::vector<const DicomFile *>> &volumes,
                       std::string &unit)
{
    double mean[2] = {0.0, 0.0};
    for (std::size_t volume = 0; volume < 2; ++volume) {
        for (const DicomFile *file : volumes[volume]) {
            if (!file->facts.triggerTime)
                return 0.0;
            mean[volume] += *file->facts.triggerTime;
        }
        mean[volume] /= double(volumes[volume].size());
    }
    const double interval = mean[1] - mean[0];
    if (!(interval > 0.0))
        return 0.0;
    unit = "ms";
    return interval;
}

// Reads a folder's series, slice by slice through GDCM, into a float scan. The
// series is the one holding the chosen file, else the one with the most
// slices; damaged slices of it are counted and read as 0 where the positions
// leave their place.
ScanReadResult readDicomSeries(const std::string &path, std::uint64_t maxDataBytes, RawScan &scan)
{
    DicomSeriesHeaders headers;
    ScanReadResult described = readDicomSeriesHeaders(path, headers, scan);
    if (!described.ok)
        return described;
    DicomSeriesLayout &layout = headers.layout;
    std::vector<std::string> &notes = headers.notes;
    std::uint64_t &lost = headers.lost;
    std::string &lostExample = headers.lostExample;
    itk::GDCMImageIO::Pointer io = headers.io;
    const std::array<std::uint64_t, 3> size = {scan.size[0], scan.size[1], scan.size[2]};
    const bool framesPlaced = !headers.frameOrder.empty();
    const std::size_t frames =
        framesPlaced ? headers.frameVolumes : std::max<std::size_t>(headers.volumes.size(), 1);
    // One file holds every frame of a multi-frame volume, or of a series.
    const std::uint64_t perPlace = layout.files.size() == 1
                                       ? size[0] * size[1] * size[2] * (framesPlaced ? frames : 1)
                                       : size[0] * size[1];
    const std::size_t components = scan.components;
    const std::string problem =
        scanMemoryProblem(size, sizeof(float), maxDataBytes, frames * components);
    if (!problem.empty())
        return scanRefusal(problem);
    if (!scan.samples.allocate(size[0] * size[1] * size[2] * frames * components * sizeof(float)))
        return scanRefusal("There is not enough memory for the image.");
    float *samples = reinterpret_cast<float *>(scan.samples.data());
    SliceReading reading;
    readSeriesSlices(layout, io, samples, perPlace, components, reading);
    if (framesPlaced &&
        !reorderPlanes(samples, std::size_t(size[0] * size[1] * components), headers.frameOrder))
        return scanRefusal("There is not enough memory for the image.");
    // The later volumes of a series over time, each placed as the first.
    for (std::size_t frame = 1; frame < frames && !framesPlaced; ++frame) {
        DicomSeriesLayout later;
        later.files = headers.volumes[frame];
        ScanReadResult ordered =
            later.files.size() > 1 ? layOutSeries(headers.normal, later) : ScanReadResult{true, {}};
        if (later.files.size() == 1)
            later.places = {0};
        if (!ordered.ok || later.places.size() != layout.places.size())
            return scanRefusal("Volume " + std::to_string(frame) +
                               " of the series over time does not lie as the first does.");
        itk::GDCMImageIO::Pointer none;
        readSeriesSlices(later, none, samples + frame * size[0] * size[1] * size[2] * components,
                         perPlace, components, reading);
    }
    scan.frames = frames;
    if (framesPlaced) {
        scan.frameInterval = headers.frameInterval;
        scan.frameUnit = headers.frameUnit;
    } else if (frames > 1) {
        scan.frameInterval = triggerInterval(headers.volumes, scan.frameUnit);
    }
    const std::uint64_t empty = reading.empty, unread = reading.unread;
    const std::string &firstReason = reading.firstReason;
    const std::size_t fileCount = layout.files.size() * (framesPlaced ? 1 : frames);
    if (unread == fileCount)
        return scanRefusal("No slice of the series can be read (" + firstReason + ").");
    lost += unread;
    if (lostExample.empty())
        lostExample = firstReason;
    if (lost > 0) {
        const std::uint64_t total = fileCount + lost - unread;
        notes.push_back(std::to_string(lost) + " of " + std::to_string(total) +
                        (lost == 1 ? " slices could not be read and is missing ("
                                   : " slices could not be read and are missing (") +
                        lostExample + ").");
    }
    if (empty > 0)
        notes.push_back(std::to_string(empty) + " of the " + std::to_string(size[2] * frames) +
                        (empty == 1
                             ? " slice places of the series holds no readable slice; it reads as 0."
                             : " slice places of the series hold no readable slice; they "
                               "read as 0."));
    notes.insert(notes.end(), layout.notes.begin(), layout.notes.end());
    scan.type = SampleType::Float32;
    scan.invertedGrey = layout.files.front()->facts.pixels.photometric == "MONOCHROME1";
    SampleType stored = SampleType::Float32;
    std::array<double, 2> scaling = dicomValueScaling(layout.files.front()->facts);
    for (const auto &volume : headers.volumes.empty()
                                  ? std::vector<std::vector<const DicomFile *>>{layout.files}
                                  : headers.volumes)
        for (const DicomFile *file : volume)
            if (dicomValueScaling(file->facts) != scaling)
                scaling = {0.0, 0.0};
    scan.widenedScaling = scaling;
    if (!headers.io)
        scan.fileType = storedDicomSampleType(layout.files.front()->facts);
    else if (headers.io->GetNumberOfComponents() == scan.components &&
             sampleTypeOf(headers.io->GetComponentType(), stored))
        scan.fileType = stored;
    scan.bigEndian = false;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    scan.bigEndian = true;
#endif
    scan.notes.insert(scan.notes.end(), notes.begin(), notes.end());
    return {true, {}};
}

// Runs read with ITK's exceptions ending as a reason and its warnings
// collected into scan's notes.
template <typename Read> ScanReadResult guardedItkRead(RawScan &scan, Read read)
{
    CollectingOutputWindow *window = outputWindow();
    window->takeCollected();
    ScanReadResult result;
    try {
        result = read();
    } catch (const itk::ExceptionObject &exception) {
        result = scanRefusal(describe(exception));
    } catch (const std::bad_alloc &) {
        result = scanRefusal("There is not enough memory to read the image.");
    } catch (const std::exception &exception) {
        result = scanRefusal(exception.what());
    } catch (...) {
        result = scanRefusal("ITK could not read the file.");
    }
    for (std::string &note : window->takeCollected())
        scan.notes.push_back("ITK: " + note);
    return result;
}

} // namespace

ScanReadResult readScanWithItk(const std::string &path, ScanFormat format,
                               std::uint64_t maxDataBytes, RawScan &target)
{
    RawScan scan;
    const ScanReadResult result = guardedItkRead(scan, [&] {
        switch (format) {
        case ScanFormat::DicomSeries:
            return readDicomSeries(path, maxDataBytes, scan);
        case ScanFormat::Nrrd:
        case ScanFormat::MetaImage:
            return readTextHeaderFile(path, format, maxDataBytes, scan);
        case ScanFormat::Minc:
        case ScanFormat::Tiff:
        case ScanFormat::VtkLegacy:
            return readWholeImage(path, format, maxDataBytes, scan);
        case ScanFormat::ImageStack:
            return readImageStack(path, maxDataBytes, scan);
        case ScanFormat::Nifti:
            break;
        }
        return scanRefusal("NIfTI files are read by our own reader.");
    });
    if (result.ok)
        target = std::move(scan);
    return result;
}

ScanReadResult readScanLayoutWithItk(const std::string &path, ScanFormat format, ScanLayout &layout)
{
    RawScan scan;
    ScanLayout probed;
    const ScanReadResult result = guardedItkRead(scan, [&]() -> ScanReadResult {
        if (format == ScanFormat::DicomSeries) {
            DicomSeriesHeaders headers;
            const ScanReadResult described = readDicomSeriesHeaders(path, headers, scan);
            if (!described.ok)
                return described;
            probed.format = VolumeFormat::DicomSeries;
            probed.storage = ScanLayout::Storage::Other;
            probed.type = SampleType::Float32;
            std::filesystem::path folder = pathKind(path) == PathKind::Folder
                                               ? std::filesystem::path(path)
                                               : std::filesystem::path(path).parent_path();
            probed.dataPath = folder.empty() ? "." : folder.string();
        } else {
            TextHeaderLayout text;
            itk::ImageIOBase::Pointer io;
            ScanReadResult checked = readTextHeader(path, format, std::nullopt, text, io, scan);
            if (!checked.ok)
                return checked;
            probed.format =
                format == ScanFormat::Nrrd ? VolumeFormat::Nrrd : VolumeFormat::MetaImage;
            probed.type = text.type;
            probed.bigEndian = text.bigEndian;
            probed.dataPath = text.dataPath;
            probed.dataOffset = text.dataOffset;
            switch (text.encoding) {
            case SampleEncoding::Raw:
                probed.storage = ScanLayout::Storage::Raw;
                checked = rawDataOffset(text, probed.dataOffset);
                if (!checked.ok)
                    return checked;
                break;
            case SampleEncoding::Compressed:
                probed.storage = ScanLayout::Storage::Compressed;
                probed.inflatedOffset = text.skipAfterInflating;
                break;
            case SampleEncoding::Other:
                // ITK decodes these into the machine's byte order.
                probed.storage = ScanLayout::Storage::Other;
                if (!sampleTypeOf(io->GetComponentType(), probed.type))
                    return scanRefusal("ITK delivers a sample type that cannot be shown.");
                probed.bigEndian = false;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
                probed.bigEndian = true;
#endif
                break;
            }
            std::string problem;
            if (!regularFileSize(probed.dataPath, probed.dataFileBytes, problem))
                return scanRefusal(problem);
        }
        return {true, {}};
    });
    if (!result.ok)
        return result;
    probed.size = {scan.size[0], scan.size[1], scan.size[2]};
    probed.frames = scan.frames;
    probed.components = scan.components;
    probed.frameInterval = scan.frameInterval;
    probed.spacing = scan.spacing;
    probed.direction = scan.direction;
    probed.origin = scan.origin;
    layout = std::move(probed);
    return result;
}
