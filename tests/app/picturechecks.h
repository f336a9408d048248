#pragma once

#include <QImage>

#include <algorithm>
#include <cstdlib>

// Pixels brighter than a dark background's grey (20 of 255): what a
// rendering shows of the data set.
inline int litPixels(const QImage &image)
{
    int count = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            count += qGray(image.pixel(x, y)) > 20 ? 1 : 0;
    return count;
}

// The largest difference of one colour channel between two pictures of the
// same size, in 255ths.
inline int largestDifference(const QImage &a, const QImage &b)
{
    int largest = 0;
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            const QRgb p = a.pixel(x, y);
            const QRgb q = b.pixel(x, y);
            largest = std::max({largest, std::abs(qRed(p) - qRed(q)),
                                std::abs(qGreen(p) - qGreen(q)), std::abs(qBlue(p) - qBlue(q))});
        }
    return largest;
}
