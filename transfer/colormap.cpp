#include "colormap.h"

#include "filereason.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>

#include <algorithm>
#include <cmath>
#include <vector>

QRgb ColorMap::at(double t) const
{
    if (!(t > 0.0))
        return entries.front();
    if (t >= 1.0)
        return entries.back();
    return entries[std::size_t(std::lround(t * 255.0))];
}

namespace ColorMaps {

namespace {

// The bytes of an MRIcron lookup table: 256 of each channel, after a header
// of at most this size in the larger files of that family.
constexpr qsizetype lookupTableBytes = 3 * 256;
constexpr qsizetype lookupTableHeaderBytes = 32;

// A colour at a position of a built-in map, channels in 0..1.
struct ControlPoint
{
    double position;
    double red, green, blue;
};

// The map through the points (ascending positions from 0 to 1), linear in RGB
// between them.
std::array<QRgb, 256> interpolated(const std::vector<ControlPoint> &points)
{
    std::array<QRgb, 256> entries{};
    std::size_t segment = 0;
    for (int i = 0; i < 256; ++i) {
        const double t = i / 255.0;
        while (segment + 2 < points.size() && t > points[segment + 1].position)
            ++segment;
        const ControlPoint &a = points[segment];
        const ControlPoint &b = points[segment + 1];
        const double f = std::clamp((t - a.position) / (b.position - a.position), 0.0, 1.0);
        const auto channel = [f](double low, double high) {
            return int(std::lround((low + (high - low) * f) * 255.0));
        };
        entries[std::size_t(i)] =
            qRgb(channel(a.red, b.red), channel(a.green, b.green), channel(a.blue, b.blue));
    }
    return entries;
}

struct BuiltIn
{
    const char *name;
    std::vector<ControlPoint> points;
};

const std::vector<BuiltIn> &builtIns()
{
    // hot: red rises over the first 3/8, green over the next 3/8, blue over
    // the last quarter. viridis: nine of its published colours, evenly spaced.
    static const std::vector<BuiltIn> maps{
        {"grey", {{0.0, 0, 0, 0}, {1.0, 1, 1, 1}}},
        {"hot", {{0.0, 0, 0, 0}, {0.375, 1, 0, 0}, {0.75, 1, 1, 0}, {1.0, 1, 1, 1}}},
        {"cool", {{0.0, 0, 1, 1}, {1.0, 1, 0, 1}}},
        {"red-yellow", {{0.0, 1, 0, 0}, {1.0, 1, 1, 0}}},
        {"blue-green", {{0.0, 0, 0, 1}, {1.0, 0, 1, 1}}},
        {"viridis",
         {{0.0, 68 / 255.0, 1 / 255.0, 84 / 255.0},
          {0.125, 71 / 255.0, 45 / 255.0, 123 / 255.0},
          {0.25, 59 / 255.0, 82 / 255.0, 139 / 255.0},
          {0.375, 44 / 255.0, 114 / 255.0, 142 / 255.0},
          {0.5, 33 / 255.0, 145 / 255.0, 140 / 255.0},
          {0.625, 39 / 255.0, 173 / 255.0, 129 / 255.0},
          {0.75, 93 / 255.0, 200 / 255.0, 99 / 255.0},
          {0.875, 170 / 255.0, 220 / 255.0, 50 / 255.0},
          {1.0, 253 / 255.0, 231 / 255.0, 37 / 255.0}}},
        {"winter", {{0.0, 0, 0, 1}, {1.0, 0, 1, 0.5}}},
        {"red", {{0.0, 0, 0, 0}, {1.0, 1, 0, 0}}},
        {"green", {{0.0, 0, 0, 0}, {1.0, 0, 1, 0}}},
        {"blue", {{0.0, 0, 0, 0}, {1.0, 0, 0, 1}}},
    };
    return maps;
}

// Other names that users of other viewers know the maps by.
QString canonicalName(const QString &name)
{
    const QString lower = name.trimmed().toLower();
    if (lower == "gray")
        return "grey";
    if (lower == "blue-lightblue")
        return "blue-green";
    return lower;
}

QString displayName(const QString &fileName)
{
    return fileReasonName(fileName, "colour map");
}

ReadResult failure(const QString &fileName, const QString &reason)
{
    ReadResult result;
    result.reason = fileReason(fileName, "colour map", reason);
    return result;
}

ReadResult failureAtLine(const QString &fileName, int line, const QString &reason)
{
    ReadResult result;
    result.reason = lineReason(fileName, "colour map", line, reason);
    return result;
}

// The name a map read from a file goes by where its content names none.
QString mapNameOf(const QString &fileName)
{
    const QString name = QFileInfo(fileName).completeBaseName();
    return name.isEmpty() ? displayName(fileName) : name;
}

ReadResult parseLookupTable(const QByteArray &bytes, const QString &fileName)
{
    const qsizetype offset = bytes.size() - lookupTableBytes;
    const auto byte = [&](qsizetype i) { return int(uchar(bytes.at(offset + i))); };
    ReadResult result;
    result.map.name = mapNameOf(fileName);
    for (int i = 0; i < 256; ++i)
        result.map.entries[std::size_t(i)] = qRgb(byte(i), byte(256 + i), byte(512 + i));
    result.ok = true;
    return result;
}

// 1 + the newlines before a byte offset of the content.
int lineOfOffset(const QByteArray &bytes, qsizetype offset)
{
    const qsizetype end = std::clamp<qsizetype>(offset, 0, bytes.size());
    return 1 + int(std::count(bytes.cbegin(), bytes.cbegin() + end, '\n'));
}

ReadResult parseParaView(const QJsonObject &object, const QString &fileName)
{
    const QJsonValue value = object.value("RGBPoints");
    if (!value.isArray())
        return failure(fileName, "\"RGBPoints\" is not a list of numbers");
    const QJsonArray array = value.toArray();
    if (array.size() % 4 != 0)
        return failure(fileName, QString("\"RGBPoints\" has %1 numbers, not a multiple of 4 "
                                         "(x, red, green, blue per point)")
                                     .arg(array.size()));
    if (array.isEmpty())
        return failure(fileName, "\"RGBPoints\" is empty");
    if (array.size() == 4)
        return failure(fileName, "\"RGBPoints\" has only one point (a map needs two)");

    std::vector<double> numbers;
    numbers.reserve(std::size_t(array.size()));
    for (qsizetype i = 0; i < array.size(); ++i) {
        // QJsonValue turns a non-number into 0, which must not pass for one.
        const QJsonValue item = array.at(i);
        const double number = item.toDouble();
        if (!item.isDouble() || !std::isfinite(number))
            return failure(fileName,
                           QString("number %1 of \"RGBPoints\" is not a number").arg(i + 1));
        if (i % 4 != 0 && !(number >= 0.0 && number <= 1.0))
            return failure(fileName, QString("number %1 of \"RGBPoints\" is %2, a colour outside "
                                             "0..1")
                                         .arg(i + 1)
                                         .arg(number));
        if (i % 4 == 0 && i > 0 && number < numbers[std::size_t(i - 4)])
            return failure(fileName, QString("point %1 of \"RGBPoints\" lies left of the point "
                                             "before it (x must not decrease)")
                                         .arg(i / 4 + 1));
        numbers.push_back(number);
    }

    const std::size_t count = numbers.size() / 4;
    const double first = numbers.front();
    const double last = numbers[4 * (count - 1)];
    const double span = last - first;
    if (!(span > 0.0) || !std::isfinite(span))
        return failure(fileName, span > 0.0 ? QString("the x of \"RGBPoints\" span too wide a "
                                                      "range")
                                            : QString("the points of \"RGBPoints\" all lie at "
                                                      "x = %1")
                                                  .arg(first));

    ReadResult result;
    const QString name = object.value("Name").toString().trimmed();
    result.map.name = name.isEmpty() ? mapNameOf(fileName) : name;
    const auto colour = [&](std::size_t point, int channel) {
        return numbers[4 * point + std::size_t(channel)];
    };
    // The last point at or left of x, so that of two points on one x (a step)
    // the right-hand colour holds beyond it.
    std::size_t point = 0;
    for (int i = 0; i < 256; ++i) {
        const double x = i == 255 ? last : first + span * (i / 255.0);
        while (point + 1 < count && numbers[4 * (point + 1)] <= x)
            ++point;
        int rgb[3];
        for (int c = 1; c <= 3; ++c) {
            double v = colour(point, c);
            if (point + 1 < count) {
                const double x0 = numbers[4 * point];
                const double x1 = numbers[4 * (point + 1)];
                v += (colour(point + 1, c) - v) * (x - x0) / (x1 - x0);
            }
            rgb[c - 1] = int(std::lround(std::clamp(v, 0.0, 1.0) * 255.0));
        }
        result.map.entries[std::size_t(i)] = qRgb(rgb[0], rgb[1], rgb[2]);
    }
    result.ok = true;
    return result;
}

ReadResult parseJson(const QJsonDocument &document, const QString &fileName)
{
    if (document.isObject()) {
        if (document.object().contains("RGBPoints"))
            return parseParaView(document.object(), fileName);
    } else {
        // ParaView writes a list of maps; the first one with colours is read.
        const QJsonArray maps = document.array();
        for (const QJsonValue &map : maps)
            if (map.isObject() && map.toObject().contains("RGBPoints"))
                return parseParaView(map.toObject(), fileName);
    }
    return failure(fileName, "holds no colour map with \"RGBPoints\"");
}

} // namespace

QStringList names()
{
    QStringList list;
    for (const BuiltIn &map : builtIns())
        list << map.name;
    return list;
}

std::optional<ColorMap> named(const QString &name)
{
    const QString wanted = canonicalName(name);
    for (const BuiltIn &map : builtIns()) {
        if (wanted == map.name) {
            ColorMap colorMap;
            colorMap.name = map.name;
            colorMap.entries = interpolated(map.points);
            return colorMap;
        }
    }
    return std::nullopt;
}

ReadResult parse(const QByteArray &bytes, const QString &fileName)
{
    if (bytes.size() > maximumFileBytes)
        return failure(fileName,
                       QString("larger than %1 MiB").arg(maximumFileBytes / (1024 * 1024)));
    if (bytes.isEmpty())
        return failure(fileName, "is empty");
    const bool lookupTableSize = bytes.size() == lookupTableBytes ||
                                 bytes.size() == lookupTableBytes + lookupTableHeaderBytes;
    const auto start = std::find_if(bytes.cbegin(), bytes.cend(), [](char c) {
        return c != ' ' && c != '\t' && c != '\r' && c != '\n';
    });
    if (start != bytes.cend() && (*start == '[' || *start == '{')) {
        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
        if (error.error == QJsonParseError::NoError)
            return parseJson(document, fileName);
        // A lookup table may begin with the bytes of '[' or '{'.
        if (!lookupTableSize)
            return failureAtLine(fileName, lineOfOffset(bytes, error.offset),
                                 QString("not JSON (%1)").arg(error.errorString()));
    }
    if (lookupTableSize)
        return parseLookupTable(bytes, fileName);
    return failure(fileName, QString("neither a lookup table (768 or 800 bytes; this has %1) nor "
                                     "a ParaView colour map (JSON)")
                                 .arg(bytes.size()));
}

ReadResult readFile(const QString &fileName)
{
    QByteArray bytes;
    QString reason;
    if (!readSmallFile(fileName, maximumFileBytes, &bytes, &reason))
        return failure(fileName, reason);
    return parse(bytes, fileName);
}

ReadResult byNameOrFile(const QString &nameOrFile)
{
    if (const std::optional<ColorMap> map = named(nameOrFile)) {
        ReadResult result;
        result.ok = true;
        result.map = *map;
        return result;
    }
    if (!QFileInfo::exists(nameOrFile))
        return failure(
            nameOrFile,
            QString("neither a colour map's name (%1) nor a file").arg(names().join(", ")));
    return readFile(nameOrFile);
}

} // namespace ColorMaps
