#pragma once

#include <QString>
#include <QStringList>

// The program's command line:
//
//   tesmarcontrol [--controller KIND] [vrok] [--help] [--version]
//
// "--controller KIND" (or "--controller=KIND", anywhere on the line) chooses how the modules
// are reached (ControllerKinds: snmp, opc, vmusb, v1718) and wins over the setting "Controller/Kind". Every
// other argument is positional, in its order; the first positional argument "vrok" makes the
// special-mode action available, with or without the option.
struct CommandLine
{
    // `arguments` with the program name first (QCoreApplication::arguments()).
    static CommandLine parse(const QStringList& arguments);
    // The text --help prints: the options, where the crate address comes from, the manual.
    static QString usage();
    static QString versionText();
    // "--help" / "-h" or "--version" / "-v" anywhere on the line: prints the answer to standard
    // output and returns true (the program then ends with exit code 0). Reads argv before the
    // application object exists, so it works without a display.
    static bool answered(int argc, char* argv[]);

    bool specialModeRequested() const { return positional.value(0) == QLatin1String("vrok"); }

    QStringList positional;
    QString controllerKind; // empty when not given
    bool helpRequested = false;
    QString error; // why the line cannot be used; empty when it can
};
