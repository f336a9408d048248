#include "benchcommands.h"
#include "timing.h"

#include "transferfunctiontable.h"

#include <QGuiApplication>

#include <cstdio>
#include <sstream>

int benchTable(int &argc, char **argv, const std::vector<std::string> &argumentList)
{
    std::vector<std::string> arguments = argumentList;
    const bool quick = takeFlag(arguments, "--quick");
    // The table is painted into an image: no display is needed.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);

    // A table with several stops, like an edited transfer function.
    const QGradientStops stops = {{0.0, QColor::fromRgba(0x00000000)},
                                  {0.2, QColor::fromRgba(0x10ff2020)},
                                  {0.45, QColor::fromRgba(0x80ffd040)},
                                  {0.7, QColor::fromRgba(0xc0ffffff)},
                                  {1.0, QColor::fromRgba(0xffffffff)}};
    TransferFunctionTable table;
    std::ostringstream probe;
    unsigned char bytes[4 * TransferFunctionTable::entryCount];
    Timings rebuild, convert;
    const int repetitions = quick ? 200 : 2000;
    rebuild.measure(repetitions, [&] {
        probe.str(std::string());
        table.rebuild(stops, probe);
    });
    convert.measure(repetitions, [&] { table.copyRgbaBytes(bytes); });
    std::printf("table stops=%d entries=%d %s\n", int(stops.size()),
                TransferFunctionTable::entryCount, rebuild.summary().c_str());
    std::printf("table_bytes entries=%d %s\n", TransferFunctionTable::entryCount,
                convert.summary().c_str());
    return 0;
}
