// mpod-sim: a simulated MPOD crate full of high-voltage modules, answering SNMP v2c.

#include "CrateConfig.h"
#include "SimulatorAgent.h"

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QCoreApplication>

#include <csignal>
#include <cstdio>

namespace {

void onStopSignal(int)
{
    SimulatorAgent::requestStop();
}

void installSignalHandlers()
{
    struct sigaction action
    {
    };
    action.sa_handler = &onStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0; // no SA_RESTART: the agent's select must wake up
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
}

void printLine(const QString& line, std::FILE* stream = stdout)
{
    const QByteArray bytes = line.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("mpod-sim"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulated MPOD crate with high-voltage modules, an SNMP v2c agent.\n"
                       "Control commands on standard input, one per line: inhibit SLOT CHANNEL on|off,\n"
                       "brokenswitch SLOT CHANNEL on|off,\n"
                       "load SLOT CHANNEL OHMS|open, silent on|off, delay MS, drop PERCENT, maxresponse BYTES,\n"
                       "power off|on, timescale FACTOR, noise on|off, quit."));
    parser.addHelpOption();
    const QCommandLineOption listen(QStringLiteral("listen"), QStringLiteral("UDP address to answer on."),
        QStringLiteral("ADDRESS:PORT"), QStringLiteral("127.0.0.1:16161"));
    const QCommandLineOption config(
        QStringLiteral("config"), QStringLiteral("JSON crate configuration."), QStringLiteral("FILE"));
    const QCommandLineOption readCommunity(
        QStringLiteral("read-community"), QStringLiteral("Read community (default public)."), QStringLiteral("C"));
    const QCommandLineOption writeCommunity(
        QStringLiteral("write-community"), QStringLiteral("Write community (default guru)."), QStringLiteral("C"));
    parser.addOptions({listen, config, readCommunity, writeCommunity});
    if (!parser.parse(application.arguments())) {
        printLine(QStringLiteral("mpod-sim: %1").arg(parser.errorText()), stderr);
        return 2;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printLine(parser.helpText());
        return 0;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printLine(QStringLiteral("mpod-sim: unexpected argument %1").arg(parser.positionalArguments().first()), stderr);
        return 2;
    }

    CrateConfig crate = CrateConfig::defaultCrate();
    if (parser.isSet(config)) {
        QString error;
        if (!CrateConfig::fromFile(parser.value(config), &crate, &error)) {
            printLine(QStringLiteral("mpod-sim: %1").arg(error), stderr);
            return 2;
        }
    }
    SimulatorAgent::Options options;
    options.listen = parser.value(listen);
    options.readCommunity = parser.value(readCommunity);
    options.writeCommunity = parser.value(writeCommunity);
    if ((parser.isSet(readCommunity) && options.readCommunity.isEmpty())
        || (parser.isSet(writeCommunity) && options.writeCommunity.isEmpty())) {
        printLine(QStringLiteral("mpod-sim: a community must not be empty"), stderr);
        return 2;
    }

    installSignalHandlers();
    SimulatorAgent agent(crate, options);
    QString error;
    if (!agent.start(&error)) {
        printLine(QStringLiteral("mpod-sim: %1").arg(error), stderr);
        return 1;
    }
    printLine(QStringLiteral("listening %1").arg(agent.listenAddress()));
    agent.run();
    const qint64 requests = agent.servedRequests();
    const qint64 varbinds = agent.servedVarbinds();
    printLine(QStringLiteral("served requests=%1 varbinds=%2").arg(requests).arg(varbinds));
    return 0;
}
