#include "ControlCommands.h"

#include "CrateModel.h"
#include "SimulationClock.h"
#include "TransportFaults.h"

#include <QRegularExpression>
#include <QStringList>

#include <cmath>
#include <limits>

namespace {

bool parseOnOff(const QString& word, bool* on)
{
    if (word == QLatin1String("on")) {
        *on = true;
        return true;
    }
    if (word == QLatin1String("off")) {
        *on = false;
        return true;
    }
    return false;
}

bool parseInt(const QString& word, int min, int max, int* value)
{
    bool ok = false;
    const int v = word.toInt(&ok);
    if (!ok || v < min || v > max)
        return false;
    *value = v;
    return true;
}

bool parseDouble(const QString& word, double min, double max, double* value)
{
    bool ok = false;
    const double v = word.toDouble(&ok);
    if (!ok || !std::isfinite(v) || v < min || v > max)
        return false;
    *value = v;
    return true;
}

QString error(const QString& text)
{
    return QStringLiteral("error ") + text;
}

} // namespace

ControlCommands::ControlCommands(CrateModel& model, SimulationClock& clock, TransportFaults& faults)
    : m_model(model)
    , m_clock(clock)
    , m_faults(faults)
{
}

QString ControlCommands::help()
{
    return QStringLiteral("inhibit SLOT CHANNEL on|off | brokenswitch SLOT CHANNEL on|off | load SLOT CHANNEL OHMS|open | "
                          "silent on|off | delay MS | "
                          "drop PERCENT | maxresponse BYTES | power off|on | timescale FACTOR | noise on|off | quit");
}

QString ControlCommands::execute(const QString& line, bool* quit)
{
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const QStringList words = line.trimmed().split(blanks, Qt::SkipEmptyParts);
    *quit = false;
    if (words.isEmpty())
        return QString();
    const QString& command = words.first();
    const int arguments = int(words.size()) - 1;
    const QString ok = QStringLiteral("ok");
    bool on = false;

    if (command == QLatin1String("quit") && arguments == 0) {
        *quit = true;
        return ok;
    }
    if (command == QLatin1String("help") && arguments == 0)
        return QStringLiteral("ok ") + help();
    const bool onOffCommand = command == QLatin1String("inhibit") || command == QLatin1String("brokenswitch");
    if (onOffCommand || command == QLatin1String("load")) {
        int slot = 0, channel = 0;
        if (arguments != 3 || !parseInt(words[1], 0, 9, &slot) || !parseInt(words[2], 0, 99, &channel))
            return error(QStringLiteral("usage: %1 SLOT CHANNEL %2")
                             .arg(command, onOffCommand ? QStringLiteral("on|off") : QStringLiteral("OHMS|open")));
        if (onOffCommand) {
            if (!parseOnOff(words[3], &on))
                return error(QStringLiteral("usage: %1 SLOT CHANNEL on|off").arg(command));
            const bool known = command == QLatin1String("inhibit") ? m_model.setInhibit(slot, channel, on)
                                                                   : m_model.setSwitchBroken(slot, channel, on);
            return known ? ok : error(QStringLiteral("no high-voltage channel %1 in slot %2").arg(channel).arg(slot));
        }
        double ohms = 0;
        if (words[3] == QLatin1String("open"))
            ohms = std::numeric_limits<double>::infinity();
        else if (!parseDouble(words[3], 0, 1e18, &ohms))
            return error(QStringLiteral("load must be a resistance in ohms >= 0 or \"open\""));
        return m_model.setLoad(slot, channel, ohms)
            ? ok
            : error(QStringLiteral("no high-voltage channel %1 in slot %2").arg(channel).arg(slot));
    }
    if (command == QLatin1String("silent") || command == QLatin1String("noise") || command == QLatin1String("power")) {
        if (arguments != 1 || !parseOnOff(words[1], &on))
            return error(QStringLiteral("usage: %1 on|off").arg(command));
        if (command == QLatin1String("silent"))
            m_faults.setSilent(on);
        else if (command == QLatin1String("noise"))
            m_model.setNoise(on);
        else
            m_model.setPowerFailure(!on);
        return ok;
    }
    if (command == QLatin1String("delay") || command == QLatin1String("maxresponse")) {
        int value = 0;
        const int max = command == QLatin1String("delay") ? 600000 : 65535;
        if (arguments != 1 || !parseInt(words[1], 0, max, &value))
            return error(
                QStringLiteral("usage: %1 %2 (0 to %3)")
                    .arg(command, command == QLatin1String("delay") ? QStringLiteral("MS") : QStringLiteral("BYTES"))
                    .arg(max));
        if (command == QLatin1String("delay"))
            m_faults.setDelayMs(value);
        else
            m_faults.setMaxResponseBytes(value);
        return ok;
    }
    if (command == QLatin1String("drop")) {
        double percent = 0;
        if (arguments != 1 || !parseDouble(words[1], 0, 100, &percent))
            return error(QStringLiteral("usage: drop PERCENT (0 to 100)"));
        m_faults.setDropPercent(percent);
        return ok;
    }
    if (command == QLatin1String("timescale")) {
        double factor = 0;
        if (arguments != 1 || !parseDouble(words[1], 1e-3, 1e6, &factor))
            return error(QStringLiteral("usage: timescale FACTOR (0.001 to 1000000)"));
        m_model.advance(m_clock.takeElapsedSeconds());
        m_clock.setTimescale(factor);
        return ok;
    }
    return error(QStringLiteral("unknown command \"%1\"; commands: %2").arg(line.trimmed(), help()));
}
