#pragma once

#include <QString>
#include <QStringList>

// The program's command line:
//
//   tesmarcontrol [--controller KIND] [vrok] [--help]
//
// "--controller KIND" (or "--controller=KIND", anywhere on the line) chooses how the modules
// are reached (ControllerKinds: snmp, opc) and wins over the setting "Controller/Kind". Every
// other argument is positional, in its order; the first positional argument "vrok" makes the
// special-mode action available, with or without the option.
struct CommandLine
{
    // `arguments` with the program name first (QCoreApplication::arguments()).
    static CommandLine parse(const QStringList& arguments);
    // The text --help prints.
    static QString usage();

    bool specialModeRequested() const { return positional.value(0) == QLatin1String("vrok"); }

    QStringList positional;
    QString controllerKind; // empty when not given
    bool helpRequested = false;
    QString error; // why the line cannot be used; empty when it can
};
