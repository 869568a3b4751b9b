// A stand-in for the program used by the start-up tests: it builds the main window exactly as
// the program does, but answers the dialogs from the environment and reports what happened on
// standard output, one "key value" line each.
//   PROBE_ADDRESS_ANSWER  "cancel" cancels the address dialog; anything else (or unset) answers
//                         Ok with the pre-filled address
//   PROBE_REPORT_LOCKS    comma-separated addresses; prints "locked-by-me ADDRESS" for each that
//                         this process holds after construction
//   PROBE_HOLD            when set, prints "holding" and keeps the window (and its lock) until
//                         standard input ends
#include "app/AddressLocker.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"
#include "dialogs/common/UserDialogs.h"

#include <QAction>
#include <QApplication>

#include <cstdio>
#include <iostream>
#include <string>

namespace {
void say(const QString& line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// Reports the address dialog as it opens: when it is cancelled the program ends inside the
// window's constructor.
class ReportingDialogs : public ScriptedDialogs
{
public:
    bool getAddress(QWidget* parent, const QString& title, const QString& label, QString* address) override
    {
        say(QStringLiteral("address-dialog-title %1").arg(title));
        say(QStringLiteral("address-dialog %1").arg(label));
        say(QStringLiteral("address-dialog-prefilled %1").arg(*address));
        return ScriptedDialogs::getAddress(parent, title, label, address);
    }
};
} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    ReportingDialogs dialogs;
    dialogs.addressAccepted = qEnvironmentVariable("PROBE_ADDRESS_ANSWER") != QLatin1String("cancel");
    UserDialogs::setStartupOverride(&dialogs);

    {
        TesmarControl window;
        say(QStringLiteral("constructed"));
        auto* specialMode = window.findChild<QAction*>(QStringLiteral("actionSpecialMode"));
        // The action stays hidden; a hidden action always reports itself disabled, so its own
        // enabled state is read while it is shown for a moment.
        const bool hidden = specialMode && !specialMode->isVisible();
        if (specialMode)
            specialMode->setVisible(true);
        say(QStringLiteral("special-mode-enabled %1").arg(specialMode && specialMode->isEnabled() ? 1 : 0));
        say(QStringLiteral("special-mode-hidden %1").arg(hidden ? 1 : 0));
        if (specialMode)
            specialMode->setVisible(false);

        AddressLocker locker;
        const QStringList addresses = qEnvironmentVariable("PROBE_REPORT_LOCKS").split(QLatin1Char(','), Qt::SkipEmptyParts);
        for (const QString& address : addresses) {
            if (locker.isLockedByUs(address))
                say(QStringLiteral("locked-by-me %1").arg(address));
        }

        if (qEnvironmentVariableIsSet("PROBE_HOLD")) {
            say(QStringLiteral("holding"));
            std::string line;
            while (std::getline(std::cin, line)) {
            }
        }
    }
    say(QStringLiteral("destroyed"));
    UserDialogs::setStartupOverride(nullptr);
    return 0;
}
