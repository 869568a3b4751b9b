// tesmar-script: runs a script against one module of an MPOD crate without a window, with the
// same "mod" and "script" objects as the program's script console, through the same controller
// path (SNMP library and its environment variables).
//
//   tesmar-script --crate ADDRESS [--slot N] FILE
//
// Values are in volts and amperes, whatever display units the program's settings choose.
// Printed lines and the last line (result or error) go to standard output. Exit status 0 after a
// normal end; 1 after a syntax error, an uncaught exception, an unreadable file, a crate that does
// not answer, an empty slot or a module that stopped answering; 2 for a bad command line; 130
// after SIGINT and 143 after SIGTERM, which stop the script and name the channels it switched on
// that are still on.
#include "controller/ApplicationIdentity.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/Poller.h"
#include "device/SnmpControllerFactory.h"
#include "device/SnmpModule.h"
#include "device/StatusWordBits.h"
#include "scripting/ScriptRunner.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QSettings>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <pthread.h>
#include <thread>

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

// SIGINT and SIGTERM are blocked in every thread and taken by one waiting thread, which stops the
// script (no work in a signal handler). SIGUSR1 only ends that thread at exit.
class StopSignals
{
public:
    explicit StopSignals(ScriptRunner* runner)
    {
        sigemptyset(&m_signals);
        sigaddset(&m_signals, SIGINT);
        sigaddset(&m_signals, SIGTERM);
        sigaddset(&m_signals, SIGUSR1);
        pthread_sigmask(SIG_BLOCK, &m_signals, nullptr);
        m_thread = std::thread([this, runner] {
            int received = 0;
            while (sigwait(&m_signals, &received) == 0) {
                if (received == SIGUSR1)
                    return;
                m_received = received;
                runner->stop();
            }
        });
    }
    ~StopSignals()
    {
        pthread_kill(m_thread.native_handle(), SIGUSR1);
        m_thread.join();
    }
    int received() const { return m_received; }

private:
    sigset_t m_signals;
    std::thread m_thread;
    std::atomic<int> m_received{0};
};

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tesmar-script"));
    QCoreApplication::setApplicationVersion(QString::fromLatin1(ApplicationIdentity::version));
    // Standard error carries this program's own messages; the controller's diagnostic lines
    // come back with QT_LOGGING_RULES="tesmar.*.debug=true" (off by default).

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Runs a script (ECMAScript) against a high-voltage module of an MPOD crate. The script calls the\n"
                       "module's operations on \"mod\" and uses script.delay(ms) and script.print(text).\n"
                       "\n"
                       "Units: voltages in V and currents in A, whatever display units the program's\n"
                       "settings choose for the module. Writes are paced to at most %1 per second.\n"
                       "A read that is not answered, a channel that is not a whole number from 0 to\n"
                       "channelNumber()-1 and a value that is not finite throw a script error; nothing is sent.\n"
                       "\n"
                       "Exit status: 0 normal end; 1 syntax error, uncaught exception, unreadable file,\n"
                       "crate not answering, empty slot, or the module stopped answering during the run;\n"
                       "2 bad command line; 130 after SIGINT (Ctrl+C), 143 after SIGTERM: the script is\n"
                       "stopped and the channels it switched on that are still on are named on standard error.")
            .arg(ScriptRunner::maxWritesPerSecond));
    parser.addHelpOption();
    parser.addVersionOption();
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
    if (parser.isSet(QStringLiteral("version"))) {
        writeLine(stdout, QStringLiteral("tesmar-script %1").arg(QCoreApplication::applicationVersion()));
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

    // Before any other thread exists, so that every thread inherits the blocked signals.
    ScriptRunner runner;
    StopSignals stopSignals(&runner);

    const QString address = parser.value(crateOption);
    // The window's connection settings (group [Snmp] of its settings file) apply here too; the
    // TESMAR_SNMP_* variables still win over them.
    auto factory = std::make_unique<SnmpControllerFactory>();
    factory->setConnectionSettings(SnmpConnectionSettings::load(*ApplicationIdentity::openSettings()));
    DeviceSession session(std::move(factory));
    if (!session.connectTo(address)) {
        writeLine(stderr, QStringLiteral("tesmar-script: the crate at %1 does not answer.").arg(address));
        return 1;
    }
    std::shared_ptr<BaseModule> module;
    int moduleIndex = -1;
    const QList<BaseModule*> modules = session.modules();
    for (int index = 0; index < modules.size() && !module; ++index) {
        const auto* snmpModule = qobject_cast<const SnmpModule*>(modules.at(index));
        if (slot < 0 || (snmpModule && snmpModule->slot() == slot)) {
            module = session.sharedModule(index);
            moduleIndex = index;
        }
    }
    if (!module) {
        writeLine(stderr,
            slot < 0 ? QStringLiteral("tesmar-script: the crate at %1 has no module.").arg(address)
                     : QStringLiteral("tesmar-script: slot %1 of the crate at %2 holds no module.").arg(slot).arg(address));
        return 1;
    }

    // Volts and amperes here, never the display units of the window's settings: a script's
    // numbers mean the same on every station.
    module->setVoltageUnit(QStringLiteral("V"));
    module->setCurrentUnit(QStringLiteral("A"));
    // The poller reads the module every tick: the script's reads take that snapshot while it is
    // young, and a module that stops answering stops the script.
    session.setCurrentModuleIndex(moduleIndex);
    session.setNeeds(&runner, Poller::CurrentModuleChannels);
    ScriptRunner::SnapshotSource snapshots = [poller = session.poller(), moduleIndex] {
        return poller->moduleSnapshot(moduleIndex);
    };
    runner.setSnapshotSource(snapshots);
    runner.setWatch(ScriptRunner::answerWatch(snapshots));

    QObject::connect(&runner, &ScriptRunner::message, [](const QString& line) { writeLine(stdout, line); });
    const ScriptRunner::Outcome outcome = runner.run(script, module.get());
    if (const int received = stopSignals.received()) {
        // What the script left on, read now from the crate.
        const QList<int> switched = runner.channelsSwitchedOn();
        QStringList stillOn;
        QString unknown;
        if (!switched.isEmpty()) {
            const QVector<ChannelReading> channels = module->readChannels();
            for (int channel : switched) {
                if (channel >= channels.size() || !channels.at(channel).complete)
                    unknown += QStringLiteral(" %1").arg(channel);
                else if (channels.at(channel).control & ChannelControlBit::on)
                    stillOn.append(QString::number(channel));
            }
        }
        writeLine(stderr,
            QStringLiteral("tesmar-script: stopped by %1.")
                .arg(received == SIGINT ? QStringLiteral("SIGINT") : QStringLiteral("SIGTERM")));
        if (!stillOn.isEmpty())
            writeLine(stderr,
                QStringLiteral("tesmar-script: channels the script switched on that are still on (slot %1): %2")
                    .arg(qobject_cast<SnmpModule*>(module.get())->slot())
                    .arg(stillOn.join(QStringLiteral(", "))));
        else if (unknown.isEmpty())
            writeLine(stderr, QStringLiteral("tesmar-script: no channel the script switched on is still on."));
        if (!unknown.isEmpty())
            writeLine(
                stderr, QStringLiteral("tesmar-script: the crate did not answer for channels%1: check them.").arg(unknown));
        return 128 + received;
    }
    return outcome == ScriptRunner::Outcome::Finished ? 0 : 1;
}
