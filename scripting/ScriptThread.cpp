#include "scripting/ScriptThread.h"

#include "device/BaseModule.h"

#include <QMetaMethod>

ScriptThread::ScriptThread(QObject* parent)
    : QThread(parent)
{
    // Direct: the runner speaks on the script thread into the backlog.
    connect(&m_runner, &ScriptRunner::message, this, &ScriptThread::appendOutput, Qt::DirectConnection);
    m_outputTimer.setInterval(outputIntervalMs);
    connect(&m_outputTimer, &QTimer::timeout, this, &ScriptThread::flushOutput);
    connect(this, &QThread::started, &m_outputTimer, qOverload<>(&QTimer::start));
    // The module goes back in the GUI thread, where a module the session already let go is
    // deleted at once.
    connect(this, &QThread::finished, this, [this] {
        flushOutput();
        if (!isRunning()) {
            m_outputTimer.stop();
            m_module.reset();
        }
    });
    // Its messages would go out before anybody can be connected: not shown.
    m_fileName = initialScriptFileName();
    QString error;
    if (!ScriptRunner::readScriptFile(m_fileName, &m_script, &error))
        m_script.clear();
}

ScriptThread::~ScriptThread()
{
    m_runner.stop();
    wait();
}

bool ScriptThread::loadScriptFile(const QString& fileName)
{
    m_fileName = fileName;
    QString error;
    if (!ScriptRunner::readScriptFile(fileName, &m_script, &error)) {
        m_script.clear();
        print(error);
        return false;
    }
    return true;
}

bool ScriptThread::runOn(std::shared_ptr<BaseModule> module)
{
    if (isRunning() || !module)
        return false;
    m_module = std::move(module);
    m_runningScript = m_script;
    m_runner.reset();
    start(QThread::InheritPriority);
    return true;
}

void ScriptThread::delay(int milliSeconds)
{
    m_runner.delay(milliSeconds);
}

void ScriptThread::print(QString message)
{
    appendOutput(message);
    if (!isRunning())
        QTimer::singleShot(0, this, &ScriptThread::flushOutput);
}

void ScriptThread::appendOutput(const QString& line)
{
    QString text = line;
    if (text.size() > maxLineLength)
        text = text.left(maxLineLength) + tr(" ... (line cut at %1 characters)").arg(maxLineLength);
    QMutexLocker lock(&m_outputMutex);
    m_backlog.append(text);
    if (m_backlog.size() > maxBacklogLines) {
        m_backlog.removeFirst();
        ++m_droppedLines;
    }
}

void ScriptThread::flushOutput()
{
    QStringList lines;
    qint64 dropped = 0;
    {
        QMutexLocker lock(&m_outputMutex);
        lines.swap(m_backlog);
        std::swap(dropped, m_droppedLines);
    }
    if (lines.isEmpty() && dropped == 0)
        return;
    emit scriptOutput(lines, dropped);
    if (isSignalConnected(QMetaMethod::fromSignal(&ScriptThread::scriptMessage))) {
        for (const QString& line : std::as_const(lines))
            emit scriptMessage(line);
    }
}

void ScriptThread::stopScript()
{
    if (isRunning())
        m_runner.stop();
}

void ScriptThread::releaseModule()
{
    if (isRunning())
        m_runner.releaseModule();
    else
        m_module.reset();
}

void ScriptThread::run()
{
    m_runner.run(m_runningScript, m_module.get());
}
