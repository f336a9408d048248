#pragma once

#include "scene.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Scene files (".kelvara"): a scene as JSON, so that a view built can be
// kept, reopened, sent and rendered again in batch mode.
//
//   {"kelvara-scene": 1,
//    "layers": [{"file": "t1.nii.gz", "transfer-function": {...}, "window": [W, L]},
//               {"file": "aseg.mgz", "kind": "labels", "opacity": 0.5, "visible": true,
//                "outline": false, "labels": [{"value": 17, "name": "...",
//                "color": "#ffdcd814", "visible": true}, ...]},
//               {"file": "zstat.nii", "kind": "image", "colormap": "hot",
//                "range": [2.3, 6], "negative": "cool", "opacity": 1, "visible": true}],
//    "rendering": {"light": "#ffffffff", ..., "samples": 100, "mode": "composite",
//                  "jitter": true},
//    "camera": {"rotation": [x, y, z], "zoom": 1, "pan": [x, y]},
//    "crop": {"lower": [0, 0, 0], "upper": [1, 1, 1]},
//    "slice-cut": null, "cursor": [x, y, z], "layout": {"four-views": false,
//    "slice-axis": 0}, "frame": 3}
//
// "frame", the volume of a series shown, is written for a series' later
// volumes only.
//
// The first layer is the base, with its transfer function in our own file
// form (transferfunctionfile.h); files are written relative to the scene
// file's folder where they lie below it, else absolute. Rotations are whole
// degrees, the cursor in world millimetres (LPS), colour maps by name or as
// 256 "#rrggbb" colours, label tables in full, so a scene needs no file but
// its data.
namespace SceneFile {

constexpr int version = 1;
constexpr qint64 maximumFileBytes = 64 * 1024 * 1024;

struct ReadResult
{
    bool ok = false;
    Scene scene;
    QStringList warnings; // keys ignored, a newer version
    QString reason;       // names the key that is wrong
};

// Parses a scene; relative file names are taken from folder. Unknown keys
// are ignored with a warning, so that newer scenes open here; a key of the
// wrong type or value refuses the scene, naming the key.
ReadResult parse(const QByteArray &bytes, const QString &folder);
// parse() of a file, relative to its own folder.
ReadResult readFile(const QString &fileName);

// The scene as JSON, files relative to folder where they lie below it.
QByteArray toJson(const Scene &scene, const QString &folder);
// Writes the scene atomically (a complete file or none); false with a reason
// naming the file.
bool writeFile(const QString &fileName, const Scene &scene, QString *reason);

// Whether a file name or content is a scene's: the ".kelvara" suffix.
bool isSceneFileName(const QString &fileName);

} // namespace SceneFile
