#include "transferfunctionfile.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QJsonValue>
#include <QSaveFile>

#include <algorithm>
#include <cmath>

namespace TransferFunctionFile {

namespace {

constexpr const char *formatKey = "kelvara-transfer-function";
constexpr int formatVersion = 1;
const char *const channelKeys[] = {"red", "green", "blue", "alpha"};

ReadResult failure(const QString &reason)
{
    ReadResult result;
    result.reason = reason;
    return result;
}

// A number in [low, high], or nothing (QJsonValue turns a non-number into 0,
// which must not pass for a value).
bool numberIn(const QJsonValue &value, double low, double high, double *number)
{
    if (!value.isDouble())
        return false;
    *number = value.toDouble();
    return std::isfinite(*number) && *number >= low && *number <= high;
}

bool readChannel(const QJsonValue &value, const QString &key, ChannelPoints *channel,
                 QString *reason)
{
    if (value.isUndefined()) {
        *reason = QString("\"%1\" is missing").arg(key);
        return false;
    }
    if (!value.isArray()) {
        *reason = QString("\"%1\" is not a list of points").arg(key);
        return false;
    }
    const QJsonArray points = value.toArray();
    if (points.size() > maximumPointsPerChannel) {
        *reason = QString("\"%1\" has %2 points (at most %3)")
                      .arg(key)
                      .arg(points.size())
                      .arg(maximumPointsPerChannel);
        return false;
    }
    for (int i = 0; i < points.size(); ++i) {
        const QString where = QString("point %1 of \"%2\"").arg(i + 1).arg(key);
        const QJsonArray point = points.at(i).toArray();
        if (!points.at(i).isArray() || point.size() < 2 || point.size() > 3) {
            *reason = where + " is not [x, y] or [x, y, locks]";
            return false;
        }
        double x = 0.0, y = 0.0, locks = 0.0;
        if (!numberIn(point.at(0), 0.0, 1.0, &x) || !numberIn(point.at(1), 0.0, 1.0, &y)) {
            *reason = where + ": x and y must be numbers in 0..1";
            return false;
        }
        if (point.size() == 3 &&
            (!numberIn(point.at(2), 0.0, 15.0, &locks) || locks != std::floor(locks))) {
            *reason = where + ": locks must be a whole number in 0..15";
            return false;
        }
        if (!channel->points.isEmpty() && x < channel->points.last().x()) {
            *reason = where + " lies left of the point before it (x must not decrease)";
            return false;
        }
        channel->points.append(QPointF(x, y));
        channel->locks.append(uint(locks));
    }
    return true;
}

ReadResult parseKelvara(const QJsonObject &object)
{
    const QJsonValue version = object.value(formatKey);
    if (!version.isDouble() || version.toDouble() != formatVersion)
        return failure(QString("unknown version of \"%1\" (this program reads %2)")
                           .arg(formatKey)
                           .arg(formatVersion));
    ReadResult result;
    for (int c = 0; c < 4; ++c) {
        QString reason;
        if (!readChannel(object.value(channelKeys[c]), channelKeys[c], &result.function.channels[c],
                         &reason))
            return failure(reason);
    }
    result.ok = true;
    return result;
}

// The numbers of a ParaView list, in groups of four; a reason when it is not.
bool readGroupsOfFour(const QJsonValue &value, const QString &key, QList<double> *numbers,
                      QString *reason)
{
    if (!value.isArray()) {
        *reason = QString("\"%1\" is not a list of numbers").arg(key);
        return false;
    }
    const QJsonArray array = value.toArray();
    if (array.isEmpty() || array.size() % 4 != 0) {
        *reason = QString("\"%1\" has %2 numbers, not a positive multiple of 4")
                      .arg(key)
                      .arg(array.size());
        return false;
    }
    if (array.size() / 4 > maximumPointsPerChannel) {
        *reason = QString("\"%1\" has %2 points (at most %3)")
                      .arg(key)
                      .arg(array.size() / 4)
                      .arg(maximumPointsPerChannel);
        return false;
    }
    for (int i = 0; i < array.size(); ++i) {
        double number = 0.0;
        if (!numberIn(array.at(i), -HUGE_VAL, HUGE_VAL, &number)) {
            *reason = QString("number %1 of \"%2\" is not a finite number").arg(i + 1).arg(key);
            return false;
        }
        if (i % 4 != 0 && (number < 0.0 || number > 1.0)) {
            *reason =
                QString("number %1 of \"%2\" is %3, outside 0..1").arg(i + 1).arg(key).arg(number);
            return false;
        }
        if (i % 4 == 0 && i > 0 && number < numbers->at(i - 4)) {
            *reason = QString("point %1 of \"%2\" lies left of the point before it")
                          .arg(i / 4 + 1)
                          .arg(key);
            return false;
        }
        numbers->append(number);
    }
    return true;
}

// The piecewise linear function through points (ascending x, any range) on
// 0..1, held constant beyond its first and last point: the points inside,
// plus the function's values at 0 and 1 where no point lies there. The ends
// are locked to the edges, as the editor's ends are.
ChannelPoints clippedToUnit(const QPolygonF &points)
{
    const auto valueAt = [&](double x) {
        if (x <= points.first().x())
            return points.first().y();
        if (x >= points.last().x())
            return points.last().y();
        for (int i = 1; i < points.size(); ++i) {
            const QPointF &a = points.at(i - 1);
            const QPointF &b = points.at(i);
            if (x <= b.x())
                return a.y() + (b.y() - a.y()) * (x - a.x()) / (b.x() - a.x());
        }
        return points.last().y();
    };
    ChannelPoints channel;
    for (const QPointF &p : points)
        if (p.x() >= 0.0 && p.x() <= 1.0)
            channel.points.append(p);
    if (channel.points.isEmpty() || channel.points.first().x() > 0.0)
        channel.points.prepend(QPointF(0.0, valueAt(0.0)));
    if (channel.points.last().x() < 1.0)
        channel.points.append(QPointF(1.0, valueAt(1.0)));
    channel.locks = QList<uint>(channel.points.size(), 0u);
    channel.locks.first() = ControlPoints::LockLeftEdge;
    channel.locks.last() = ControlPoints::LockRightEdge;
    return channel;
}

ReadResult parseParaView(const QJsonObject &map, const DataRange &range)
{
    const double span = range.maximum - range.minimum;
    if (!std::isfinite(span) || span <= 0.0)
        return failure("the data set's value range is empty");
    const auto normalised = [&](double x) { return (x - range.minimum) / span; };

    QList<double> rgb;
    QString reason;
    if (!readGroupsOfFour(map.value("RGBPoints"), "RGBPoints", &rgb, &reason))
        return failure(reason);
    QList<double> opacity;
    // Many colour maps carry no opacity: they are opaque.
    if (map.contains("Points") &&
        !readGroupsOfFour(map.value("Points"), "Points", &opacity, &reason))
        return failure(reason);
    if (opacity.isEmpty())
        opacity = {rgb.first(), 1.0, 0.5, 0.0};
    // A map a million times wider than the data set leaves nothing to see,
    // and the arithmetic of clipping it would overflow.
    for (const QList<double> *list : {&rgb, &opacity})
        for (int i = 0; i < list->size(); i += 4)
            if (!(std::abs(normalised(list->at(i))) <= 1e6))
                return failure(QString("x = %1 lies too far outside the data set's value range")
                                   .arg(list->at(i)));

    ReadResult result;
    for (int c = 0; c < 3; ++c) {
        QPolygonF points;
        for (int i = 0; i < rgb.size(); i += 4)
            points.append(QPointF(normalised(rgb.at(i)), rgb.at(i + 1 + c)));
        result.function.channels[c] = clippedToUnit(points);
    }
    QPolygonF alpha;
    for (int i = 0; i < opacity.size(); i += 4)
        alpha.append(QPointF(normalised(opacity.at(i)), opacity.at(i + 1)));
    result.function.channels[AlphaChannel] = clippedToUnit(alpha);
    result.ok = true;
    return result;
}

} // namespace

ReadResult parse(const QByteArray &bytes, const DataRange &range)
{
    if (bytes.size() > maximumFileBytes)
        return failure(QString("larger than %1 MiB").arg(maximumFileBytes / (1024 * 1024)));
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError)
        return failure(
            QString("not JSON (%1 at byte %2)").arg(error.errorString()).arg(error.offset));

    if (document.isObject()) {
        const QJsonObject object = document.object();
        if (object.contains(formatKey))
            return parseKelvara(object);
        if (object.contains("RGBPoints"))
            return parseParaView(object, range);
    } else if (document.isArray()) {
        // ParaView writes a list of maps; the first one is read.
        const QJsonArray maps = document.array();
        if (maps.isEmpty())
            return failure("the list holds no colour map");
        if (!maps.first().isObject() || !maps.first().toObject().contains("RGBPoints"))
            return failure("the first colour map has no \"RGBPoints\"");
        return parseParaView(maps.first().toObject(), range);
    }
    return failure(QString("neither a Kelvara transfer function (\"%1\") nor a ParaView colour "
                           "map (\"RGBPoints\")")
                       .arg(formatKey));
}

ReadResult readFile(const QString &fileName, const DataRange &range)
{
    const QFileInfo info(fileName);
    if (!info.exists())
        return failure("cannot be read (no such file)");
    if (!info.isFile())
        return failure("cannot be read (not a file)");
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return failure(QString("cannot be read (%1)").arg(file.errorString()));
    if (file.size() > maximumFileBytes)
        return failure(QString("larger than %1 MiB").arg(maximumFileBytes / (1024 * 1024)));
    // One byte more than allowed tells a file that grew since from one that fits.
    const QByteArray bytes = file.read(maximumFileBytes + 1);
    if (file.error() != QFileDevice::NoError)
        return failure(QString("cannot be read (%1)").arg(file.errorString()));
    return parse(bytes, range);
}

QByteArray toKelvaraJson(const TransferFunction &function)
{
    QJsonObject object;
    object.insert(formatKey, formatVersion);
    for (int c = 0; c < 4; ++c) {
        const ChannelPoints &channel = function.channels[c];
        QJsonArray points;
        for (int i = 0; i < channel.points.size(); ++i) {
            QJsonArray point{channel.points.at(i).x(), channel.points.at(i).y()};
            const uint locks = channel.locks.value(i, 0u);
            if (locks != 0)
                point.append(int(locks));
            points.append(point);
        }
        object.insert(channelKeys[c], points);
    }
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray toParaViewJson(const TransferFunction &function, const DataRange &range)
{
    const double span = range.maximum - range.minimum;
    const auto dataValue = [&](double x) { return range.minimum + x * span; };

    QList<double> xs;
    for (int c = 0; c < 3; ++c)
        for (const QPointF &p : function.channels[c].points)
            xs.append(p.x());
    std::sort(xs.begin(), xs.end());
    xs.erase(std::unique(xs.begin(), xs.end()), xs.end());
    if (xs.isEmpty())
        xs = {0.0, 1.0};

    QJsonArray rgbPoints;
    for (double x : std::as_const(xs)) {
        std::pair<double, double> v[3];
        for (int c = 0; c < 3; ++c)
            v[c] = channelValueAt(function.channels[c], x);
        rgbPoints << dataValue(x) << v[0].first << v[1].first << v[2].first;
        if (v[0].first != v[0].second || v[1].first != v[1].second || v[2].first != v[2].second)
            rgbPoints << dataValue(x) << v[0].second << v[1].second << v[2].second;
    }
    QJsonArray opacityPoints;
    for (const QPointF &p : function.channels[AlphaChannel].points)
        opacityPoints << dataValue(p.x()) << p.y() << 0.5 << 0.0;

    QJsonObject map;
    map.insert("Name", "Kelvara");
    map.insert("ColorSpace", "RGB");
    map.insert("RGBPoints", rgbPoints);
    if (!opacityPoints.isEmpty())
        map.insert("Points", opacityPoints);
    return QJsonDocument(QJsonArray{map}).toJson(QJsonDocument::Indented);
}

bool writeFile(const QString &fileName, const TransferFunction &function, Format format,
               const DataRange &range, QString *reason)
{
    const QByteArray bytes =
        format == Format::Kelvara ? toKelvaraJson(function) : toParaViewJson(function, range);
    // Written aside and renamed, so a failed save never leaves half a file
    // where a good one was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}

} // namespace TransferFunctionFile
