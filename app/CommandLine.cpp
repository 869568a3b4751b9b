#include "CommandLine.h"

#include "app/ApplicationIdentity.h"
#include "controller/InstallLayout.h"
#include "device/ControllerKinds.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace {
const QString controllerOption = QStringLiteral("--controller");
}

CommandLine CommandLine::parse(const QStringList& arguments)
{
    CommandLine line;
    for (int i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        QString kind;
        if (argument == controllerOption) {
            if (i + 1 >= arguments.size()) {
                line.error = QCoreApplication::translate("CommandLine", "%1 needs a value: %2")
                                 .arg(controllerOption, ControllerKinds::names().join(QStringLiteral(", ")));
                return line;
            }
            kind = arguments.at(++i);
        } else if (argument.startsWith(controllerOption + QLatin1Char('='))) {
            kind = argument.mid(controllerOption.size() + 1);
        } else if (argument == QLatin1String("--help") || argument == QLatin1String("-h")) {
            line.helpRequested = true;
            continue;
        } else {
            line.positional << argument;
            continue;
        }
        if (!ControllerKinds::isKnown(kind)) {
            line.error = QCoreApplication::translate("CommandLine", "unknown controller \"%1\"; use one of: %2")
                             .arg(kind, ControllerKinds::names().join(QStringLiteral(", ")));
            return line;
        }
        line.controllerKind = kind;
    }
    return line;
}

QString CommandLine::usage()
{
    const QString manual = InstallLayout::dataFile(QStringLiteral("documentation/index.html"));
    return QCoreApplication::translate("CommandLine",
        "Usage: tesmarcontrol [--controller KIND] [--help] [--version]\n"
        "%1: operates high-voltage modules (an MPOD crate over SNMP, or an OPC server).\n"
        "\n"
        "Options:\n"
        "  --controller KIND  how the modules are reached: %2 (default: the setting\n"
        "                     Controller/Kind, else %3)\n"
        "  -h, --help         show this text and end\n"
        "  -v, --version      show the version and end\n"
        "\n"
        "The crate address comes from the settings (\"IpAddress\" in ~/.config/Tesmar/tesmarcontrol.ini,\n"
        "default 127.0.0.1) or from File > Select Controller... (F6). The SNMP port is taken from\n"
        "TESMAR_SNMP_PORT (default 161).\n"
        "Every write to the crate is recorded in the write journal (System > Journal..., Ctrl+J).\n"
        "User manual (Help > Index, F1): %4\n")
        .arg(QLatin1String(ApplicationIdentity::applicationName), ControllerKinds::names().join(QStringLiteral(", ")),
            QLatin1String(ControllerKinds::defaultKind),
            manual.isEmpty() ? QCoreApplication::translate("CommandLine", "not found") : manual);
}

QString CommandLine::versionText()
{
    return QStringLiteral("%1 Version %2\n")
        .arg(QLatin1String(ApplicationIdentity::applicationName), QLatin1String(ApplicationIdentity::version));
}

bool CommandLine::answered(int argc, char* argv[])
{
    const auto either = [](const char* argument, const char* longName, const char* shortName) {
        return std::strcmp(argument, longName) == 0 || std::strcmp(argument, shortName) == 0;
    };
    for (int i = 1; i < argc; ++i) {
        const bool help = either(argv[i], "--help", "-h");
        if (!help && !either(argv[i], "--version", "-v"))
            continue;
        // A core application (no display needed) knows the program's folder, from which the
        // help finds the installed manual.
        const QCoreApplication application(argc, argv);
        std::fputs((help ? usage() : versionText()).toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        return true;
    }
    return false;
}
