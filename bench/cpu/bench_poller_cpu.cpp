// The refresh of a 10-module crate (48 channels each) with the overview open, as the window
// asks for it (every module's channels each tick, the shown module's values), against mpod-sim:
// - CPU time of the whole process per second of wall time (poller thread and library waits);
// - age of the shown module's channel values, sampled every 50 ms;
// quiet, with `delay 20`, `delay 150` and a silent crate.
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

    QTemporaryFile config;
    if (!config.open())
        return 1;
    QByteArray json = "{\"crate\": {\"bootDelayMs\": 0}, \"modules\": [";
    for (int slot = 0; slot < 10; ++slot)
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
    if (!session.connectTo(simulator.address()) || session.modules().size() != 10) {
        std::fprintf(stderr, "no 10-module crate found\n");
        return 1;
    }
    QObject overview;
    session.setCurrentModuleIndex(4);
    session.setNeeds(&overview, Poller::CurrentModuleChannels | Poller::CurrentModuleValues | Poller::AllModulesChannels);

    std::printf("10 modules x 48 channels, overview open, %d s per condition\n", seconds);
    std::printf("%-12s %14s %16s %16s\n", "condition", "CPU (% core)", "age median (ms)", "age p95 (ms)");
    const char* conditions[] = {"quiet", "delay 20", "delay 150", "silent on"};
    for (const char* condition : conditions) {
        if (QByteArray(condition) != "quiet")
            simulator.command(QString::fromLatin1(condition));
        runEvents(2000); // settle into the condition
        std::vector<double> ages;
        QElapsedTimer wall;
        wall.start();
        const double cpuStart = cpuSeconds();
        while (wall.elapsed() < seconds * 1000) {
            runEvents(50);
            const auto snapshot = session.poller()->moduleSnapshot(4);
            if (snapshot && snapshot->channelsReadAtMs >= 0)
                ages.push_back(double(ModuleSnapshot::nowMs() - snapshot->channelsReadAtMs));
        }
        const double cpu = 100.0 * (cpuSeconds() - cpuStart) / (double(wall.elapsed()) / 1000.0);
        std::printf("%-12s %14.1f %16.0f %16.0f\n", condition, cpu, percentile(ages, 0.5), percentile(ages, 0.95));
        simulator.command(QStringLiteral("delay 0"));
        simulator.command(QStringLiteral("silent off"));
        runEvents(3000);
    }
    session.release();
    simulator.stop();
    return 0;
}
