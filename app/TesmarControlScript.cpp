// The script console and the script thread that runs its scripts against the module the window
// shows.
#include "TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "device/Poller.h"
#include "dialogs/common/WindowFront.h"
#include "scripting/DialogScriptConsole.h"
#include "scripting/ScriptThread.h"

void TesmarControl::on_actionScript_triggered()
{
    if (!scriptThread) {
        dialogScriptConsole = new DialogScriptConsole(this);
        // A child of the console: it goes (stopping a running script and waiting for its end)
        // with the tool windows, before the session and its poller, which a script reads from.
        scriptThread = new ScriptThread(dialogScriptConsole);
        connect(scriptThread, &ScriptThread::scriptOutput, dialogScriptConsole, &DialogScriptConsole::scriptOutput);
        connect(dialogScriptConsole, &DialogScriptConsole::runScript, this, &TesmarControl::runScript);
        connect(dialogScriptConsole, &DialogScriptConsole::stopScript, scriptThread, &ScriptThread::stopScript);
        connect(scriptThread, &QThread::started, dialogScriptConsole,
            [console = dialogScriptConsole.data()] { console->setScriptRunning(true); });
        connect(scriptThread, &QThread::finished, dialogScriptConsole,
            [console = dialogScriptConsole.data()] { console->setScriptRunning(false); });
        // The event log notes every run of the console's script.
        connect(scriptThread, &QThread::started, this, [this] {
            if (EventLog* log = eventLog())
                log->scriptStarted(tr("script console"));
        });
        connect(scriptThread, &QThread::finished, this, [this] {
            if (EventLog* log = eventLog())
                log->scriptStopped(tr("script console"), QString());
        });
        // Before the modules go, a running script lets go of its module.
        connect(session.get(), &DeviceSession::modulesAboutToBeReleased, scriptThread, &ScriptThread::releaseModule);
    }
    WindowFront::showAndActivate(dialogScriptConsole);
}

void TesmarControl::runScript(QString script)
{
    if (!scriptThread)
        return;
    if (!script.isEmpty())
        scriptThread->setScript(script);
    if (scriptThread->isRunning())
        return;
    // The module the window shows at this moment, bound anew for every run.
    const int moduleIndex = session->currentModuleIndex();
    std::shared_ptr<BaseModule> module = session->sharedModule(moduleIndex);
    if (!module) {
        scriptThread->print(tr("The script was not run: no module is selected."));
        return;
    }
    QString place = module->address();
    if (!place.isEmpty())
        place[0] = place.at(0).toLower();
    scriptThread->print(
        tr("Script acts on %1, serial %2, %3").arg(place).arg(module->serialNumber()).arg(module->firmwareName()));
    scriptThread->print(tr("Voltages in %1 and currents in %2, the module's display units (Module > Settings...).")
                            .arg(module->voltageUnit(0), module->currentUnit(0)));
    // The poller keeps a snapshot of every module; the script reads from it while it is younger
    // than one tick, and stops when the module has not answered for the freshness limit.
    ScriptRunner::SnapshotSource snapshots = [poller = session->poller(), moduleIndex] {
        return poller->moduleSnapshot(moduleIndex);
    };
    scriptThread->runner().setSnapshotSource(snapshots);
    scriptThread->runner().setWatch(ScriptRunner::answerWatch(snapshots));
    scriptThread->runOn(std::move(module));
}
