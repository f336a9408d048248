#pragma once

#include "histogram.h"
#include "transferfunction.h"
#include "transferfunctionfile.h"

#include <QCoreApplication>
#include <QObject>

#include <array>
#include <optional>

class QLabel;
class QPushButton;
class QVBoxLayout;
struct WindowContext;

// The window's transfer function: the "Transferfunktion" menu (files,
// presets, "Automatisch", undo), the start-up function, the data range under
// the strips, the offer of the automatic function and the question on quit.
// The session's function is the truth; the strips show it and hand their
// edits to it.
class TransferFunctionController : public QObject
{
    // The window's texts, in its translation context.
    Q_DECLARE_TR_FUNCTIONS(MainWindow)

public:
    TransferFunctionController(WindowContext &context, QVBoxLayout *transferLayout,
                               QObject *parent);

    // Shows a function applied whole (a preset, a file): quitting does not
    // ask until it changes, and it is one undo step.
    void apply(const TransferFunction &function);
    bool loadFile(const QString &fileName);
    bool saveFile(const QString &fileName, TransferFunctionFile::Format format);
    void setStartupFunction(const QString &nameOrFile) { startupFunction = nameOrFile; }
    // The function the settings remember, applied by setDefault() once.
    void setRememberedFunction(const TransferFunction &function) { remembered = function; }
    // The start-up ramp, then the command line's or the remembered function.
    void setDefault();
    // The strips' function goes to the session; a drag is one undo step,
    // recorded when the button is released.
    void takeEditorFunction();
    void setStripDragging(bool dragging) { stripDragging = dragging; }
    void recordStep();

    bool changed() const;
    // Save, discard or cancel when the function changed; whether to go on.
    bool confirmQuit();
    void undo();
    void redo();
    bool applyAutomatic();

private:
    void addMenu();
    void addAutomaticOffer();
    void askToSave(TransferFunctionFile::Format format);
    void applyStartupFunction();
    void markLoaded();
    void updateAutomaticOffer();
    void showFunction();
    void showDataRange(bool newDataSet);

    WindowContext &context;
    TransferFunction loadedFunction; // last saved or applied whole
    bool stripDragging = false;
    bool startupDefaultInUse = false; // the untouched start-up ramp
    std::optional<TransferFunction> remembered;
    QString startupFunction;
    Histogram histogram;
    std::array<QLabel *, 2> dataRangeLabels{}; // minimum, maximum
    QPushButton *automaticOfferButton = nullptr;
};
