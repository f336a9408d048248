#include "controlstable.h"

#include <QCoreApplication>
#include <QStringList>

namespace {

QString tr(const char *text)
{
    return QCoreApplication::translate("MainWindow", text);
}

} // namespace

const std::vector<ControlRow> &controlRows()
{
    static const std::vector<ControlRow> rows = {
        {QT_TR_NOOP("Rendering"), QT_TR_NOOP("left drag / right drag"),
         QT_TR_NOOP("turn about X and Y / about X and Z")},
        {QT_TR_NOOP("Rendering"), QT_TR_NOOP("wheel, middle drag, double click"),
         QT_TR_NOOP("zoom, pan, back to zoom 1")},
        {QT_TR_NOOP("Rendering"), QT_TR_NOOP("Shift+click"),
         QT_TR_NOOP("move the slice cursor (and the slice views) to the first point that is half "
                    "opaque")},
        {QT_TR_NOOP("Strips"), QT_TR_NOOP("drag a point, click empty space, right click a point"),
         QT_TR_NOOP("move, add, remove a point (the rendering runs straight between points)")},
        {QT_TR_NOOP("Strips"), QT_TR_NOOP("hover / double click a point"),
         QT_TR_NOOP("show / type its data value and channel value")},
        {QT_TR_NOOP("Slices"), QT_TR_NOOP("scroll bar, axis box, arrows, Page Up/Down"),
         QT_TR_NOOP("slice (starts at the middle; the cursor follows it), axis")},
        {QT_TR_NOOP("Slice views (Ansicht > Vier Ansichten, Ctrl+4)"),
         QT_TR_NOOP("click/drag, wheel or arrows, Page Up/Down"),
         QT_TR_NOOP("cursor (all views follow), one slice, ten slices")},
        {QT_TR_NOOP("Slice views"), QT_TR_NOOP("Ctrl+wheel, middle drag, double click, right drag"),
         QT_TR_NOOP("zoom, pan, fit, window/level (W / L shown while dragging)")},
        {QT_TR_NOOP("Fensterung"), QT_TR_NOOP("menu entries"),
         QT_TR_NOOP("the grey window of every slice view (CT presets for CT data)")},
        {QT_TR_NOOP("Keys"), QT_TR_NOOP("Ctrl+Z, Ctrl+Shift+Z, Ctrl+Q"),
         QT_TR_NOOP("undo, redo a transfer-function change; quit (asks to save an edited "
                    "function)")},
        {QT_TR_NOOP("Keys"), QT_TR_NOOP("Ctrl+O, Ctrl+S, F1"),
         QT_TR_NOOP("load a data set, save the picture, this help")},
        {QT_TR_NOOP("Files"), QT_TR_NOOP("drop on the window"),
         QT_TR_NOOP("open a volume file, a DICOM folder or a .json transfer function")},
    };
    return rows;
}

QString controlsHelpText()
{
    QStringList lines;
    QString group;
    for (const ControlRow &row : controlRows()) {
        if (tr(row.where) != group) {
            group = tr(row.where);
            lines << group;
        }
        lines << QString("  %1: %2").arg(tr(row.doWhat), tr(row.effect));
    }
    return lines.join('\n');
}

QString controlsMarkdownTable()
{
    QStringList lines = {"| Where | Do | Effect |", "|---|---|---|"};
    for (const ControlRow &row : controlRows())
        lines << QString("| %1 | %2 | %3 |").arg(row.where, row.doWhat, row.effect);
    return lines.join('\n');
}
