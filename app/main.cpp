#include "backgroundload.h"
#include "batchlayers.h"
#include "batchrender.h"
#include "commandline.h"
#include "fileinfo.h"
#include "filenamebytes.h"
#include "mainwindow.h"
#include "slicebatch.h"
#include "windowsettings.h"

#include <QApplication>
#include <QSettings>
#include <QTimer>

#include <iostream>
#include <memory>
#include <utility>

int main(int argc, char *argv[])
{
    // Help, version and usage errors need no display: answer them before the
    // GUI application connects to one.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(argumentText(argv[i]));
    const CommandLine commandLine = parseCommandLine(arguments);
    switch (commandLine.mode) {
    case CommandLine::Mode::Help:
    case CommandLine::Mode::Version:
    case CommandLine::Mode::ListPresets:
        std::cout << commandLine.text.toStdString() << std::endl;
        return 0;
    case CommandLine::Mode::Info:
        return printFileInfo(commandLine.files, commandLine.json, commandLine.spacing, std::cout,
                             std::cerr);
    case CommandLine::Mode::Probe:
        return printProbes(commandLine.files, commandLine.probes, commandLine.frame,
                           commandLine.json, commandLine.spacing, commandLine.layers, std::cout,
                           std::cerr);
    case CommandLine::Mode::LabelStatistics:
        return writeLabelStatistics(commandLine);
    case CommandLine::Mode::UsageError:
        std::cerr << "kelvara: " << commandLine.text.toStdString() << std::endl;
        return 2;
    case CommandLine::Mode::Batch:
        if (commandLine.slice)
            return writeSliceBatch(commandLine);
        return renderBatch(argc, argv, commandLine);
    case CommandLine::Mode::Window:
        break;
    }

    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName("Kelvara");
    QCoreApplication::setApplicationName("kelvara");
    QCoreApplication::setApplicationVersion(KELVARA_VERSION);

    MainWindow window;
    window.useSettings(WindowSettings::open(commandLine.useSettings));
    if (!commandLine.transferFunction.isEmpty())
        window.setStartupTransferFunction(commandLine.transferFunction);
    if (commandLine.spacing)
        window.setSpacingFor(commandLine.file, *commandLine.spacing);
    if (!commandLine.layers.empty())
        window.setStartupLayers(commandLine.file, commandLine.layers);
    window.show();
    if (commandLine.file.isEmpty()) {
        QTimer::singleShot(50, &window, &MainWindow::setDefault);
    } else {
        // The start-up function may be in data units and the automatic offer
        // follows the data set: the default waits until the load has ended,
        // as it did when the file was read before the event loop started.
        auto setDefaultOnce = [&window, done = std::make_shared<bool>(false)] {
            if (!window.backgroundLoad()->isBusy() && !std::exchange(*done, true))
                QTimer::singleShot(50, &window, &MainWindow::setDefault);
        };
        QObject::connect(window.backgroundLoad(), &BackgroundLoad::finished, &window,
                         setDefaultOnce);
        QObject::connect(window.backgroundLoad(), &BackgroundLoad::cancelled, &window,
                         setDefaultOnce);
        window.startLoad(commandLine.file);
    }
    return application.exec();
}
