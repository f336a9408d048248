#pragma once

#include <QString>

#include <memory>

class QSettings;

// Where the window keeps what it remembers between runs (QSettings keys):
//   window/geometry, window/state          saveGeometry(), saveState()
//   options/light, options/ambient, options/diffuse, options/specular  "#rrggbb"
//   options/k1, options/k2, options/exponent, options/samples
//   options/mode                           "composite" or "mip"
//   folders/volume, folders/dicom, folders/image, folders/transferFunction
//                                          the last folder of each dialog
//   recentFiles                            newest first, at most ten
//   transferFunction/last                  our JSON form of the last function
namespace WindowSettings {

// The variable that keeps a process (every test) away from the user's
// settings: when set to anything, nothing is read or written.
inline const char *const disableVariable = "KELVARA_NO_SETTINGS";

// The user's settings store, or none when the command line (--no-settings)
// or the environment turns settings off.
std::unique_ptr<QSettings> open(bool wanted);

} // namespace WindowSettings
