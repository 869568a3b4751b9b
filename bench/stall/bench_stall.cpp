// GUI-thread stall of the main window: a 1 ms timer in the window's thread notes how long the
// event loop could not run, while the window refreshes a 48-channel module ("THM4805p") against
// mpod-sim under each network condition for the given time (default 30 s). Prints the longest
// gap, the 99.9th percentile and the ticks the window rendered.
#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"

#include "common/SimulatorProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Stall
{
    bool ok = false;
    double longestMs = 0.0;
    double p999Ms = 0.0;
    int frames = 0;
};

void runEvents(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
}

Stall measure(const QString& configPath, const QString& condition, int seconds)
{
    Stall result;
    SimulatorProcess simulator;
    if (!simulator.startForProgram(configPath))
        return result;
    {
        TesmarControl window;
        window.show();
        auto* table = window.findChild<ChannelTable*>(QStringLiteral("table"));
        QElapsedTimer wait;
        wait.start();
        while (!(table->rowCount() == 48 && table->item(47, ChannelTable::ColumnVoltageMeasure)) && wait.elapsed() < 10000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (!condition.isEmpty() && !simulator.command(condition))
            return result;

        int frames = 0;
        QObject::connect(window.findChild<QTimer*>(QStringLiteral("refreshTimer")), &QTimer::timeout, [&] { ++frames; });
        std::vector<double> gapsMs;
        QElapsedTimer clock;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            gapsMs.push_back(double(clock.nsecsElapsed()) / 1e6);
            clock.restart();
        });
        clock.start();
        probe.start();
        runEvents(seconds * 1000);
        probe.stop();
        std::sort(gapsMs.begin(), gapsMs.end());
        result.ok = !gapsMs.empty();
        if (result.ok) {
            result.longestMs = gapsMs.back();
            result.p999Ms = gapsMs[std::min(gapsMs.size() - 1, gapsMs.size() * 999 / 1000)];
        }
        result.frames = frames;
    }
    simulator.stop();
    return result;
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
    const int seconds = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 30;

    QTemporaryFile config;
    if (!config.open())
        return 1;
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THM4805p"}]})");
    config.close();

    std::printf("GUI-thread stall of the main window, 48-channel module THM4805p, mpod-sim on 127.0.0.1\n");
    std::printf("(%d s of refresh each; longest interval the event loop could not run)\n\n", seconds);
    std::printf("%-14s %12s %12s %10s\n", "crate", "longest ms", "99.9% ms", "frames");
    const struct
    {
        const char* name;
        const char* command;
    } conditions[] = {{"answering", ""}, {"delay 150", "delay 150"}, {"drop 30", "drop 30"}, {"silent", "silent on"}};
    for (const auto& condition : conditions) {
        const Stall stall = measure(config.fileName(), QString::fromLatin1(condition.command), seconds);
        if (!stall.ok) {
            std::printf("%-14s %12s\n", condition.name, "failed");
            continue;
        }
        std::printf("%-14s %12.1f %12.1f %10d\n", condition.name, stall.longestMs, stall.p999Ms, stall.frames);
        std::fflush(stdout);
    }
    return 0;
}
