#include "MessageBoxFatalErrorHandler.h"
#include "TesmarControl.h"

#include <QApplication>
#include <QIcon>
#include <QPixmap>
#include <QSplashScreen>

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);

    // A controller whose access library is missing ends the program with a message box.
    MessageBoxFatalErrorHandler fatalErrorHandler;
    FatalErrorHandler::install(&fatalErrorHandler);

    // Read from the working folder, not the resources, so a site can put its own picture there.
    // A missing file leaves the splash screen empty; start-up goes on.
    QSplashScreen splash(QPixmap(QStringLiteral("opc_control_512.png")));
    splash.show();
    application.processEvents();

    // Connects to the crate (and may end the program) before the window appears.
    TesmarControl window;
    window.setWindowIcon(QIcon(QStringLiteral(":/") + QStringLiteral("images/TesmarSnmpControl64x64.ico")));
    window.show();
    splash.finish(&window);
    return application.exec();
}
