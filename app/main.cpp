#include "CommandLine.h"
#include "MessageBoxFatalErrorHandler.h"
#include "PaletteColours.h"
#include "StartupScreen.h"
#include "TesmarControl.h"

#include <QApplication>
#include <QSplashScreen>

#include <cstdio>

int main(int argc, char* argv[])
{
    // --help and --version answer without a window (and without a display).
    if (CommandLine::answered(argc, argv))
        return 0;
    QApplication application(argc, argv);
    PaletteColours::applyFromEnvironment();

    // A controller kind that does not exist ends the program before anything is connected.
    const CommandLine commandLine = CommandLine::parse(QCoreApplication::arguments());
    if (!commandLine.error.isEmpty()) {
        std::fprintf(stderr, "tesmarcontrol: %s\n%s", qPrintable(commandLine.error), qPrintable(CommandLine::usage()));
        return 1;
    }

    // A controller whose access library is missing ends the program with a message box.
    MessageBoxFatalErrorHandler fatalErrorHandler;
    FatalErrorHandler::install(&fatalErrorHandler);

    // A missing picture leaves the splash screen empty; start-up goes on.
    QSplashScreen splash(StartupScreen::splashImage());
    splash.show();
    application.processEvents();

    // Connects to the crate (and may end the program) before the window appears.
    TesmarControl window;
    window.show();
    splash.finish(&window);
    return application.exec();
}
