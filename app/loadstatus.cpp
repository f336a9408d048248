#include "loadstatus.h"

#include "volume.h"
#include "volumeseries.h"
#include "volumefile.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

QString number(double value)
{
    return QString::number(value, 'g', 6);
}

} // namespace

QString loadStatusText(const QString &shownName, const Volume &loaded,
                       const VolumeReadResult &result)
{
    if (!result.ok)
        return tr("Could not load %1: %2")
            .arg(shownName, result.reason.empty()
                                ? tr("the file cannot be read or is not a DAT file")
                                : QString::fromStdString(result.reason));

    QString message =
        tr("%1: %2 x %3 x %4 voxels of %5 x %6 x %7 mm, values %8 to %9")
            .arg(shownName)
            .arg(loaded.width)
            .arg(loaded.height)
            .arg(loaded.depth)
            .arg(number(loaded.spacing[0]), number(loaded.spacing[1]), number(loaded.spacing[2]),
                 number(loaded.valueRange.minimum), number(loaded.valueRange.maximum));
    // What a series or colour volume is, after the dimensions and range.
    if (loaded.series)
        message += tr(", %1 volumes").arg(seriesFrameCount(loaded));
    if (loaded.colours)
        message += loaded.colours->components == 4 ? tr(", RGBA") : tr(", RGB");
    if (result.missingSamples > 0)
        message += tr(" (file truncated: %1 samples missing, shown as 0)")
                       .arg(qulonglong(result.missingSamples));
    QStringList warnings;
    for (const std::string &warning : result.warnings)
        warnings.append(QString::fromStdString(warning));
    if (!warnings.isEmpty())
        message += " - " + warnings.join(" ");
    return message;
}
