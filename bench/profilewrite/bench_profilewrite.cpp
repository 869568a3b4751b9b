// Writing a profile into a 48-channel module at 150 ms per request (or DELAY_MS): the total time
// and the longest interval the GUI thread's event loop could not run meanwhile (a 1 ms timer).
//
// 1. The whole procedure as a job in a device session on an in-memory module whose every request
//    takes the delay on the poller's thread (the module reaches stop mode and stores its values).
// 2. The window's Load Profile against mpod-sim with `delay 150`: the hardware-nominal check of
//    all channels, then the stop request, which an MPOD module refuses (it has no stop mode). A
//    write still going after WINDOW_SECONDS is cancelled.
#include "app/ChannelTable.h"
#include "app/ProfileDesk.h"
#include "app/TesmarControl.h"
#include "common/MemoryControllerFactory.h"
#include "common/MemoryModule.h"
#include "common/ScriptedDialogs.h"
#include "common/SimulatorProcess.h"
#include "common/StallProbe.h"

#include "device/DeviceSession.h"
#include "profiles/DialogWriteProfile.h"
#include "profiles/ModuleProfile.h"
#include "profiles/ProfileWriteJob.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>

namespace {

constexpr int channels = 48;

// Every operation of the write takes `delayMs` on the thread that calls it, as a slow crate's
// request would.
class SlowModule : public MemoryModule
{
public:
    SlowModule(int channelCount, int delayMs)
        : MemoryModule(channelCount)
        , m_delayMs(delayMs)
    {
    }

#define TESMAR_SLOW(name, params, args)                                                                                     \
    bool name params override                                                                                               \
    {                                                                                                                       \
        QThread::msleep(m_delayMs);                                                                                         \
        return MemoryModule::name args;                                                                                     \
    }
    // The store request stays visible for two reads, as a module busy storing shows it.
    bool setControl(quint32 v) override
    {
        QThread::msleep(m_delayMs);
        if (v & 0x8000u)
            m_storeReads = 2;
        return MemoryModule::setControl(v);
    }
    bool readControl(quint32* v) override
    {
        QThread::msleep(m_delayMs);
        if (!MemoryModule::readControl(v))
            return false;
        if (m_storeReads > 0) {
            --m_storeReads;
            *v |= 0x8000u;
        }
        return true;
    }
    TESMAR_SLOW(readChannelControl, (int c, quint32* v), (c, v))
    TESMAR_SLOW(readChannelSettings, (int c, ChannelSettings* s), (c, s))
    TESMAR_SLOW(setChannelControl, (int c, quint32 v), (c, v))
    TESMAR_SLOW(setChannelVoltageNominal, (int c, float v), (c, v))
    TESMAR_SLOW(setChannelCurrentNominal, (int c, float v), (c, v))
    TESMAR_SLOW(setEventMask, (quint32 v), (v))
    TESMAR_SLOW(setEventChannelMask, (quint32 v), (v))
    TESMAR_SLOW(setEventGroupMask, (quint32 v), (v))
    TESMAR_SLOW(setDigitalFilter, (quint32 v), (v))
    TESMAR_SLOW(setAdcSamplesPerSecond, (quint32 v), (v))
    TESMAR_SLOW(setRestartTime, (quint32 v), (v))
    TESMAR_SLOW(setVoltageRampSpeed, (float v), (v))
    TESMAR_SLOW(setCurrentRampSpeed, (float v), (v))
    TESMAR_SLOW(setChannelVoltageSet, (int c, float v), (c, v))
    TESMAR_SLOW(setChannelCurrentSet, (int c, float v), (c, v))
    TESMAR_SLOW(setChannelEventMask, (int c, quint32 v), (c, v))
    TESMAR_SLOW(setChannelVoltageInterlockMaxSet, (int c, float v), (c, v))
    TESMAR_SLOW(setChannelVoltageInterlockMinSet, (int c, float v), (c, v))
    TESMAR_SLOW(setChannelCurrentInterlockMaxSet, (int c, float v), (c, v))
    TESMAR_SLOW(setChannelCurrentInterlockMinSet, (int c, float v), (c, v))
#undef TESMAR_SLOW
    quint32 status() override
    {
        QThread::msleep(m_delayMs);
        return MemoryModule::status();
    }

private:
    unsigned long m_delayMs;
    std::atomic<int> m_storeReads{0};
};

ModuleProfile profile()
{
    ModuleProfile p;
    p.voltageUnit = QStringLiteral("V");
    p.currentUnit = QStringLiteral("mA");
    p.restartTimeMs = 250;
    for (int n = 0; n < channels; ++n) {
        ModuleProfile::Channel c;
        c.voltageSet = 100 + n;
        c.currentSet = 0.1;
        c.voltageNominal = 400;
        c.currentNominal = 0.5;
        p.channels.append(c);
    }
    return p;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeoutMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

void measureJob(int delayMs)
{
    auto* module = new SlowModule(channels, delayMs);
    module->state.followsControl = true;
    for (int n = 0; n < channels; ++n) {
        MemoryModule::Channel c = module->channel(n);
        c.voltageHardwareNominal = 500;
        c.currentHardwareNominal = 1;
        module->setChannel(n, c);
    }
    DeviceSession session(std::make_unique<MemoryControllerFactory>([module] { return QVector<MemoryModule*>{module}; }));
    if (!session.connectTo(QStringLiteral("memory"))) {
        std::printf("%-34s failed to connect\n", "job, in-memory module");
        return;
    }
    ProfileWriteJob job(&session, module, profile());
    bool ended = false;
    QObject::connect(&job, &ServiceJob::finished, [&] { ended = true; });
    StallProbe probe;
    QElapsedTimer clock;
    clock.start();
    probe.start();
    job.start();
    waitFor([&] { return ended; }, 3600 * 1000);
    std::printf("%-34s %12.1f %18.1f   %s\n", "job, in-memory module", double(clock.elapsed()) / 1000.0, probe.longestMs(),
        ended && job.error() == ServiceJob::NoError ? "written" : qPrintable(job.errorText()));
    std::fflush(stdout);
}

void measureWindow(ScriptedDialogs& dialogs, int delayMs, int windowSeconds)
{
    QTemporaryFile config;
    if (!config.open())
        return;
    config.write(R"({"crate": {"bootDelayMs": 0}, "modules": [{"slot": 0, "type": "THM4805p"}]})");
    config.close();
    SimulatorProcess simulator;
    if (!simulator.startForProgram(config.fileName()))
        return;
    QTemporaryDir dir;
    dialogs.fileName = dir.filePath(QStringLiteral("write.txt"));
    if (!profile().save(dialogs.fileName))
        return;
    {
        TesmarControl window;
        window.show();
        auto* table = window.findChild<ChannelTable*>(QStringLiteral("table"));
        if (!waitFor([&] { return table->rowCount() == 48 && table->item(47, ChannelTable::ColumnVoltageMeasure); }, 10000)
            || !simulator.command(QStringLiteral("delay %1").arg(delayMs))) {
            std::printf("%-34s failed to start\n", "window, mpod-sim");
            return;
        }
        // Ok in the preview as soon as it shows.
        QTimer ok;
        ok.setInterval(10);
        QObject::connect(&ok, &QTimer::timeout, [&] {
            auto* dialog = window.findChild<DialogWriteProfile*>();
            auto* button = dialog ? dialog->findChild<QAbstractButton*>(QStringLiteral("btnOK")) : nullptr;
            if (dialog && dialog->isVisible() && button && button->isEnabled() && !dialog->isWriting()) {
                ok.stop();
                button->click();
            }
        });
        ok.start();
        StallProbe probe;
        probe.start();
        window.profileDesk()->loadProfile();
        auto* dialog = window.findChild<DialogWriteProfile*>();
        if (!dialog || !dialog->isWriting()) {
            std::printf("%-34s the write did not start\n", "window, mpod-sim");
            return;
        }
        // From here on: the write only (the preview before it fills and shows a window).
        StallProbe writing;
        writing.start();
        // An MPOD module has no stop mode: after the hardware-nominal check the stop request is
        // refused and the write ends. A write still going after WINDOW_SECONDS is cancelled.
        QElapsedTimer total;
        total.start();
        bool ended = waitFor([&] { return !dialog->isWriting(); }, windowSeconds * 1000);
        QString how = QStringLiteral("ended (stop refused)");
        if (!ended) {
            QElapsedTimer cancel;
            cancel.start();
            dialog->findChild<QAbstractButton*>(QStringLiteral("btnCancel"))->click();
            ended = waitFor([&] { return !dialog->isWriting(); }, 60000);
            how = ended ? QStringLiteral("cancelled, stopped %1 ms after Cancel").arg(cancel.elapsed())
                        : QStringLiteral("not stopped");
        }
        std::printf("%-34s %12.1f %18.1f   %s (with the preview: %.1f ms)\n", "window, mpod-sim",
            double(total.elapsed()) / 1000.0, writing.longestMs(), qPrintable(how), probe.longestMs());
        std::fflush(stdout);
    }
    simulator.stop();
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("MIBS", "");
    QApplication application(argc, argv);
    QStandardPaths::setTestModeEnabled(true);
    ScriptedDialogs dialogs;
    dialogs.questionAnswer = QMessageBox::Yes;
    UserDialogs::setStartupOverride(&dialogs);
    const int delayMs = argc > 1 ? qMax(0, QString::fromLocal8Bit(argv[1]).toInt()) : 150;
    const int windowSeconds = argc > 2 ? qMax(1, QString::fromLocal8Bit(argv[2]).toInt()) : 30;

    std::printf("Profile write into a 48-channel module, %d ms per request\n\n", delayMs);
    std::printf("%-34s %12s %18s   %s\n", "", "total s", "longest stall ms", "end");
    measureJob(delayMs);
    measureWindow(dialogs, delayMs, windowSeconds);
    return 0;
}
