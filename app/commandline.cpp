#include "commandline.h"

#include "transferfunctiontable.h"

#include <QColor>
#include <QCommandLineParser>

bool parseStops(const QString &text, QGradientStops *stops, QString *reason)
{
    QGradientStops parsed;
    for (const QString &item : text.split(',')) {
        const int colon = item.indexOf(':');
        bool positionOk = false;
        const double position = colon > 0 ? item.left(colon).trimmed().toDouble(&positionOk) : 0.0;
        const QString colorText = colon > 0 ? item.mid(colon + 1).trimmed() : QString();
        const bool colorOk = (colorText.size() == 7 || colorText.size() == 9) &&
                             colorText.startsWith('#') && QColor::isValidColor(colorText);
        if (!positionOk || !colorOk || position < 0.0 || position > 1.0) {
            *reason = QString("bad stop '%1': expected POS:#AARRGGBB with POS in 0..1").arg(item);
            return false;
        }
        parsed.append({position, QColor(colorText)});
    }
    std::stable_sort(
        parsed.begin(), parsed.end(),
        [](const QGradientStop &a, const QGradientStop &b) { return a.first < b.first; });
    *stops = parsed;
    return true;
}

namespace {

CommandLine usageError(const QString &message)
{
    CommandLine result;
    result.mode = CommandLine::Mode::UsageError;
    result.text = message + "\nTry 'kelvara --help'.";
    return result;
}

// The options that QApplication (with the xcb platform) takes out of the
// command line itself, whether written with one dash or two. Those with a value
// take the next argument; "-style=NAME" and "-stylesheet=FILE" also work.
struct ToolkitOption
{
    const char *name;
    bool takesValue;
};
constexpr ToolkitOption toolkitOptions[] = {{"platform", true},        {"platformpluginpath", true},
                                            {"platformtheme", true},   {"plugin", true},
                                            {"qwindowgeometry", true}, {"geometry", true},
                                            {"qwindowtitle", true},    {"title", true},
                                            {"qwindowicon", true},     {"icon", true},
                                            {"session", true},         {"qmljsdebugger", true},
                                            {"style", true},           {"stylesheet", true},
                                            {"display", true},         {"name", true},
                                            {"visual", true},          {"reverse", false},
                                            {"widgetcount", false},    {"nograb", false},
                                            {"dograb", false},         {"sync", false},
                                            {"testability", false}};

const ToolkitOption *findToolkitOption(const QString &name)
{
    for (const ToolkitOption &option : toolkitOptions)
        if (name == QLatin1String(option.name))
            return &option;
    return nullptr;
}

} // namespace

bool removeToolkitOptions(QStringList *arguments, QString *reason)
{
    QStringList kept;
    for (int i = 0; i < arguments->size(); ++i) {
        const QString &argument = arguments->at(i);
        if (i == 0 || !argument.startsWith('-') || argument == "--") {
            kept.append(argument);
            continue;
        }
        const QString name = argument.mid(argument.startsWith("--") ? 2 : 1);
        if (name.startsWith("style=") || name.startsWith("stylesheet=") ||
            name.startsWith("qmljsdebugger="))
            continue;
        if (const ToolkitOption *option = findToolkitOption(name)) {
            if (option->takesValue && ++i == arguments->size()) {
                *reason = QString("option '%1' needs a value").arg(argument);
                return false;
            }
            continue;
        }
        kept.append(argument);
    }
    *arguments = kept;
    return true;
}

CommandLine parseCommandLine(const QStringList &allArguments)
{
    QStringList arguments = allArguments;
    QString toolkitError;
    if (!removeToolkitOptions(&arguments, &toolkitError))
        return usageError(toolkitError);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Kelvara: a viewer for 3D scalar volumes (.dat) with slices and GPU ray casting.\n"
        "With --output, renders one frame of FILE to a PNG image and exits\n"
        "(exit status 0 on success, 1 when FILE cannot be loaded or rendered, 2 on bad "
        "arguments).");
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption output("output", "Render FILE into the PNG image OUT and exit.",
                                    "OUT");
    const QCommandLineOption size("size", "Image size of --output (default 400x400).", "WxH");
    const QCommandLineOption rotation("rotation",
                                      "Rotation of --output in degrees (default 0,0,0).", "X,Y,Z");
    const QCommandLineOption samples("samples", "Samples per ray of --output (default 100).", "N");
    const QCommandLineOption stops(
        "stops", "Transfer function of --output (default: black to white ramp, opaque).",
        "POS:#AARRGGBB,...");
    parser.addOptions({output, size, rotation, samples, stops});
    parser.addPositionalArgument("FILE", "DAT volume to open.", "[FILE]");

    if (!parser.parse(arguments))
        return usageError(parser.errorText());

    CommandLine result;
    if (parser.isSet(help)) {
        result.mode = CommandLine::Mode::Help;
        result.text = parser.helpText().replace("<executable_name>", "kelvara");
        return result;
    }
    if (parser.isSet(version)) {
        result.mode = CommandLine::Mode::Version;
        result.text = QString("kelvara %1").arg(KELVARA_VERSION);
        return result;
    }

    const QStringList files = parser.positionalArguments();
    if (files.size() > 1)
        return usageError("only one FILE can be opened");
    if (!files.isEmpty())
        result.file = files.first();
    result.stops = blackToWhiteStops();

    const bool batchOnly = parser.isSet(size) || parser.isSet(rotation) || parser.isSet(samples) ||
                           parser.isSet(stops);
    if (!parser.isSet(output)) {
        if (batchOnly)
            return usageError("--size, --rotation, --samples and --stops need --output");
        return result;
    }

    result.mode = CommandLine::Mode::Batch;
    result.output = parser.value(output);
    if (result.file.isEmpty())
        return usageError("--output needs a FILE to render");
    if (result.output.isEmpty())
        return usageError("--output needs a file name");

    if (parser.isSet(size)) {
        const QStringList parts = parser.value(size).split('x');
        bool wOk = false, hOk = false;
        const int w = parts.size() == 2 ? parts[0].toInt(&wOk) : 0;
        const int h = parts.size() == 2 ? parts[1].toInt(&hOk) : 0;
        if (!wOk || !hOk || w < 1 || h < 1 || w > 8192 || h > 8192)
            return usageError("bad --size: expected WxH, each 1..8192");
        result.size = QSize(w, h);
    }
    if (parser.isSet(rotation)) {
        const QStringList parts = parser.value(rotation).split(',');
        bool ok = parts.size() == 3;
        for (int i = 0; ok && i < 3; ++i)
            result.rotation[i] = parts[i].trimmed().toInt(&ok);
        if (!ok)
            return usageError("bad --rotation: expected X,Y,Z in whole degrees");
    }
    if (parser.isSet(samples)) {
        bool ok = false;
        result.samples = parser.value(samples).toInt(&ok);
        if (!ok || result.samples < 2 || result.samples > 999)
            return usageError("bad --samples: expected a whole number in 2..999");
    }
    if (parser.isSet(stops)) {
        QString reason;
        if (!parseStops(parser.value(stops), &result.stops, &reason))
            return usageError("bad --stops: " + reason);
    }
    return result;
}
