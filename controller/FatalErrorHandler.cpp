#include "controller/FatalErrorHandler.h"

#include "controller/ApplicationIdentity.h"
#include "controller/BaseController.h"

#include <QCoreApplication>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<FatalErrorHandler*> installedHandler{nullptr};

void reportOnStandardError(const QString& title, const QString& text, int exitCode)
{
    std::fprintf(stderr, "%s: %s\n", title.toLocal8Bit().constData(), text.toLocal8Bit().constData());
    std::fflush(stderr);
    std::exit(exitCode);
}

} // namespace

FatalErrorHandler::~FatalErrorHandler() = default;

FatalErrorHandler* FatalErrorHandler::install(FatalErrorHandler* handler)
{
    return installedHandler.exchange(handler);
}

void FatalErrorHandler::raise(const QString& title, const QString& text, int exitCode)
{
    if (FatalErrorHandler* handler = installedHandler.load())
        handler->fatalError(title, text, exitCode);
    else
        reportOnStandardError(title, text, exitCode);
}

bool FatalErrorHandler::raiseLibraryFailure(const BaseController& controller)
{
    const QString failure = controller.libraryFailure();
    if (failure.isEmpty())
        return false;
    raise(QString::fromLatin1(ApplicationIdentity::applicationName),
        failure + QCoreApplication::translate("FatalErrorHandler", "\n\nProgram will be terminated."), 1);
    return true;
}
