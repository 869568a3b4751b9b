#include "app/MessageBoxFatalErrorHandler.h"

#include "app/StartupScreen.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

void MessageBoxFatalErrorHandler::fatalError(const QString& title, const QString& text, int exitCode)
{
    // Also on standard error: the box may not be seen when the program was started remotely.
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    // The failure comes while the window is built, with the splash screen still up on top.
    StartupScreen::hideSplashScreens();
    showCritical(title, text);
    exitProgram(exitCode);
}

void MessageBoxFatalErrorHandler::showCritical(const QString& title, const QString& text)
{
    QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
}

void MessageBoxFatalErrorHandler::exitProgram(int exitCode)
{
    std::exit(exitCode);
}
