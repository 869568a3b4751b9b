#include "app/CommandLine.h"

#include "app/ApplicationIdentity.h"

#include "controller/InstallLayout.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstring>

namespace CommandLine {

QString helpText()
{
    const QString manual = InstallLayout::dataFile(QStringLiteral("documentation/index.html"));
    return QStringLiteral("Usage: tesmarcontrol [options]\n"
                          "%1: operates the high-voltage modules of a Wiener MPOD crate over SNMP.\n"
                          "\n"
                          "The crate address comes from the settings (\"IpAddress\" in ~/.config/Tesmar/tesmarcontrol.ini,\n"
                          "default 127.0.0.1) or from File > Select Controller... (F6). The SNMP port is taken from\n"
                          "TESMAR_SNMP_PORT (default 161).\n"
                          "\n"
                          "Options:\n"
                          "  -h, --help     show this text and end\n"
                          "  -v, --version  show the version and end\n"
                          "\n"
                          "Every write to the crate is recorded in the write journal (System > Journal..., Ctrl+J).\n"
                          "User manual (Help > Index, F1): %2\n")
        .arg(QLatin1String(ApplicationIdentity::applicationName), manual.isEmpty() ? QStringLiteral("not found") : manual);
}

QString versionText()
{
    return QStringLiteral("%1 Version %2\n")
        .arg(QLatin1String(ApplicationIdentity::applicationName), QLatin1String(ApplicationIdentity::version));
}

bool answered(int argc, char* argv[])
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
        std::fputs((help ? helpText() : versionText()).toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        return true;
    }
    return false;
}

} // namespace CommandLine
