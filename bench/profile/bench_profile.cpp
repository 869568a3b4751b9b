// Save Profile of a 48-channel module ("THM4805p") from the main window against mpod-sim, answering
// at once and with 150 ms delay per request: the time until the window reports the file saved, and
// the longest interval its event loop could not run meanwhile (a 1 ms timer in the GUI thread).
#include "app/ChannelTable.h"
#include "app/ProfileDesk.h"
#include "app/TesmarControl.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <functional>

namespace {

struct Figures
{
    bool ok = false;
    double longestSaveMs = 0;
    double longestStallMs = 0;
};

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

Figures measure(ScriptedDialogs& dialogs, const QString& configPath, const QString& condition, int saves)
{
    Figures figures;
    SimulatorProcess simulator;
    if (!simulator.startForProgram(configPath))
        return figures;
    QTemporaryDir dir;
    {
        TesmarControl window;
        window.show();
        auto* table = window.findChild<ChannelTable*>(QStringLiteral("table"));
        if (!waitFor([&] { return table->rowCount() == 48 && table->item(47, ChannelTable::ColumnVoltageMeasure); }, 10000))
            return figures;
        if (!condition.isEmpty() && !simulator.command(condition))
            return figures;

        QElapsedTimer gap;
        double longestGapMs = 0;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(1);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            longestGapMs = std::max(longestGapMs, double(gap.nsecsElapsed()) / 1e6);
            gap.restart();
        });
        figures.ok = true;
        for (int save = 0; save < saves && figures.ok; ++save) {
            dialogs.fileName = dir.filePath(QStringLiteral("profile%1.txt").arg(save));
            const QString done = QStringLiteral("Profile saved to file %1.").arg(dialogs.fileName);
            QElapsedTimer clock;
            clock.start();
            gap.start();
            probe.start();
            window.profileDesk()->saveProfile();
            figures.ok = waitFor([&] { return window.statusBar()->currentMessage() == done; }, 120000);
            figures.longestSaveMs = std::max(figures.longestSaveMs, double(clock.nsecsElapsed()) / 1e6);
            probe.stop();
        }
        figures.longestStallMs = longestGapMs;
    }
    simulator.stop();
    return figures;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("MIBS", "");
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    // Save Profile's file chooser answered with a file of the benchmark's own (`fileName`).
    ScriptedDialogs dialogs;
    dialogs.questionAnswer = QMessageBox::Yes;
    UserDialogs::setStartupOverride(&dialogs);
    const int saves = argc > 1 ? qMax(1, QString::fromLocal8Bit(argv[1]).toInt()) : 3;

    QTemporaryFile config;
    if (!config.open())
        return 1;
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THM4805p"}]})");
    config.close();

    std::printf("Save Profile of a 48-channel module THM4805p, mpod-sim on 127.0.0.1 (%d saves each)\n\n", saves);
    std::printf("%-12s %16s %18s\n", "crate", "longest save ms", "longest stall ms");
    for (const char* condition : {"", "delay 150"}) {
        const Figures figures = measure(dialogs, config.fileName(), QString::fromLatin1(condition), saves);
        const char* name = *condition ? condition : "answering";
        if (!figures.ok) {
            std::printf("%-12s %16s\n", name, "failed");
            continue;
        }
        std::printf("%-12s %16.0f %18.1f\n", name, figures.longestSaveMs, figures.longestStallMs);
        std::fflush(stdout);
    }
    return 0;
}
