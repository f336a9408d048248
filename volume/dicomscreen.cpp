#include "dicomscreen.h"

#include "memorylimit.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <zlib.h>

namespace {

const char *const deflatedSyntax = "1.2.840.10008.1.2.1.99";
// A deflated data set inflating to more than this many times its file is
// refused: real ones shrink by a few times, a hostile one by a thousand.
constexpr std::uint64_t deflateRatioLimit = 16;

constexpr std::uint32_t undefinedLength = 0xffffffffu;
constexpr int maxDepth = 32;

// The functional groups of enhanced multi-frame files, and the sequences
// within them that place a frame in space and time.
constexpr std::uint32_t sharedGroups = 0x52009229;
constexpr std::uint32_t perFrameGroups = 0x52009230;
constexpr std::uint32_t frameContent = 0x00209111;
constexpr std::uint32_t planePosition = 0x00209113;
constexpr std::uint32_t planeOrientation = 0x00209116;
constexpr std::uint32_t pixelMeasures = 0x00289110;
constexpr std::uint32_t cardiacSynchronisation = 0x00189118;

// Implicit data sets do not say which elements are sequences: these are
// known by their tags.
bool knownSequence(std::uint32_t tag)
{
    return tag == sharedGroups || tag == perFrameGroups || tag == frameContent ||
           tag == planePosition || tag == planeOrientation || tag == pixelMeasures ||
           tag == cardiacSynchronisation;
}

// Two bytes that name a value representation; in any other two the element
// is taken as implicit, as old writers mixed the two encodings.
const char *const rleSyntax = "1.2.840.10008.1.2.5";

bool knownVr(const unsigned char *at)
{
    static const char names[] =
        "AEASATCSDADSDTFDFLISLOLTOBODOFOLOVOWPNSHSLSQSSSTSVTMUCUIULUNURUSUTUV";
    for (const char *name = names; *name; name += 2)
        if (at[0] == name[0] && at[1] == name[1])
            return true;
    return false;
}

// The value representation of the image attributes that GDCM reads through
// its typed attributes, which assert on any other; null for the rest.
const char *gdcmAttributeVr(std::uint16_t group, std::uint16_t element)
{
    switch (std::uint32_t(group) << 16 | element) {
    case 0x00280002: // samples per pixel
    case 0x00280006: // planar configuration
    case 0x00280010: // rows
    case 0x00280011: // columns
    case 0x00280100: // bits allocated
    case 0x00280101: // bits stored
    case 0x00280102: // high bit
    case 0x00280103: // pixel representation
        return "US";
    case 0x00280008: // number of frames
        return "IS";
    case 0x00280004: // photometric interpretation
        return "CS";
    case 0x00200032: // image position
    case 0x00200037: // image orientation
    case 0x00280030: // pixel spacing
    case 0x00281052: // rescale intercept
    case 0x00281053: // rescale slope
        return "DS";
    default:
        return nullptr;
    }
}

// The representations whose length takes four bytes after two reserved ones.
bool longFormVr(const unsigned char *at)
{
    static const char names[] = "OBODOFOLOVOWSQUCURUTUNSVUV";
    for (const char *name = names; *name; name += 2)
        if (at[0] == name[0] && at[1] == name[1])
            return true;
    return false;
}

struct Walker
{
    const unsigned char *bytes = nullptr;
    std::uint64_t size = 0;
    bool explicitVr = true;
    bool bigEndian = false;
    // Deflated files: the walk stops where the meta group ends (dataSetStart,
    // 0 until then), so that the data set can be inflated and walked on its own.
    bool stopAtDataSet = false;
    std::uint64_t dataSetStart = 0;
    // GDCM asserts on a file that ends with its meta group.
    bool dataSetSeen = false;
    bool pixelDataSeen = false;
    std::string problem;
    DicomSliceFacts facts;
    std::uint32_t samplesPerPixel = 1, bitsAllocated = 0;
    std::uint64_t frames = 1;
    // The sequences the walk is inside, outermost first.
    std::vector<std::uint32_t> enclosing;

    bool inFrameGroups() const
    {
        return !enclosing.empty() &&
               (enclosing.front() == perFrameGroups || enclosing.front() == sharedGroups);
    }

    std::uint16_t u16(std::uint64_t at, bool big) const
    {
        return big ? std::uint16_t(bytes[at] << 8 | bytes[at + 1])
                   : std::uint16_t(bytes[at] | bytes[at + 1] << 8);
    }
    std::uint32_t u32(std::uint64_t at, bool big) const
    {
        const std::uint32_t low = u16(at, big), high = u16(at + 2, big);
        return big ? low << 16 | high : high << 16 | low;
    }

    bool fail(std::uint16_t group, std::uint16_t element, const std::string &what)
    {
        char tag[16];
        std::snprintf(tag, sizeof tag, "(%04x,%04x)", group, element);
        problem = std::string("element ") + tag + " " + what;
        return false;
    }

    // An element or item whose length runs past what is left of the file.
    bool failTooLong(std::uint16_t group, std::uint16_t element, std::uint32_t length,
                     std::uint64_t remaining)
    {
        return fail(group, element,
                    "claims " + std::to_string(length) + " bytes; " + std::to_string(remaining) +
                        " remain in the file");
    }

    std::string text(std::uint64_t at, std::uint32_t length) const
    {
        std::string value(reinterpret_cast<const char *>(bytes + at), length);
        while (!value.empty() && (value.back() == '\0' || value.back() == ' '))
            value.pop_back();
        return value;
    }

    // A decimal string of exactly N values separated by backslashes, as
    // written ("nan" and "0" included).
    template <std::size_t N>
    static bool decimals(const std::string &value, std::array<double, N> &numbers)
    {
        const char *cursor = value.c_str();
        for (std::size_t i = 0; i < N; ++i) {
            char *end = nullptr;
            numbers[i] = std::strtod(cursor, &end);
            const bool last = i + 1 == N;
            if (end == cursor || (last ? *end != '\0' && *end != ' ' : *end != '\\'))
                return false;
            cursor = *end ? end + 1 : end;
        }
        return true;
    }

    // YBR_FULL_422 and YBR_PARTIAL_422 hold two luminance samples and one of
    // each colour difference for every two pixels.
    bool halfChroma() const
    {
        return facts.pixels.photometric == "YBR_FULL_422" ||
               facts.pixels.photometric == "YBR_PARTIAL_422";
    }

    // The bytes native pixel data needs, in long double: a frame count of up
    // to 2^64 must not wrap round.
    long double neededPixelBytes() const
    {
        const long double perPixel = halfChroma() ? 2 : samplesPerPixel;
        const long double samples = static_cast<long double>(facts.rows) * facts.columns *
                                    perPixel * static_cast<long double>(frames);
        return bitsAllocated == 1 ? std::ceil(samples / 8) : samples * ((bitsAllocated + 7) / 8);
    }

    // "4 x 5 pixels x 1 sample x 1 frame of 16 bits", for the message above.
    std::string pixelDataSize() const
    {
        const std::string perPixel =
            halfChroma()
                ? "2 samples (" + facts.pixels.photometric + ")"
                : std::to_string(samplesPerPixel) + (samplesPerPixel == 1 ? " sample" : " samples");
        return std::to_string(facts.rows) + " x " + std::to_string(facts.columns) + " pixels x " +
               perPixel + " x " + std::to_string(frames) + (frames == 1 ? " frame" : " frames") +
               " of " + std::to_string(bitsAllocated) + " bits";
    }

    static std::string wholeNumber(long double value)
    {
        char text[64];
        std::snprintf(text, sizeof text, "%.0Lf", value);
        return text;
    }

    // Keeps the top-level elements that place a slice and size its pixels;
    // false where native pixel data is shorter than they make it.
    bool noteTopLevel(std::uint16_t group, std::uint16_t element, std::uint64_t at,
                      std::uint32_t length, bool big)
    {
        const std::uint32_t tag = std::uint32_t(group) << 16 | element;
        const auto unsignedShort = [&] { return length == 2 ? u16(at, big) : 0u; };
        switch (tag) {
        case 0x0020000e:
            facts.seriesUid = text(at, length);
            break;
        case 0x00200013:
        case 0x00200100: {
            const std::string value = text(at, length);
            char *end = nullptr;
            const long long number = std::strtoll(value.c_str(), &end, 10);
            if (!value.empty() && end && *end == '\0')
                (tag == 0x00200013 ? facts.instanceNumber : facts.temporalPosition) = number;
            break;
        }
        case 0x00200032: {
            std::array<double, 3> position{};
            if (decimals(text(at, length), position) &&
                std::all_of(position.begin(), position.end(),
                            [](double v) { return std::isfinite(v); }))
                facts.position = position;
            break;
        }
        case 0x00200037: {
            std::array<double, 6> orientation{};
            if (decimals(text(at, length), orientation))
                facts.orientation = orientation;
            break;
        }
        case 0x00280030: {
            std::array<double, 2> spacing{};
            if (decimals(text(at, length), spacing))
                facts.pixelSpacing = spacing;
            break;
        }
        case 0x00181060: {
            std::array<double, 1> time{};
            if (decimals(text(at, length), time) && std::isfinite(time[0]))
                facts.triggerTime = time[0];
            break;
        }
        case 0x00020002:
            facts.pixels.mediaStorageSopClassUid = text(at, length);
            break;
        case 0x00080016:
            facts.pixels.sopClassUid = text(at, length);
            break;
        case 0x00080010: {
            // The retired recognition code: GDCM asserts that it names one
            // of the old formats it knows.
            const std::string code = text(at, length);
            if (code.rfind("ACR-NEMA", 0) != 0 && code.rfind("ACRNEMA", 0) != 0 &&
                code.rfind("MIPS 2.0", 0) != 0)
                return fail(group, element,
                            "gives the recognition code '" + code +
                                "', which names no ACR-NEMA format");
            break;
        }
        case 0x00280002:
            samplesPerPixel = unsignedShort();
            facts.pixels.samplesPerPixel = samplesPerPixel;
            // GDCM asserts on any other count instead of refusing the file.
            if (samplesPerPixel != 1 && samplesPerPixel != 3 && samplesPerPixel != 4)
                return fail(group, element,
                            "gives " + std::to_string(samplesPerPixel) +
                                " samples per pixel; an image has 1, 3 or 4");
            break;
        case 0x00280004:
            facts.pixels.photometric = text(at, length);
            break;
        case 0x00280006:
            // GDCM asserts on a planar configuration other than 0 (samples
            // of a pixel together) or 1 (planes).
            if (unsignedShort() > 1)
                return fail(group, element,
                            "gives a planar configuration of " + std::to_string(unsignedShort()) +
                                "; pixels are stored by pixel (0) or by plane (1)");
            break;
        case 0x00280008:
            frames = std::strtoull(text(at, length).c_str(), nullptr, 10);
            facts.pixels.frames = frames;
            frames = frames == 0 ? 1 : frames;
            break;
        case 0x00280101:
            facts.pixels.bitsStored = unsignedShort();
            // GDCM asserts on more bits stored than allocated.
            if (bitsAllocated > 0 && facts.pixels.bitsStored > bitsAllocated)
                return fail(group, element,
                            "gives " + std::to_string(facts.pixels.bitsStored) +
                                " bits stored of " + std::to_string(bitsAllocated) + " allocated");
            break;
        case 0x00280103:
            facts.pixels.pixelRepresentation = unsignedShort();
            // GDCM reads any other value as signed, our own reader as
            // unsigned: neither would be the file's.
            if (facts.pixels.pixelRepresentation > 1)
                return fail(group, element,
                            "gives a pixel representation of " +
                                std::to_string(facts.pixels.pixelRepresentation) +
                                "; samples are unsigned (0) or signed (1)");
            break;
        case 0x00281052:
        case 0x00281053:
        case 0x3004000e: {
            if (tag != 0x3004000e)
                (tag == 0x00281052 ? facts.pixels.interceptText : facts.pixels.slopeText) =
                    text(at, length);
            std::array<double, 1> number{};
            if (decimals(text(at, length), number) && std::isfinite(number[0]))
                (tag == 0x00281052   ? facts.pixels.intercept
                 : tag == 0x00281053 ? facts.pixels.slope
                                     : facts.pixels.doseGridScaling) = number[0];
            break;
        }
        case 0x00280009:
            if (length == 4)
                facts.pixels.frameIncrement = std::uint32_t(u16(at, big)) << 16 | u16(at + 2, big);
            break;
        case 0x00181063: {
            std::array<double, 1> time{};
            if (decimals(text(at, length), time) && std::isfinite(time[0]))
                facts.pixels.frameTime = time[0];
            break;
        }
        case 0x3004000c: {
            const std::string value = text(at, length);
            const char *cursor = value.c_str();
            for (;;) {
                char *end = nullptr;
                const double offset = std::strtod(cursor, &end);
                if (end == cursor)
                    break;
                facts.pixels.frameOffsets.push_back(offset);
                if (*end != '\\')
                    break;
                cursor = end + 1;
            }
            break;
        }
        case 0x00280010:
            facts.rows = unsignedShort();
            break;
        case 0x00280011:
            facts.columns = unsignedShort();
            break;
        case 0x00280100:
            bitsAllocated = unsignedShort();
            facts.pixels.bitsAllocated = bitsAllocated;
            // Packed samples (12 bits of ACR-NEMA) make GDCM assert on the
            // length of native data.
            if (bitsAllocated != 8 && bitsAllocated != 16 && bitsAllocated != 32 &&
                bitsAllocated != 64)
                return fail(group, element,
                            "gives " + std::to_string(bitsAllocated) +
                                " bits allocated; samples of 8, 16, 32 or 64 bits are read");
            break;
        case 0x7fe00010: {
            // Undefined length (encapsulated data) never reaches here.
            const long double needed = neededPixelBytes();
            if (length < needed)
                return fail(group, element,
                            "holds " + std::to_string(length) + " bytes of pixel data; " +
                                pixelDataSize() + " need " + wholeNumber(needed) + " bytes");
            facts.pixels.pixelOffset = at;
            facts.pixels.pixelLength = length;
            facts.pixels.bigEndian = big;
            break;
        }
        default:
            break;
        }
        return true;
    }

    // Keeps what places the current frame, within the per-frame groups, and
    // the pixel spacing and orientation that the shared groups (else the
    // first frame's) give every frame.
    void noteFrameElement(std::uint32_t tag, std::uint64_t at, std::uint32_t length, bool big)
    {
        const std::uint32_t parent = enclosing.back();
        if (tag == 0x00280030 && parent == pixelMeasures && !facts.pixelSpacing) {
            std::array<double, 2> spacing{};
            if (decimals(text(at, length), spacing))
                facts.pixelSpacing = spacing;
        } else if (tag == 0x00200037 && parent == planeOrientation) {
            std::array<double, 6> orientation{};
            // GDCM takes the orientation of every frame from the shared
            // groups, else from the first frame's.
            const bool placesAll = enclosing.front() == sharedGroups || facts.frames.size() == 1;
            if (decimals(text(at, length), orientation) && placesAll) {
                facts.groupsOriented = true;
                if (!facts.orientation)
                    facts.orientation = orientation;
            }
        }
        if (facts.frames.empty() || enclosing.front() != perFrameGroups)
            return;
        DicomFrameFacts &frame = facts.frames.back();
        if (tag == 0x00209128 && parent == frameContent && length == 4) {
            frame.temporalIndex = u32(at, big);
        } else if (tag == 0x00200032 && parent == planePosition) {
            std::array<double, 3> position{};
            if (decimals(text(at, length), position) &&
                std::all_of(position.begin(), position.end(),
                            [](double v) { return std::isfinite(v); }))
                frame.position = position;
        } else if (tag == 0x00209153 && parent == cardiacSynchronisation && length == 8) {
            const std::uint64_t low = u32(at + (big ? 4 : 0), big);
            const std::uint64_t high = u32(at + (big ? 0 : 4), big);
            const std::uint64_t bits = high << 32 | low;
            double delay = 0.0;
            std::memcpy(&delay, &bits, sizeof delay);
            if (std::isfinite(delay))
                frame.triggerDelay = delay;
        }
    }

    // Where an explicit element stands in an implicit data set: two bytes
    // that name a representation are as well the low half of an implicit
    // length, so the element is taken as explicit only where that reading
    // fits and the implicit one does not, or where only the explicit one
    // lands on a later tag.
    bool explicitAmongImplicit(std::uint64_t position, std::uint64_t end, bool big) const
    {
        if (!knownVr(bytes + position + 4))
            return false;
        const bool longForm = longFormVr(bytes + position + 4);
        if (longForm && end - position < 12)
            return false;
        const std::uint64_t header = longForm ? 12 : 8;
        const std::uint32_t explicitLength =
            longForm ? u32(position + 8, big) : u16(position + 6, big);
        if (explicitLength == undefinedLength)
            return true;
        if (explicitLength > end - position - header)
            return false;
        const std::uint32_t implicitLength = u32(position + 4, big);
        if (implicitLength != undefinedLength && implicitLength > end - position - 8)
            return true;
        const std::uint32_t tag = std::uint32_t(u16(position, big)) << 16 | u16(position + 2, big);
        const auto landsAfterTag = [&](std::uint64_t next) {
            if (next == end)
                return true;
            if (end - next < 4)
                return false;
            const std::uint32_t nextTag = std::uint32_t(u16(next, big)) << 16 | u16(next + 2, big);
            return nextTag > tag;
        };
        return landsAfterTag(position + header + explicitLength) &&
               (implicitLength == undefinedLength || !landsAfterTag(position + 8 + implicitLength));
    }

    // Walks elements from position until end, or until the delimiter
    // (FFFE,E00D) of an item of undefined length when inItem is set.
    bool elements(std::uint64_t &position, std::uint64_t end, bool inItem, int depth)
    {
        if (depth > maxDepth)
            return fail(0, 0, "lies too deep in nested sequences");
        while (position < end) {
            if (stopAtDataSet && depth == 0 &&
                (end - position < 2 || u16(position, false) != 0x0002)) {
                dataSetStart = position;
                return true;
            }
            // The meta group is always explicit little-endian.
            const bool big = bigEndian && u16(position, false) != 0x0002;
            if (end - position < 8)
                return fail(0, 0, "is cut off at the end of the file");
            const std::uint16_t group = u16(position, big);
            const std::uint16_t element = u16(position + 2, big);
            dataSetSeen = dataSetSeen || (depth == 0 && group != 0x0002);
            pixelDataSeen = pixelDataSeen || (depth == 0 && group == 0x7fe0 && element == 0x0010);
            if (group == 0xfffe) {
                const std::uint32_t length = u32(position + 4, big);
                position += 8;
                if (element == 0xe00d && inItem)
                    return true;
                // GDCM asserts on an item among the elements of an
                // implicit data set.
                if (element == 0xe000 && !explicitVr)
                    return fail(group, element, "is an item where a data element should stand");
                if (length != 0 && length != undefinedLength)
                    return fail(group, element, "is a delimiter with a length");
                continue;
            }
            const unsigned char *vr = bytes + position + 4;
            // The meta group must name its value representations; GDCM
            // asserts on one that does not (two other letters included)
            // instead of refusing the file.
            if (group == 0x0002 && !knownVr(vr))
                return fail(group, element,
                            "has no value representation in the file meta information");
            const bool explicitHere =
                group == 0x0002 ||
                (explicitVr ? knownVr(vr) : explicitAmongImplicit(position, end, big));
            if (explicitHere && !explicitVr && group != 0x0002)
                facts.pixels.explicitAmongImplicit = true;
            if (explicitHere && depth == 0) {
                const char *expected = gdcmAttributeVr(group, element);
                if (expected && std::memcmp(vr, expected, 2) != 0)
                    return fail(group, element,
                                "has value representation " +
                                    std::string(reinterpret_cast<const char *>(vr), 2) +
                                    " where the image needs " + expected);
            }
            std::uint32_t length = 0;
            const std::uint32_t tag = std::uint32_t(group) << 16 | element;
            bool sequence = !explicitHere && knownSequence(tag);
            if (explicitHere) {
                sequence = vr[0] == 'S' && vr[1] == 'Q';
                if (longFormVr(vr)) {
                    if (end - position < 12)
                        return fail(group, element, "is cut off at the end of the file");
                    length = u32(position + 8, big);
                    // GDCM asserts on items in any other explicit element.
                    const bool holdsItems = sequence || (vr[0] == 'U' && vr[1] == 'N') ||
                                            (group == 0x7fe0 && element == 0x0010);
                    if (length == undefinedLength && !holdsItems)
                        return fail(group, element,
                                    "has an undefined length but value representation " +
                                        std::string(reinterpret_cast<const char *>(vr), 2));
                    position += 12;
                } else {
                    length = u16(position + 6, big);
                    position += 8;
                }
            } else {
                length = u32(position + 4, big);
                position += 8;
            }
            if (length == undefinedLength) {
                // GDCM's RLE decoder trusts every segment header and runs past
                // its buffers on a false one: the frames are checked first.
                if (depth == 0 && group == 0x7fe0 && element == 0x0010 &&
                    facts.pixels.transferSyntax == rleSyntax) {
                    if (!rleFrames(position, end))
                        return false;
                    continue;
                }
                // A sequence, encapsulated pixel data, or an unknown element
                // holding items: walk its items to their delimiter.
                if (!sequenceItems(tag, position, end, depth))
                    return false;
                continue;
            }
            if (length > end - position)
                return failTooLong(group, element, length, end - position);
            if (sequence) {
                std::uint64_t inner = position;
                if (!sequenceItems(tag, inner, position + length, depth))
                    return false;
            }
            if (depth == 0 && !noteTopLevel(group, element, position, length, big))
                return false;
            if (depth > 0 && !sequence && inFrameGroups())
                noteFrameElement(tag, position, length, big);
            if (group == 0x0002 && element == 0x0010) {
                std::string syntax(reinterpret_cast<const char *>(bytes + position), length);
                while (!syntax.empty() && (syntax.back() == '\0' || syntax.back() == ' '))
                    syntax.pop_back();
                explicitVr = syntax != "1.2.840.10008.1.2";
                bigEndian = syntax == "1.2.840.10008.1.2.2";
                stopAtDataSet = syntax == deflatedSyntax;
                facts.pixels.transferSyntax = syntax;
            }
            position += length;
        }
        if (inItem)
            return fail(0xfffe, 0xe00d, "is missing: an item runs to the end of the file");
        return true;
    }

    // The fragments of RLE pixel data, one a frame after the offset table:
    // each frame's header names one segment per byte of a sample (1..15, in
    // increasing places within the fragment, the first right after the
    // header), and every segment's runs make at least rows x columns bytes
    // from the bytes it holds.
    bool rleFrames(std::uint64_t &position, std::uint64_t end)
    {
        const DicomPixelFacts &pixels = facts.pixels;
        const std::uint64_t segments =
            std::uint64_t(pixels.samplesPerPixel) * ((pixels.bitsAllocated + 7) / 8);
        const std::uint64_t planeBytes = std::uint64_t(facts.rows) * facts.columns;
        std::uint64_t fragments = 0;
        while (true) {
            if (end - position < 8)
                return fail(0xfffe, 0xe000, "is cut off at the end of the file");
            const std::uint16_t group = u16(position, bigEndian);
            const std::uint16_t element = u16(position + 2, bigEndian);
            const std::uint32_t length = u32(position + 4, bigEndian);
            position += 8;
            if (group == 0xfffe && element == 0xe0dd)
                break;
            if (group != 0xfffe || element != 0xe000)
                return fail(group, element, "stands where an RLE fragment should");
            if (length > end - position)
                return failTooLong(group, element, length, end - position);
            // The first item is the table of frame offsets.
            if (fragments++ > 0 && !rleFrame(position, length, segments, planeBytes))
                return false;
            position += length;
        }
        const std::uint64_t frameCount = pixels.frames.value_or(1);
        if (fragments < 1 + frameCount)
            return fail(0x7fe0, 0x0010,
                        "holds " + std::to_string(fragments > 0 ? fragments - 1 : 0) +
                            " RLE fragments for " + std::to_string(frameCount) + " frames");
        return true;
    }

    bool rleFrame(std::uint64_t at, std::uint64_t length, std::uint64_t segments,
                  std::uint64_t planeBytes)
    {
        const auto refuse = [&](const std::string &what) {
            return fail(0x7fe0, 0x0010, "holds an RLE frame " + what);
        };
        if (length < 64)
            return refuse("shorter than its 64-byte header");
        // RLE headers are little-endian whatever the data set's order.
        const std::uint32_t count = u32(at, false);
        if (count < 1 || count > 15 || count != segments)
            return refuse("of " + std::to_string(count) + " segments where its samples need " +
                          std::to_string(segments));
        for (std::uint32_t segment = 0; segment < count; ++segment) {
            const std::uint64_t begin = u32(at + 4 + 4 * segment, false);
            const std::uint64_t next =
                segment + 1 < count ? u32(at + 8 + 4 * segment, false) : length;
            if ((segment == 0 && begin != 64) || begin >= next || next > length)
                return refuse("whose segment offsets do not lie in order within it");
            if (rleOutput(at + begin, at + next, planeBytes) < planeBytes)
                return refuse("whose segment " + std::to_string(segment + 1) +
                              " makes fewer bytes than its rows and columns");
        }
        return true;
    }

    // Bytes the PackBits runs of [from, to) make, counted up to limit; a run
    // cut off at the end (padding) counts nothing.
    std::uint64_t rleOutput(std::uint64_t from, std::uint64_t to, std::uint64_t limit) const
    {
        std::uint64_t made = 0;
        while (from < to && made < limit) {
            const unsigned control = bytes[from++];
            if (control < 128) {
                if (to - from < control + 1)
                    break;
                made += control + 1;
                from += control + 1;
            } else if (control > 128) {
                if (from >= to)
                    break;
                made += 257 - control;
                ++from;
            }
        }
        return made;
    }

    // The items of the element tag (a sequence, encapsulated pixel data or
    // an unknown element) at depth, with tag known as the one they are in.
    bool sequenceItems(std::uint32_t tag, std::uint64_t &position, std::uint64_t end, int depth)
    {
        facts.functionalGroups = facts.functionalGroups ||
                                 (depth == 0 && (tag == perFrameGroups || tag == sharedGroups));
        enclosing.push_back(tag);
        const bool walked = items(position, end, depth + 1);
        enclosing.pop_back();
        return walked;
    }

    // Walks items (FFFE,E000) until the sequence delimiter (FFFE,E0DD) or
    // end.
    bool items(std::uint64_t &position, std::uint64_t end, int depth)
    {
        if (depth > maxDepth)
            return fail(0, 0, "lies too deep in nested sequences");
        while (position < end) {
            if (end - position < 8)
                return fail(0xfffe, 0xe000, "is cut off at the end of the file");
            const std::uint16_t group = u16(position, bigEndian);
            const std::uint16_t element = u16(position + 2, bigEndian);
            const std::uint32_t length = u32(position + 4, bigEndian);
            position += 8;
            if (group == 0xfffe && element == 0xe0dd)
                return true;
            if (group != 0xfffe || element != 0xe000)
                return fail(group, element, "stands where a sequence item should");
            // Each item of the per-frame groups describes the next frame.
            if (enclosing.size() == 1 && enclosing.front() == perFrameGroups)
                facts.frames.emplace_back();
            if (length == undefinedLength) {
                if (!elements(position, end, true, depth + 1))
                    return false;
                continue;
            }
            if (length > end - position)
                return failTooLong(group, element, length, end - position);
            // Items of a known length are skipped (encapsulated fragments are
            // plain bytes, which a walk would refuse), but for those of the
            // per-frame groups, which place the frames.
            if (inFrameGroups()) {
                std::uint64_t inner = position;
                if (!elements(inner, position + length, false, depth + 1))
                    return false;
            }
            position += length;
        }
        return true;
    }
};

// Inflates the raw deflate stream of size bytes at from into to, refusing
// beyond limit bytes; the problem (phrased for the file) where that fails.
std::string inflateDataSet(const unsigned char *from, std::uint64_t size, std::uint64_t limit,
                           std::vector<unsigned char> &to)
{
    z_stream stream{};
    if (inflateInit2(&stream, -15) != Z_OK)
        return "has a deflated data set that cannot be inflated (zlib fails to start)";
    // zlib counts in 32 bits: the input goes in in pieces.
    constexpr std::uint64_t piece = std::uint64_t(1) << 30;
    std::uint64_t consumed = 0;
    int status = Z_OK;
    to.resize(
        std::size_t(std::min<std::uint64_t>(limit + 1, std::max<std::uint64_t>(size * 4, 4096))));
    std::uint64_t produced = 0;
    while (status == Z_OK) {
        if (produced == to.size()) {
            if (produced > limit)
                break;
            to.resize(std::size_t(std::min<std::uint64_t>(limit + 1, produced * 2)));
        }
        if (stream.avail_in == 0) {
            const std::uint64_t next = std::min(piece, size - consumed);
            stream.next_in = const_cast<unsigned char *>(from + consumed);
            stream.avail_in = uInt(next);
            consumed += next;
        }
        const std::uint64_t room = std::min<std::uint64_t>(piece, to.size() - produced);
        stream.next_out = to.data() + produced;
        stream.avail_out = uInt(room);
        status = inflate(&stream, Z_NO_FLUSH);
        produced += room - stream.avail_out;
        // Out of input before the stream's end: it is cut off.
        if (status == Z_BUF_ERROR && stream.avail_in == 0 && consumed == size)
            break;
        if (status == Z_BUF_ERROR)
            status = Z_OK;
    }
    const std::string message = stream.msg ? stream.msg : "";
    inflateEnd(&stream);
    to.resize(std::size_t(std::min(produced, limit + 1)));
    if (produced > limit)
        return "has a deflated data set that inflates to more than " + std::to_string(limit) +
               " bytes (" + std::to_string(deflateRatioLimit) +
               " times the file, or the memory a load may take)";
    if (status == Z_STREAM_END)
        return {};
    if (status == Z_OK || status == Z_BUF_ERROR)
        return "has a deflated data set that is cut off";
    return "has a deflated data set that is damaged (" +
           (message.empty() ? "zlib error " + std::to_string(status) : message) + ")";
}

// What the image attributes lack or contradict, taken together once the
// walk is done (their elements may stand in any order): GDCM asserts on pixel
// data without bits allocated or with more bits stored, and reads past its
// buffers where the photometric interpretation names a colour model whose
// samples per pixel the file does not give.
std::string pixelAttributeProblem(const DicomSliceFacts &facts, bool pixelData)
{
    const DicomPixelFacts &pixels = facts.pixels;
    if (pixelData && pixels.bitsAllocated == 0)
        return "element (7fe0,0010) holds pixel data, but the file gives no bits allocated";
    // Without them the length of native data is not checked, and GDCM may
    // find them where this walk does not.
    if (pixelData && (facts.rows == 0 || facts.columns == 0))
        return "element (7fe0,0010) holds pixel data, but the file gives no rows or columns";
    if (pixels.bitsAllocated > 0 && pixels.bitsStored > pixels.bitsAllocated)
        return "element (0028,0101) gives " + std::to_string(pixels.bitsStored) +
               " bits stored of " + std::to_string(pixels.bitsAllocated) + " allocated";
    // GDCM matches a name by its first letters, so that "MONOCHROM" is read
    // as MONOCHROME1 and inverted: only the defined names are read.
    static const struct
    {
        const char *name;
        std::uint32_t samples;
    } models[] = {{"MONOCHROME1", 1},
                  {"MONOCHROME2", 1},
                  {"PALETTE COLOR", 1},
                  {"RGB", 3},
                  {"HSV", 3},
                  {"YBR_FULL", 3},
                  {"YBR_FULL_422", 3},
                  {"YBR_PARTIAL_422", 3},
                  {"YBR_PARTIAL_420", 3},
                  {"YBR_ICT", 3},
                  {"YBR_RCT", 3},
                  {"ARGB", 4},
                  {"CMYK", 4}};
    const std::string &name = pixels.photometric;
    if (name.empty())
        return {};
    const auto model = std::find_if(std::begin(models), std::end(models),
                                    [&](const auto &m) { return name == m.name; });
    if (model == std::end(models))
        return "element (0028,0004) gives the photometric interpretation '" + name +
               "', which names none";
    const std::uint32_t needed = model->samples;
    if (pixels.samplesPerPixel == needed)
        return {};
    return "element (0028,0004) gives the photometric interpretation " + name + ", which has " +
           std::to_string(needed) + (needed == 1 ? " sample" : " samples") +
           " per pixel, but the file gives " + std::to_string(pixels.samplesPerPixel);
}

// Walks the data set of a deflated file (after the meta group the walker
// stopped at) from an inflated copy.
void walkDeflatedDataSet(Walker &walker)
{
    std::vector<unsigned char> inflated;
    const std::uint64_t compressed = walker.size - walker.dataSetStart;
    const std::uint64_t limit = std::min(deflateRatioLimit * walker.size, loadableDataBytes());
    walker.problem =
        inflateDataSet(walker.bytes + walker.dataSetStart, compressed, limit, inflated);
    if (!walker.problem.empty())
        return;
    // The inflated data set is explicit little-endian, as its syntax says.
    walker.stopAtDataSet = false;
    walker.explicitVr = true;
    walker.bigEndian = false;
    walker.bytes = inflated.data();
    walker.size = inflated.size();
    std::uint64_t position = 0;
    walker.elements(position, walker.size, false, 0);
}

} // namespace

DicomSliceFacts screenDicomFile(const std::string &path)
{
    DicomSliceFacts refused;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        refused.problem = "cannot be opened";
        return refused;
    }
    struct stat info;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        ::close(fd);
        refused.problem = "is not a regular file";
        return refused;
    }
    const std::uint64_t size = std::uint64_t(info.st_size);
    if (size < 8) {
        ::close(fd);
        refused.problem = "is too short for DICOM";
        return refused;
    }
    void *mapped = ::mmap(nullptr, std::size_t(size), PROT_READ, MAP_PRIVATE, fd, 0);
    ::close(fd);
    if (mapped == MAP_FAILED) {
        refused.problem = "cannot be read";
        return refused;
    }
    Walker walker;
    walker.bytes = static_cast<const unsigned char *>(mapped);
    walker.size = size;
    std::uint64_t position = 0;
    if (size >= 132 && std::memcmp(walker.bytes + 128, "DICM", 4) == 0) {
        position = 132;
        // GDCM takes a file whose first element is not of the meta group
        // for one without meta information, and reads a deflated data set
        // as raw elements of any length.
        if (size >= 136 && walker.u16(132, false) != 0x0002)
            walker.fail(walker.u16(132, false), walker.u16(134, false),
                        "stands where the file meta information should start");
    } else {
        // No preamble: explicit VR shows as two capital letters after the tag.
        walker.explicitVr = std::isupper(walker.bytes[4]) && std::isupper(walker.bytes[5]);
        // GDCM guesses the byte order of such a file from its first elements
        // and may read big-endian what is walked here little-endian (and
        // allocate what a length then claims): only a file that starts with
        // its meta group or group 0008, little-endian, is read.
        const std::uint16_t group = walker.u16(0, false);
        if (group != 0x0002 && group != 0x0008)
            walker.fail(group, walker.u16(2, false),
                        "starts a file without preamble, which should start with group 0002 or "
                        "0008");
    }
    if (walker.problem.empty())
        walker.elements(position, size, false, 0);
    if (walker.problem.empty() && walker.dataSetStart > 0)
        walkDeflatedDataSet(walker);
    if (walker.problem.empty() && !walker.dataSetSeen)
        walker.problem = "holds no data set after its file meta information";
    if (walker.problem.empty())
        walker.problem = pixelAttributeProblem(walker.facts, walker.pixelDataSeen);
    ::munmap(mapped, std::size_t(size));
    walker.facts.problem = walker.problem;
    return walker.facts;
}
