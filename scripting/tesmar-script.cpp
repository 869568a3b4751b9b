// tesmar-script: runs a script against one module of an MPOD crate without a window, with the
// same "mod" and "script" objects as the program's script console, through the same controller
// path (SNMP library and its environment variables).
//
//   tesmar-script --crate ADDRESS [--slot N] FILE
//
// Printed lines and the last line (result or error) go to standard output. Exit status 0 after a
// normal end; 1 after a syntax error, an uncaught exception, an unreadable file, a crate that does
// not answer or an empty slot; 2 for a bad command line.
#include "app/ApplicationIdentity.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/SnmpControllerFactory.h"
#include "device/SnmpModule.h"
#include "scripting/ScriptRunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <cstdio>
#include <memory>

namespace {

void writeLine(FILE* stream, const QString& line)
{
    std::fputs(line.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
    std::fflush(stream);
}

int usageError(const QCommandLineParser& parser, const QString& text)
{
    writeLine(stderr, QStringLiteral("tesmar-script: ") + text);
    writeLine(stderr, parser.helpText().trimmed());
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tesmar-script"));
    // Standard error carries this program's own messages; the controller's diagnostic lines
    // come back with QT_LOGGING_RULES="tesmar.*.debug=true" (off by default).

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs a script (ECMAScript) against a high-voltage module of an MPOD crate. The script calls the\n"
                       "module's operations on \"mod\" and uses script.delay(ms) and script.print(text)."));
    parser.addHelpOption();
    const QCommandLineOption crateOption(QStringLiteral("crate"),
        QStringLiteral("IPv4 address of the crate (host or host:port)."), QStringLiteral("ADDRESS"));
    const QCommandLineOption slotOption(QStringLiteral("slot"),
        QStringLiteral("Slot (0 to 9) of the module the script acts on; default: the first module."), QStringLiteral("N"));
    parser.addOption(crateOption);
    parser.addOption(slotOption);
    parser.addPositionalArgument(QStringLiteral("FILE"), QStringLiteral("The script file (UTF-8)."));

    if (!parser.parse(application.arguments()))
        return usageError(parser, parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        writeLine(stdout, parser.helpText().trimmed());
        return 0;
    }
    if (!parser.isSet(crateOption))
        return usageError(parser, QStringLiteral("--crate ADDRESS is required."));
    if (parser.positionalArguments().size() != 1)
        return usageError(parser, QStringLiteral("exactly one script file is required."));
    int slot = -1;
    if (parser.isSet(slotOption)) {
        bool ok = false;
        slot = parser.value(slotOption).toInt(&ok);
        if (!ok || slot < 0 || slot >= SnmpControllerFactory::moduleSlotCount)
            return usageError(parser, QStringLiteral("--slot takes a slot number from 0 to 9."));
    }

    // The file first: a typing error costs no network time.
    QString script;
    QString error;
    if (!ScriptRunner::readScriptFile(parser.positionalArguments().constFirst(), &script, &error)) {
        writeLine(stderr, error);
        return 1;
    }

    const QString address = parser.value(crateOption);
    // The window's connection settings (group [Snmp] of its settings file) apply here too; the
    // TESMAR_SNMP_* variables still win over them.
    auto factory = std::make_unique<SnmpControllerFactory>();
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, QLatin1String(ApplicationIdentity::organisationName),
        QLatin1String(ApplicationIdentity::settingsApplicationName));
    factory->setConnectionSettings(SnmpConnectionSettings::load(settings));
    DeviceSession session(std::move(factory));
    if (!session.connectTo(address)) {
        writeLine(stderr, QStringLiteral("tesmar-script: the crate at %1 does not answer.").arg(address));
        return 1;
    }
    std::shared_ptr<BaseModule> module;
    const QList<BaseModule*> modules = session.modules();
    for (int index = 0; index < modules.size() && !module; ++index) {
        const auto* snmpModule = qobject_cast<const SnmpModule*>(modules.at(index));
        if (slot < 0 || (snmpModule && snmpModule->slot() == slot))
            module = session.sharedModule(index);
    }
    if (!module) {
        writeLine(stderr,
            slot < 0 ? QStringLiteral("tesmar-script: the crate at %1 has no module.").arg(address)
                     : QStringLiteral("tesmar-script: slot %1 of the crate at %2 holds no module.").arg(slot).arg(address));
        return 1;
    }

    ScriptRunner runner;
    QObject::connect(&runner, &ScriptRunner::message, [](const QString& line) { writeLine(stdout, line); });
    const ScriptRunner::Outcome outcome = runner.run(script, module.get());
    return outcome == ScriptRunner::Outcome::Finished ? 0 : 1;
}
