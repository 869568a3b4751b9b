#include "CommandLine.h"

#include "controller/ApplicationIdentity.h"
#include "controller/InstallLayout.h"
#include "device/ControllerKinds.h"

#include <QCoreApplication>
#include <QSettings>

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
        } else if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            line.error = QCoreApplication::translate("CommandLine", "unknown option \"%1\"").arg(argument);
            return line;
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
        "Settings: %5\n"
        "The crate address comes from the settings (\"IpAddress\", default 127.0.0.1) or from\n"
        "File > Select Controller... (F6). Port, communities, time-out and retries come from the\n"
        "group [Snmp] (File > Connection Settings...); the variables TESMAR_SNMP_PORT,\n"
        "TESMAR_SNMP_READ_COMMUNITY, TESMAR_SNMP_WRITE_COMMUNITY, TESMAR_SNMP_TIMEOUT_MS and\n"
        "TESMAR_SNMP_RETRIES win over them.\n"
        "Every write to the crate is recorded in the write journal (System > Journal..., Ctrl+J).\n"
        "Debug output: QT_LOGGING_RULES=\"tesmar.*.debug=true\"\n"
        "Exit status: 0 normal end, 1 a controller library could not be used, %6 a command line\n"
        "that cannot be used or the start cancelled at the address lock, %7 no display.\n"
        "User manual (Help > Index, F1): %4\n")
        .arg(QLatin1String(ApplicationIdentity::applicationName), ControllerKinds::names().join(QStringLiteral(", ")),
            QLatin1String(ControllerKinds::defaultKind),
            manual.isEmpty() ? QCoreApplication::translate("CommandLine", "not found") : manual, settingsPath())
        .arg(exitUsage)
        .arg(exitNoDisplay);
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

QString CommandLine::settingsPath()
{
    return ApplicationIdentity::openSettings()->fileName();
}

QStringList CommandLine::argumentsWithoutQtOptions(int argc, char* argv[])
{
    // The options QGuiApplication and QApplication (with X11's old ones) take out of the line;
    // the first group takes the argument after it.
    static const QStringList withValue{"platform", "platformpluginpath", "platformtheme", "plugin", "qwindowgeometry",
        "qwindowicon", "qwindowtitle", "session", "style", "stylesheet", "display", "geometry", "font", "fn", "background",
        "bg", "foreground", "fg", "button", "btn", "title", "name", "visual", "ncols", "im", "dialogs"};
    static const QStringList withoutValue{"reverse", "widgetcount", "nograb", "dograb", "sync", "cmap", "testability"};
    QStringList arguments;
    for (int i = 0; i < argc; ++i) {
        const QString argument = QString::fromLocal8Bit(argv[i]);
        // Qt reads "--style=X" and "-style X" alike; our own options are long ones.
        QString name = argument;
        if (i > 0 && name.startsWith(QLatin1Char('-'))) {
            name.remove(0, name.startsWith(QLatin1String("--")) ? 2 : 1);
            const QString bare = name.section(QLatin1Char('='), 0, 0);
            if (withValue.contains(bare)) {
                if (!name.contains(QLatin1Char('=')))
                    ++i;
                continue;
            }
            if (withoutValue.contains(bare) || bare == QLatin1String("qmljsdebugger"))
                continue;
        }
        arguments << argument;
    }
    return arguments;
}

QString CommandLine::missingDisplay(int argc, char* argv[])
{
    QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0 && i + 1 < argc)
            platform = QString::fromLocal8Bit(argv[i + 1]);
    }
    // "xcb:..." and "wayland-egl" carry options or variants after the plugin name.
    const QString plugin = platform.section(QLatin1Char(':'), 0, 0);
    const bool x11 = qEnvironmentVariableIsEmpty("DISPLAY") == false;
    const bool wayland = qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") == false;
    bool missing = false;
    if (plugin.isEmpty())
        missing = !x11 && !wayland;
    else if (plugin == QLatin1String("xcb"))
        missing = !x11;
    else if (plugin.startsWith(QLatin1String("wayland")))
        missing = !wayland;
    if (!missing)
        return QString();
    return QStringLiteral("no display: set DISPLAY (or WAYLAND_DISPLAY), or run with QT_QPA_PLATFORM=offscreen");
}
