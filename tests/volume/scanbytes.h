#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

// Scan files built byte by byte, for tests that need headers no writer makes
// (either byte order, NIfTI-2, damaged fields).

inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

template <typename T>
inline void put(QByteArray &bytes, int offset, T value, bool bigEndian = false)
{
    char raw[sizeof(T)];
    std::memcpy(raw, &value, sizeof(T));
    if (bigEndian)
        std::reverse(raw, raw + sizeof(T));
    bytes.replace(offset, int(sizeof(T)), raw, int(sizeof(T)));
}

struct NiftiFields
{
    std::array<std::int64_t, 4> dim{{3, 2, 2, 2}};
    double voxOffset = 352;
    std::array<double, 3> pixdim{{1, 1, 1}};
    int qformCode = 0;
    int sformCode = 0;
    double quaternB = 0;
    double srow = 1; // the diagonal of the sform
    bool bigEndian = false;
};

// A NIfTI-1 header of uint8 samples followed by samples (bytes 352 on), in
// the byte order f asks for.
inline QByteArray nifti1(const NiftiFields &f, const QByteArray &samples)
{
    QByteArray bytes(352, '\0');
    put<std::int32_t>(bytes, 0, 348, f.bigEndian);
    for (int i = 0; i < 4; ++i)
        put<std::int16_t>(bytes, 40 + 2 * i, std::int16_t(f.dim[std::size_t(i)]), f.bigEndian);
    put<std::int16_t>(bytes, 70, 2, f.bigEndian);
    put<std::int16_t>(bytes, 72, 8, f.bigEndian);
    for (int i = 0; i < 3; ++i)
        put<float>(bytes, 80 + 4 * i, float(f.pixdim[std::size_t(i)]), f.bigEndian);
    put<float>(bytes, 108, float(f.voxOffset), f.bigEndian);
    put<std::int16_t>(bytes, 252, std::int16_t(f.qformCode), f.bigEndian);
    put<std::int16_t>(bytes, 254, std::int16_t(f.sformCode), f.bigEndian);
    put<float>(bytes, 256, float(f.quaternB), f.bigEndian);
    for (int row = 0; row < 3; ++row)
        put<float>(bytes, 280 + 16 * row + 4 * row, float(f.srow), f.bigEndian);
    bytes.replace(344, 4, "n+1\0", 4);
    return bytes + samples;
}

// The same as NIfTI-2, in either byte order, with uint16 samples.
inline QByteArray nifti2(bool bigEndian, const std::vector<std::uint16_t> &samples,
                         double slope = 0)
{
    QByteArray bytes(544, '\0');
    put<std::int32_t>(bytes, 0, 540, bigEndian);
    bytes.replace(4, 8, "n+2\0\r\n\032\n", 8);
    put<std::int16_t>(bytes, 12, 512, bigEndian);
    put<std::int16_t>(bytes, 14, 16, bigEndian);
    const std::int64_t dim[4] = {3, 2, 2, 1};
    for (int i = 0; i < 4; ++i) {
        put<std::int64_t>(bytes, 16 + 8 * i, dim[i], bigEndian);
        put<double>(bytes, 104 + 8 * i, 1.0, bigEndian);
    }
    put<std::int64_t>(bytes, 168, 544, bigEndian);
    put<double>(bytes, 176, slope, bigEndian);
    for (std::uint16_t sample : samples) {
        bytes.append(2, '\0');
        put<std::uint16_t>(bytes, bytes.size() - 2, sample, bigEndian);
    }
    return bytes;
}

struct MghFields
{
    std::array<std::int32_t, 3> size{{2, 2, 2}};
    std::int32_t type = 0; // uchar
};

// An MGH header (big-endian, no geometry) followed by samples.
inline QByteArray mgh(const MghFields &f, const QByteArray &samples)
{
    QByteArray bytes(284, '\0');
    put<std::int32_t>(bytes, 0, 1, true);
    for (int i = 0; i < 3; ++i)
        put<std::int32_t>(bytes, 4 + 4 * i, f.size[std::size_t(i)], true);
    put<std::int32_t>(bytes, 16, 1, true);
    put<std::int32_t>(bytes, 20, f.type, true);
    return bytes + samples;
}

struct MrcFields
{
    std::array<std::int32_t, 3> size{{2, 2, 2}};
    std::int32_t mode = 0; // int8
    std::array<std::int32_t, 3> axisOrder{{1, 2, 3}};
    std::int32_t extendedBytes = 0;
    bool stamp = true; // the "MAP " word and a little-endian machine stamp
};

// A little-endian MRC header with 1 Å voxels followed by samples.
inline QByteArray mrc(const MrcFields &f, const QByteArray &samples)
{
    QByteArray bytes(1024, '\0');
    for (int i = 0; i < 3; ++i) {
        put<std::int32_t>(bytes, 4 * i, f.size[std::size_t(i)]);
        put<std::int32_t>(bytes, 28 + 4 * i, f.size[std::size_t(i)]);
        put<float>(bytes, 40 + 4 * i, float(f.size[std::size_t(i)]));
        put<std::int32_t>(bytes, 64 + 4 * i, f.axisOrder[std::size_t(i)]);
    }
    put<std::int32_t>(bytes, 12, f.mode);
    put<std::int32_t>(bytes, 92, f.extendedBytes);
    if (f.stamp)
        bytes.replace(208, 6, "MAP DD", 6);
    return bytes + samples;
}

// A VTK XML image data file (.vti) of a 2 x 2 x 2 image: the Piece elements
// (see vtiPiece()), what follows the ImageData (the appended data) and more
// attributes of the VTKFile element (a compressor).
inline QByteArray vti(const QByteArray &pieces, const QByteArray &afterImage = {},
                      const QByteArray &rootAttributes = {})
{
    return "<?xml version=\"1.0\"?>\n<VTKFile type=\"ImageData\" version=\"1.0\" "
           "byte_order=\"LittleEndian\" header_type=\"UInt32\"" +
           rootAttributes + ">\n<ImageData WholeExtent=\"0 1 0 1 0 1\" Origin=\"0 0 0\">\n" +
           pieces + "</ImageData>\n" + afterImage + "</VTKFile>\n";
}

inline QByteArray vtiPiece(const QByteArray &dataArrays, const QByteArray &extent = "0 1 0 1 0 1")
{
    return "<Piece Extent=\"" + extent + "\"><PointData Scalars=\"a\">" + dataArrays +
           "</PointData></Piece>\n";
}

// An array of type and format, its further attributes, and its text.
inline QByteArray vtiArray(const QByteArray &type, const QByteArray &format, const QByteArray &more,
                           const QByteArray &text)
{
    return "<DataArray type=\"" + type + "\" Name=\"a\" format=\"" + format + "\" " + more + ">" +
           text + "</DataArray>";
}

// Little-endian 32-bit words, as a .vti's size and block headers.
inline QByteArray words32(std::initializer_list<std::uint32_t> values)
{
    QByteArray bytes(int(4 * values.size()), '\0');
    int offset = 0;
    for (std::uint32_t value : values)
        put<std::uint32_t>(bytes, (offset += 4) - 4, value);
    return bytes;
}
