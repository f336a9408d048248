// kelvara-scan-corpus DIR: writes the scan fuzzer's starting inputs into DIR,
// small sound NIfTI-1/-2 (plain, gzip, header pair, a series, colour), NRRD and
// MetaImage files (a series placed in a space, colour), VTK image data (ascii,
// base64, appended raw, zlib) and an MGH file of two frames,
// each behind the byte that picks its name in scanfilefuzzer.cpp. Generated
// rather than committed so that no binary files live in git.

#include <zlib.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

namespace {

enum Name : char
{
    Nii = 0,
    NiiGz = 1,
    Nrrd = 2,
    Mha = 3,
    Hdr = 4,
    Mhd = 5,
    Vti = 6,
    Mgh = 7,
    Mrc = 8
};

template <typename T> void put(std::string &bytes, std::size_t at, T value)
{
    std::memcpy(&bytes[at], &value, sizeof value);
}

// A NIfTI-1 header (little-endian) for dims of datatype, followed by samples.
std::string nifti1(const std::int16_t (&dim)[4], std::int16_t datatype, std::int16_t bitpix,
                   bool sform, const char *magic, const std::string &samples,
                   std::int16_t volumes = 1)
{
    std::string bytes(352, '\0');
    put<std::int32_t>(bytes, 0, 348);
    for (int i = 0; i < 4; ++i)
        put<std::int16_t>(bytes, 40 + 2 * std::size_t(i), dim[i]);
    if (volumes > 1) {
        put<std::int16_t>(bytes, 40, 4);
        put<std::int16_t>(bytes, 48, volumes);
    }
    put<std::int16_t>(bytes, 70, datatype);
    put<std::int16_t>(bytes, 72, bitpix);
    for (int i = 0; i < 4; ++i)
        put<float>(bytes, 76 + 4 * std::size_t(i), i == 3 ? 2.0f : 1.0f);
    put<float>(bytes, 108, std::strcmp(magic, "n+1") == 0 ? 352.0f : 0.0f);
    put<float>(bytes, 112, 2.0f);  // scl_slope
    put<float>(bytes, 116, -1.0f); // scl_inter
    if (sform) {
        put<std::int16_t>(bytes, 254, 1);
        const float rows[3][4] = {{-1, 0, 0, 3}, {0, 0.5f, 0, -2}, {0, 0, 2, 1}};
        for (int row = 0; row < 3; ++row)
            for (int column = 0; column < 4; ++column)
                put<float>(bytes, 280 + 16 * std::size_t(row) + 4 * std::size_t(column),
                           rows[row][column]);
    } else {
        put<std::int16_t>(bytes, 252, 1);
        put<float>(bytes, 256, 0.5f); // a quaternion turning the axes
    }
    std::memcpy(&bytes[344], magic, std::strlen(magic) + 1);
    return bytes + samples;
}

std::string nifti2(const std::string &samples)
{
    std::string bytes(544, '\0');
    put<std::int32_t>(bytes, 0, 540);
    std::memcpy(&bytes[4], "n+2\0\r\n\032\n", 8);
    put<std::int16_t>(bytes, 12, 512);
    put<std::int16_t>(bytes, 14, 16);
    const std::int64_t dim[4] = {3, 2, 2, 1};
    for (int i = 0; i < 4; ++i) {
        put<std::int64_t>(bytes, 16 + 8 * std::size_t(i), dim[i]);
        put<double>(bytes, 104 + 8 * std::size_t(i), 1.5);
    }
    put<std::int64_t>(bytes, 168, 544);
    return bytes + samples;
}

// A 2 x 2 x 2 VTK image data file around one point array; appended data
// follows where the caller adds it.
std::string vti(const std::string &kind, const std::string &array)
{
    const std::string head =
        "<?xml version=\"1.0\"?>\n<VTKFile type=\"ImageData\" version=\"1.0\" "
        "byte_order=\"LittleEndian\" header_type=\"UInt32\">\n"
        "<ImageData WholeExtent=\"0 1 0 1 0 1\" Origin=\"1 2 3\" Spacing=\"0.5 1 2\" "
        "Direction=\"0 1 0 -1 0 0 0 0 1\">\n<Piece Extent=\"0 1 0 1 0 1\">"
        "<PointData Scalars=\"v\">" +
        array + "</PointData></Piece></ImageData>\n";
    return kind == "appended" ? head : head + "</VTKFile>\n";
}

// An MGH file (big-endian header of 284 bytes) of 2 x 2 x 2 uint8 voxels and
// frames frames.
std::string mgh(std::int32_t frames, const std::string &samples)
{
    std::string bytes(284, '\0');
    const auto bigEndian = [&](std::size_t at, std::uint32_t value) {
        for (int b = 0; b < 4; ++b)
            bytes[at + std::size_t(b)] = char(value >> (24 - 8 * b));
    };
    const std::int32_t fields[] = {1, 2, 2, 2, frames, 0};
    for (int i = 0; i < 6; ++i)
        bigEndian(4 * std::size_t(i), std::uint32_t(fields[i]));
    return bytes + samples;
}

// An MRC2014 map of 2 x 2 x 2 int8 voxels (mode 0), 1.5 Å apart.
std::string mrc(const std::string &samples)
{
    std::string bytes(1024, '\0');
    const std::int32_t words[] = {2, 2, 2, 0, 0, 0, 0, 2, 2, 2};
    for (int i = 0; i < 10; ++i)
        put<std::int32_t>(bytes, 4 * std::size_t(i), words[i]);
    for (int i = 0; i < 3; ++i)
        put<float>(bytes, 40 + 4 * std::size_t(i), 3.0f);
    const std::int32_t order[] = {1, 2, 3};
    for (int i = 0; i < 3; ++i)
        put<std::int32_t>(bytes, 64 + 4 * std::size_t(i), order[i]);
    std::memcpy(&bytes[208], "MAP DA\0\0", 8);
    return bytes + samples;
}

std::string gzip(const std::string &plain)
{
    z_stream stream{};
    deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string packed(deflateBound(&stream, uLong(plain.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(plain.data()));
    stream.avail_in = uInt(plain.size());
    stream.next_out = reinterpret_cast<Bytef *>(&packed[0]);
    stream.avail_out = uInt(packed.size());
    deflate(&stream, Z_FINISH);
    packed.resize(stream.total_out);
    deflateEnd(&stream);
    return packed;
}

// count samples of width bytes: a ramp, so that every value differs.
std::string ramp(int count, int width)
{
    std::string bytes;
    for (int i = 0; i < count; ++i)
        for (int b = 0; b < width; ++b)
            bytes += char(b == 0 ? 7 * i + 1 : i);
    return bytes;
}

bool write(const std::string &dir, const std::string &name, Name pick, const std::string &bytes)
{
    std::FILE *file = std::fopen((dir + "/" + name).c_str(), "wb");
    if (!file)
        return false;
    const char selector = char(pick);
    const bool written = std::fwrite(&selector, 1, 1, file) == 1 &&
                         std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: kelvara-scan-corpus DIR\n");
        return 2;
    }
    const std::string dir = argv[1];
    std::error_code error;
    std::filesystem::create_directories(dir, error);
    const std::string nrrdHead = "NRRD0004\ntype: uint16\ndimension: 3\nsizes: 3 2 2\n"
                                 "space: left-posterior-superior\n"
                                 "space directions: (0.5,0,0) (0,0.5,0) (0,0,2)\n"
                                 "endian: little\n";
    const std::string metaHead = "ObjectType = Image\nNDims = 3\nDimSize = 3 2 2\n"
                                 "ElementSpacing = 0.5 0.5 2\n"
                                 "TransformMatrix = 0 1 0 -1 0 0 0 0 1\n"
                                 "BinaryDataByteOrderMSB = False\nElementType = MET_SHORT\n";
    const bool ok =
        write(dir, "nifti1-uint8.nii", Nii, nifti1({3, 2, 2, 2}, 2, 8, false, "n+1", ramp(8, 1))) &&
        write(dir, "nifti1-int16-sform.nii", Nii,
              nifti1({3, 3, 2, 2}, 4, 16, true, "n+1", ramp(12, 2))) &&
        write(dir, "nifti1-float.nii", Nii,
              nifti1({3, 2, 1, 2}, 16, 32, false, "n+1",
                     std::string("\0\0\200?\0\0\0@\0\0\300\177\0\0\200\277", 16))) &&
        write(dir, "nifti2.nii", Nii, nifti2(ramp(4, 2))) &&
        write(dir, "nifti1.nii.gz", NiiGz,
              gzip(nifti1({3, 3, 2, 2}, 512, 16, false, "n+1", ramp(12, 2)))) &&
        write(dir, "pair.hdr", Hdr,
              nifti1({3, 2, 2, 2}, 2, 8, true, "ni1", ramp(8, 1)).substr(0, 348) + ramp(8, 1)) &&
        write(dir, "raw.nrrd", Nrrd, nrrdHead + "encoding: raw\n\n" + ramp(12, 2)) &&
        write(dir, "gzip.nrrd", Nrrd, nrrdHead + "encoding: gzip\n\n" + gzip(ramp(12, 2))) &&
        write(dir, "text.nrrd", Nrrd,
              "NRRD0004\ntype: float\ndimension: 2\nsizes: 2 2\nspacings: 1.5 NaN\n"
              "encoding: ascii\n\n1 2.5\n-3 4e2\n") &&
        write(dir, "local.mha", Mha, metaHead + "ElementDataFile = LOCAL\n" + ramp(12, 2)) &&
        write(dir, "compressed.mha", Mha,
              metaHead + "CompressedData = True\nElementDataFile = LOCAL\n" + gzip(ramp(12, 2))) &&
        write(dir, "at-end.mhd", Mhd,
              metaHead + "HeaderSize = -1\nElementDataFile = scan.mhd\n" + ramp(12, 2)) &&
        write(dir, "series.nii", Nii, nifti1({3, 2, 2, 1}, 2, 8, false, "n+1", ramp(12, 1), 3)) &&
        write(dir, "rgb.nii", Nii, nifti1({3, 2, 2, 1}, 128, 24, true, "n+1", ramp(12, 1))) &&
        write(dir, "series-space.nrrd", Nrrd,
              "NRRD0004\ntype: uint8\ndimension: 4\nsizes: 2 2 1 3\n"
              "space: right-anterior-superior\n"
              "space directions: (0,1.5,0) (-2,0,0) (0,0,3) none\nspacings: nan nan nan 2\n"
              "encoding: raw\n\n" +
                  ramp(12, 1)) &&
        write(dir, "rgb.nrrd", Nrrd,
              "NRRD0004\ntype: uint8\ndimension: 3\nsizes: 3 2 2\n"
              "kinds: RGB-color domain domain\nencoding: raw\n\n" +
                  ramp(12, 1)) &&
        write(dir, "rgb.mha", Mha,
              "ObjectType = Image\nNDims = 2\nDimSize = 2 2\nElementNumberOfChannels = 3\n"
              "ElementType = MET_UCHAR\nElementDataFile = LOCAL\n" +
                  ramp(12, 1)) &&
        write(dir, "ascii.vti", Vti,
              vti("ascii", "<DataArray type=\"Int16\" Name=\"v\" format=\"ascii\">"
                           "1 2 3 4 5 6 -7 8</DataArray>")) &&
        write(dir, "base64.vti", Vti,
              vti("base64", "<DataArray type=\"UInt8\" Name=\"v\" format=\"binary\">"
                            "CAAAAAECAwQFBgcI</DataArray>")) &&
        write(dir, "appended.vti", Vti,
              vti("appended", "<DataArray type=\"UInt8\" Name=\"v\" format=\"appended\" "
                              "offset=\"0\"/>") +
                  "<AppendedData encoding=\"raw\">_" + std::string("\10\0\0\0", 4) + ramp(8, 1) +
                  "</AppendedData></VTKFile>\n") &&
        write(dir, "frames.mgh", Mgh, mgh(2, ramp(16, 1))) &&
        write(dir, "map.mrc", Mrc, mrc(ramp(8, 1)));
    if (!ok) {
        std::fprintf(stderr, "kelvara-scan-corpus: cannot write into %s\n", dir.c_str());
        return 1;
    }
    return 0;
}
