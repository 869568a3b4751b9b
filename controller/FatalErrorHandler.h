#pragma once

#include <QString>

class BaseController;

// How the program ends when a controller cannot work (its access library is missing, incomplete
// or fails to initialise). Controllers only record the failure (BaseController::libraryFailure());
// the device session hands it here, once, through raiseLibraryFailure(). The default handler
// prints "title: text" to standard error and exits with the given code (the windowless tools);
// the application installs one that shows a critical message box first. Tests install a handler
// that records the call and returns, in which case the session goes on without the controller.
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

    // When `controller` recorded a library failure: raises it with the program's name as title,
    // "<failure>\n\nProgram will be terminated." as text and exit code 1, and answers true
    // (when the handler returns). False, and nothing raised, for a controller that can work.
    static bool raiseLibraryFailure(const BaseController& controller);
};
