#pragma once

#include "scripting/ScriptRunner.h"

#include <QMutex>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>

#include <memory>

class BaseModule;

// The script console's worker: runs the held script on its own thread against a module, so a
// long script (ramping voltages with pauses) never blocks the window. One run per start; the
// engine and its objects are those of ScriptRunner.
//
// Lives in the GUI thread; every function except run() is called there. The module of a run is
// bound by runOn() and held (shared with the device session) until the run has ended, so it
// outlives a release that happens meanwhile; releaseModule() makes the script stop before its
// next module call.
//
// Output: the script's lines wait in a backlog of at most maxBacklogLines (the oldest dropped and
// counted) and reach the GUI thread in batches every outputIntervalMs, so a script that prints
// without pause neither floods the event loop nor grows memory (a line longer than maxLineLength
// is cut, so the backlog holds 20 MB at the very most).
class ScriptThread : public QThread
{
    Q_OBJECT
public:
    // Loads "test.js" from the working folder as the initial script (its messages go out before
    // anybody can be connected, so they are not seen).
    explicit ScriptThread(QObject* parent = nullptr);
    // Stops a running script and waits for its end.
    ~ScriptThread() override;

    static QString initialScriptFileName() { return QStringLiteral("test.js"); }
    static constexpr int maxBacklogLines = 10000;
    static constexpr int maxLineLength = 1000;
    static constexpr int outputIntervalMs = 50;

    // The runner, to set its snapshot source and watch before a run.
    ScriptRunner& runner() { return m_runner; }

    // Makes `fileName` the held script; on failure emits the reason and leaves the script empty.
    bool loadScriptFile(const QString& fileName);
    QString fileName() const { return m_fileName; }
    // The script the next run executes; a running script keeps the text it started with.
    QString script() const { return m_script; }
    void setScript(const QString& script) { m_script = script; }

    // Starts the held script against `module` with inherited priority. Does nothing while a
    // script runs (false).
    bool runOn(std::shared_ptr<BaseModule> module);

public slots:
    // Sleeps the calling thread in short slices; returns early when the run is stopped.
    void delay(int milliSeconds);
    // One output line.
    void print(QString message);
    // The operator's Stop: the running script ends at once with "Script stopped by the operator.".
    void stopScript();
    // The module is about to be released (rediscovery, crate switched off): a running script ends
    // without calling it again.
    void releaseModule();

signals:
    // Every line, in order, as each batch arrives.
    void scriptMessage(QString message);
    // One batch; `droppedLines` lines before it were dropped from a full backlog.
    void scriptOutput(QStringList lines, qint64 droppedLines);

protected:
    void run() override;

private:
    // Any thread.
    void appendOutput(const QString& line);
    // GUI thread: hands the backlog on.
    void flushOutput();

    ScriptRunner m_runner;
    QMutex m_outputMutex;
    QStringList m_backlog;
    qint64 m_droppedLines = 0;
    QTimer m_outputTimer;
    QString m_fileName;
    QString m_script;
    // Written in the GUI thread only while no run is in progress; read by run().
    QString m_runningScript;
    std::shared_ptr<BaseModule> m_module;
};
