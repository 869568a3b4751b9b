#pragma once

#include "controller/FatalErrorHandler.h"

// Shows a fatal controller failure in a critical message box (button OK), then ends the
// program with the given exit code. Install it in main() before the first controller exists.
class MessageBoxFatalErrorHandler : public FatalErrorHandler
{
public:
    void fatalError(const QString& title, const QString& text, int exitCode) override;

protected:
    // The box and the end of the process; tests replace them.
    virtual void showCritical(const QString& title, const QString& text);
    virtual void exitProgram(int exitCode);
};
