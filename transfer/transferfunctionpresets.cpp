#include "transferfunctionpresets.h"

#include "automatictransferfunction.h"
#include "transferfunctiontable.h"

#include <QFileInfo>
#include <QStringList>

#include <initializer_list>

namespace {

// Points of a channel, the first locked left and the last locked right.
ChannelPoints lockedEnds(std::initializer_list<QPointF> points)
{
    ChannelPoints channel;
    channel.points = QPolygonF(points);
    channel.locks = QList<uint>(channel.points.size(), 0u);
    channel.locks.first() = ControlPoints::LockLeftEdge;
    channel.locks.last() = ControlPoints::LockRightEdge;
    return channel;
}

TransferFunction makeFunction(std::initializer_list<QPointF> red,
                              std::initializer_list<QPointF> green,
                              std::initializer_list<QPointF> blue,
                              std::initializer_list<QPointF> alpha)
{
    TransferFunction function;
    function.channels = {lockedEnds(red), lockedEnds(green), lockedEnds(blue), lockedEnds(alpha)};
    return function;
}

QList<TransferFunctionPreset> makePresets()
{
    // Skin: nothing below the air-to-tissue step, opaque and skin-coloured
    // from there on, so the first surface a ray meets stops it.
    const TransferFunction skin =
        makeFunction({{0, 0.93}, {1, 0.98}}, {{0, 0.72}, {1, 0.86}}, {{0, 0.58}, {1, 0.76}},
                     {{0, 0}, {0.1, 0}, {0.2, 1}, {1, 1}});
    // Bone: skin and soft tissue (up to about 0.33) transparent, bone
    // ivory and opaque; the brighter features inside show as they get denser.
    const TransferFunction bone = makeFunction(
        {{0, 0.55}, {0.35, 0.8}, {1, 1}}, {{0, 0.45}, {0.35, 0.72}, {1, 0.97}},
        {{0, 0.35}, {0.35, 0.6}, {1, 0.9}}, {{0, 0}, {0.34, 0}, {0.45, 0.6}, {0.6, 0.95}, {1, 1}});
    // Soft tissue: everything above air faintly, so that the outer layers let
    // the inner ones through; the denser inner tissue stronger and redder.
    const TransferFunction softTissue = makeFunction(
        {{0, 0.85}, {0.3, 0.95}, {1, 1}}, {{0, 0.55}, {0.3, 0.5}, {0.55, 0.3}, {1, 0.9}},
        {{0, 0.45}, {0.3, 0.4}, {0.55, 0.25}, {1, 0.85}},
        {{0, 0},
         {0.08, 0},
         {0.15, 0.01},
         {0.32, 0.015},
         {0.45, 0.12},
         {0.65, 0.3},
         {0.9, 0.03},
         {1, 0.03}});
    // The start-up ramp's greys, black to white, but see-through where the
    // data is low: opaque black at 0 would hide everything behind the
    // bounding box's black faces.
    TransferFunction greyRamp = TransferFunction::fromStops(blackToWhiteStops());
    greyRamp.channel(AlphaChannel).points = QPolygonF({QPointF(0, 0), QPointF(1, 1)});
    // MRI T1 brain: the dark background, CSF and skull transparent (T1 shows
    // bone dark), grey and white matter from about a third of the range
    // warm and half opaque, the bright fat of the scalp faint so that it
    // does not hide the brain.
    const TransferFunction mriBrain = makeFunction(
        {{0, 0.6}, {0.3, 0.85}, {0.5, 1}, {1, 1}}, {{0, 0.4}, {0.3, 0.65}, {0.5, 0.85}, {1, 0.9}},
        {{0, 0.3}, {0.3, 0.55}, {0.5, 0.75}, {1, 0.85}},
        {{0, 0}, {0.22, 0}, {0.35, 0.25}, {0.5, 0.6}, {0.65, 0.08}, {1, 0.05}});
    // MRI overview: greys with a low opacity that rises with the value, so
    // the rendering adds up along each ray much as a maximum projection
    // shows the brightest structures, with the noisy background left out.
    const TransferFunction mriOverview =
        makeFunction({{0, 0}, {1, 1}}, {{0, 0}, {1, 1}}, {{0, 0}, {1, 1}},
                     {{0, 0}, {0.08, 0}, {0.3, 0.02}, {1, 0.12}});
    return {
        {"skin", "Haut", skin},
        {"bone", "Knochen", bone},
        {"soft-tissue", "Weichgewebe", softTissue},
        {"grey-ramp", "Graurampe", greyRamp},
        {"mri-brain", "MRT Gehirn (T1)", mriBrain},
        {"mri-overview", "MRT Übersicht", mriOverview},
    };
}

} // namespace

const QList<TransferFunctionPreset> &transferFunctionPresets()
{
    static const QList<TransferFunctionPreset> presets = makePresets();
    return presets;
}

std::optional<TransferFunction> presetNamed(const QString &name)
{
    for (const TransferFunctionPreset &preset : transferFunctionPresets())
        if (preset.name == name)
            return preset.function;
    return std::nullopt;
}

TransferFunctionFile::ReadResult presetOrFile(const QString &nameOrFile, const DataRange &range,
                                              const Histogram *histogram)
{
    if (nameOrFile == automaticPresetName) {
        TransferFunctionFile::ReadResult result;
        const std::optional<AutomaticRamp> ramp =
            histogram ? automaticRamp(*histogram) : std::nullopt;
        result.ok = ramp.has_value();
        if (ramp)
            result.function = automaticTransferFunction(*ramp);
        else
            result.reason = QString("'%1' needs a data set with values").arg(nameOrFile);
        return result;
    }
    if (const std::optional<TransferFunction> preset = presetNamed(nameOrFile)) {
        TransferFunctionFile::ReadResult result;
        result.ok = true;
        result.function = *preset;
        return result;
    }
    TransferFunctionFile::ReadResult result = TransferFunctionFile::readFile(nameOrFile, range);
    if (!result.ok) {
        QString reason = QString("'%1': %2").arg(nameOrFile, result.reason);
        if (!QFileInfo::exists(nameOrFile)) {
            QStringList names;
            for (const TransferFunctionPreset &preset : transferFunctionPresets())
                names << preset.name;
            names << automaticPresetName;
            reason += QString("; it is not a preset either (%1)").arg(names.join(", "));
        }
        result.reason = reason;
    }
    return result;
}
