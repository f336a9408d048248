#pragma once

#include "transferfunction.h"

#include <optional>

class Histogram;

// Where the automatic function puts its ramp, as fractions 0..1 of the data's
// range: transparent up to start, rising linearly to full colour and opacity
// at end.
struct AutomaticRamp
{
    double start = 0.0;
    double end = 1.0;
};

// The ramp for a data set's histogram. The background (air around a CT
// subject, the dark noise around an MRI head) is the most frequent value;
// the ramp starts where its peak has fallen to a tenth of its height and ends
// at the 99th percentile of all values, so a few very bright voxels (metal,
// vessels with contrast) do not squeeze the subject into the bottom of the
// ramp. The ramp is at least one bin wide. None for an empty histogram or one
// without any counted value.
std::optional<AutomaticRamp> automaticRamp(const Histogram &histogram);

// The function of that ramp: colour from a dark brown to near white, opacity
// from 0 to 1, both constant beyond the ramp's end.
TransferFunction automaticTransferFunction(const AutomaticRamp &ramp);
