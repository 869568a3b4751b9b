// What the write journal adds to a write:
// - one journal line (JournalWrite filled as a module fills it, appended with its own lock,
//   open, write and close) on its own, timed per line;
// - a set voltage through SnmpModule against mpod-sim ("sent" line, write, crate answer, result
//   line);
// - an append that rotates the journal (five files kept), with a 1 MB limit so it happens often.
#include "common/SimulatorProcess.h"
#include "controller/SnmpController.h"
#include "device/SnmpModule.h"
#include "device/WriteJournal.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Figures
{
    double medianMs = 0;
    double p99Ms = 0;
    double maxMs = 0;
};

Figures figuresOf(std::vector<double> ms)
{
    std::sort(ms.begin(), ms.end());
    if (ms.empty())
        return {};
    return {ms[ms.size() / 2], ms[std::min(ms.size() - 1, ms.size() * 99 / 100)], ms.back()};
}

void print(const char* what, const Figures& f)
{
    std::printf("%-48s median %.3f ms  99th %.3f ms  max %.3f ms\n", what, f.medianMs, f.p99Ms, f.maxMs);
}

template <typename Step>
std::vector<double> timed(int count, Step step)
{
    std::vector<double> ms;
    ms.reserve(size_t(count));
    QElapsedTimer clock;
    for (int i = 0; i < count; ++i) {
        clock.start();
        step(i);
        ms.push_back(double(clock.nsecsElapsed()) / 1e6);
    }
    return ms;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    const int writes = argc > 1 ? std::max(100, QByteArray(argv[1]).toInt()) : 3000;

    SimulatorProcess simulator;
    if (!simulator.start()) {
        std::fprintf(stderr, "the simulator did not start: %s\n", qPrintable(simulator.output()));
        return 1;
    }
    simulator.exportLibraryEnvironment();
    SnmpController controller;
    if (!controller.open(simulator.address())) {
        std::fprintf(stderr, "no connection to %s\n", qPrintable(simulator.address()));
        return 1;
    }
    SnmpModule module(&controller, 0);
    module.setVoltageUnit(QStringLiteral("V"));
    WriteJournal& journal = WriteJournal::instance();
    QFile::remove(journal.filePath());

    const std::vector<double> lineMs = timed(writes, [&](int i) {
        JournalWrite write;
        write.crateAddress = controller.address();
        write.slot = QStringLiteral("0");
        write.serialNumber = module.serialNumber();
        write.channel = JournalWrite::channelText(i % 16);
        write.quantity = QStringLiteral("voltage set");
        write.value = JournalWrite::valueText(100 + i % 900, module.voltageUnit());
        write.result = QStringLiteral("ok");
        journal.append(write);
    });
    const std::vector<double> writeMs =
        timed(writes, [&](int i) { module.setChannelVoltageSet(i % 16, float(100 + i % 900)); });

    QTemporaryDir folder;
    WriteJournal rotating(folder.filePath(QStringLiteral("journal.txt")), 1024 * 1024);
    std::vector<double> rotationMs;
    for (int i = 0; rotationMs.size() < 5; ++i) {
        JournalWrite write;
        write.crateAddress = controller.address();
        write.quantity = QStringLiteral("voltage set");
        write.value = JournalWrite::valueText(i, QStringLiteral("V"));
        write.result = QStringLiteral("ok");
        const qint64 before = QFileInfo(rotating.filePath()).size();
        QElapsedTimer clock;
        clock.start();
        rotating.append(write);
        const double ms = double(clock.nsecsElapsed()) / 1e6;
        if (QFileInfo(rotating.filePath()).size() < before)
            rotationMs.push_back(ms);
    }

    std::printf(
        "journal: %s (%lld bytes after the run)\n", qPrintable(journal.filePath()), QFileInfo(journal.filePath()).size());
    print("journal line alone (what a write gains)", figuresOf(lineMs));
    std::printf("  first line (creates the folder and the file) %.3f ms; lines over 1 ms: %lld of %d\n", lineMs.front(),
        (long long)std::count_if(lineMs.begin(), lineMs.end(), [](double ms) { return ms > 1.0; }), writes);
    print("set voltage through SnmpModule, journal included", figuresOf(writeMs));
    print("journal line that rotates (1 MB limit)", figuresOf(rotationMs));
    QFile::remove(journal.filePath());
    simulator.stop();
    return 0;
}
