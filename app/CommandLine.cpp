#include "CommandLine.h"

#include "device/ControllerKinds.h"

#include <QCoreApplication>

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
        } else if (argument == QLatin1String("--help")) {
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
    return QCoreApplication::translate("CommandLine",
        "Usage: tesmarcontrol [--controller KIND] [--help]\n"
        "  --controller KIND  how the modules are reached: %1 (default: the setting\n"
        "                     Controller/Kind, else %2)\n"
        "  --help             show this text\n")
        .arg(ControllerKinds::names().join(QStringLiteral(", ")), QLatin1String(ControllerKinds::defaultKind));
}
