// The main window's refresh of a 48-channel module ("THM4805p") against mpod-sim:
// - SNMP requests per 200 ms tick the background poller serves for what the window shows (the
//   simulator reports its served requests when it stops; start-up is subtracted);
// - time the GUI thread spends rendering one tick from the latest snapshot;
// - read cycle time: from Poller::refreshNow to the publication of the module's snapshot, with
//   the crate answering at once and with `delay 150`.
#include "app/ChannelTable.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"

#include "common/SimulatorProcess.h"
#include "device/DeviceSession.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

struct Run
{
    qint64 requests = -1;
    std::vector<double> renderMs;
    std::vector<double> cycleMs;
};

bool runEventsUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

// Runs the window for `seconds`; optionally times renders and read cycles afterwards.
Run run(const QString& configPath, int seconds, const QString& condition, bool timeRenders, bool timeCycles)
{
    Run result;
    SimulatorProcess simulator;
    if (!simulator.startForProgram(configPath))
        return result;
    {
        TesmarControl window;
        window.show();
        if (!condition.isEmpty())
            simulator.command(condition);
        runEventsUntil([] { return false; }, seconds * 1000);
        Poller* poller = window.deviceSession()->poller();
        if (timeRenders) {
            QElapsedTimer clock;
            for (int tick = 0; tick < 200; ++tick) {
                clock.start();
                window.refreshChannelTable();
                result.renderMs.push_back(double(clock.nsecsElapsed()) / 1e6);
            }
        }
        if (timeCycles && poller) {
            int published = 0;
            QObject::connect(poller, &Poller::modulePublished, &window, [&](int index) {
                if (index == 0)
                    ++published;
            });
            for (int sample = 0; sample < 20; ++sample) {
                // From the end of one cycle: the requested read starts at once.
                const int before = published;
                if (!runEventsUntil([&] { return published > before; }, 5000))
                    break;
                const int started = published;
                QElapsedTimer clock;
                clock.start();
                poller->refreshNow(0);
                if (!runEventsUntil([&] { return published > started; }, 5000))
                    break;
                result.cycleMs.push_back(double(clock.nsecsElapsed()) / 1e6);
            }
        }
    }
    simulator.stop();
    result.requests = simulator.servedRequests();
    return result;
}

double mean(const std::vector<double>& values)
{
    double sum = 0.0;
    for (double value : values)
        sum += value;
    return values.empty() ? 0.0 : sum / double(values.size());
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0.0 : values[values.size() / 2];
}

double largest(const std::vector<double>& values)
{
    return values.empty() ? 0.0 : *std::max_element(values.begin(), values.end());
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

    QTemporaryFile config;
    if (!config.open())
        return 1;
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THM4805p"}]})");
    config.close();

    constexpr int seconds = 10;
    const Run base = run(config.fileName(), 1, QString(), false, false);
    const Run steady = run(config.fileName(), 1 + seconds, QString(), false, false);
    const Run timed = run(config.fileName(), 2, QString(), true, true);
    const Run slow = run(config.fileName(), 2, QStringLiteral("delay 150"), false, true);
    if (base.requests < 0 || steady.requests < 0 || timed.requests < 0 || slow.requests < 0)
        return 1;

    std::printf("Refresh of the main window, 48-channel module THM4805p, mpod-sim on 127.0.0.1\n\n");
    const double ticks = seconds * 1000.0 / 200.0;
    std::printf("requests per 200 ms tick (current module, module values, connection): %.2f\n",
        double(steady.requests - base.requests) / ticks);
    std::printf("render one tick from the snapshot (GUI thread): mean %.3f ms, median %.3f ms, max %.3f ms\n",
        mean(timed.renderMs), median(timed.renderMs), largest(timed.renderMs));
    std::printf("read cycle, crate answering at once: median %.1f ms, max %.1f ms (%zu samples)\n", median(timed.cycleMs),
        largest(timed.cycleMs), timed.cycleMs.size());
    std::printf("read cycle, crate with delay 150:    median %.1f ms, max %.1f ms (%zu samples)\n", median(slow.cycleMs),
        largest(slow.cycleMs), slow.cycleMs.size());
    std::printf("\nstart-up and one second of refresh: %lld requests\n", static_cast<long long>(base.requests));
    return 0;
}
