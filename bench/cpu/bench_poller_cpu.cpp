// The refresh of a crate of 48-channel modules as the window asks for it, against mpod-sim: by
// default 10 modules with the overview open (every module's channels each tick, the shown
// module's values). Arguments: SECONDS per condition, MODULES (1..10), "no-overview" (or "overview"), and a word that picks
// the conditions to run (e.g. "drop").
// - CPU time of the whole process per second of wall time (poller thread and library waits);
// - age of the shown module's channel values, sampled every 50 ms (over 2000 ms the window
//   would show "---");
// quiet, with `delay 20`, `delay 150`, 30% loss with `delay 150`, and a silent crate.
#include "common/SimulatorProcess.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/SnmpControllerFactory.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// Runs the event loop for `ms` without spinning (the measured CPU is the refresh's own).
void runEvents(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return -1;
    std::sort(values.begin(), values.end());
    return values[std::min(values.size() - 1, size_t(p * double(values.size())))];
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(2, atoi(argv[1])) : 20;
    const int moduleCount = argc > 2 ? std::clamp(atoi(argv[2]), 1, 10) : 10;
    const bool overview = !(argc > 3 && QByteArray(argv[3]) == "no-overview");
    // A fourth argument runs only the conditions that contain it (e.g. "drop").
    const QByteArray only = argc > 4 ? QByteArray(argv[4]) : QByteArray();

    QTemporaryFile config;
    if (!config.open())
        return 1;
    QByteArray json = "{\"crate\": {\"bootDelayMs\": 0}, \"modules\": [";
    for (int slot = 0; slot < moduleCount; ++slot)
        json += QByteArray(slot ? "," : "") + "{\"slot\": " + QByteArray::number(slot) + ", \"type\": \"THM4805p\"}";
    json += "]}";
    config.write(json);
    config.close();

    SimulatorProcess simulator;
    simulator.setConfigFile(config.fileName());
    if (!simulator.start()) {
        std::fprintf(stderr, "mpod-sim did not start\n%s\n", qPrintable(simulator.output()));
        return 1;
    }
    DeviceSession session(std::make_unique<SnmpControllerFactory>());
    if (!session.connectTo(simulator.address()) || session.modules().size() != moduleCount) {
        std::fprintf(stderr, "no %d-module crate found\n", moduleCount);
        return 1;
    }
    const int shown = moduleCount / 2;
    session.setCurrentModuleIndex(shown);
    QObject window;
    session.setNeeds(&window,
        Poller::CurrentModuleChannels | Poller::CurrentModuleValues
            | (overview ? Poller::AllModulesChannels : Poller::Needs()));

    std::printf(
        "%d modules x 48 channels, overview %s, %d s per condition\n", moduleCount, overview ? "open" : "closed", seconds);
    std::printf(
        "%-22s %12s %12s %12s %12s %12s\n", "condition", "CPU (% core)", "age median", "age p95", "age max", "over 2000");
    const char* conditions[] = {"quiet", "delay 20", "delay 150", "drop 30,delay 150", "silent on"};
    for (const char* condition : conditions) {
        if (!only.isEmpty() && !QByteArray(condition).contains(only))
            continue;
        if (QByteArray(condition) != "quiet") {
            for (const QString& command : QString::fromLatin1(condition).split(QLatin1Char(',')))
                simulator.command(command);
        }
        runEvents(2000); // settle into the condition
        std::vector<double> ages;
        QElapsedTimer wall;
        wall.start();
        const double cpuStart = cpuSeconds();
        while (wall.elapsed() < seconds * 1000) {
            runEvents(50);
            const auto snapshot = session.poller()->moduleSnapshot(shown);
            if (snapshot && snapshot->channelsReadAtMs >= 0)
                ages.push_back(double(ModuleSnapshot::nowMs() - snapshot->channelsReadAtMs));
        }
        const double cpu = 100.0 * (cpuSeconds() - cpuStart) / (double(wall.elapsed()) / 1000.0);
        // The share of the samples the window would have shown as "---".
        const double stale = ages.empty() ? 0.0 : 100.0 * double(std::count_if(ages.begin(), ages.end(), [](double age) {
            return age > double(ModuleSnapshot::freshForMs);
        })) / double(ages.size());
        std::printf("%-22s %12.1f %12.0f %12.0f %12.0f %11.1f%%\n", condition, cpu, percentile(ages, 0.5),
            percentile(ages, 0.95), percentile(ages, 1.0), stale);
        simulator.command(QStringLiteral("delay 0"));
        simulator.command(QStringLiteral("drop 0"));
        simulator.command(QStringLiteral("silent off"));
        runEvents(3000);
    }
    session.release();
    simulator.stop();
    return 0;
}
