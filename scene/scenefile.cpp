#include "scenefile.h"

#include "framegeometry.h"
#include "transferfunctionfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

#include <cmath>

namespace SceneFile {

namespace {

QJsonArray numbers(std::initializer_list<double> values)
{
    QJsonArray array;
    for (const double value : values)
        array.append(value);
    return array;
}

QString colourText(const QColor &colour)
{
    return colour.name(QColor::HexArgb);
}

QJsonValue colorMapJson(const ColorMap &map)
{
    const std::optional<ColorMap> named = ColorMaps::named(map.name);
    if (named && *named == map)
        return map.name;
    QJsonArray colours;
    for (const QRgb entry : map.entries)
        colours.append(QColor(entry).name(QColor::HexRgb));
    return QJsonObject{{"name", map.name}, {"colors", colours}};
}

QString relativePath(const QString &file, const QString &folder)
{
    if (file.isEmpty())
        return file;
    const QString absolute = QFileInfo(file).absoluteFilePath();
    const QString relative = QDir(folder).relativeFilePath(absolute);
    return relative.startsWith(QLatin1String("..")) || QDir::isAbsolutePath(relative) ? absolute
                                                                                      : relative;
}

QJsonObject layerJson(const SceneLayer &layer, bool base, const QString &folder)
{
    QJsonObject object{{"file", relativePath(layer.file, folder)}};
    if (base) {
        object.insert(
            "transfer-function",
            QJsonDocument::fromJson(TransferFunctionFile::toKelvaraJson(layer.transferFunction))
                .object());
        if (layer.windowLevel)
            object.insert("window", numbers({layer.windowLevel->window, layer.windowLevel->level}));
        return object;
    }
    const LayerAppearance &appearance = layer.appearance;
    object.insert("visible", appearance.visible);
    object.insert("opacity", appearance.opacity);
    if (appearance.kind == LayerKind::Labels) {
        object.insert("kind", "labels");
        object.insert("outline", appearance.outline);
        QJsonArray labels;
        for (const Label &label : appearance.labels.labels())
            labels.append(QJsonObject{{"value", label.value},
                                      {"name", label.name},
                                      {"color", colourText(label.colour)},
                                      {"visible", label.visible}});
        object.insert("labels", labels);
    } else {
        object.insert("kind", "image");
        object.insert("colormap", colorMapJson(appearance.colorMap));
        object.insert("range", numbers({appearance.rangeMinimum, appearance.rangeMaximum}));
        object.insert("negative", appearance.negativeMap ? colorMapJson(*appearance.negativeMap)
                                                         : QJsonValue(QJsonValue::Null));
    }
    return object;
}

// Reads values out of one JSON object, naming each key by its path in the
// first problem met; every key not taken is told as ignored.
class Reader
{
public:
    Reader(const QJsonObject &read, QString at, QStringList &told, QString &firstProblem)
        : object(read), path(std::move(at)), warnings(told), problem(firstProblem)
    {
    }
    ~Reader()
    {
        for (auto it = object.begin(); it != object.end(); ++it)
            if (!taken.contains(it.key()))
                warnings << QString("unknown key '%1' ignored").arg(name(it.key()));
    }
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    bool failed() const { return !problem.isEmpty(); }
    QString name(const QString &key) const { return path.isEmpty() ? key : path + '.' + key; }
    bool has(const QString &key) const { return object.contains(key); }
    QJsonValue value(const QString &key)
    {
        taken << key;
        return object.value(key);
    }
    void fail(const QString &key, const QString &expected)
    {
        if (problem.isEmpty())
            problem = QString("%1: expected %2").arg(name(key), expected);
    }

    // Each reads the key into target where it is there (target kept
    // otherwise); a value of another type fails.
    void number(const QString &key, double &target, double low = -HUGE_VAL, double high = HUGE_VAL)
    {
        if (!has(key))
            return;
        const QJsonValue v = value(key);
        if (!v.isDouble() || !std::isfinite(v.toDouble()) || v.toDouble() < low ||
            v.toDouble() > high) {
            fail(key, std::isinf(low) && std::isinf(high)
                          ? QString("a number")
                          : QString("a number from %1 to %2").arg(low).arg(high));
            return;
        }
        target = v.toDouble();
    }
    void integer(const QString &key, int &target, int low, int high)
    {
        double v = target;
        number(key, v, low, high);
        if (!failed() && v != std::floor(v))
            fail(key, QString("a whole number from %1 to %2").arg(low).arg(high));
        else
            target = int(v);
    }
    void boolean(const QString &key, bool &target)
    {
        if (!has(key))
            return;
        const QJsonValue v = value(key);
        if (!v.isBool())
            fail(key, "true or false");
        else
            target = v.toBool();
    }
    void text(const QString &key, QString &target)
    {
        if (!has(key))
            return;
        const QJsonValue v = value(key);
        if (!v.isString())
            fail(key, "a text");
        else
            target = v.toString();
    }
    void colour(const QString &key, QColor &target)
    {
        if (!has(key))
            return;
        const QJsonValue v = value(key);
        const QColor parsed(v.toString());
        // Eight bits a channel, as the file is written: a "#rrrgggbbb" colour
        // would otherwise not come back equal from the file.
        if (!v.isString() || !parsed.isValid())
            fail(key, "a colour \"#rrggbb\" or \"#aarrggbb\"");
        else
            target = QColor::fromRgba(parsed.rgba());
    }
    // count finite numbers.
    bool numbers(const QString &key, double *target, int count)
    {
        if (!has(key))
            return false;
        const QJsonValue v = value(key);
        const QJsonArray array = v.toArray();
        bool ok = v.isArray() && array.size() == count;
        for (int i = 0; ok && i < count; ++i)
            ok = array[i].isDouble() && std::isfinite(array[i].toDouble());
        if (!ok) {
            fail(key, QString("%1 numbers").arg(count));
            return false;
        }
        for (int i = 0; i < count; ++i)
            target[i] = array[i].toDouble();
        return true;
    }

private:
    QJsonObject object;
    QString path;
    QStringList &warnings;
    QString &problem;
    QSet<QString> taken;
};

bool readColorMap(Reader &reader, const QString &key, ColorMap &map)
{
    const QJsonValue v = reader.value(key);
    if (v.isString()) {
        const std::optional<ColorMap> named = ColorMaps::named(v.toString());
        if (!named) {
            reader.fail(key, "a colour map's name or {\"name\", \"colors\"}");
            return false;
        }
        map = *named;
        return true;
    }
    const QJsonArray colours = v.toObject().value("colors").toArray();
    if (!v.isObject() || colours.size() != 256) {
        reader.fail(key, "a colour map's name or {\"name\", \"colors\": 256 colours}");
        return false;
    }
    map.name = v.toObject().value("name").toString();
    for (int i = 0; i < 256; ++i) {
        const QColor colour(colours[i].toString());
        if (!colour.isValid()) {
            reader.fail(key, "colours \"#rrggbb\"");
            return false;
        }
        map.entries[std::size_t(i)] = colour.rgb();
    }
    return true;
}

void readLayer(const QJsonObject &object, const QString &path, bool base, const QString &folder,
               SceneLayer &layer, QStringList &warnings, QString &problem)
{
    Reader reader(object, path, warnings, problem);
    reader.text("file", layer.file);
    if (layer.file.isEmpty())
        reader.fail("file", "the layer's file");
    else if (QDir::isRelativePath(layer.file))
        layer.file = QDir(folder).absoluteFilePath(layer.file);
    if (base) {
        if (reader.has("transfer-function")) {
            const QJsonValue v = reader.value("transfer-function");
            const TransferFunctionFile::ReadResult read = TransferFunctionFile::parse(
                QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact), DataRange());
            if (!v.isObject() || !read.ok)
                reader.fail("transfer-function", "a transfer function (" + read.reason + ")");
            else
                layer.transferFunction = read.function;
        }
        double window[2] = {0.0, 0.0};
        if (reader.numbers("window", window, 2)) {
            if (!(window[0] > 0.0))
                reader.fail("window", "a width above 0 and a level");
            else
                layer.windowLevel = WindowLevel{window[0], window[1]};
        }
        return;
    }
    LayerAppearance &appearance = layer.appearance;
    QString kind = "image";
    reader.text("kind", kind);
    if (kind != QLatin1String("image") && kind != QLatin1String("labels"))
        reader.fail("kind", "\"image\" or \"labels\"");
    appearance.kind = kind == QLatin1String("labels") ? LayerKind::Labels : LayerKind::Image;
    reader.boolean("visible", appearance.visible);
    reader.number("opacity", appearance.opacity, 0.0, 1.0);
    if (appearance.kind == LayerKind::Labels) {
        reader.boolean("outline", appearance.outline);
        if (!reader.has("labels"))
            return;
        const QJsonValue labels = reader.value("labels");
        if (!labels.isArray()) {
            reader.fail("labels", "a list of labels");
            return;
        }
        for (int i = 0; i < labels.toArray().size() && !reader.failed(); ++i) {
            Reader entry(labels.toArray()[i].toObject(), reader.name(QString("labels[%1]").arg(i)),
                         warnings, problem);
            Label label;
            if (!entry.has("value"))
                entry.fail("value", "the label's value");
            entry.integer("value", label.value, 0, LabelTables::maximumValue);
            entry.text("name", label.name);
            label.colour = generatedLabelColour(label.value);
            entry.colour("color", label.colour);
            entry.boolean("visible", label.visible);
            appearance.labels.labels().push_back(label);
        }
        appearance.labels.normalise();
        return;
    }
    // Without a map, the one a newly loaded image starts with: an empty map
    // has no name and transparent entries, which the file cannot hold.
    appearance.colorMap = *ColorMaps::named("hot");
    if (reader.has("colormap"))
        readColorMap(reader, "colormap", appearance.colorMap);
    double range[2] = {appearance.rangeMinimum, appearance.rangeMaximum};
    if (reader.numbers("range", range, 2)) {
        if (range[0] > range[1])
            reader.fail("range", "a minimum not above the maximum");
        appearance.rangeMinimum = range[0];
        appearance.rangeMaximum = range[1];
    }
    if (reader.has("negative") && !object.value("negative").isNull()) {
        ColorMap negative;
        if (readColorMap(reader, "negative", negative))
            appearance.negativeMap = negative;
    } else if (reader.has("negative")) {
        reader.value("negative");
    }
}

} // namespace

namespace {

QJsonArray measurementsJson(const std::vector<Measurement> &measurements)
{
    QJsonArray list;
    for (const Measurement &measurement : measurements) {
        QJsonArray points;
        for (const std::array<double, 3> &p : measurement.points)
            points.append(numbers({p[0], p[1], p[2]}));
        list.append(QJsonObject{
            {"kind", measurement.kind == Measurement::Kind::Angle ? "angle" : "distance"},
            {"points", points}});
    }
    return list;
}

} // namespace

bool isSceneFileName(const QString &fileName)
{
    return fileName.endsWith(QLatin1String(".kelvara"), Qt::CaseInsensitive);
}

QByteArray toJson(const Scene &scene, const QString &folder)
{
    QJsonArray layers;
    for (std::size_t i = 0; i < scene.layers.size(); ++i)
        layers.append(layerJson(scene.layers[i], i == 0, folder));
    const RenderingOptions &o = scene.options;
    QJsonObject rendering{
        {"light", colourText(o.light)},
        {"ambient", colourText(o.ambient)},
        {"diffuse", colourText(o.diffuse)},
        {"specular", colourText(o.specular)},
        {"k1", double(o.k1)},
        {"k2", double(o.k2)},
        {"exponent", double(o.exponent)},
        {"samples", o.samples},
        {"mode", scene.mode == RenderMode::MaximumIntensity ? "mip" : "composite"},
        {"jitter", scene.jitter}};
    const SceneCamera &camera = scene.camera;
    QJsonObject cameraJson{
        {"rotation", numbers({double(camera.rotation[0]), double(camera.rotation[1]),
                              double(camera.rotation[2])})},
        {"zoom", camera.view.zoom},
        {"pan", numbers({camera.view.pan.x(), camera.view.pan.y()})}};
    const CropBox &crop = scene.crop;
    const char *axes[] = {"x", "y", "z"};
    QJsonObject root{
        {"kelvara-scene", version},
        {"layers", layers},
        {"rendering", rendering},
        {"camera", cameraJson},
        {"crop", QJsonObject{{"lower", numbers({crop.lower[0], crop.lower[1], crop.lower[2]})},
                             {"upper", numbers({crop.upper[0], crop.upper[1], crop.upper[2]})}}},
        {"slice-cut", scene.sliceCutAxis >= 0 && scene.sliceCutAxis <= 2
                          ? QJsonValue(axes[scene.sliceCutAxis])
                          : QJsonValue(QJsonValue::Null)},
        {"cursor", scene.cursor ? QJsonValue(numbers(
                                      {(*scene.cursor)[0], (*scene.cursor)[1], (*scene.cursor)[2]}))
                                : QJsonValue(QJsonValue::Null)},
        {"layout", QJsonObject{{"four-views", scene.fourViews}, {"slice-axis", scene.sliceAxis}}},
        {"measurements", measurementsJson(scene.measurements)}};
    // Only a series has volumes to choose from: other scenes stay as they were.
    if (scene.frame > 0)
        root.insert("frame", scene.frame);
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

ReadResult parse(const QByteArray &bytes, const QString &folder)
{
    ReadResult result;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        const int line = int(bytes.left(error.offset).count('\n')) + 1;
        result.reason = error.error != QJsonParseError::NoError
                            ? QString("line %1: not JSON (%2)").arg(line).arg(error.errorString())
                            : QString("not a scene: the file holds no JSON object");
        return result;
    }
    QString problem;
    Scene &scene = result.scene;
    {
        Reader root(document.object(), QString(), result.warnings, problem);
        int fileVersion = 0;
        if (!root.has("kelvara-scene")) {
            result.reason = "not a scene: \"kelvara-scene\" is missing";
            return result;
        }
        root.integer("kelvara-scene", fileVersion, 1, 1000000);
        if (fileVersion > version)
            result.warnings << QString("written by a newer Kelvara (scene version %1): what this "
                                       "version does not know is left out")
                                   .arg(fileVersion);
        const QJsonValue layers = root.value("layers");
        if (!layers.isArray() || layers.toArray().isEmpty())
            root.fail("layers", "a list of layers, the base first");
        scene.layers.clear();
        for (int i = 0; i < layers.toArray().size() && !root.failed(); ++i) {
            SceneLayer layer;
            readLayer(layers.toArray()[i].toObject(), QString("layers[%1]").arg(i), i == 0, folder,
                      layer, result.warnings, problem);
            scene.layers.push_back(layer);
        }
        if (root.has("rendering")) {
            Reader r(root.value("rendering").toObject(), "rendering", result.warnings, problem);
            RenderingOptions &o = scene.options;
            r.colour("light", o.light);
            r.colour("ambient", o.ambient);
            r.colour("diffuse", o.diffuse);
            r.colour("specular", o.specular);
            double k1 = o.k1, k2 = o.k2, exponent = o.exponent;
            r.number("k1", k1, 0.0, 1.0e6);
            r.number("k2", k2, 0.0, 1.0e6);
            r.number("exponent", exponent, 0.0, 1.0e6);
            o.k1 = float(k1);
            o.k2 = float(k2);
            o.exponent = float(exponent);
            r.integer("samples", o.samples, 1, 4096);
            QString mode = "composite";
            r.text("mode", mode);
            if (mode != QLatin1String("composite") && mode != QLatin1String("mip"))
                r.fail("mode", "\"composite\" or \"mip\"");
            scene.mode =
                mode == QLatin1String("mip") ? RenderMode::MaximumIntensity : RenderMode::Composite;
            r.boolean("jitter", scene.jitter);
        }
        if (root.has("camera")) {
            Reader c(root.value("camera").toObject(), "camera", result.warnings, problem);
            double rotation[3] = {0.0, 0.0, 0.0};
            if (c.numbers("rotation", rotation, 3))
                for (int axis = 0; axis < 3; ++axis)
                    scene.camera.rotation[std::size_t(axis)] =
                        normaliseRotationAngle(int(std::lround(std::fmod(rotation[axis], 5760.0))));
            c.number("zoom", scene.camera.view.zoom, minimumZoom, maximumZoom);
            double pan[2] = {0.0, 0.0};
            if (c.numbers("pan", pan, 2))
                scene.camera.view.pan = QPointF(pan[0], pan[1]);
        }
        if (root.has("crop")) {
            Reader c(root.value("crop").toObject(), "crop", result.warnings, problem);
            double lower[3] = {0.0, 0.0, 0.0};
            double upper[3] = {1.0, 1.0, 1.0};
            c.numbers("lower", lower, 3);
            c.numbers("upper", upper, 3);
            scene.crop =
                normalisedCropBox({{lower[0], lower[1], lower[2]}, {upper[0], upper[1], upper[2]}});
        }
        if (root.has("slice-cut")) {
            const QJsonValue cut = root.value("slice-cut");
            const QString axis = cut.toString();
            if (!cut.isNull() && axis != "x" && axis != "y" && axis != "z")
                root.fail("slice-cut", "null, \"x\", \"y\" or \"z\"");
            scene.sliceCutAxis = cut.isNull() ? -1 : int(axis == "y") + 2 * int(axis == "z");
        }
        if (root.has("frame"))
            root.integer("frame", scene.frame, 0, 65535);
        double cursor[3] = {0.0, 0.0, 0.0};
        if (root.has("cursor") && document.object().value("cursor").isNull())
            root.value("cursor");
        else if (root.numbers("cursor", cursor, 3))
            scene.cursor = std::array<double, 3>{{cursor[0], cursor[1], cursor[2]}};
        if (root.has("measurements")) {
            const QJsonValue list = root.value("measurements");
            if (!list.isArray())
                root.fail("measurements", "a list of measurements");
            for (int i = 0; i < list.toArray().size() && problem.isEmpty(); ++i) {
                Reader entry(list.toArray()[i].toObject(), QString("measurements[%1]").arg(i),
                             result.warnings, problem);
                Measurement measurement;
                QString kind = "distance";
                entry.text("kind", kind);
                if (kind != QLatin1String("distance") && kind != QLatin1String("angle"))
                    entry.fail("kind", "\"distance\" or \"angle\"");
                measurement.kind = kind == QLatin1String("angle") ? Measurement::Kind::Angle
                                                                  : Measurement::Kind::Distance;
                const QJsonArray points = entry.value("points").toArray();
                for (int p = 0; p < points.size(); ++p) {
                    const QJsonArray xyz = points[p].toArray();
                    if (xyz.size() != 3 || !xyz[0].isDouble() || !xyz[1].isDouble() ||
                        !xyz[2].isDouble())
                        break;
                    measurement.points.push_back(
                        {{xyz[0].toDouble(), xyz[1].toDouble(), xyz[2].toDouble()}});
                }
                if (!measurement.isComplete())
                    entry.fail("points", kind == QLatin1String("angle") ? "three points [x, y, z]"
                                                                        : "two points [x, y, z]");
                scene.measurements.push_back(measurement);
            }
        }
        if (root.has("layout")) {
            Reader l(root.value("layout").toObject(), "layout", result.warnings, problem);
            l.boolean("four-views", scene.fourViews);
            l.integer("slice-axis", scene.sliceAxis, 0, 2);
        }
    }
    if (!problem.isEmpty()) {
        result.reason = problem;
        return result;
    }
    result.ok = true;
    return result;
}

ReadResult readFile(const QString &fileName)
{
    ReadResult result;
    QFile file(fileName);
    const QString name = QFileInfo(fileName).fileName();
    if (!file.open(QIODevice::ReadOnly)) {
        result.reason = QString("%1: %2").arg(name, file.errorString());
        return result;
    }
    if (file.size() > maximumFileBytes) {
        result.reason = QString("%1: larger than a scene can be").arg(name);
        return result;
    }
    result = parse(file.readAll(), QFileInfo(fileName).absolutePath());
    if (!result.ok)
        result.reason = QString("%1: %2").arg(name, result.reason);
    return result;
}

bool writeFile(const QString &fileName, const Scene &scene, QString *reason)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(toJson(scene, QFileInfo(fileName).absolutePath())) < 0 || !file.commit()) {
        *reason = QString("%1: %2").arg(QFileInfo(fileName).fileName(), file.errorString());
        return false;
    }
    return true;
}

} // namespace SceneFile
