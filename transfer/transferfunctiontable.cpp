#include "transferfunctiontable.h"

#include <QLinearGradient>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <ostream>

QGradientStops blackToWhiteStops()
{
    return {{0.0, QColor::fromRgba(0xff000000)}, {1.0, QColor::fromRgba(0xffffffff)}};
}

std::array<double, 4> stopsColourAt(const QGradientStops &stops, double position)
{
    const auto channels = [](const QColor &colour) {
        return std::array<double, 4>{colour.redF(), colour.greenF(), colour.blueF(),
                                     colour.alphaF()};
    };
    if (stops.isEmpty())
        return {0.0, 0.0, 0.0, 0.0};
    const auto next = std::upper_bound(
        stops.begin(), stops.end(), position,
        [](double value, const QGradientStop &stop) { return value < stop.first; });
    if (next == stops.begin())
        return channels(next->second);
    if (next == stops.end())
        return channels(stops.last().second);
    const QGradientStop &left = *(next - 1);
    const double fraction = (position - left.first) / (next->first - left.first);
    const std::array<double, 4> a = channels(left.second);
    const std::array<double, 4> b = channels(next->second);
    std::array<double, 4> colour;
    for (std::size_t c = 0; c < colour.size(); ++c)
        colour[c] = a[c] + (b[c] - a[c]) * fraction;
    return colour;
}

TransferFunctionTable::TransferFunctionTable()
    : table(entryCount, 1, QImage::Format_ARGB32), precise(4 * entryCount, 0.0f)
{
    table.fill(0);
}

void TransferFunctionTable::rebuild(const QGradientStops &unsortedStops, std::ostream &probe)
{
    // In ascending position; stops of equal position keep their order. No
    // stops at all paint as Qt's gradient does then: black to white.
    QGradientStops stops = unsortedStops.isEmpty()
                               ? QGradientStops{{0.0, QColor(Qt::black)}, {1.0, QColor(Qt::white)}}
                               : unsortedStops;
    std::stable_sort(
        stops.begin(), stops.end(),
        [](const QGradientStop &a, const QGradientStop &b) { return a.first < b.first; });

    table.fill(0);
    const bool opaque = std::all_of(stops.begin(), stops.end(), [](const QGradientStop &stop) {
        return stop.second.alphaF() >= 1.0;
    });
    if (opaque) {
        // Without opacity to premultiply by, Qt's brush interpolates straight:
        // the table of opaque functions stays what it always was.
        QLinearGradient gradient(0.0, 0.0, double(entryCount), 0.0);
        for (const QGradientStop &stop : std::as_const(stops))
            gradient.setColorAt(stop.first, stop.second);
        gradient.setSpread(QGradient::PadSpread);
        QPainter painter(&table);
        painter.setBrush(gradient);
        painter.setPen(Qt::NoPen);
        painter.drawRect(table.rect());
        painter.end();
    } else {
        QRgb *entries = reinterpret_cast<QRgb *>(table.scanLine(0));
        const auto byte = [](double value) {
            return int(std::lround(std::clamp(value, 0.0, 1.0) * 255.0));
        };
        for (int i = 0; i < entryCount; ++i) {
            const std::array<double, 4> c = stopsColourAt(stops, (i + 0.5) / entryCount);
            entries[i] = qRgba(byte(c[0]), byte(c[1]), byte(c[2]), byte(c[3]));
        }
    }
    for (int i = 0; i < entryCount; ++i) {
        const std::array<double, 4> c = stopsColourAt(stops, double(i) / (entryCount - 1));
        for (std::size_t channel = 0; channel < c.size(); ++channel)
            precise[4 * std::size_t(i) + channel] = float(std::clamp(c[channel], 0.0, 1.0));
    }

    probe << "transfer(0.5) " << qAlpha(transfer(0.5f)) << std::endl;
}

QRgb TransferFunctionTable::transfer(float v) const
{
    if (!(v > 0.0f)) // also catches NaN
        v = 0.0f;
    if (v > 1.0f)
        v = 1.0f;
    const int index = int(v * float(entryCount - 1));
    return reinterpret_cast<const QRgb *>(table.constScanLine(0))[index];
}

void TransferFunctionTable::copyRgbaBytes(unsigned char *bytes) const
{
    const QRgb *entries = reinterpret_cast<const QRgb *>(table.constScanLine(0));
    for (int x = 0; x < entryCount; ++x) {
        const QRgb p = entries[x];
        bytes[4 * x + 0] = static_cast<unsigned char>(qRed(p));
        bytes[4 * x + 1] = static_cast<unsigned char>(qGreen(p));
        bytes[4 * x + 2] = static_cast<unsigned char>(qBlue(p));
        bytes[4 * x + 3] = static_cast<unsigned char>(qAlpha(p));
    }
}
