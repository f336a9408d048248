#include "textheader.h"

#include "scanfileaccess.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace {

// Real headers are a few kilobytes; these bounds keep hostile ones cheap.
constexpr std::uint64_t maxHeaderBytes = std::uint64_t(1) << 20;
constexpr int maxKeyValueLines = 4096;

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

// A whole decimal number, with its sign; false for anything else.
bool parseInteger(const std::string &text, long long &value)
{
    const std::string word = trimmed(text);
    if (word.empty())
        return false;
    errno = 0;
    char *end = nullptr;
    value = std::strtoll(word.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

// The sizes of an image, each of which must be 1..65535.
ScanReadResult parseSizes(const std::string &text, std::size_t expected, const char *field,
                          std::vector<std::uint64_t> &sizes)
{
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        long long value = 0;
        if (!parseInteger(word, value))
            return scanRefusal(std::string("The header's ") + field + " holds '" + word +
                               "', not a whole number.");
        if (value < 1)
            return scanRefusal(std::string("The header gives a size of ") + word +
                               "; sizes must be positive.");
        if (value > 65535)
            return scanRefusal("An axis of " + word +
                               " voxels is larger than 65535, the most a volume can have.");
        sizes.push_back(std::uint64_t(value));
    }
    if (sizes.size() != expected)
        return scanRefusal(std::string("The header's ") + field + " gives " +
                           std::to_string(sizes.size()) + " sizes for " + std::to_string(expected) +
                           " dimensions.");
    return {true, {}};
}

// Reads the start of a header file, up to the header limit and a byte more.
ScanReadResult headerText(const std::string &path, std::string &text, std::uint64_t &fileSize)
{
    std::string reason;
    if (!regularFileSize(path, fileSize, reason))
        return scanRefusal(reason);
    text.assign(std::size_t(std::min(fileSize, maxHeaderBytes + 1)), '\0');
    const FileBytesRead read =
        readFileBytes(path, 0, reinterpret_cast<unsigned char *>(&text[0]), text.size());
    if (!read.ok)
        return scanRefusal(read.reason);
    text.resize(std::size_t(read.read));
    return {true, {}};
}

// NRRD's form of numbered data files: "<format> <min> <max> <step> [<subdim>]".
// A name that merely holds blanks ("Über Daten/scan.raw") is one file.
bool isNrrdFileRange(const std::string &value)
{
    std::istringstream words(value);
    std::string format;
    long long numbers[4] = {};
    int count = 0;
    if (!(words >> format))
        return false;
    for (std::string word; words >> word; ++count)
        if (count >= 4 || !parseInteger(word, numbers[count]))
            return false;
    return count >= 3;
}

std::string siblingPath(const std::string &header, const std::string &name)
{
    const std::filesystem::path given(name);
    if (given.is_absolute())
        return name;
    return (std::filesystem::path(header).parent_path() / given).string();
}

// "(x,y,z)" as three numbers; false for anything else.
bool nrrdVector(const std::string &text, std::array<double, 3> &vector)
{
    char open = 0, close = 0, comma1 = 0, comma2 = 0;
    std::istringstream in(text);
    in >> open >> vector[0] >> comma1 >> vector[1] >> comma2 >> vector[2] >> close;
    return in && open == '(' && comma1 == ',' && comma2 == ',' && close == ')' &&
           std::all_of(vector.begin(), vector.end(), [](double v) { return std::isfinite(v); });
}

// The space fields of a patient space in LPS (RAS and LAS turned round);
// layout.spacePlaced stays false for another space or unreadable fields.
void readNrrdSpace(const std::string &space, const std::string &directions,
                   const std::string &origin, TextHeaderLayout &layout)
{
    std::array<double, 3> sign{};
    if (space == "left-posterior-superior" || space == "LPS")
        sign = {1.0, 1.0, 1.0};
    else if (space == "right-anterior-superior" || space == "RAS")
        sign = {-1.0, -1.0, 1.0};
    else if (space == "left-anterior-superior" || space == "LAS")
        sign = {1.0, -1.0, 1.0};
    else
        return;
    std::istringstream words(directions);
    for (std::string word; words >> word;) {
        std::array<double, 3> column{};
        if (word == "none") {
            layout.spaceDirections.emplace_back();
            continue;
        }
        if (!nrrdVector(word, column))
            return;
        for (std::size_t row = 0; row < 3; ++row)
            column[row] *= sign[row];
        layout.spaceDirections.emplace_back(column);
    }
    std::array<double, 3> place{};
    if (!origin.empty()) {
        if (!nrrdVector(origin, place))
            return;
        for (std::size_t row = 0; row < 3; ++row)
            layout.spaceOrigin[row] = place[row] * sign[row];
    }
    layout.spacePlaced = true;
}

bool nrrdType(const std::string &name, SampleType &type)
{
    static const std::pair<const char *, SampleType> names[] = {
        {"signed char", SampleType::Int8},
        {"int8", SampleType::Int8},
        {"int8_t", SampleType::Int8},
        {"uchar", SampleType::UInt8},
        {"unsigned char", SampleType::UInt8},
        {"uint8", SampleType::UInt8},
        {"uint8_t", SampleType::UInt8},
        {"short", SampleType::Int16},
        {"short int", SampleType::Int16},
        {"signed short", SampleType::Int16},
        {"signed short int", SampleType::Int16},
        {"int16", SampleType::Int16},
        {"int16_t", SampleType::Int16},
        {"ushort", SampleType::UInt16},
        {"unsigned short", SampleType::UInt16},
        {"unsigned short int", SampleType::UInt16},
        {"uint16", SampleType::UInt16},
        {"uint16_t", SampleType::UInt16},
        {"int", SampleType::Int32},
        {"signed int", SampleType::Int32},
        {"int32", SampleType::Int32},
        {"int32_t", SampleType::Int32},
        {"uint", SampleType::UInt32},
        {"unsigned int", SampleType::UInt32},
        {"uint32", SampleType::UInt32},
        {"uint32_t", SampleType::UInt32},
        {"longlong", SampleType::Int64},
        {"long long", SampleType::Int64},
        {"long long int", SampleType::Int64},
        {"signed long long", SampleType::Int64},
        {"signed long long int", SampleType::Int64},
        {"int64", SampleType::Int64},
        {"int64_t", SampleType::Int64},
        {"ulonglong", SampleType::UInt64},
        {"unsigned long long", SampleType::UInt64},
        {"unsigned long long int", SampleType::UInt64},
        {"uint64", SampleType::UInt64},
        {"uint64_t", SampleType::UInt64},
        {"float", SampleType::Float32},
        {"double", SampleType::Float64},
    };
    for (const auto &[text, value] : names)
        if (name == text) {
            type = value;
            return true;
        }
    return false;
}

bool metaImageType(const std::string &name, SampleType &type)
{
    // MetaIO's own widths: MET_LONG and MET_ULONG are 4 bytes.
    static const std::pair<const char *, SampleType> names[] = {
        {"MET_CHAR", SampleType::Int8},       {"MET_UCHAR", SampleType::UInt8},
        {"MET_SHORT", SampleType::Int16},     {"MET_USHORT", SampleType::UInt16},
        {"MET_INT", SampleType::Int32},       {"MET_UINT", SampleType::UInt32},
        {"MET_LONG", SampleType::Int32},      {"MET_ULONG", SampleType::UInt32},
        {"MET_LONG_LONG", SampleType::Int64}, {"MET_ULONG_LONG", SampleType::UInt64},
        {"MET_FLOAT", SampleType::Float32},   {"MET_DOUBLE", SampleType::Float64},
    };
    for (const auto &[text, value] : names)
        if (name == text) {
            type = value;
            return true;
        }
    return false;
}

// Moves offset past lines newlines of the file (NRRD's line skip).
ScanReadResult skipLines(const std::string &path, std::uint64_t &offset, long long lines)
{
    unsigned char block[1 << 16];
    while (lines > 0) {
        const FileBytesRead read = readFileBytes(path, offset, block, sizeof block);
        if (!read.ok)
            return scanRefusal(read.reason);
        if (read.read == 0)
            return scanRefusal("The data file ends before the lines its header says to skip.");
        std::uint64_t i = 0;
        for (; i < read.read && lines > 0; ++i)
            if (block[i] == '\n')
                --lines;
        offset += i;
    }
    return {true, {}};
}

} // namespace

std::uint64_t TextHeaderLayout::sampleCount() const
{
    std::uint64_t count = channels;
    for (std::uint64_t size : sizes)
        count *= size;
    return count;
}

ScanReadResult scanNrrdHeader(const std::string &path, TextHeaderLayout &layout)
{
    std::string text;
    std::uint64_t fileSize = 0;
    ScanReadResult read = headerText(path, text, fileSize);
    if (!read.ok)
        return read;

    // The header ends at the first empty line; a detached header may end with
    // the file instead.
    std::size_t end = text.find("\n\n");
    std::size_t dataStart = end == std::string::npos ? std::string::npos : end + 2;
    const std::size_t crlf = text.find("\n\r\n");
    if (crlf != std::string::npos && crlf < end) {
        end = crlf;
        dataStart = crlf + 3;
    }
    if (end == std::string::npos) {
        if (text.size() > maxHeaderBytes)
            return scanRefusal("The NRRD header is longer than 1 MiB.");
        end = text.size();
    }

    long long dimension = -1, lineSkip = 0, byteSkip = 0;
    std::string sizes, type, encoding = "raw", endian, dataFile, spacings, kinds, space, directions,
                             origin;
    int keyValues = 0;
    std::istringstream lines(text.substr(0, end));
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first) {
            first = false;
            if (line.rfind("NRRD000", 0) != 0)
                return scanRefusal("The file does not start with an NRRD signature.");
            continue;
        }
        if (line.empty() || line[0] == '#')
            continue;
        if (line.find(":=") != std::string::npos) {
            if (++keyValues > maxKeyValueLines)
                return scanRefusal("The NRRD header has more than " +
                                   std::to_string(maxKeyValueLines) + " key/value lines.");
            continue;
        }
        const std::size_t colon = line.find(": ");
        if (colon == std::string::npos)
            continue;
        const std::string field = line.substr(0, colon);
        const std::string value = trimmed(line.substr(colon + 2));
        if (field == "dimension" && !parseInteger(value, dimension))
            return scanRefusal("The header's dimension is '" + value + "', not a whole number.");
        if (field == "sizes")
            sizes = value;
        else if (field == "spacings")
            spacings = value;
        else if (field == "kinds")
            kinds = value;
        else if (field == "space")
            space = value;
        else if (field == "space directions")
            directions = value;
        else if (field == "space origin")
            origin = value;
        else if (field == "type")
            type = value;
        else if (field == "encoding")
            encoding = value;
        else if (field == "endian")
            endian = value;
        else if (field == "data file" || field == "datafile")
            dataFile = value;
        else if ((field == "line skip" || field == "lineskip") &&
                 (!parseInteger(value, lineSkip) || lineSkip < 0))
            return scanRefusal("The header's line skip is '" + value + "', not a line count.");
        else if ((field == "byte skip" || field == "byteskip") &&
                 (!parseInteger(value, byteSkip) || byteSkip < -1))
            return scanRefusal("The header's byte skip is '" + value +
                               "': a byte count or -1 (the samples end the file) is needed.");
    }
    if (dimension < 1 || dimension > 16)
        return scanRefusal("The header gives " + std::to_string(dimension) +
                           " dimensions; an NRRD image has 1 to 16.");
    read = parseSizes(sizes, std::size_t(dimension), "sizes", layout.sizes);
    if (!read.ok)
        return read;
    std::istringstream spacingWords(spacings);
    for (std::string word; spacingWords >> word;)
        layout.spacings.push_back(std::strtod(word.c_str(), nullptr));
    std::istringstream kindWords(kinds);
    for (std::string word; kindWords >> word;)
        layout.kinds.push_back(word);
    readNrrdSpace(space, directions, origin, layout);
    if (!nrrdType(type, layout.type))
        return scanRefusal("The header's sample type '" + type + "' cannot be shown.");
    layout.bigEndian = endian == "big";

    if (encoding == "raw")
        layout.encoding = SampleEncoding::Raw;
    else if (encoding == "gzip" || encoding == "gz")
        layout.encoding = SampleEncoding::Compressed;
    else
        layout.encoding = SampleEncoding::Other;

    if (dataFile.empty()) {
        layout.dataPath = path;
        layout.dataOffset = dataStart == std::string::npos ? fileSize : dataStart;
    } else {
        if (dataFile.rfind("LIST", 0) == 0 || isNrrdFileRange(dataFile))
            return scanRefusal("The samples are spread over several data files, which is not "
                               "supported.");
        layout.dataPath = siblingPath(path, dataFile);
        const std::string problem =
            regularFileProblem(layout.dataPath, "The data file '" + layout.dataPath + "'");
        if (!problem.empty())
            return scanRefusal(problem);
        layout.dataOffset = 0;
    }
    read = skipLines(layout.dataPath, layout.dataOffset, lineSkip);
    if (!read.ok)
        return read;
    if (byteSkip == -1) {
        if (layout.encoding != SampleEncoding::Raw)
            return scanRefusal("The header's byte skip of -1 needs raw samples.");
        layout.dataAtEnd = true;
    } else if (layout.encoding == SampleEncoding::Compressed) {
        layout.skipAfterInflating = std::uint64_t(byteSkip);
    } else {
        layout.dataOffset += std::uint64_t(byteSkip);
    }
    return {true, {}};
}

// The longest key, and text value, that ITK's MetaImage reader holds (its
// field names and text fields are 255 bytes with the terminating zero).
constexpr std::size_t maxMetaImageKeyLength = 254;

std::optional<DirectionMatrix> anatomicalDirection(const std::string &letters)
{
    if (letters.size() != 3)
        return std::nullopt;
    DirectionMatrix direction{};
    std::array<bool, 3> taken{};
    for (std::size_t axis = 0; axis < 3; ++axis) {
        static const std::string from = "RLAPIS";
        const std::size_t letter =
            from.find(char(std::toupper(static_cast<unsigned char>(letters[axis]))));
        if (letter == std::string::npos || taken[letter / 2])
            return std::nullopt;
        taken[letter / 2] = true;
        // From the right runs towards the left: LPS +x.
        direction[3 * (letter / 2) + axis] = letter % 2 == 0 ? 1.0 : -1.0;
    }
    return direction;
}

ScanReadResult scanMetaImageHeader(const std::string &path, TextHeaderLayout &layout)
{
    std::string text;
    std::uint64_t fileSize = 0;
    ScanReadResult read = headerText(path, text, fileSize);
    if (!read.ok)
        return read;

    long long dimensions = -1, channels = 1, headerSize = 0;
    std::string sizes, type, dataFile;
    bool binary = true, compressed = false, dataFileSeen = false;
    std::size_t position = 0;
    int lineCount = 0;
    while (position < text.size() && !dataFileSeen) {
        std::size_t next = text.find('\n', position);
        if (next == std::string::npos) {
            if (text.size() > maxHeaderBytes)
                return scanRefusal("The MetaImage header is longer than 1 MiB.");
            next = text.size();
        }
        const std::string line = text.substr(position, next - position);
        position = std::min(next + 1, text.size());
        if (++lineCount > maxKeyValueLines)
            return scanRefusal("The MetaImage header has more than " +
                               std::to_string(maxKeyValueLines) + " lines.");
        // ITK's MetaImage reader copies each line's key (up to '=', ':' or
        // the line's end, after leading blanks) into a buffer of 255 bytes
        // without a check: a longer key overruns it.
        const std::size_t keyStart = line.find_first_not_of(" \t\r");
        const std::size_t keyEnd = line.find_first_of("=:\r", keyStart);
        const std::size_t keyLength =
            keyStart == std::string::npos
                ? 0
                : (keyEnd == std::string::npos ? line.size() : keyEnd) - keyStart;
        if (keyLength > maxMetaImageKeyLength)
            return scanRefusal("A line of the MetaImage header holds a key of " +
                               std::to_string(keyLength) + " characters; at most " +
                               std::to_string(maxMetaImageKeyLength) + " can be read.");
        // Its text fields (ObjectType, Name, ...) are buffers of the same
        // size that the value is copied into just as blindly.
        const std::size_t valueLength = keyEnd == std::string::npos ? 0 : line.size() - keyEnd - 1;
        if (valueLength > maxMetaImageKeyLength)
            return scanRefusal("A line of the MetaImage header holds a value of " +
                               std::to_string(valueLength) + " characters; at most " +
                               std::to_string(maxMetaImageKeyLength) + " can be read.");
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            continue;
        const std::string key = trimmed(line.substr(0, equals));
        const std::string value = trimmed(line.substr(equals + 1));
        const bool yes =
            !value.empty() && std::tolower(static_cast<unsigned char>(value[0])) == 't';
        if (key == "NDims" && !parseInteger(value, dimensions))
            return scanRefusal("The header's NDims is '" + value + "', not a whole number.");
        // Checked where it stands, not only the last one: ITK reads the
        // fields in order, and a later NDims does not undo what an earlier
        // one made it read (a negative count loops for hours).
        if (key == "NDims" && (dimensions < 1 || dimensions > 16))
            return scanRefusal("The header gives NDims = " + std::to_string(dimensions) +
                               "; an image has 1 to 16 dimensions.");
        if (key == "DimSize")
            sizes = value;
        else if (key == "ElementType")
            type = value;
        else if (key == "TransformMatrix" || key == "Rotation" || key == "Orientation")
            layout.directionGiven = true;
        else if (key == "AnatomicalOrientation")
            layout.anatomicalOrientation = value;
        else if (key == "ElementNumberOfChannels" &&
                 (!parseInteger(value, channels) || channels < 1))
            return scanRefusal("The header's ElementNumberOfChannels is '" + value + "'.");
        else if (key == "HeaderSize" && (!parseInteger(value, headerSize) || headerSize < -1))
            return scanRefusal("The header's HeaderSize is '" + value +
                               "': a byte count or -1 (the samples end the file) is needed.");
        else if (key == "BinaryData")
            binary = yes;
        else if (key == "CompressedData")
            compressed = yes;
        else if (key == "BinaryDataByteOrderMSB" || key == "ElementByteOrderMSB")
            layout.bigEndian = yes;
        else if (key == "ElementDataFile") {
            dataFile = value;
            dataFileSeen = true;
        }
    }
    if (dimensions < 1 || dimensions > 16)
        return scanRefusal("The header gives NDims = " + std::to_string(dimensions) +
                           "; an image has 1 to 16 dimensions.");
    read = parseSizes(sizes, std::size_t(dimensions), "DimSize", layout.sizes);
    if (!read.ok)
        return read;
    if (channels != 1 && channels != 3 && channels != 4)
        return scanRefusal("The image has " + std::to_string(channels) +
                           " components per voxel; only scalar and colour (RGB, RGBA) images "
                           "can be shown.");
    layout.channels = std::uint64_t(channels);
    if (!metaImageType(type, layout.type))
        return scanRefusal("The header's ElementType '" + type + "' cannot be shown.");
    if (!dataFileSeen)
        return scanRefusal("The header names no data file (ElementDataFile).");
    layout.encoding = !binary      ? SampleEncoding::Other
                      : compressed ? SampleEncoding::Compressed
                                   : SampleEncoding::Raw;

    if (dataFile == "LOCAL") {
        // ITK skips HeaderSize bytes of the file, so one beyond it would
        // leave nothing to read, silently.
        if (headerSize > 0 && std::uint64_t(headerSize) > fileSize)
            return scanRefusal("The header's HeaderSize of " + std::to_string(headerSize) +
                               " bytes lies beyond the end of the file (" +
                               std::to_string(fileSize) + " bytes).");
        layout.dataPath = path;
        layout.dataOffset = position;
        return {true, {}};
    }
    if (dataFile.rfind("LIST", 0) == 0 || dataFile.find('%') != std::string::npos)
        return scanRefusal(
            "The samples are spread over several data files, which is not supported.");
    layout.dataPath = siblingPath(path, dataFile);
    const std::string problem =
        regularFileProblem(layout.dataPath, "The data file '" + layout.dataPath + "'");
    if (!problem.empty())
        return scanRefusal(problem);
    if (headerSize == -1) {
        if (layout.encoding != SampleEncoding::Raw)
            return scanRefusal("The header's HeaderSize of -1 needs raw samples.");
        layout.dataAtEnd = true;
    } else {
        std::error_code error;
        const std::uintmax_t dataBytes = std::filesystem::file_size(layout.dataPath, error);
        if (!error && std::uint64_t(headerSize) > dataBytes)
            return scanRefusal("The header's HeaderSize of " + std::to_string(headerSize) +
                               " bytes lies beyond the end of the data file (" +
                               std::to_string(dataBytes) + " bytes).");
        layout.dataOffset = std::uint64_t(headerSize);
    }
    return {true, {}};
}
