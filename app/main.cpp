#include "CommandLine.h"
#include "MessageBoxFatalErrorHandler.h"
#include "StartupScreen.h"
#include "TerminationSignals.h"
#include "TesmarControl.h"
#include "dialogs/common/PaletteColours.h"

#include <QApplication>
#include <QSplashScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    // --help and --version answer without a window (and without a display).
    if (CommandLine::answered(argc, argv))
        return 0;
    // Without a display Qt would abort while constructing the application object. A line that
    // cannot be used says so first, display or not.
    const QString noDisplay = CommandLine::missingDisplay(argc, argv);
    if (!noDisplay.isEmpty()) {
        const CommandLine early = CommandLine::parse(CommandLine::argumentsWithoutQtOptions(argc, argv));
        if (!early.error.isEmpty()) {
            std::fprintf(stderr, "tesmarcontrol: %s\n%s", qPrintable(early.error), qPrintable(CommandLine::usage()));
            return CommandLine::exitUsage;
        }
        std::fprintf(stderr, "tesmarcontrol: %s\n", qPrintable(noDisplay));
        return CommandLine::exitNoDisplay;
    }
    QApplication application(argc, argv);
    PaletteColours::applyFromEnvironment();

    // An unknown option or controller kind ends the program before anything is connected.
    const CommandLine commandLine = CommandLine::parse(QCoreApplication::arguments());
    if (!commandLine.error.isEmpty()) {
        std::fprintf(stderr, "tesmarcontrol: %s\n%s", qPrintable(commandLine.error), qPrintable(CommandLine::usage()));
        return CommandLine::exitUsage;
    }

    // SIGTERM and SIGINT end the program as closing its window does, without the close prompt.
    // One that arrives while the window is being built closes it as soon as it exists.
    TesmarControl* shown = nullptr;
    bool terminationPending = false;
    TerminationSignals terminationSignals;
    QObject::connect(&terminationSignals, &TerminationSignals::terminationRequested, [&] {
        if (shown) {
            shown->closeOnTermination();
        } else {
            // A prompt of the start-up (address lock, missing library) takes its Cancel way.
            terminationPending = true;
            TesmarControl::cancelOpenDialogs();
        }
    });

    // A controller whose access library is missing ends the program with a message box.
    MessageBoxFatalErrorHandler fatalErrorHandler;
    FatalErrorHandler::install(&fatalErrorHandler);

    // A missing picture leaves the splash screen empty; start-up goes on.
    QSplashScreen splash(StartupScreen::splashImage());
    splash.show();
    application.processEvents();

    // Connects to the crate (and may end the program) before the window appears.
    TesmarControl window;
    shown = &window;
    if (terminationPending)
        return window.closeOnTermination() ? 0 : application.exec();
    window.show();
    splash.finish(&window);
    return application.exec();
}
