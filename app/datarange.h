#pragma once

#include "transferfunctionfile.h"
#include "volume.h"

// The data units that a transfer function's 0..1 stand for with this data set
// (ParaView colour maps are written in them): the volume's original value
// range. With no data set loaded, that of a DAT file, its samples 0..4095.
inline DataRange dataRangeOf(const Volume *volume)
{
    if (!volume)
        return DataRange{};
    return DataRange{volume->valueRange.minimum, volume->valueRange.maximum};
}
