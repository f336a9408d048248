#include "itkscanreader.h"

#include "dicomscreen.h"
#include "samplereading.h"
#include "scanfileaccess.h"
#include "textheader.h"

#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageSeriesReader.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <itkOutputWindow.h>

#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <new>
#include <sstream>

namespace {

using ScanImage = itk::Image<float, 3>;

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
    });
    return window.GetPointer();
}

ScanReadResult failure(std::string reason)
{
    ScanReadResult result;
    result.reason = std::move(reason);
    return result;
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
// is the number of files of a DICOM series (1 otherwise).
ScanReadResult checkHeader(itk::ImageIOBase &io, std::uint64_t slices, std::uint64_t expected,
                           std::array<std::size_t, 3> &size)
{
    if (io.GetNumberOfComponents() != 1)
        return failure("The image has " + std::to_string(io.GetNumberOfComponents()) +
                       " components per voxel; only scalar images can be shown.");
    size = {1, 1, 1};
    std::uint64_t count = 1;
    for (unsigned int axis = 0; axis < io.GetNumberOfDimensions(); ++axis) {
        const std::uint64_t extent = io.GetDimensions(axis);
        if (axis >= 3 && extent > 1)
            return failure("The image holds " + std::to_string(extent) +
                           " volumes (it has a fourth dimension); only 3D images can be shown.");
        if (extent == 0)
            return failure("The image is empty (an axis of size 0).");
        if (extent > 65535)
            return failure("An axis of " + std::to_string(extent) +
                           " voxels is larger than 65535, the most a volume can have.");
        if (axis < 3)
            size[axis] = std::size_t(extent);
        count *= extent;
    }
    if (slices > 1) {
        if (size[2] != 1)
            return failure("The series' slices are volumes themselves.");
        size[2] = std::size_t(slices);
        count *= slices;
    }
    if (expected != 0 && count != expected)
        return failure("ITK reads the header as " + std::to_string(count) +
                       " voxels, the header itself gives " + std::to_string(expected) + ".");
    return {true, {}};
}

void takeGeometry(itk::ImageIOBase &io, RawScan &scan)
{
    for (unsigned int axis = 0; axis < 3 && axis < io.GetNumberOfDimensions(); ++axis) {
        scan.spacing[axis] = io.GetSpacing(axis);
        const std::vector<double> column = io.GetDirection(axis);
        for (unsigned int row = 0; row < 3; ++row)
            scan.direction[3 * row + axis] = row < column.size() ? column[row] : 0.0;
    }
}

ScanReadResult readTextHeaderFile(const std::string &path, ScanFormat format,
                                  std::uint64_t maxDataBytes, RawScan &scan)
{
    TextHeaderLayout layout;
    ScanReadResult checked = format == ScanFormat::Nrrd ? scanNrrdHeader(path, layout)
                                                        : scanMetaImageHeader(path, layout);
    if (!checked.ok)
        return checked;
    // Every axis but three of them is 1 here or refused below; the memory
    // rule looks at the whole count.
    const std::uint64_t count = layout.sampleCount();
    const std::array<std::uint64_t, 3> wholeCount = {count, 1, 1};
    std::string problem = scanMemoryProblem(wholeCount, sampleSize(layout.type), maxDataBytes);
    if (!problem.empty())
        return failure(problem);

    itk::ImageIOBase::Pointer io;
    if (format == ScanFormat::Nrrd)
        io = itk::NrrdImageIO::New().GetPointer();
    else
        io = itk::MetaImageIO::New().GetPointer();
    // The contents chose the format; ITK's CanReadFile() would look at the name.
    io->SetFileName(path);
    io->ReadImageInformation();
    checked = checkHeader(*io, 1, count, scan.size);
    if (!checked.ok)
        return checked;
    takeGeometry(*io, scan);

    switch (layout.encoding) {
    case SampleEncoding::Raw: {
        scan.type = layout.type;
        scan.bigEndian = layout.bigEndian;
        std::uint64_t offset = layout.dataOffset;
        if (layout.dataAtEnd) {
            std::uint64_t fileSize = 0;
            if (!regularFileSize(layout.dataPath, fileSize, problem))
                return failure(problem);
            const std::uint64_t bytes = count * sampleSize(layout.type);
            if (fileSize < bytes)
                return failure("The samples should end the data file, but it holds only " +
                               std::to_string(fileSize) + " of their " + std::to_string(bytes) +
                               " bytes.");
            offset = fileSize - bytes;
        }
        return readRawSamples(layout.dataPath, offset, scan);
    }
    case SampleEncoding::Compressed: {
        scan.type = layout.type;
        scan.bigEndian = layout.bigEndian;
        InflateStream stream;
        if (!stream.open(layout.dataPath, layout.dataOffset, problem))
            return failure(problem);
        if (stream.read(nullptr, layout.skipAfterInflating) < layout.skipAfterInflating &&
            stream.state() == InflateStream::State::Ended)
            return failure("The compressed data ends before the bytes its header says to skip.");
        return inflateSamples(stream, scan);
    }
    case SampleEncoding::Other:
        break;
    }
    // Text and other encodings: ITK decodes them into our buffer, in the
    // machine's byte order.
    if (!sampleTypeOf(io->GetComponentType(), scan.type))
        return failure("ITK delivers a sample type that cannot be shown.");
    problem = scanMemoryProblem(wholeCount, sampleSize(scan.type), maxDataBytes);
    if (!problem.empty())
        return failure(problem);
    if (!scan.samples.allocate(count * sampleSize(scan.type)))
        return failure("There is not enough memory for the image.");
    scan.bigEndian = false;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    scan.bigEndian = true;
#endif
    io->Read(scan.samples.data());
    return {true, {}};
}

struct DicomSeries
{
    std::vector<std::string> files;
    std::vector<std::string> notes;
};

// A folder of links to the files that passed the screening, so that GDCM's
// series finder sees nothing else; removed with the object.
class ScreenedFolder
{
public:
    ~ScreenedFolder()
    {
        if (!path.empty()) {
            std::error_code error;
            std::filesystem::remove_all(path, error);
        }
    }
    std::string path;
};

// Lists the folder with our own code: regular files (links followed once)
// whose elements all fit in them; everything else is skipped and counted.
ScanReadResult screenFolder(const std::filesystem::path &folder, ScreenedFolder &screened,
                            std::vector<std::string> &notes)
{
    std::error_code error;
    std::filesystem::directory_iterator entries(folder, error);
    if (error)
        return failure("The folder cannot be listed (" + error.message() + ").");
    std::string base = (std::filesystem::temp_directory_path(error) / "kelvara-dicom-XXXXXX");
    if (!::mkdtemp(&base[0]))
        return failure("No temporary folder can be made for the series.");
    screened.path = base;
    std::uint64_t special = 0, damaged = 0, index = 0;
    std::string example;
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
        const std::string problem = dicomFileProblem(file);
        if (!problem.empty()) {
            if (example.empty())
                example = entries->path().filename().string() + ": " + problem;
            ++damaged;
            continue;
        }
        const std::filesystem::path target = std::filesystem::absolute(file, error);
        std::filesystem::create_symlink(
            target, std::filesystem::path(base) / ("f" + std::to_string(index++)), error);
    }
    if (special > 0)
        notes.push_back(std::to_string(special) +
                        " entries of the folder are not regular files (pipes, devices, "
                        "sockets, dangling or looping links) and were skipped.");
    if (damaged > 0)
        notes.push_back(std::to_string(damaged) +
                        " files of the folder are damaged or not DICOM and were skipped (" +
                        example + ").");
    return {true, {}};
}

// The series of a folder to show: the one holding the chosen file, else the
// one with the most slices.
ScanReadResult pickDicomSeries(const std::string &path, DicomSeries &series)
{
    const bool isFolder = pathKind(path) == PathKind::Folder;
    std::filesystem::path folder =
        isFolder ? std::filesystem::path(path) : std::filesystem::path(path).parent_path();
    if (folder.empty())
        folder = ".";
    ScreenedFolder screened;
    ScanReadResult listed = screenFolder(folder, screened, series.notes);
    if (!listed.ok)
        return listed;
    auto names = itk::GDCMSeriesFileNames::New();
    names->SetUseSeriesDetails(true);
    names->SetDirectory(screened.path);
    const std::vector<std::string> &uids = names->GetSeriesUIDs();
    if (uids.empty())
        return failure("The folder holds no DICOM series.");

    std::error_code error;
    const std::filesystem::path chosen =
        isFolder ? std::filesystem::path() : std::filesystem::weakly_canonical(path, error);
    std::size_t most = 0;
    bool found = false;
    for (const std::string &uid : uids) {
        std::vector<std::string> files = names->GetFileNames(uid);
        // Back from the links to the files themselves.
        for (std::string &file : files)
            file = std::filesystem::read_symlink(file, error).string();
        if (!chosen.empty() && !found) {
            for (const std::string &file : files)
                if (std::filesystem::weakly_canonical(file, error) == chosen) {
                    series.files = files;
                    found = true;
                }
        }
        if (!found && files.size() > most) {
            most = files.size();
            series.files = files;
        }
    }
    if (!found && uids.size() > 1)
        series.notes.push_back("The folder holds " + std::to_string(uids.size()) +
                               " series; the one with the most slices (" + std::to_string(most) +
                               ") is shown.");
    return {true, {}};
}

ScanReadResult readDicomSeries(const std::string &path, std::uint64_t maxDataBytes, RawScan &scan)
{
    DicomSeries series;
    ScanReadResult picked = pickDicomSeries(path, series);
    if (!picked.ok)
        return picked;

    auto io = itk::GDCMImageIO::New();
    io->SetFileName(series.files.front());
    io->ReadImageInformation();
    ScanReadResult checked = checkHeader(*io, series.files.size(), 0, scan.size);
    if (!checked.ok)
        return checked;
    const std::array<std::uint64_t, 3> size = {scan.size[0], scan.size[1], scan.size[2]};
    // The series reader makes floats, and its image lives beside ours a moment.
    std::string problem = scanMemoryProblem(size, 2 * sizeof(float), maxDataBytes);
    if (!problem.empty())
        return failure(problem);

    auto reader = itk::ImageSeriesReader<ScanImage>::New();
    reader->SetImageIO(io);
    reader->SetFileNames(series.files);
    reader->Update();
    ScanImage &image = *reader->GetOutput();
    const ScanImage::RegionType region = image.GetLargestPossibleRegion();
    for (unsigned int axis = 0; axis < 3; ++axis) {
        scan.size[axis] = region.GetSize()[axis];
        scan.spacing[axis] = image.GetSpacing()[axis];
        for (unsigned int row = 0; row < 3; ++row)
            scan.direction[3 * row + axis] = image.GetDirection()[row][axis];
    }
    const std::uint64_t bytes =
        std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] * sizeof(float);
    if (!scan.samples.allocate(bytes))
        return failure("There is not enough memory for the image.");
    std::memcpy(scan.samples.data(), image.GetBufferPointer(), std::size_t(bytes));
    scan.type = SampleType::Float32;
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_BIG_ENDIAN__
    scan.bigEndian = true;
#endif
    scan.notes.insert(scan.notes.end(), series.notes.begin(), series.notes.end());
    return {true, {}};
}

} // namespace

ScanReadResult readScanWithItk(const std::string &path, ScanFormat format,
                               std::uint64_t maxDataBytes, RawScan &target)
{
    CollectingOutputWindow *window = outputWindow();
    window->takeCollected();
    RawScan scan;
    ScanReadResult result;
    try {
        result = format == ScanFormat::DicomSeries
                     ? readDicomSeries(path, maxDataBytes, scan)
                     : readTextHeaderFile(path, format, maxDataBytes, scan);
    } catch (const itk::ExceptionObject &exception) {
        result = failure(describe(exception));
    } catch (const std::bad_alloc &) {
        result = failure("There is not enough memory to read the image.");
    } catch (const std::exception &exception) {
        result = failure(exception.what());
    } catch (...) {
        result = failure("ITK could not read the file.");
    }
    for (std::string &note : window->takeCollected())
        scan.notes.push_back("ITK: " + note);
    if (result.ok)
        target = std::move(scan);
    return result;
}
