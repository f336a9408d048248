#pragma once

#include <QtGlobal>

#include <cstddef>
#include <vector>

// How often the values of a data set fall into equal bins over 0..1 (the
// normalised data values that a transfer function's x runs over), for drawing
// behind the transfer-function editor. An empty histogram has no bins.
class Histogram
{
public:
    static constexpr int defaultBinCount = 256;

    Histogram() = default;

    // Bins values (clamped into 0..1; NaN is not counted) into binCount bins,
    // bin i covering [i / binCount, (i + 1) / binCount), the last one
    // including 1.
    static Histogram of(const float *values, std::size_t count, int binCount = defaultBinCount);

    bool isEmpty() const { return counts.empty(); }
    int binCount() const { return int(counts.size()); }
    quint64 count(int bin) const { return counts.at(std::size_t(bin)); }

    // log(1 + count) / log(1 + largest count), 0..1: a few voxels of a rare
    // value stay visible beside the millions of the background.
    double logHeight(int bin) const;

private:
    std::vector<quint64> counts;
    quint64 largest = 0;
};
