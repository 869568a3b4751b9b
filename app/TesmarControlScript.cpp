// The script console and the script thread that runs its scripts against the first module.
#include "TesmarControl.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "scripting/DialogScriptConsole.h"
#include "scripting/ScriptThread.h"

void TesmarControl::on_actionScript_triggered()
{
    if (!scriptThread) {
        scriptThread = new ScriptThread(this);
        dialogScriptConsole = new DialogScriptConsole(this);
        connect(scriptThread, &ScriptThread::scriptMessage, dialogScriptConsole, &DialogScriptConsole::scriptMessage);
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
    dialogScriptConsole->show();
    dialogScriptConsole->raise();
    dialogScriptConsole->activateWindow();
}

void TesmarControl::runScript(QString script)
{
    if (!scriptThread)
        return;
    if (!script.isEmpty())
        scriptThread->setScript(script);
    if (scriptThread->isRunning())
        return;
    // The first module at this moment: a rediscovery since the last run may have replaced it.
    std::shared_ptr<BaseModule> module = session->sharedModule(0);
    if (!module) {
        scriptThread->print(tr("The script was not run: no module is connected."));
        return;
    }
    scriptThread->runOn(std::move(module));
}
