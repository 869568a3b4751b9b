// One refresh tick of the main window for a 48-channel module ("THM4805p") against mpod-sim:
// wall time per tick and the SNMP requests the simulator served for it.
//
// The window's refresh timer is stopped right after construction, before the event loop could
// fire it, and the ticks are driven by hand; events are not processed in between, so the
// chained module-level refresh never runs and every run serves a known number of requests.
// Requests per tick are differences between runs with different tick counts (the simulator
// reports its served requests when it stops).
#include "app/TesmarControl.h"
#include "app/UserDialogs.h"

#include "common/SimulatorProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

class AcceptingDialogs : public UserDialogs
{
public:
    bool getAddress(QWidget*, const QString&, const QString&, QString*) override { return true; }
};

struct Run
{
    qint64 requests = -1;
    std::vector<double> tickMs; // one entry per measured tick
};

// Warm-up tick: connection check, table set-up for the module, first channel reads.
Run runTicks(const QString& configPath, int measuredTicks)
{
    Run run;
    SimulatorProcess simulator;
    simulator.setConfigFile(configPath);
    if (!simulator.start()) {
        std::fprintf(stderr, "mpod-sim did not start:\n%s\n", qPrintable(simulator.output()));
        return run;
    }
    simulator.exportLibraryEnvironment();
    {
        QSettings settings(
            QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("tesmarcontrol"));
        settings.setValue(QStringLiteral("IpAddress"), simulator.host());
    }
    {
        TesmarControl window;
        if (auto* timer = window.findChild<QTimer*>(QStringLiteral("refreshTimer")))
            timer->stop();
        window.refreshChannelTable();
        QElapsedTimer clock;
        for (int tick = 0; tick < measuredTicks; ++tick) {
            clock.start();
            window.refreshChannelTable();
            run.tickMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        }
    }
    simulator.stop();
    run.requests = simulator.servedRequests();
    return run;
}

double mean(const std::vector<double>& values)
{
    if (values.empty())
        return 0.0;
    double sum = 0.0;
    for (double value : values)
        sum += value;
    return sum / double(values.size());
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("MIBS", "");
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    AcceptingDialogs dialogs;
    UserDialogs::setStartupOverride(&dialogs);

    QTemporaryFile config;
    if (!config.open())
        return 1;
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THM4805p"}]})");
    config.close();

    // After the warm-up tick the crate and connection check runs again on the 5th tick.
    const Run base = runTicks(config.fileName(), 0);
    const Run ordinary = runTicks(config.fileName(), 4);
    const Run withCheck = runTicks(config.fileName(), 5);
    const Run many = runTicks(config.fileName(), 200);
    if (base.requests < 0 || ordinary.requests < 0 || withCheck.requests < 0 || many.requests < 0)
        return 1;

    std::vector<double> ordinaryMs;
    std::vector<double> checkMs;
    for (std::size_t tick = 0; tick < many.tickMs.size(); ++tick)
        ((tick + 1) % 5 == 0 ? checkMs : ordinaryMs).push_back(many.tickMs[tick]);
    std::vector<double> sorted = ordinaryMs;
    std::sort(sorted.begin(), sorted.end());
    const double median = sorted.empty() ? 0.0 : sorted[sorted.size() / 2];
    const double worst = sorted.empty() ? 0.0 : sorted.back();

    std::printf("Refresh tick of the main window, 48-channel module THM4805p, mpod-sim on 127.0.0.1\n");
    std::printf("(%zu ticks timed; every 5th tick also checks the crate and the connection)\n\n", many.tickMs.size());
    std::printf("%-34s %10s %10s %10s %10s\n", "tick", "requests", "mean ms", "median ms", "max ms");
    std::printf("%-34s %10.1f %10.3f %10.3f %10.3f\n", "channel table only", double(ordinary.requests - base.requests) / 4.0,
        mean(ordinaryMs), median, worst);
    std::sort(checkMs.begin(), checkMs.end());
    std::printf("%-34s %10lld %10.3f %10.3f %10.3f\n", "with crate/connection check",
        static_cast<long long>(withCheck.requests - ordinary.requests), mean(checkMs),
        checkMs.empty() ? 0.0 : checkMs[checkMs.size() / 2], checkMs.empty() ? 0.0 : checkMs.back());
    std::printf(
        "%-34s %10.2f %10.3f\n", "average over 200 ticks", double(many.requests - base.requests) / 200.0, mean(many.tickMs));
    std::printf("\nstart-up (discovery, first tick): %lld requests\n", static_cast<long long>(base.requests));
    return 0;
}
