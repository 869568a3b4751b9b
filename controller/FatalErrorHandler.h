#pragma once

#include <QString>

// The one place where a controller that cannot work (its access library is missing or fails to
// initialise) ends the program. The default handler prints "title: text" to standard error and
// exits with the given code; the application installs one that shows a critical message box
// first. Tests install a handler that records the call and returns, in which case the
// controller stays inert (all its entry points null) instead of ending the process.
class FatalErrorHandler
{
public:
    virtual ~FatalErrorHandler();

    // Reports the failure. A handler meant for the real program does not return.
    virtual void fatalError(const QString& title, const QString& text, int exitCode) = 0;

    // Installs `handler` (not owned; nullptr restores the default). Returns the previous one,
    // nullptr when it was the default. Callable from any thread.
    static FatalErrorHandler* install(FatalErrorHandler* handler);

    // Hands the failure to the installed handler (or the default one).
    static void raise(const QString& title, const QString& text, int exitCode);
};
