// Scripts under load.
//
// 1. Print flood: the script console runs `for (;;) script.print(...)` for SECONDS (default 10)
//    while a 1 ms timer in the GUI thread notes how long the event loop could not run; then Stop.
//    Prints the longest gap and its 99.9th percentile, the console's own time per batch, the time
//    from Stop to the script's end,
//    the lines printed, and the resident memory (peak, and at start and end of the flood).
// 2. Reads: a script reads the measured voltage of all 48 channels of a THM4805p module that is
//    not the current (polled) module, 20 rounds after a pause longer than the poller's tick.
//    Prints the time per read and the age of the values (the time from the start of the round's
//    block read to the end of its 48th read: no value of the round is older).
#include "common/MemoryModule.h"
#include "common/SimulatorProcess.h"
#include "device/DeviceSession.h"
#include "device/Poller.h"
#include "device/SnmpControllerFactory.h"
#include "scripting/DialogScriptConsole.h"
#include "scripting/ScriptRunner.h"
#include "scripting/ScriptThread.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryFile>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

namespace {

double residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/statm"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> fields = status.readAll().split(' ');
    return fields.size() > 1 ? fields.at(1).toDouble() * 4096.0 / (1024.0 * 1024.0) : -1;
}

double peakMegabytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_maxrss) / 1024.0;
}

// The longest gap and the 99.9th percentile of a 1 ms timer in this thread while `run` is true.
std::pair<double, double> stallWhile(const std::function<bool()>& run, size_t* ticks)
{
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
    while (run())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    std::sort(gapsMs.begin(), gapsMs.end());
    *ticks = gapsMs.size();
    if (gapsMs.empty())
        return {0, 0};
    return {gapsMs.back(), gapsMs.at(size_t(double(gapsMs.size() - 1) * 0.999))};
}

// The same probe while a script only waits: what the machine itself costs the GUI thread.
void baseline()
{
    ScriptThread thread;
    thread.setScript(QStringLiteral("script.delay(600000)"));
    thread.runOn(std::make_shared<MemoryModule>(8));
    QElapsedTimer run;
    run.start();
    size_t ticks = 0;
    const auto [longest, p999] = stallWhile([&run] { return run.elapsed() < 3000; }, &ticks);
    thread.stopScript();
    thread.wait();
    std::printf("baseline, a script waiting for 3 s: GUI-thread stall longest %.1f ms, 99.9th percentile %.1f ms (%zu "
                "probe ticks)\n",
        longest, p999, ticks);
}

void printFlood(int seconds)
{
    DialogScriptConsole console;
    console.show();
    ScriptThread thread;
    // The console's own time per batch: timed around its slot (slots run in connection order).
    QElapsedTimer batchClock;
    std::vector<double> batchMs;
    QObject::connect(&thread, &ScriptThread::scriptOutput, [&batchClock] { batchClock.start(); });
    QObject::connect(&thread, &ScriptThread::scriptOutput, &console, &DialogScriptConsole::scriptOutput);
    QObject::connect(&thread, &ScriptThread::scriptOutput,
        [&batchClock, &batchMs] { batchMs.push_back(double(batchClock.nsecsElapsed()) / 1e6); });
    qint64 lines = 0;
    QObject::connect(&thread, &ScriptThread::scriptOutput,
        [&lines](const QStringList& batch, qint64 dropped) { lines += batch.size() + dropped; });
    thread.setScript(
        QStringLiteral("var i = 0; for (;;) script.print('line ' + i++ + ' of a script that prints without pause')"));
    const double startMegabytes = residentMegabytes();
    double highestMegabytes = startMegabytes;

    QTimer memory;
    memory.setInterval(100);
    QObject::connect(&memory, &QTimer::timeout, [&] { highestMegabytes = std::max(highestMegabytes, residentMegabytes()); });

    thread.runOn(std::make_shared<MemoryModule>(8));
    memory.start();
    QElapsedTimer run;
    run.start();
    size_t ticks = 0;
    const auto [longest, p999] = stallWhile([&run, seconds] { return run.elapsed() < seconds * 1000; }, &ticks);
    const double floodMegabytes = residentMegabytes();
    QElapsedTimer stop;
    stop.start();
    thread.stopScript();
    while (thread.isRunning())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
    const double stopMs = double(stop.nsecsElapsed()) / 1e6;
    QCoreApplication::processEvents();
    memory.stop();

    std::printf("print flood, %d s: GUI-thread stall longest %.1f ms, 99.9th percentile %.1f ms (%zu probe ticks)\n",
        seconds, longest, p999, ticks);
    std::sort(batchMs.begin(), batchMs.end());
    double batchTotalMs = 0;
    for (double ms : batchMs)
        batchTotalMs += ms;
    if (!batchMs.empty())
        std::printf("  console time per batch: mean %.2f ms, longest %.2f ms (%zu batches)\n",
            batchTotalMs / double(batchMs.size()), batchMs.back(), batchMs.size());
    std::printf("  Stop to the script's end: %.1f ms; lines printed %lld, shown %d\n", stopMs, (long long)lines,
        int(console.outputText().count(QLatin1Char('\n')) + 1));
    std::printf("  resident memory: %.1f MB before, %.1f MB highest during, %.1f MB at Stop; process peak %.1f MB\n",
        startMegabytes, highestMegabytes, floodMegabytes, peakMegabytes());
}

void channelReads()
{
    QTemporaryFile config;
    if (!config.open())
        return;
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THE1640p"},
        {"slot": 1, "type": "THM4805p"}]})");
    config.close();
    SimulatorProcess simulator;
    simulator.setConfigFile(config.fileName());
    if (!simulator.start()) {
        std::printf("reads: the simulator did not start\n");
        return;
    }
    simulator.command(QStringLiteral("noise off"));
    simulator.exportLibraryEnvironment();
    DeviceSession session(std::make_unique<SnmpControllerFactory>());
    if (!session.connectTo(simulator.address()) || session.modules().size() < 2) {
        std::printf("reads: the crate did not answer\n");
        return;
    }
    // The window shows slot 0; the script acts on slot 1, which the poller only probes.
    session.setCurrentModuleIndex(0);
    QObject window; // what the window needs: the current module's table and values
    session.setNeeds(&window, Poller::CurrentModuleChannels | Poller::CurrentModuleValues);
    ScriptRunner runner;
    const ScriptRunner::SnapshotSource snapshots = [poller = session.poller()] { return poller->moduleSnapshot(1); };
    runner.setSnapshotSource(snapshots);
    runner.setWatch(ScriptRunner::answerWatch(snapshots));
    QStringList lines;
    QObject::connect(&runner, &ScriptRunner::message, [&lines](const QString& line) { lines.append(line); });
    runner.run(QStringLiteral(R"(
        var perRead = [], ages = [], first = [];
        for (var round = 0; round < 20; ++round) {
            script.delay(250);
            var start = Date.now();
            for (var c = 0; c < 48; ++c) {
                var t = Date.now();
                mod.channelVoltageMeasure(c);
                perRead.push(Date.now() - t);
            }
            first.push(perRead[perRead.length - 48]);
            ages.push(Date.now() - start);
        }
        function mean(a) { return a.reduce(function (s, x) { return s + x; }, 0) / a.length; }
        [mean(perRead).toFixed(3), Math.max.apply(null, perRead), mean(first).toFixed(1), Math.max.apply(null, ages),
         mean(ages).toFixed(1)].join(" "))"),
        session.sharedModule(1).get());
    const QStringList figures = lines.value(lines.size() - 1).section(QLatin1Char(' '), -5).split(QLatin1Char(' '));
    if (figures.size() != 5) {
        std::printf("reads: %s\n", qPrintable(lines.join(QLatin1Char('|'))));
        return;
    }
    std::printf("48 channels' measured voltage of a module not shown, 20 rounds: %s ms per read on average "
                "(longest %s ms; the round's first read, one block read of all channels, %s ms on average)\n",
        qPrintable(figures.at(0)), qPrintable(figures.at(1)), qPrintable(figures.at(2)));
    std::printf("  age of the values: at most %s ms (mean %s ms) from the start of their block read to the round's end\n",
        qPrintable(figures.at(3)), qPrintable(figures.at(4)));
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    baseline();
    printFlood(seconds);
    channelReads();
    return 0;
}
