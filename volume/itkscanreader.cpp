#include "itkscanreader.h"

#include <itkGDCMImageIO.h>
#include <itkGDCMSeriesFileNames.h>
#include <itkImage.h>
#include <itkImageFileReader.h>
#include <itkImageSeriesReader.h>
#include <itkMetaImageIO.h>
#include <itkNiftiImageIO.h>
#include <itkNrrdImageIO.h>
#include <itkOutputWindow.h>

#include <algorithm>
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

    void DisplayText(const char *text) override
    {
        std::string line = text ? text : "";
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r'))
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

itk::ImageIOBase::Pointer imageIoFor(ScanFormat format)
{
    switch (format) {
    case ScanFormat::Nifti:
        return itk::NiftiImageIO::New().GetPointer();
    case ScanFormat::Nrrd:
        return itk::NrrdImageIO::New().GetPointer();
    case ScanFormat::MetaImage:
        return itk::MetaImageIO::New().GetPointer();
    case ScanFormat::DicomSeries:
        return itk::GDCMImageIO::New().GetPointer();
    }
    return nullptr;
}

// Checks what the header promises before any voxel is read; slices is the
// number of files of a DICOM series (1 otherwise).
ScanReadResult checkHeader(itk::ImageIOBase &io, std::uint64_t slices, std::uint64_t maxDataBytes)
{
    if (io.GetNumberOfComponents() != 1)
        return failure("The image has " + std::to_string(io.GetNumberOfComponents()) +
                       " components per voxel; only scalar images can be shown.");
    std::uint64_t count = slices;
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
        count *= extent;
    }
    // ITK's array and the volume's are both floats and live side by side for
    // a moment.
    const std::uint64_t bytes = count * 2 * sizeof(float);
    if (count > UINT32_MAX || bytes > maxDataBytes)
        return failure("The image has " + std::to_string(count) + " voxels (" +
                       std::to_string(bytes >> 20) +
                       " MiB as floats while loading), more than can be held in memory here (" +
                       std::to_string(maxDataBytes >> 20) + " MiB).");
    return {true, {}};
}

void takeImage(ScanImage &image, StoredScan &scan)
{
    const ScanImage::RegionType region = image.GetLargestPossibleRegion();
    for (unsigned int axis = 0; axis < 3; ++axis) {
        scan.size[axis] = region.GetSize()[axis];
        scan.spacing[axis] = image.GetSpacing()[axis];
        for (unsigned int row = 0; row < 3; ++row)
            scan.direction[3 * row + axis] = image.GetDirection()[row][axis];
    }
    // The buffer was allocated by new[]; the scan owns it from here on.
    image.GetPixelContainer()->SetContainerManageMemory(false);
    scan.values.reset(image.GetBufferPointer());
}

struct DicomSeries
{
    std::vector<std::string> files;
    std::string note;
};

// The series of a folder to show: the one holding the chosen file, else the
// one with the most slices.
ScanReadResult pickDicomSeries(const std::string &path, DicomSeries &series)
{
    std::error_code error;
    const bool isFolder = std::filesystem::is_directory(path, error);
    const std::filesystem::path folder =
        isFolder ? std::filesystem::path(path) : std::filesystem::path(path).parent_path();
    auto names = itk::GDCMSeriesFileNames::New();
    names->SetUseSeriesDetails(true);
    names->SetDirectory(folder.empty() ? std::string(".") : folder.string());
    const std::vector<std::string> &uids = names->GetSeriesUIDs();
    if (uids.empty())
        return failure("The folder holds no DICOM series.");

    const std::filesystem::path chosen =
        isFolder ? std::filesystem::path() : std::filesystem::weakly_canonical(path, error);
    std::size_t most = 0;
    for (const std::string &uid : uids) {
        const std::vector<std::string> files = names->GetFileNames(uid);
        if (!chosen.empty()) {
            for (const std::string &file : files) {
                if (std::filesystem::weakly_canonical(file, error) == chosen) {
                    series.files = files;
                    return {true, {}};
                }
            }
        }
        if (files.size() > most) {
            most = files.size();
            series.files = files;
        }
    }
    if (uids.size() > 1)
        series.note = "The folder holds " + std::to_string(uids.size()) +
                      " series; the one with the most slices (" + std::to_string(most) +
                      ") is shown.";
    return {true, {}};
}

ScanReadResult readSingleFile(const std::string &path, ScanFormat format,
                              std::uint64_t maxDataBytes, StoredScan &scan)
{
    itk::ImageIOBase::Pointer io = imageIoFor(format);
    io->SetFileName(path);
    if (!io->CanReadFile(path.c_str()))
        return failure("ITK cannot read this file as the format its name or contents suggest.");
    io->ReadImageInformation();
    ScanReadResult checked = checkHeader(*io, 1, maxDataBytes);
    if (!checked.ok)
        return checked;

    auto reader = itk::ImageFileReader<ScanImage>::New();
    reader->SetImageIO(io);
    reader->SetFileName(path);
    reader->Update();
    takeImage(*reader->GetOutput(), scan);
    return {true, {}};
}

ScanReadResult readDicomSeries(const std::string &path, std::uint64_t maxDataBytes,
                               StoredScan &scan)
{
    DicomSeries series;
    ScanReadResult picked = pickDicomSeries(path, series);
    if (!picked.ok)
        return picked;

    auto io = itk::GDCMImageIO::New();
    io->SetFileName(series.files.front());
    io->ReadImageInformation();
    ScanReadResult checked = checkHeader(*io, series.files.size(), maxDataBytes);
    if (!checked.ok)
        return checked;

    auto reader = itk::ImageSeriesReader<ScanImage>::New();
    reader->SetImageIO(io);
    reader->SetFileNames(series.files);
    reader->Update();
    takeImage(*reader->GetOutput(), scan);
    if (!series.note.empty())
        scan.notes.push_back(series.note);
    return {true, {}};
}

} // namespace

ScanReadResult readScanWithItk(const std::string &path, ScanFormat format,
                               std::uint64_t maxDataBytes, StoredScan &target)
{
    CollectingOutputWindow *window = outputWindow();
    window->takeCollected();
    StoredScan scan;
    ScanReadResult result;
    try {
        result = format == ScanFormat::DicomSeries
                     ? readDicomSeries(path, maxDataBytes, scan)
                     : readSingleFile(path, format, maxDataBytes, scan);
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
