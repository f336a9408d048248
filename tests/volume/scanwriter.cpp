#include "scanwriter.h"

#include <itkGDCMImageIO.h>
#include <itkImage.h>
#include <itkImageFileWriter.h>
#include <itkImageSeriesWriter.h>
#include <itkMetaDataObject.h>
#include <itkMetaImageIOFactory.h>
#include <itkNiftiImageIOFactory.h>
#include <itkNrrdImageIOFactory.h>

#include <mutex>

#include <sstream>

namespace {

using Image3 = itk::Image<short, 3>;
using Image2 = itk::Image<short, 2>;

Image3::Pointer makeImage(const TestScan &scan)
{
    auto image = Image3::New();
    Image3::SizeType size;
    Image3::SpacingType spacing;
    Image3::DirectionType direction;
    Image3::PointType origin;
    for (unsigned int axis = 0; axis < 3; ++axis) {
        size[axis] = scan.size[axis];
        origin[axis] = scan.origin[axis];
        spacing[axis] = scan.spacing[axis];
        for (unsigned int row = 0; row < 3; ++row)
            direction[row][axis] = scan.direction[3 * row + axis];
    }
    image->SetRegions(Image3::RegionType(size));
    image->SetSpacing(spacing);
    image->SetDirection(direction);
    image->SetOrigin(origin);
    image->Allocate();
    short *buffer = image->GetBufferPointer();
    for (std::size_t i = 0; i < scan.values.size(); ++i)
        buffer[i] = short(scan.values[i]);
    return image;
}

std::string text(double a, double b, double c)
{
    std::ostringstream out;
    out.precision(10);
    out << a << "\\" << b << "\\" << c;
    return out.str();
}

} // namespace

bool writeScanWithItk(const std::string &path, const TestScan &scan, bool compress)
{
    static std::once_flag registered;
    std::call_once(registered, [] {
        itk::NiftiImageIOFactory::RegisterOneFactory();
        itk::NrrdImageIOFactory::RegisterOneFactory();
        itk::MetaImageIOFactory::RegisterOneFactory();
    });
    try {
        auto writer = itk::ImageFileWriter<Image3>::New();
        writer->SetFileName(path);
        writer->SetInput(makeImage(scan));
        writer->SetUseCompression(compress);
        writer->Update();
    } catch (const itk::ExceptionObject &) {
        return false;
    }
    return true;
}

bool writeDicomSeriesWithItk(const std::string &folder, const TestScan &scan,
                             const std::string &seriesUid, SlicePlacement placement)
{
    Image3::Pointer image = makeImage(scan);
    auto io = itk::GDCMImageIO::New();
    io->KeepOriginalUIDOn();
    // One dictionary per slice: the series is tied together by its UID and each
    // slice placed by its position.
    std::vector<itk::MetaDataDictionary> dictionaries(scan.size[2]);
    std::vector<itk::MetaDataDictionary *> pointers;
    std::vector<std::string> names;
    const std::array<double, 9> &d = scan.direction;
    for (std::size_t z = 0; z < scan.size[2]; ++z) {
        itk::MetaDataDictionary &dictionary = dictionaries[z];
        const bool apart = placement == SlicePlacement::Apart;
        Image3::IndexType index = {{0, 0, itk::IndexValueType(apart ? z : 0)}};
        Image3::PointType position;
        image->TransformIndexToPhysicalPoint(index, position);
        itk::EncapsulateMetaData<std::string>(dictionary, "0008|0060", "MR");
        itk::EncapsulateMetaData<std::string>(dictionary, "0028|0004", "MONOCHROME2");
        itk::EncapsulateMetaData<std::string>(dictionary, "0020|000d", seriesUid + ".1");
        itk::EncapsulateMetaData<std::string>(dictionary, "0020|000e", seriesUid);
        itk::EncapsulateMetaData<std::string>(dictionary, "0008|0018",
                                              seriesUid + "." + std::to_string(z + 1));
        itk::EncapsulateMetaData<std::string>(
            dictionary, "0020|0013",
            std::to_string(placement == SlicePlacement::OnePositionOneNumber ? 1 : z + 1));
        itk::EncapsulateMetaData<std::string>(dictionary, "0020|0032",
                                              text(position[0], position[1], position[2]));
        itk::EncapsulateMetaData<std::string>(
            dictionary, "0020|0037", text(d[0], d[3], d[6]) + "\\" + text(d[1], d[4], d[7]));
        itk::EncapsulateMetaData<std::string>(dictionary, "0018|0050",
                                              std::to_string(scan.spacing[2]));
        pointers.push_back(&dictionary);
        // Written in reverse order, so that reading must sort by position.
        names.push_back(folder + "/slice" + std::to_string(scan.size[2] - z) + ".dcm");
    }
    try {
        auto writer = itk::ImageSeriesWriter<Image3, Image2>::New();
        writer->SetInput(image);
        writer->SetImageIO(io);
        writer->SetFileNames(names);
        writer->SetMetaDataDictionaryArray(&pointers);
        writer->Update();
    } catch (const itk::ExceptionObject &) {
        return false;
    }
    return true;
}
