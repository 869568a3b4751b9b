#include "app/MessageBoxFatalErrorHandler.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>

void MessageBoxFatalErrorHandler::fatalError(const QString& title, const QString& text, int exitCode)
{
    // Also on standard error: the box may not be seen when the program was started remotely.
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    QMessageBox::critical(nullptr, title, text, QMessageBox::Ok);
    std::exit(exitCode);
}
