// Prints what one refresh of a module's six per-channel quantities costs through the block
// entries one after the other, through getChannelBlock (all requests in flight together) and
// through one GET per value (requests counted by the simulator), on loopback and with every
// answer 150 ms late, and how long a call to a silent crate blocks its caller.
#include "common/SimulatorProcess.h"

#include "WienerSnmp.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include <cstdio>

namespace {

constexpr int refreshes = 40;

struct Figures
{
    double requestsPerRefresh = 0;
    double msPerRefresh = 0;
    bool complete = true;
};

// One refresh of the module at `first` with `n` channels: status, switch, set and measured
// voltage, set and measured current.
bool blockRefresh(HSNMP h, int first, int n)
{
    bool ok = true;
    ok = getMultipleChannelStatuses(h, first, n)->count == n && ok;
    ok = getMultipleOutputSwitches(h, first, n)->count == n && ok;
    ok = getMultipleOutputVoltages(h, first, n)->count == n && ok;
    ok = getMultipleMeasurementTerminalVoltages(h, first, n)->count == n && ok;
    ok = getMultipleOutputCurrents(h, first, n)->count == n && ok;
    ok = getMultipleMeasurementCurrents(h, first, n)->count == n && ok;
    return ok;
}

// The same six quantities with every request in flight together.
bool togetherRefresh(HSNMP h, int first, int n)
{
    SnmpChannelBlock block;
    block.which = WIENER_BLOCK_STATUS | WIENER_BLOCK_SWITCH | WIENER_BLOCK_VOLTAGE | WIENER_BLOCK_CURRENT
        | WIENER_BLOCK_MEASURED_VOLTAGE | WIENER_BLOCK_MEASURED_CURRENT;
    return getChannelBlock(h, first, n, &block) == n;
}

// The same values one GET each, plus one read that tells whether the crate still answered.
bool singleRefresh(HSNMP h, int first, int n)
{
    for (int i = first; i < first + n; ++i) {
        getChannelStatus(h, i);
        getChannelSwitch(h, i);
        getOutputVoltage(h, i);
        getOutputTerminalMeasurement(h, i);
        getOutputCurrent(h, i);
        getCurrentMeasurement(h, i);
    }
    return getOutputNumber(h) > 0;
}

bool startSimulator(SimulatorProcess& simulator, const QString& config)
{
    simulator.setConfigFile(config);
    return simulator.start();
}

bool waitForCrate(HSNMP h)
{
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 15000) {
        const char* serial = getPsSerialNumber(h);
        if (serial && *serial)
            return true;
        QThread::msleep(100);
    }
    return false;
}

enum class Access { Block, Together, Single };

const char* accessName(Access access)
{
    switch (access) {
    case Access::Block:
        return "block entries, one after the other";
    case Access::Together:
        return "getChannelBlock, requests in flight together";
    default:
        return "one GET per value (+1 check)";
    }
}

// Fresh simulator per measurement, so that its served count is ours alone. `delayMs`: every
// answer that late (the simulator's network delay).
Figures measure(const QString& config, int first, int n, Access access, int delayMs = 0, int count = refreshes)
{
    Figures figures;
    SimulatorProcess simulator;
    if (!startSimulator(simulator, config)) {
        figures.complete = false;
        return figures;
    }
    HSNMP h = snmpOpen(simulator.address().toLatin1().constData());
    if (!h || !waitForCrate(h) || !simulator.command(QStringLiteral("delay %1").arg(delayMs))) {
        figures.complete = false;
        return figures;
    }
    qint64 nanoseconds = 0;
    for (int i = 0; i < count; ++i) {
        QElapsedTimer timer;
        timer.start();
        bool ok = false;
        if (access == Access::Block)
            ok = blockRefresh(h, first, n);
        else if (access == Access::Together)
            ok = togetherRefresh(h, first, n);
        else
            ok = singleRefresh(h, first, n);
        nanoseconds += timer.nsecsElapsed();
        figures.complete = ok && figures.complete;
        // Drain the simulator's output pipe (outside the timing): a full pipe would stall it.
        QCoreApplication::processEvents();
    }
    figures.msPerRefresh = double(nanoseconds) / 1e6 / count;
    snmpClose(h);
    simulator.stop();
    // The connection check took one request (two at most when the crate was still booting).
    figures.requestsPerRefresh = double(simulator.servedRequests() - 1) / count;
    return figures;
}

void printRow(int channels, Access access, const Figures& f)
{
    std::printf("| %d | %s | %.1f | %.2f |%s\n", channels, accessName(access), f.requestsPerRefresh, f.msPerRefresh,
        f.complete ? "" : " (incomplete answers!)");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (!snmpInit())
        return 1;
    QTemporaryDir dir;
    const QString config = dir.filePath("crate.json");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.write(R"({"crate": {"bootDelayMs": 0}, "modules": [
        {"slot": 0, "type": "THE1640p", "channels": 8},
        {"slot": 1, "type": "THE1640p"},
        {"slot": 2, "type": "THE1640p", "channels": 48}]})");
    file.close();

    std::printf("Refresh of six per-channel quantities, %d refreshes each, mpod-sim on 127.0.0.1\n\n", refreshes);
    std::printf("| channels | access | SNMP requests per refresh | ms per refresh |\n");
    std::printf("|---:|---|---:|---:|\n");
    const int layout[][2] = {{0, 8}, {100, 16}, {200, 48}};
    for (const auto& module : layout) {
        for (const Access access : {Access::Block, Access::Together, Access::Single})
            printRow(module[1], access, measure(config, module[0], module[1], access));
    }

    // A crate 150 ms away: the block entries wait one round trip per request, getChannelBlock
    // about one per call.
    constexpr int delayMs = 150;
    constexpr int delayedRefreshes = 10;
    std::printf("\nThe same for the 48-channel module with every answer %d ms late (`delay %d`), %d refreshes\n\n", delayMs,
        delayMs, delayedRefreshes);
    std::printf("| channels | access | SNMP requests per refresh | ms per refresh |\n");
    std::printf("|---:|---|---:|---:|\n");
    for (const Access access : {Access::Block, Access::Together})
        printRow(48, access, measure(config, 200, 48, access, delayMs, delayedRefreshes));

    // A crate that stops answering: the first call waits for the time-out, later calls during
    // the hold-off return at once; a refresh costs at most one time-out.
    SimulatorProcess simulator;
    if (!startSimulator(simulator, config))
        return 1;
    HSNMP h = snmpOpen(simulator.address().toLatin1().constData());
    if (!h || !waitForCrate(h))
        return 1;
    simulator.command("silent on");
    QElapsedTimer timer;
    timer.start();
    getPsSerialNumber(h);
    const double firstMs = double(timer.nsecsElapsed()) / 1e6;
    timer.restart();
    blockRefresh(h, 100, 16);
    const double heldMs = double(timer.nsecsElapsed()) / 1e6;
    QThread::msleep(1100);
    timer.restart();
    blockRefresh(h, 100, 16);
    const double probeMs = double(timer.nsecsElapsed()) / 1e6;
    std::printf("\nSilent crate (default time-out and retries):\n\n");
    std::printf("| call | ms |\n|---|---:|\n");
    std::printf("| first call after the crate fell silent | %.1f |\n", firstMs);
    std::printf("| a whole refresh during the hold-off | %.2f |\n", heldMs);
    std::printf("| a whole refresh after the hold-off (one probe) | %.1f |\n", probeMs);
    snmpClose(h);
    simulator.command("silent off");
    simulator.stop();
    return 0;
}
