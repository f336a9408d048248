#pragma once

#include <QGradient>
#include <QString>

// Parses "POS:#AARRGGBB,..." (positions 0..1, colours as "#AARRGGBB" or
// "#RRGGBB") into stops sorted by position (equal positions keep their order).
// Returns false with a reason on any malformed stop.
bool parseStops(const QString &text, QGradientStops *stops, QString *reason);
