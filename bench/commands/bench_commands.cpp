// Commands from the main window against mpod-sim: for one typed set value, one channel switched on
// and "Set All On" of a 48-channel module (THM4805p) under `delay 150`, `drop 30` and a silent
// crate, the time until the command's outcome is shown and the longest interval the window's
// event loop could not run meanwhile (a 1 ms timer in the GUI thread); "Set All On" repeated
// under `delay 150` (in round trips) and `drop 30`. Then connecting to a crate
// of 10 modules under `delay 150`: the window's stall and the time until the list is full.
#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"
#include "common/StallProbe.h"

#include "common/SimulatorProcess.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

// Runs events until `done` or `timeoutMs`; the elapsed time, -1 on time-out.
double waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return -1.0;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    }
    return double(clock.nsecsElapsed()) / 1e6;
}

void runEvents(int ms)
{
    waitFor([] { return false; }, ms);
}

QString writeConfig(QTemporaryFile& file, const QByteArray& modules)
{
    if (!file.open())
        return QString();
    file.write(R"({"crate": {"bootDelayMs": 0}, "modules": )" + modules + "}");
    file.close();
    return file.fileName();
}

// Shows the window and waits until it shows the 48-channel module's readings.
bool showsModule(TesmarControl& window, const char* name)
{
    window.show();
    auto* table = window.findChild<ChannelTable*>(QStringLiteral("table"));
    if (waitFor([&] { return table->rowCount() == 48 && table->item(47, ChannelTable::ColumnVoltageMeasure); }, 10000) < 0) {
        std::printf("%-10s no module shown\n", name);
        return false;
    }
    return true;
}

void measureCommands(const QString& configPath, const char* name, const char* command)
{
    SimulatorProcess simulator;
    if (!simulator.startForProgram(configPath)) {
        std::printf("%-10s simulator did not start\n", name);
        return;
    }
    TesmarControl window;
    if (!showsModule(window, name))
        return;
    auto* table = window.findChild<ChannelTable*>(QStringLiteral("table"));
    table->setCurrentCell(2, 0);
    runEvents(500);
    if (!simulator.command(QString::fromLatin1(command)))
        return;
    const struct
    {
        const char* name;
        std::function<void()> send;
    } commands[] = {
        {"set value", [&] { window.tableCellDataChanged(2, ChannelTable::ColumnVoltageSet, QStringLiteral("10")); }},
        {"switch on", [&] { window.findChild<QAction*>(QStringLiteral("actionSetChannelOn"))->trigger(); }},
        {"all on (48)", [&] { window.findChild<QAction*>(QStringLiteral("actionSetAllChannelsOn"))->trigger(); }},
    };
    for (const auto& each : commands) {
        StallProbe stall;
        stall.start();
        QElapsedTimer clock;
        clock.start();
        each.send();
        const double sendMs = double(clock.nsecsElapsed()) / 1e6;
        const double latencyMs = waitFor([&] { return window.commandsInFlight() == 0; }, 180000);
        const double stallMs = stall.stop();
        std::printf("%-10s %-12s %12.0f %12.1f %12.1f\n", name, each.name, latencyMs, std::max(stallMs, sendMs), sendMs);
        std::fflush(stdout);
    }
    simulator.stop();
}

// "Set All On" of the 48-channel module, repeated (with "Set All Off" between): median and
// longest latency until the outcome is shown, and at `delay 150` that in round trips. The
// longest includes waiting for a refresh read already in flight when the command was given.
void measureSetAllOn(const QString& configPath, const char* name, const char* command, double roundTripMs)
{
    SimulatorProcess simulator;
    if (!simulator.startForProgram(configPath)) {
        std::printf("%-10s simulator did not start\n", name);
        return;
    }
    TesmarControl window;
    if (!showsModule(window, name))
        return;
    runEvents(500);
    if (!simulator.command(QString::fromLatin1(command)))
        return;
    auto* allOn = window.findChild<QAction*>(QStringLiteral("actionSetAllChannelsOn"));
    auto* allOff = window.findChild<QAction*>(QStringLiteral("actionSetAllChannelsOff"));
    std::vector<double> latencies;
    for (int round = 0; round < 9; ++round) {
        allOff->trigger();
        if (waitFor([&] { return window.commandsInFlight() == 0; }, 60000) < 0)
            break;
        // The operator clicks at some moment of the window's refresh cycle, not right when the
        // read after the previous command is in flight: the pause varies from round to round.
        runEvents(300 + round * 97);
        allOn->trigger();
        const double latencyMs = waitFor([&] { return window.commandsInFlight() == 0; }, 60000);
        if (latencyMs < 0)
            break;
        latencies.push_back(latencyMs);
    }
    if (latencies.empty()) {
        std::printf("%-10s Set All On 48 channels: no outcome\n", name);
        return;
    }
    std::sort(latencies.begin(), latencies.end());
    const double median = latencies[latencies.size() / 2];
    std::printf("%-10s Set All On 48 channels: median %.0f ms, max %.0f ms over %zu runs", name, median, latencies.back(),
        latencies.size());
    if (roundTripMs > 0)
        std::printf(" = %.2f round trips of %.0f ms (median)", median / roundTripMs, roundTripMs);
    std::printf("\n");
    std::fflush(stdout);
    simulator.stop();
}

void measureConnect(const QString& configPath)
{
    SimulatorProcess simulator;
    if (!simulator.startForProgram(configPath) || !simulator.command(QStringLiteral("delay 150"))) {
        std::printf("connect: simulator did not start\n");
        return;
    }
    StallProbe stall;
    stall.start();
    QElapsedTimer clock;
    clock.start();
    TesmarControl window;
    window.show();
    auto* list = window.findChild<QListWidget*>(QStringLiteral("lstModules"));
    const double fullMs = waitFor([&] { return list->count() == 10; }, 60000);
    const double totalMs = double(clock.nsecsElapsed()) / 1e6;
    const double stallMs = stall.stop();
    std::printf("connect, 10 modules, delay 150: list full after %.0f ms, longest GUI stall %.1f ms\n",
        fullMs < 0 ? -1.0 : totalMs, stallMs);
    simulator.stop();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("MIBS", "");
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    ScriptedDialogs dialogs; // No to every question, the stored crate address taken as it is
    UserDialogs::setStartupOverride(&dialogs);

    QTemporaryFile oneModule;
    const QString oneModulePath = writeConfig(oneModule, R"([{"slot": 0, "type": "THM4805p"}])");
    QByteArray ten = "[";
    for (int slot = 0; slot < 10; ++slot)
        ten += QByteArray(slot ? ", " : "") + R"({"slot": )" + QByteArray::number(slot) + R"(, "type": "THE1640p"})";
    ten += "]";
    QTemporaryFile tenModules;
    const QString tenModulesPath = writeConfig(tenModules, ten);
    if (oneModulePath.isEmpty() || tenModulesPath.isEmpty())
        return 1;

    std::printf("Commands from the main window, 48-channel module THM4805p, mpod-sim on 127.0.0.1\n");
    std::printf("(latency: until the outcome is shown; stall: longest interval the event loop could not run)\n\n");
    std::printf("%-10s %-12s %12s %12s %12s\n", "crate", "command", "latency ms", "stall ms", "send ms");
    const struct
    {
        const char* name;
        const char* command;
    } conditions[] = {{"delay 150", "delay 150"}, {"drop 30", "drop 30"}, {"silent", "silent on"}};
    for (const auto& condition : conditions)
        measureCommands(oneModulePath, condition.name, condition.command);
    std::printf("\n");
    measureSetAllOn(oneModulePath, "delay 150", "delay 150", 150.0);
    measureSetAllOn(oneModulePath, "drop 30", "drop 30", 0.0);
    std::printf("\n");
    measureConnect(tenModulesPath);
    return 0;
}
