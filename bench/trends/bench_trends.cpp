// Channel trends:
// - memory of the history of one 48-channel module after 24 h (25 h fed) of reads every 200 ms
//   on simulated time: the bytes the history holds and the growth of the process's resident size;
// - repaint of the trends window for 16 channels over 1 h of reads every 200 ms: drawing the
//   charts from the history and rendering them, per frame;
// - with --screenshots DIR: the main window and the trends window against mpod-sim, a ramp and a
//   current alarm on a channel with a low load, saved as PNG files (run under Xvfb with
//   QT_QPA_PLATFORM=xcb for the pictures of the manual).
#include "app/DialogTrends.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"

#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"
#include "common/SimulatorProcess.h"
#include "device/ChannelHistory.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/TrendRecorder.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QSettings>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtCharts/QChart>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <vector>

namespace {

double residentMegabytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * 4096.0 / (1024.0 * 1024.0) : 0;
}

void runEventsFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
}

void measureMemory()
{
    constexpr int channels = 48;
    const double before = residentMegabytes();
    QElapsedTimer clock;
    clock.start();
    ChannelHistory history(channels);
    std::vector<float> voltages(channels);
    std::vector<float> currents(channels);
    const qint64 reads = 25LL * 3600 * 5;
    for (qint64 k = 0; k < reads; ++k) {
        for (int channel = 0; channel < channels; ++channel) {
            voltages[size_t(channel)] = 1000.0f + float((k + channel) % 7);
            currents[size_t(channel)] = 1e-4f + 1e-7f * float((k * 3 + channel) % 11);
        }
        history.append(k * 200, voltages.data(), currents.data());
    }
    const double feedSeconds = double(clock.elapsed()) / 1000.0;
    std::printf("history of 48 channels, 25 h of reads every 200 ms (simulated time):\n");
    std::printf("  held by the history: %.1f MB (%d reads at full rate, %d points of 10 s)\n",
        double(history.memoryBytes()) / (1024.0 * 1024.0), history.fullRateCount(), history.foldedCount());
    std::printf("  resident size grew by %.1f MB; feeding took %.1f s (%.2f us per read)\n", residentMegabytes() - before,
        feedSeconds, feedSeconds * 1e6 / double(reads));
}

// CPU time of the calling thread: on a busy machine the wall time also counts the waits for a
// core, this only what the frame itself costs.
double threadCpuMs()
{
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return double(now.tv_sec) * 1e3 + double(now.tv_nsec) / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void measureRepaint()
{
    constexpr int channels = 16;
    DeviceSession session(
        std::make_unique<MemoryControllerFactory>([] { return QVector<MemoryModule*>{new MemoryModule(channels)}; }));
    TrendRecorder recorder(&session);
    session.connectTo(QStringLiteral("memory"));
    BaseModule* module = session.currentModule();
    // One hour of reads every 200 ms before now, recorded before the poller's first read.
    ModuleSnapshot snapshot;
    snapshot.moduleIndex = 0;
    snapshot.serialNumber = module->serialNumber();
    snapshot.voltageUnit = module->voltageUnit(0);
    snapshot.currentUnit = module->currentUnit(0);
    snapshot.channels.resize(channels);
    const qint64 now = ModuleSnapshot::nowMs();
    for (qint64 atMs = now - 3600000; atMs < now; atMs += 200) {
        for (int channel = 0; channel < channels; ++channel) {
            ChannelReading& reading = snapshot.channels[channel];
            const double phase = double(atMs) / 60000.0 + channel;
            reading.voltageMeasure = float(500 + 50 * channel + 20 * std::sin(phase));
            reading.currentMeasure = float(0.05 + 0.01 * channel + 0.005 * std::sin(3 * phase));
            reading.complete = true;
        }
        snapshot.channelsReadAtMs = atMs;
        recorder.record(0, snapshot);
    }
    QWidget parent;
    DialogTrends window(&session, &recorder, &parent);
    window.resize(1100, 700);
    window.show();
    window.setSpanMs(3600000);
    for (int channel = 0; channel < channels; ++channel)
        window.setChannelShown(channel, true);
    runEventsFor(300);
    QWidget* charts = window.findChild<QWidget*>(QStringLiteral("trendCharts"));
    std::vector<double> updateMs;
    std::vector<double> frameMs;
    std::vector<double> updateCpuMs;
    std::vector<double> frameCpuMs;
    for (int frame = 0; frame < 40; ++frame) {
        QElapsedTimer clock;
        clock.start();
        const double cpuStart = threadCpuMs();
        window.updateCharts();
        const double updated = double(clock.nsecsElapsed()) / 1e6;
        const double updatedCpu = threadCpuMs() - cpuStart;
        const QPixmap pixmap = charts->grab();
        frameMs.push_back(double(clock.nsecsElapsed()) / 1e6);
        frameCpuMs.push_back(threadCpuMs() - cpuStart);
        updateMs.push_back(updated);
        updateCpuMs.push_back(updatedCpu);
    }
    std::printf(
        "trends window, 16 channels over 1 h (18,000 reads each), %dx%d charts:\n", charts->width(), charts->height());
    std::printf("  points drawn per frame: %d (voltage and current)\n", window.drawnPoints());
    std::printf("  update from the history: median %.2f ms, max %.2f ms\n", median(updateMs),
        *std::max_element(updateMs.begin(), updateMs.end()));
    std::printf("  update and render (one frame): median %.2f ms, max %.2f ms\n", median(frameMs),
        *std::max_element(frameMs.begin(), frameMs.end()));
    std::printf("  CPU time of the GUI thread: update median %.2f ms, frame median %.2f ms, max %.2f ms\n",
        median(updateCpuMs), median(frameCpuMs), *std::max_element(frameCpuMs.begin(), frameCpuMs.end()));
}

int takeScreenshots(const QString& directory)
{
    QTemporaryFile config;
    if (!config.open())
        return 1;
    // 80 V/s: the channels ramp to 1000 V within the shown minute; channel 2 on 1 MOhm draws
    // 1 mA at 1000 V, the others 0.1 mA.
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THE1640p", "channels": 8,
        "serialNumber": 4711001, "rampSpeed": 2, "load": [10e6, 10e6, 1e6, 10e6, 10e6, 10e6, 10e6, 10e6]}]})");
    config.close();
    SimulatorProcess simulator;
    if (!simulator.startForProgram(config.fileName()))
        return 1;
    {
        QSettings limits(QSettings::IniFormat, QSettings::UserScope, QStringLiteral("Tesmar"), QStringLiteral("alarms"));
        limits.clear();
        for (int channel = 0; channel < 4; ++channel) {
            limits.setValue(QStringLiteral("4711001/channel%1/currentLimitAmperes").arg(channel), 0.5e-3);
            limits.setValue(QStringLiteral("4711001/channel%1/holdTimeMs").arg(channel), 3000);
        }
    }
    TesmarControl window;
    window.resize(900, 620);
    window.show();
    runEventsFor(1500);
    BaseModule* module = window.currentModule();
    if (!module)
        return 1;
    runEventsFor(4000); // a flat start
    for (int channel = 0; channel < 4; ++channel) {
        module->setChannelVoltageSet(channel, 1000.0f - 200.0f * float(channel == 3));
        module->setChannelOn(channel);
    }
    runEventsFor(22000);
    window.findChild<QAction*>(QStringLiteral("actionTrends"))->trigger();
    auto* trends = window.findChild<DialogTrends*>();
    trends->resize(1100, 640);
    trends->setSpanMs(60000);
    for (int channel = 4; channel < 8; ++channel)
        trends->setChannelShown(channel, false);
    runEventsFor(2500);
    trends->updateCharts();
    runEventsFor(300);
    const bool saved = trends->grab().save(directory + QStringLiteral("/trends.png"))
        && window.grab().save(directory + QStringLiteral("/main-window-alarm.png"));
    std::printf("%s %s/trends.png and %s/main-window-alarm.png\n", saved ? "saved" : "could not save", qPrintable(directory),
        qPrintable(directory));
    return saved ? 0 : 1;
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
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() == 3 && arguments.at(1) == QLatin1String("--screenshots"))
        return takeScreenshots(arguments.at(2));
    measureMemory();
    measureRepaint();
    return 0;
}
