#include "transferfunctiontable.h"

#include <QLinearGradient>
#include <QPainter>

#include <ostream>

QGradientStops blackToWhiteStops()
{
    return {{0.0, QColor::fromRgba(0xff000000)}, {1.0, QColor::fromRgba(0xffffffff)}};
}

TransferFunctionTable::TransferFunctionTable() : table(entryCount, 1, QImage::Format_ARGB32)
{
    table.fill(0);
}

void TransferFunctionTable::rebuild(const QGradientStops &stops, std::ostream &probe)
{
    table.fill(0);
    QLinearGradient gradient(0.0, 0.0, double(entryCount), 0.0);
    for (const QGradientStop &stop : stops)
        gradient.setColorAt(stop.first, stop.second);
    gradient.setSpread(QGradient::PadSpread);

    QPainter painter(&table);
    painter.setBrush(gradient);
    painter.setPen(Qt::NoPen);
    painter.drawRect(table.rect());
    painter.end();

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
