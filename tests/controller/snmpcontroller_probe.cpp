// Constructs an SnmpController and reports what happened.
// The controller only records an unusable library; the probe reports it as the device session
// does (FatalErrorHandler::raiseLibraryFailure).
//   snmpcontroller_probe          default handler: a failure ends the process
//   snmpcontroller_probe record   a handler that only records; prints the failure and whether
//                                 the controller stayed inert
#include "controller/FatalErrorHandler.h"
#include "controller/SnmpController.h"

#include <cstdio>
#include <cstring>

namespace {

class RecordingHandler : public FatalErrorHandler
{
public:
    void fatalError(const QString& title, const QString& text, int exitCode) override
    {
        ++calls;
        std::printf("recorded %d: %s: %s\n", exitCode, qPrintable(title), qPrintable(text));
    }
    int calls = 0;
};

} // namespace

int main(int argc, char** argv)
{
    RecordingHandler recorder;
    if (argc > 1 && std::strcmp(argv[1], "record") == 0)
        FatalErrorHandler::install(&recorder);
    SnmpController controller;
    FatalErrorHandler::raiseLibraryFailure(controller);
    std::printf("constructed ready=%d failures=%d\n", controller.isLibraryReady() ? 1 : 0, recorder.calls);
    std::printf("missing=%s\n", qPrintable(controller.missingEntryPoints().join(QLatin1Char(' '))));
    if (!controller.isLibraryReady()) {
        const bool inert = !controller.open(QStringLiteral("127.0.0.1:1")) && !controller.isConnected()
            && controller.call(&SnmpController::getModuleDescription, 0) == nullptr;
        std::printf("inert=%d\n", inert ? 1 : 0);
    }
    FatalErrorHandler::install(nullptr);
    return 0;
}
