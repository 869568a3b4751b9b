#pragma once

#include <QString>
#include <QStringList>

// The program's command line:
//
//   tesmarcontrol [--controller KIND] [vrok] [--help] [--version]
//
// "--controller KIND" (or "--controller=KIND", anywhere on the line) chooses how the modules
// are reached (ControllerKinds: snmp, opc, vmusb, v1718) and wins over the setting "Controller/Kind".
// Any other argument starting with "-" is refused (Qt's own options, such as -platform, are taken
// out by the application object before parse() sees the line). Every other argument is
// positional, in its order; the first positional argument "vrok" makes the special-mode action
// available, with or without the option.
struct CommandLine
{
    // Exit codes: a line that cannot be used (the usage goes to standard error), and no display
    // for the window.
    static constexpr int exitUsage = 2;
    static constexpr int exitNoDisplay = 3;

    // `arguments` with the program name first (QCoreApplication::arguments()).
    static CommandLine parse(const QStringList& arguments);
    // The text --help prints: the options, where the crate address comes from, the manual.
    static QString usage();
    static QString versionText();
    // "--help" / "-h" or "--version" / "-v" anywhere on the line: prints the answer to standard
    // output and returns true (the program then ends with exit code 0). Reads argv before the
    // application object exists, so it works without a display.
    static bool answered(int argc, char* argv[]);
    // Why the window could not be shown, before the application object exists (Qt would abort):
    // no platform plugin chosen (QT_QPA_PLATFORM or -platform) and neither DISPLAY nor
    // WAYLAND_DISPLAY set, or xcb/wayland chosen without its variable. Empty when it can.
    static QString missingDisplay(int argc, char* argv[]);
    // argv as parse() wants it, before the application object exists: Qt's own options (-platform
    // NAME, -style NAME, -reverse, ...) taken out as the application object would take them, so
    // a line that cannot be used is told from a missing display (exit code 2 before 3).
    static QStringList argumentsWithoutQtOptions(int argc, char* argv[]);
    // The settings file the program uses (QSettings' own path: it honours XDG_CONFIG_HOME).
    static QString settingsPath();

    bool specialModeRequested() const { return positional.value(0) == QLatin1String("vrok"); }

    QStringList positional;
    QString controllerKind; // empty when not given
    bool helpRequested = false;
    QString error; // why the line cannot be used; empty when it can
};
