// libFuzzer target for the scene-file parser. The input is a scene file in
// folder /fuzz. A refusal must carry a reason; an accepted scene must hold
// what the views rely on (a base layer, absolute files, opacities 0..1,
// sorted unique label values in range, the zoom, crop, rotations, axes and
// sample count in their ranges) and must come back unchanged from its own
// JSON: written and read again, it is the same scene (its files the same
// paths), and written again, the same bytes. Any violation traps.

#include "fuzzsupport.h"

#include "scenefile.h"

#include <QByteArray>
#include <QDir>
#include <QString>

#include <cstddef>
#include <cstdint>

namespace {

const QString folder = QStringLiteral("/fuzz");

void checkLayer(const SceneLayer &layer)
{
    require(!layer.file.isEmpty() && QDir::isAbsolutePath(layer.file));
    require(!layer.windowLevel || layer.windowLevel->window > 0.0);
    const LayerAppearance &appearance = layer.appearance;
    require(appearance.opacity >= 0.0 && appearance.opacity <= 1.0);
    int previous = -1;
    for (const Label &label : appearance.labels.labels()) {
        require(label.value > previous && label.value <= LabelTables::maximumValue);
        previous = label.value;
    }
}

void checkScene(const Scene &scene)
{
    require(!scene.layers.empty());
    for (const SceneLayer &layer : scene.layers)
        checkLayer(layer);
    for (const int angle : scene.camera.rotation)
        require(angle >= 0 && angle <= maximumRotationAngle);
    const double zoom = scene.camera.view.zoom;
    require(zoom >= minimumZoom && zoom <= maximumZoom);
    for (int axis = 0; axis < 3; ++axis) {
        const double lower = scene.crop.lower[std::size_t(axis)];
        const double upper = scene.crop.upper[std::size_t(axis)];
        require(lower >= 0.0 && upper <= 1.0 && lower <= upper);
    }
    require(scene.sliceCutAxis >= -1 && scene.sliceCutAxis <= 2);
    require(scene.sliceAxis >= 0 && scene.sliceAxis <= 2);
    require(scene.options.samples >= 1 && scene.options.samples <= 4096);
}

// Equal in everything but the text of the files: the written form names a
// file by its cleaned path ("/fuzz/a/../b" comes back as "/fuzz/b"), which the
// bytes compared after it cover.
bool sameScene(const Scene &a, const Scene &b)
{
    if (a.layers.size() != b.layers.size())
        return false;
    for (std::size_t i = 0; i < a.layers.size(); ++i) {
        SceneLayer layer = a.layers[i];
        layer.file = b.layers[i].file;
        if (!(layer == b.layers[i]))
            return false;
    }
    return a.options == b.options && a.mode == b.mode && a.jitter == b.jitter &&
           a.camera == b.camera && a.crop == b.crop && a.sliceCutAxis == b.sliceCutAxis &&
           a.cursor == b.cursor && a.fourViews == b.fourViews && a.sliceAxis == b.sliceAxis;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray bytes =
        QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    const SceneFile::ReadResult result = SceneFile::parse(bytes, folder);
    if (!result.ok) {
        require(!result.reason.isEmpty());
        return 0;
    }
    require(result.reason.isEmpty());
    checkScene(result.scene);

    const QByteArray written = SceneFile::toJson(result.scene, folder);
    const SceneFile::ReadResult again = SceneFile::parse(written, folder);
    require(again.ok && again.warnings.isEmpty());
    checkScene(again.scene);
    require(sameScene(result.scene, again.scene));
    require(SceneFile::toJson(again.scene, folder) == written);
    return 0;
}
