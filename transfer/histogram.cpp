#include "histogram.h"

#include <algorithm>
#include <cmath>

Histogram Histogram::of(const float *values, std::size_t count, int binCount)
{
    Histogram histogram;
    if (binCount < 1)
        return histogram;
    histogram.counts.assign(std::size_t(binCount), 0);
    for (std::size_t i = 0; i < count; ++i) {
        const float v = values[i];
        if (std::isnan(v))
            continue;
        const int bin = int(std::clamp(v, 0.0f, 1.0f) * float(binCount));
        ++histogram.counts[std::size_t(std::min(bin, binCount - 1))];
    }
    histogram.largest = *std::max_element(histogram.counts.begin(), histogram.counts.end());
    return histogram;
}

double Histogram::logHeight(int bin) const
{
    if (largest == 0)
        return 0.0;
    return std::log1p(double(count(bin))) / std::log1p(double(largest));
}
