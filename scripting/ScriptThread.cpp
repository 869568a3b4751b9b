#include "scripting/ScriptThread.h"

#include "device/BaseModule.h"

ScriptThread::ScriptThread(QObject* parent)
    : QThread(parent)
{
    // Direct: the runner speaks on the script thread, and this signal reaches the console queued.
    connect(&m_runner, &ScriptRunner::message, this, &ScriptThread::scriptMessage, Qt::DirectConnection);
    // The module goes back in the GUI thread, where a module the session already let go is
    // deleted at once.
    connect(this, &QThread::finished, this, [this] {
        if (!isRunning())
            m_module.reset();
    });
    loadScriptFile(initialScriptFileName());
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
        emit scriptMessage(error);
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
    emit scriptMessage(message);
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
