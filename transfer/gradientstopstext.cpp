#include "gradientstopstext.h"

#include <QColor>
#include <QStringList>

#include <algorithm>

bool parseStops(const QString &text, QGradientStops *stops, QString *reason)
{
    QGradientStops parsed;
    for (const QString &item : text.split(',')) {
        const int colon = item.indexOf(':');
        bool positionOk = false;
        const double position = colon > 0 ? item.left(colon).trimmed().toDouble(&positionOk) : 0.0;
        const QString colorText = colon > 0 ? item.mid(colon + 1).trimmed() : QString();
        const bool colorOk = (colorText.size() == 7 || colorText.size() == 9) &&
                             colorText.startsWith('#') && QColor::isValidColor(colorText);
        if (!positionOk || !colorOk || position < 0.0 || position > 1.0) {
            *reason = QString("bad stop '%1': expected POS:#AARRGGBB with POS in 0..1").arg(item);
            return false;
        }
        parsed.append({position, QColor(colorText)});
    }
    std::stable_sort(
        parsed.begin(), parsed.end(),
        [](const QGradientStop &a, const QGradientStop &b) { return a.first < b.first; });
    *stops = parsed;
    return true;
}
