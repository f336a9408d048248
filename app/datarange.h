#pragma once

#include "transferfunctionfile.h"

struct Volume;

// The data units that a transfer function's 0..1 stand for with this data set
// (ParaView colour maps are written in them). A DAT file's units are its
// samples, 0..4095; with no data set loaded the same range applies.
inline DataRange dataRangeOf(const Volume *)
{
    return DataRange{0.0, 4095.0};
}
