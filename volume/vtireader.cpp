#include "vtireader.h"

#include "scanfileaccess.h"
#include "scanlayout.h"

#include <zlib.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <optional>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

constexpr std::int64_t largestAxis = 65535;
// Far beyond any tag VTK writes; a file of other markup fails soon.
constexpr std::size_t longestTag = 1 << 16;
constexpr std::size_t deepestNesting = 64;
constexpr std::size_t longestNumber = 64;

bool isSpace(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// ---------------------------------------------------------------- the file

// The file's bytes one at a time, read in chunks: the markup is scanned, and
// text data decoded, without holding the file in memory.
class FileText
{
public:
    [[nodiscard]] bool open(const std::string &path, std::string &reason)
    {
        path_ = path;
        return regularFileSize(path, size_, reason);
    }

    int get()
    {
        if (index_ == filled_ && !fill())
            return -1;
        return chunk_[index_++];
    }

    int peek()
    {
        if (index_ == filled_ && !fill())
            return -1;
        return chunk_[index_];
    }

    std::uint64_t offset() const { return chunkStart_ + index_; }

    void seek(std::uint64_t offset)
    {
        chunkStart_ = offset;
        index_ = filled_ = 0;
    }

    std::uint64_t size() const { return size_; }
    const std::string &path() const { return path_; }
    // Why reading stopped before the end of the file; empty where it did not.
    const std::string &readFailure() const { return readFailure_; }

private:
    bool fill()
    {
        chunkStart_ += filled_;
        index_ = filled_ = 0;
        if (chunkStart_ >= size_)
            return false;
        const FileBytesRead read = readFileBytes(path_, chunkStart_, chunk_.data(), chunk_.size());
        if (!read.ok)
            readFailure_ = read.reason;
        filled_ = read.ok ? std::size_t(read.read) : 0;
        return filled_ > 0;
    }

    std::string path_;
    std::uint64_t size_ = 0;
    std::vector<unsigned char> chunk_ = std::vector<unsigned char>(1 << 16);
    std::uint64_t chunkStart_ = 0;
    std::size_t index_ = 0;
    std::size_t filled_ = 0;
    std::string readFailure_;
};

// ---------------------------------------------------------------- the markup

struct Element
{
    std::string name;
    std::vector<std::pair<std::string, std::string>> attributes;
    bool closing = false;     // </name>
    bool selfClosing = false; // <name ... />

    const std::string *attribute(const char *key) const
    {
        for (const auto &[attributeName, value] : attributes)
            if (attributeName == key)
                return &value;
        return nullptr;
    }
    std::string attributeOr(const char *key, const char *fallback) const
    {
        const std::string *value = attribute(key);
        return value ? *value : fallback;
    }
};

// The text of a tag after its '<', up to its '>' (quoted '>' included).
bool readTag(FileText &text, std::string &tag, std::string &reason)
{
    char quote = 0;
    for (int c; (c = text.get()) != -1;) {
        if (quote != 0 && c == quote)
            quote = 0;
        else if (quote == 0 && (c == '"' || c == '\''))
            quote = char(c);
        else if (quote == 0 && c == '>')
            return true;
        tag.push_back(char(c));
        if (tag.size() > longestTag) {
            reason = "The file holds a tag of more than 65536 characters; it is not VTK image "
                     "data as VTK writes it.";
            return false;
        }
    }
    reason = text.readFailure().empty() ? "The file ends inside a tag." : text.readFailure();
    return false;
}

void skipSpaces(const std::string &text, std::size_t &at)
{
    while (at < text.size() && isSpace(text[at]))
        ++at;
}

// A tag's name and attributes; attributes it cannot make out end the list.
Element parseTag(const std::string &tag)
{
    Element element;
    std::size_t at = 0;
    element.closing = !tag.empty() && tag[0] == '/';
    at = element.closing ? 1 : 0;
    element.selfClosing = !tag.empty() && tag.back() == '/';
    const std::size_t end = element.selfClosing ? tag.size() - 1 : tag.size();
    while (at < end && !isSpace(tag[at]))
        element.name.push_back(tag[at++]);
    while (true) {
        skipSpaces(tag, at);
        std::string key;
        while (at < end && tag[at] != '=' && !isSpace(tag[at]))
            key.push_back(tag[at++]);
        skipSpaces(tag, at);
        if (key.empty() || at >= end || tag[at] != '=')
            break;
        ++at;
        skipSpaces(tag, at);
        if (at >= end || (tag[at] != '"' && tag[at] != '\''))
            break;
        const std::size_t close = tag.find(tag[at], at + 1);
        if (close == std::string::npos || close > end)
            break;
        element.attributes.emplace_back(key, tag.substr(at + 1, close - at - 1));
        at = close + 1;
    }
    return element;
}

// Skips a comment after its "<!--".
bool skipComment(FileText &text)
{
    int dashes = 0;
    for (int c; (c = text.get()) != -1;) {
        if (c == '>' && dashes >= 2)
            return true;
        dashes = c == '-' ? dashes + 1 : 0;
    }
    return false;
}

struct ArrayTag
{
    Element element;
    bool cellData = false;
    std::uint64_t contentStart = 0; // the first byte after the start tag
};

// What the markup of a .vti says, up to the appended data.
struct VtiMarkup
{
    Element root;
    std::optional<Element> image;
    int pieces = 0;
    Element piece; // the first
    std::optional<std::string> pointScalars, cellScalars;
    std::vector<ArrayTag> arrays; // of the first piece
    std::optional<std::string> appendedEncoding;
    std::uint64_t appendedStart = 0; // the byte after the '_'
};

// Where the appended data starts: the '_' after the AppendedData tag.
bool findAppendedStart(FileText &text, VtiMarkup &markup, std::string &reason)
{
    int c = text.get();
    while (isSpace(c))
        c = text.get();
    if (c != '_') {
        reason = "The appended data does not start with '_'.";
        return false;
    }
    markup.appendedStart = text.offset();
    return true;
}

// Takes in a start tag whose parents are open (innermost last).
bool takeStartTag(const Element &element, const std::vector<std::string> &open, FileText &text,
                  VtiMarkup &markup, std::string &reason)
{
    const std::string parent = open.empty() ? "" : open.back();
    const std::string grandparent = open.size() < 2 ? "" : open[open.size() - 2];
    if (open.empty()) {
        if (element.name != "VTKFile") {
            reason = "The file's first element is <" + element.name + ">, not <VTKFile>.";
            return false;
        }
        markup.root = element;
    } else if (element.name == "ImageData" && parent == "VTKFile") {
        markup.image = element;
    } else if (element.name == "Piece" && parent == "ImageData") {
        if (++markup.pieces == 1)
            markup.piece = element;
    } else if (markup.pieces == 1 && parent == "Piece" &&
               (element.name == "PointData" || element.name == "CellData")) {
        const std::string *scalars = element.attribute("Scalars");
        if (scalars)
            (element.name == "PointData" ? markup.pointScalars : markup.cellScalars) = *scalars;
    } else if (markup.pieces == 1 && element.name == "DataArray" && grandparent == "Piece" &&
               (parent == "PointData" || parent == "CellData")) {
        markup.arrays.push_back({element, parent == "CellData", text.offset()});
    } else if (element.name == "AppendedData" && parent == "VTKFile") {
        markup.appendedEncoding = element.attributeOr("encoding", "raw");
    }
    return true;
}

// Scans the markup up to the appended data (or the end of the VTKFile):
// text between tags, the inline arrays among it, is passed over.
bool scanMarkup(FileText &text, VtiMarkup &markup, std::string &reason)
{
    std::vector<std::string> open;
    bool rootSeen = false;
    for (int c; (c = text.get()) != -1;) {
        if (c != '<')
            continue;
        if (text.peek() == '!') {
            std::string start;
            for (int i = 0; i < 3 && text.peek() != -1; ++i)
                start.push_back(char(text.get()));
            if (start == "!--" ? !skipComment(text) : !readTag(text, start, reason)) {
                reason = "The file ends inside a comment or declaration.";
                return false;
            }
            continue;
        }
        std::string tag;
        if (!readTag(text, tag, reason))
            return false;
        if (tag.empty() || tag.front() == '?')
            continue; // the XML declaration
        const Element element = parseTag(tag);
        if (element.closing) {
            const auto match = std::find(open.rbegin(), open.rend(), element.name);
            if (match != open.rend())
                open.erase(std::next(match).base(), open.end());
            if (element.name == "VTKFile")
                break;
            continue;
        }
        if (!takeStartTag(element, open, text, markup, reason))
            return false;
        rootSeen = true;
        if (markup.appendedEncoding)
            return findAppendedStart(text, markup, reason);
        if (!element.selfClosing)
            open.push_back(element.name);
        if (open.size() > deepestNesting) {
            reason = "The file's elements are nested more than 64 deep.";
            return false;
        }
    }
    if (!text.readFailure().empty()) {
        reason = text.readFailure();
        return false;
    }
    if (!rootSeen) {
        reason = "The file holds no <VTKFile> element.";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- numbers

template <typename T> bool parseNumber(const char *first, const char *last, T &value)
{
    if (first != last && *first == '+')
        ++first;
    const std::from_chars_result parsed = std::from_chars(first, last, value);
    return parsed.ec == std::errc() && parsed.ptr == last;
}

template <typename T> bool parseList(const std::string &text, std::size_t count, T *values)
{
    std::size_t at = 0, parsed = 0;
    while (true) {
        skipSpaces(text, at);
        if (at == text.size())
            return parsed == count;
        std::size_t end = at;
        while (end < text.size() && !isSpace(text[end]))
            ++end;
        if (parsed == count || !parseNumber(text.data() + at, text.data() + end, values[parsed]))
            return false;
        ++parsed;
        at = end;
    }
}

// ---------------------------------------------------------------- the image

struct VtiImage
{
    bool bigEndian = false;
    std::size_t wordBytes = 4; // header_type
    bool compressed = false;
    std::array<std::int64_t, 6> extent{};
    std::array<double, 3> origin{{0, 0, 0}};
    std::array<double, 3> spacing{{1, 1, 1}};
    std::array<double, 9> direction{{1, 0, 0, 0, 1, 0, 0, 0, 1}};
};

bool checkRoot(const Element &root, VtiImage &image, std::string &reason)
{
    const std::string type = root.attributeOr("type", "");
    if (type != "ImageData") {
        reason = "The file holds VTK " + (type.empty() ? std::string("data of no type") : type) +
                 "; only ImageData grids are read.";
        return false;
    }
    const std::string order = root.attributeOr("byte_order", "LittleEndian");
    const std::string header = root.attributeOr("header_type", "UInt32");
    const std::string compressor = root.attributeOr("compressor", "");
    if (order != "LittleEndian" && order != "BigEndian") {
        reason =
            "The file gives the byte order '" + order + "'; VTK writes LittleEndian or BigEndian.";
        return false;
    }
    if (header != "UInt32" && header != "UInt64") {
        reason = "The file gives the header type '" + header + "'; VTK writes UInt32 or UInt64.";
        return false;
    }
    if (!compressor.empty() && compressor != "vtkZLibDataCompressor") {
        reason = "The file's data is compressed with " + compressor +
                 "; only vtkZLibDataCompressor (zlib) can be read.";
        return false;
    }
    image.bigEndian = order == "BigEndian";
    image.wordBytes = header == "UInt64" ? 8 : 4;
    image.compressed = !compressor.empty();
    return true;
}

bool checkExtent(const std::string &text, std::array<std::int64_t, 6> &extent, std::string &reason)
{
    if (!parseList(text, 6, extent.data())) {
        reason = "The extent '" + text + "' is not six whole numbers.";
        return false;
    }
    const char *names = "XYZ";
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const std::int64_t first = extent[2 * axis], last = extent[2 * axis + 1];
        if (last < first) {
            reason = "The extent along " + std::string(1, names[axis]) + " runs from " +
                     std::to_string(first) + " to " + std::to_string(last) +
                     "; its end must not lie before its start.";
            return false;
        }
        if (last - first >= largestAxis) {
            reason = "An axis of " + std::to_string(last - first + 1) +
                     " voxels is larger than 65535, the most a volume can have.";
            return false;
        }
    }
    return true;
}

template <std::size_t N>
bool readVector(const Element &element, const char *key, std::array<double, N> &values,
                std::string &reason)
{
    const std::string *text = element.attribute(key);
    if (!text || parseList(*text, N, values.data()))
        return true;
    reason = "The image's " + std::string(key) + " '" + *text + "' is not " + std::to_string(N) +
             " numbers.";
    return false;
}

bool checkImage(const VtiMarkup &markup, VtiImage &image, std::string &reason)
{
    if (!checkRoot(markup.root, image, reason))
        return false;
    if (!markup.image) {
        reason = "The file holds no <ImageData> element.";
        return false;
    }
    if (markup.pieces != 1) {
        reason = markup.pieces == 0 ? "The image holds no <Piece>."
                                    : "The image is split into " + std::to_string(markup.pieces) +
                                          " pieces; only images of one piece are read.";
        return false;
    }
    const std::string *extent = markup.piece.attribute("Extent");
    if (!extent)
        extent = markup.image->attribute("WholeExtent");
    if (!extent) {
        reason = "The image gives no extent.";
        return false;
    }
    return checkExtent(*extent, image.extent, reason) &&
           readVector(*markup.image, "Origin", image.origin, reason) &&
           readVector(*markup.image, "Spacing", image.spacing, reason) &&
           readVector(*markup.image, "Direction", image.direction, reason);
}

bool sampleTypeOf(const std::string &name, SampleType &type)
{
    static const std::pair<const char *, SampleType> types[] = {
        {"Int8", SampleType::Int8},       {"UInt8", SampleType::UInt8},
        {"Int16", SampleType::Int16},     {"UInt16", SampleType::UInt16},
        {"Int32", SampleType::Int32},     {"UInt32", SampleType::UInt32},
        {"Int64", SampleType::Int64},     {"UInt64", SampleType::UInt64},
        {"Float32", SampleType::Float32}, {"Float64", SampleType::Float64},
    };
    for (const auto &[typeName, sampleType] : types)
        if (name == typeName) {
            type = sampleType;
            return true;
        }
    return false;
}

int componentsOf(const ArrayTag &array)
{
    int components = 1;
    const std::string *text = array.element.attribute("NumberOfComponents");
    return text && !parseList(*text, 1, &components) ? 0 : components;
}

// The array to show: the one the point data names its scalars, else its first
// of one component, else the same of the cell data.
const ArrayTag *chosenArray(const VtiMarkup &markup, std::string &reason)
{
    for (bool cells : {false, true}) {
        const std::optional<std::string> &scalars =
            cells ? markup.cellScalars : markup.pointScalars;
        for (const ArrayTag &array : markup.arrays)
            if (array.cellData == cells && scalars &&
                array.element.attributeOr("Name", "") == *scalars)
                return &array;
        for (const ArrayTag &array : markup.arrays)
            if (array.cellData == cells && componentsOf(array) == 1)
                return &array;
    }
    if (markup.arrays.empty())
        reason = "The image holds no point or cell data array.";
    return markup.arrays.empty() ? nullptr : &markup.arrays.front();
}

// How an array's bytes are stored, and where they start.
struct ArrayPlace
{
    enum class Encoding
    {
        Ascii,
        Base64,
        Raw
    };
    Encoding encoding = Encoding::Ascii;
    std::uint64_t start = 0;
};

bool checkArray(const ArrayTag &array, const VtiMarkup &markup, SampleType &type,
                std::size_t &components, ArrayPlace &place, std::string &reason)
{
    const std::string name = array.element.attributeOr("Name", "");
    const std::string typeName = array.element.attributeOr("type", "");
    if (!sampleTypeOf(typeName, type)) {
        reason = "The array '" + name + "' has the type '" + typeName +
                 "', which is not a number type VTK stores (Int8 to UInt64, Float32, Float64).";
        return false;
    }
    // Three or four components of 8 or 16 bits are colours (VTK's own colour
    // arrays); of other types they are vectors.
    const int count = componentsOf(array);
    const bool colour =
        (count == 3 || count == 4) && (type == SampleType::UInt8 || type == SampleType::UInt16);
    if (count != 1 && !colour) {
        reason = "The array '" + name + "' has " +
                 (count < 1 ? array.element.attributeOr("NumberOfComponents", "")
                            : std::to_string(count)) +
                 " components per voxel; only scalar images and colours (3 or 4 components of "
                 "8 or 16 bits) can be shown.";
        return false;
    }
    components = std::size_t(count);
    const std::string format = array.element.attributeOr("format", "");
    if (format == "ascii" || format == "binary") {
        place.encoding =
            format == "ascii" ? ArrayPlace::Encoding::Ascii : ArrayPlace::Encoding::Base64;
        place.start = array.contentStart;
        return true;
    }
    if (format != "appended") {
        reason = "The array '" + name + "' has the format '" + format +
                 "'; VTK writes ascii, binary or appended.";
        return false;
    }
    const std::string encoding = markup.appendedEncoding.value_or("");
    std::uint64_t offset = 0;
    const std::string *offsetText = array.element.attribute("offset");
    if (!markup.appendedEncoding || (encoding != "raw" && encoding != "base64")) {
        reason = markup.appendedEncoding ? "The appended data has the encoding '" + encoding +
                                               "'; VTK writes raw or base64."
                                         : "The array is appended, but the file holds no "
                                           "appended data.";
        return false;
    }
    if (!offsetText || !parseList(*offsetText, 1, &offset)) {
        reason = "The appended array '" + name + "' gives no offset of a whole number.";
        return false;
    }
    place.encoding = encoding == "raw" ? ArrayPlace::Encoding::Raw : ArrayPlace::Encoding::Base64;
    place.start = markup.appendedStart + offset;
    return true;
}

// The size, spacing, direction and origin of the grid in VTK's x, y, z. A
// cell's sample lies at its centre; an axis of one point has one cell.
void vtiGeometry(const VtiImage &image, bool cells, RawScan &scan)
{
    scan.origin = image.origin;
    for (std::size_t axis = 0; axis < 3; ++axis) {
        const std::int64_t points = image.extent[2 * axis + 1] - image.extent[2 * axis] + 1;
        scan.size[axis] = std::size_t(cells ? std::max<std::int64_t>(points - 1, 1) : points);
        const double first = double(image.extent[2 * axis]) + (cells && points > 1 ? 0.5 : 0.0);
        double length = 0.0;
        for (std::size_t row = 0; row < 3; ++row)
            length += image.direction[3 * row + axis] * image.direction[3 * row + axis];
        length = std::sqrt(length);
        // Unit directions and positive spacing that step the same way: a
        // zero direction stays zero and is refused with a warning later.
        const double step = image.spacing[axis] * length;
        scan.spacing[axis] = std::fabs(step);
        for (std::size_t row = 0; row < 3; ++row) {
            const double column = image.direction[3 * row + axis];
            scan.origin[row] += column * image.spacing[axis] * first;
            const double unit = length > 0.0 ? column / length : column;
            scan.direction[3 * row + axis] = step < 0.0 ? -unit : unit;
        }
    }
    scan.patientFrame = false;
}

// ---------------------------------------------------------------- array bytes

// An array's stored bytes from its first: straight from the file, or decoded
// from base64 text. VTK encodes a compressed array's header apart from its
// blocks, so padding may end a group in the middle: decoding goes on after it.
class ArrayBytes
{
public:
    bool open(const std::string &path, const ArrayPlace &place, std::string &reason)
    {
        base64_ = place.encoding == ArrayPlace::Encoding::Base64;
        position_ = place.start;
        if (!text_.open(path, reason))
            return false;
        text_.seek(place.start);
        return true;
    }

    // Reads up to bytes bytes; fewer where the data ends or is damaged.
    std::uint64_t read(unsigned char *target, std::uint64_t bytes)
    {
        if (!base64_) {
            const FileBytesRead read = readFileBytes(text_.path(), position_, target, bytes);
            if (!read.ok)
                damage_ = read.reason;
            position_ += read.read;
            return read.read;
        }
        std::uint64_t produced = 0;
        while (produced < bytes && (pendingAt_ < pending_ || decodeGroup()))
            target[produced++] = group_[pendingAt_++];
        return produced;
    }

    // The most bytes that can follow in the file.
    std::uint64_t bytesLeft() const
    {
        const std::uint64_t at = base64_ ? text_.offset() : position_;
        const std::uint64_t left = text_.size() > at ? text_.size() - at : 0;
        return base64_ ? left / 4 * 3 + 3 : left;
    }

    // Why the data stopped early: a character that is not base64, a read error.
    const std::string &damage() const { return damage_; }

private:
    static int valueOf(int c)
    {
        if (c >= 'A' && c <= 'Z')
            return c - 'A';
        if (c >= 'a' && c <= 'z')
            return c - 'a' + 26;
        if (c >= '0' && c <= '9')
            return c - '0' + 52;
        return c == '+' ? 62 : c == '/' ? 63 : -1;
    }

    // Decodes the next group of up to three bytes into group_; false at the
    // end of the text (the next tag) or on a character that is not base64.
    bool decodeGroup()
    {
        int values[4];
        int have = 0;
        pendingAt_ = pending_ = 0;
        while (have < 4) {
            const int c = text_.get();
            if (c == -1 || c == '<' || (c == '=' && have >= 2))
                break;
            if (isSpace(c) || c == '=')
                continue; // the rest of the padding before the next group
            values[have] = valueOf(c);
            if (values[have] < 0) {
                damage_ = "The base64 data holds the character '" + std::string(1, char(c)) +
                          "' at byte " + std::to_string(text_.offset() - 1) + ".";
                return false;
            }
            ++have;
        }
        if (!text_.readFailure().empty())
            damage_ = text_.readFailure();
        if (have < 2)
            return false;
        const std::uint32_t bits = std::uint32_t(values[0]) << 18 | std::uint32_t(values[1]) << 12 |
                                   (have > 2 ? std::uint32_t(values[2]) << 6 : 0) |
                                   (have > 3 ? std::uint32_t(values[3]) : 0);
        group_[0] = (unsigned char)(bits >> 16);
        group_[1] = (unsigned char)(bits >> 8);
        group_[2] = (unsigned char)bits;
        pending_ = std::size_t(have - 1);
        return true;
    }

    FileText text_;
    bool base64_ = false;
    std::uint64_t position_ = 0; // raw bytes: the next to read
    unsigned char group_[3] = {};
    std::size_t pending_ = 0, pendingAt_ = 0;
    std::string damage_;
};

// What an array's header says: its byte count, or its zlib blocks.
struct ArrayHeader
{
    std::uint64_t blockSize = 0; // compressed: the bytes of every block but the last
    std::uint64_t lastBlockSize = 0;
    std::vector<std::uint64_t> compressedSizes;
};

bool readWord(ArrayBytes &bytes, const VtiImage &image, std::uint64_t &value)
{
    unsigned char word[8] = {};
    if (bytes.read(word, image.wordBytes) != image.wordBytes)
        return false;
    value = 0;
    for (std::size_t i = 0; i < image.wordBytes; ++i) {
        const std::size_t significance = image.bigEndian ? image.wordBytes - 1 - i : i;
        value |= std::uint64_t(word[i]) << (8 * significance);
    }
    return true;
}

std::string cutHeader()
{
    return "The file ends inside the array's size header.";
}

bool readBlockTable(ArrayBytes &bytes, const VtiImage &image, std::uint64_t needed,
                    ArrayHeader &header, std::string &reason)
{
    std::uint64_t blocks = 0, lastBlock = 0;
    if (!readWord(bytes, image, blocks) || !readWord(bytes, image, header.blockSize) ||
        !readWord(bytes, image, lastBlock)) {
        reason = cutHeader();
        return false;
    }
    // A full last block may be given as 0.
    header.lastBlockSize = lastBlock == 0 ? header.blockSize : lastBlock;
    const std::uint64_t size = header.blockSize;
    if (size == 0 || blocks == 0 || header.lastBlockSize > size ||
        blocks != needed / size + (needed % size != 0) ||
        (blocks - 1) * size + header.lastBlockSize != needed) {
        reason = "The compressed array's header gives " + std::to_string(blocks) + " blocks of " +
                 std::to_string(size) + " bytes (the last " + std::to_string(lastBlock) +
                 "), which do not make the " + std::to_string(needed) + " bytes its extent needs.";
        return false;
    }
    if (blocks > bytes.bytesLeft() / image.wordBytes) {
        reason = "The compressed array's header lists " + std::to_string(blocks) +
                 " blocks, more than the file can hold.";
        return false;
    }
    header.compressedSizes.resize(std::size_t(blocks));
    std::uint64_t total = 0;
    for (std::uint64_t &compressed : header.compressedSizes) {
        if (!readWord(bytes, image, compressed)) {
            reason = cutHeader();
            return false;
        }
        total += std::min<std::uint64_t>(compressed, UINT64_MAX / 2 / blocks);
    }
    if (total > bytes.bytesLeft()) {
        reason = "The compressed blocks would take " + std::to_string(total) +
                 " bytes, more than the " + std::to_string(bytes.bytesLeft()) +
                 " bytes left in the file.";
        return false;
    }
    return true;
}

bool readArrayHeader(ArrayBytes &bytes, const VtiImage &image, std::uint64_t needed,
                     ArrayHeader &header, std::string &reason)
{
    if (image.compressed)
        return readBlockTable(bytes, image, needed, header, reason);
    std::uint64_t size = 0;
    if (!readWord(bytes, image, size)) {
        reason = cutHeader();
        return false;
    }
    if (size != needed) {
        reason = "The array's size header gives " + std::to_string(size) +
                 " bytes where its extent needs " + std::to_string(needed) + ".";
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- samples

template <typename T> bool storeNumber(const char *first, const char *last, unsigned char *target)
{
    T value;
    if (!parseNumber(first, last, value))
        return false;
    std::memcpy(target, &value, sizeof value);
    return true;
}

using NumberStore = bool (*)(const char *, const char *, unsigned char *);

NumberStore numberStoreOf(SampleType type)
{
    switch (type) {
    case SampleType::UInt8:
        return storeNumber<std::uint8_t>;
    case SampleType::Int8:
        return storeNumber<std::int8_t>;
    case SampleType::UInt16:
        return storeNumber<std::uint16_t>;
    case SampleType::Int16:
        return storeNumber<std::int16_t>;
    case SampleType::UInt32:
        return storeNumber<std::uint32_t>;
    case SampleType::Int32:
        return storeNumber<std::int32_t>;
    case SampleType::UInt64:
        return storeNumber<std::uint64_t>;
    case SampleType::Int64:
        return storeNumber<std::int64_t>;
    case SampleType::Float32:
        return storeNumber<float>;
    case SampleType::Float64:
        break;
    }
    return storeNumber<double>;
}

// The numbers of an ascii array, stored as its type in this machine's byte
// order; numbers it is short of read as 0.
ScanReadResult readAsciiSamples(const std::string &path, const ArrayPlace &place, RawScan &scan)
{
    FileText text;
    std::string reason;
    if (!text.open(path, reason))
        return scanRefusal(reason);
    text.seek(place.start);
    const NumberStore store = numberStoreOf(scan.type);
    const std::size_t width = sampleSize(scan.type);
    const std::uint64_t count =
        std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] * scan.components;
    std::uint64_t stored = 0;
    std::string word;
    for (int c = text.get();; c = text.get()) {
        if (c != -1 && c != '<' && !isSpace(c)) {
            word.push_back(char(c));
            if (word.size() > longestNumber)
                return scanRefusal("The ascii array holds a word of more than 64 characters.");
            continue;
        }
        if (!word.empty()) {
            if (stored == count)
                return scanRefusal("The ascii array holds more than the " + std::to_string(count) +
                                   " numbers its extent needs.");
            if (!store(word.data(), word.data() + word.size(),
                       scan.samples.data() + stored * width))
                return scanRefusal("The ascii array holds '" + word +
                                   "', which is not a number of type " + sampleTypeName(scan.type) +
                                   ".");
            ++stored;
            word.clear();
        }
        if (c == -1 || c == '<')
            break;
    }
    if (!text.readFailure().empty())
        return scanRefusal(text.readFailure());
    scan.missingSamples = count - stored;
    scan.bigEndian = machineIsBigEndian();
    return {true, {}};
}

// The zlib blocks of a compressed array, inflated into the scan's samples.
ScanReadResult inflateBlocks(ArrayBytes &bytes, const ArrayHeader &header, RawScan &scan)
{
    const std::uint64_t largest =
        *std::max_element(header.compressedSizes.begin(), header.compressedSizes.end());
    std::vector<unsigned char> block;
    block.resize(std::size_t(largest));
    unsigned char *target = scan.samples.data();
    for (std::size_t i = 0; i < header.compressedSizes.size(); ++i) {
        const std::uint64_t compressed = header.compressedSizes[i];
        if (bytes.read(block.data(), compressed) != compressed)
            return scanRefusal(bytes.damage().empty()
                                   ? "The compressed data is cut off before its end."
                                   : bytes.damage());
        const bool last = i + 1 == header.compressedSizes.size();
        uLongf inflated = uLongf(last ? header.lastBlockSize : header.blockSize);
        const uLongf expected = inflated;
        const int status = uncompress(target, &inflated, block.data(), uLong(compressed));
        if (status != Z_OK || inflated != expected)
            return scanRefusal("The compressed data of block " + std::to_string(i + 1) +
                               " is damaged (" + (status == Z_OK ? "too short" : zError(status)) +
                               ").");
        target += expected;
    }
    return {true, {}};
}

// The samples of a binary array (base64 or raw, plain or compressed), after
// its header. Plain data that ends early leaves missing samples.
ScanReadResult readBinarySamples(ArrayBytes &bytes, const ArrayHeader &header, bool compressed,
                                 RawScan &scan)
{
    if (compressed)
        return inflateBlocks(bytes, header, scan);
    const std::uint64_t needed = scan.samples.size();
    const std::uint64_t delivered = bytes.read(scan.samples.data(), needed);
    if (!bytes.damage().empty())
        return scanRefusal(bytes.damage());
    const std::uint64_t width = sampleSize(scan.type);
    std::memset(scan.samples.data() + delivered / width * width, 0, std::size_t(delivered % width));
    scan.missingSamples = (needed - delivered / width * width) / width;
    return {true, {}};
}

// ---------------------------------------------------------------- the whole

struct VtiHeader
{
    VtiImage image;
    ArrayPlace place;
    ArrayHeader arrayHeader;
};

void addNotes(const VtiMarkup &markup, const ArrayTag &array, RawScan &scan)
{
    const std::string name = array.element.attributeOr("Name", "");
    if (markup.arrays.size() > 1)
        scan.notes.push_back("The file holds " + std::to_string(markup.arrays.size()) +
                             " arrays; '" + name + "' is shown.");
    if (array.cellData)
        scan.notes.push_back("The array '" + name +
                             "' is cell data: each voxel is a cell of the grid, its value at "
                             "the cell's centre.");
}

// Reads and checks the markup of path and the chosen array's header:
// geometry and sample type go into scan, its samples untouched. The memory
// rule applies only where maxDataBytes is given.
ScanReadResult readVtiHeader(const std::string &path, std::optional<std::uint64_t> maxDataBytes,
                             RawScan &scan, VtiHeader &header)
{
    FileText text;
    VtiMarkup markup;
    std::string reason;
    if (!text.open(path, reason) || !scanMarkup(text, markup, reason) ||
        !checkImage(markup, header.image, reason))
        return scanRefusal(reason);
    const ArrayTag *array = chosenArray(markup, reason);
    if (!array || !checkArray(*array, markup, scan.type, scan.components, header.place, reason))
        return scanRefusal(reason);
    if (header.place.start > text.size())
        return scanRefusal("The array's data would start at byte " +
                           std::to_string(header.place.start) + ", beyond the end of the file (" +
                           std::to_string(text.size()) + " bytes).");
    vtiGeometry(header.image, array->cellData, scan);
    const std::array<std::uint64_t, 3> size = {scan.size[0], scan.size[1], scan.size[2]};
    if (maxDataBytes) {
        reason = scanMemoryProblem(size, sampleSize(scan.type), *maxDataBytes, scan.components);
        if (!reason.empty())
            return scanRefusal(reason);
    }
    scan.bigEndian = header.image.bigEndian;
    addNotes(markup, *array, scan);
    if (header.place.encoding == ArrayPlace::Encoding::Ascii)
        return {true, {}};
    ArrayBytes bytes;
    const std::uint64_t needed =
        size[0] * size[1] * size[2] * scan.components * sampleSize(scan.type);
    if (!bytes.open(path, header.place, reason) ||
        !readArrayHeader(bytes, header.image, needed, header.arrayHeader, reason))
        return scanRefusal(bytes.damage().empty() ? reason : bytes.damage());
    return {true, {}};
}

} // namespace

ScanReadResult readVtiFile(const std::string &path, std::uint64_t maxDataBytes, RawScan &target)
{
    RawScan scan;
    VtiHeader header;
    ScanReadResult read = readVtiHeader(path, maxDataBytes, scan, header);
    if (!read.ok)
        return read;
    const std::uint64_t count =
        std::uint64_t(scan.size[0]) * scan.size[1] * scan.size[2] * scan.components;
    if (!scan.samples.allocate(count * sampleSize(scan.type)))
        return scanRefusal("There is not enough memory for the image.");
    if (header.place.encoding == ArrayPlace::Encoding::Ascii) {
        read = readAsciiSamples(path, header.place, scan);
    } else {
        // Past the header that readVtiHeader() checked.
        ArrayBytes bytes;
        ArrayHeader arrayHeader;
        std::string reason;
        if (!bytes.open(path, header.place, reason) ||
            !readArrayHeader(bytes, header.image, scan.samples.size(), arrayHeader, reason))
            return scanRefusal(reason);
        read = readBinarySamples(bytes, arrayHeader, header.image.compressed, scan);
    }
    if (!read.ok)
        return read;
    target = std::move(scan);
    return {true, {}};
}

ScanReadResult readVtiLayout(const std::string &path, ScanLayout &layout)
{
    RawScan scan;
    VtiHeader header;
    const ScanReadResult read = readVtiHeader(path, std::nullopt, scan, header);
    if (!read.ok)
        return read;
    ScanLayout probed;
    const ScanReadResult placed = layoutOfScan(scan, VolumeFormat::VtkImage, path, probed);
    if (!placed.ok)
        return placed;
    const bool inPlace =
        header.place.encoding == ArrayPlace::Encoding::Raw && !header.image.compressed;
    probed.storage = inPlace ? ScanLayout::Storage::Raw : ScanLayout::Storage::Other;
    probed.dataOffset = header.place.start + (inPlace ? header.image.wordBytes : 0);
    // The markup after the samples is not theirs: a cut file must not count
    // it as samples.
    const std::uint64_t dataEnd = probed.dataOffset + probed.sampleCount() * sampleSize(scan.type);
    probed.dataFileBytes = std::min(probed.dataFileBytes, dataEnd);
    layout = std::move(probed);
    return {true, {}};
}
