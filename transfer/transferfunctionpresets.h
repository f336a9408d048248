#pragma once

#include "transferfunction.h"
#include "transferfunctionfile.h"

#include <QList>
#include <QString>

#include <optional>

class Histogram;

// A built-in transfer function. Data values are fractions of the data set's
// range; the thresholds suit CT stored as Hounsfield units + 1024 in 12 bits
// (air 0, fat and skin near 0.22, bone from about 0.33) and the bundled head
// phantom (brain 0.3, skull 1.0); on MRI the same fractions pick out the dim,
// the middle and the bright tissue.
struct TransferFunctionPreset
{
    QString name;     // for the command line: "skin", "bone", ...
    QString menuText; // German, as the menus (to be passed through tr())
    TransferFunction function;
};

// skin (the outer surface), bone (dense tissue inside), soft-tissue (a
// translucent view of everything above air) and grey-ramp (the start-up
// ramp's greys, black to white, with opacity rising from 0 to 1 alongside);
// for MRI, mri-brain (T1: grey and white matter inside a faint scalp) and
// mri-overview (translucent greys, brighter tissue stronger).
const QList<TransferFunctionPreset> &transferFunctionPresets();

std::optional<TransferFunction> presetNamed(const QString &name);

// The name of the function built from the data's histogram
// (automatictransferfunction.h); menu text "Automatisch".
inline const QString automaticPresetName = QStringLiteral("auto");

// A preset's name, automaticPresetName (built from histogram; refused with a
// reason without one or with an empty one), else a file to read (a file named
// like a preset is read as "./NAME"). The reason names the file and, when it
// does not exist, the presets.
TransferFunctionFile::ReadResult presetOrFile(const QString &nameOrFile, const DataRange &range,
                                              const Histogram *histogram = nullptr);
