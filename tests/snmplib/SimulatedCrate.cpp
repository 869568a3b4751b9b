#include "SimulatedCrate.h"

#include <QFile>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>

QByteArray SimulatedCrate::testLayout()
{
    return R"({
  "crate": {"bootDelayMs": 0},
  "modules": [
    {"slot": 0, "type": "THE1640p", "serialNumber": 7000},
    {"slot": 1, "type": "THE1640p", "channels": 48, "serialNumber": 7001, "firmwareRelease": "02.10"},
    {"slot": 2, "type": "THC3210p", "channels": 100},
    {"slot": 3, "type": "THX0830b", "serialNumber": 7003},
    {"slot": 8, "type": "TMM0800m"}
  ]
})";
}

SimulatedCrate::SimulatedCrate(const QByteArray& configJson)
    : m_config(configJson)
{
}

SimulatedCrate::~SimulatedCrate()
{
    for (HSNMP handle : m_handles)
        snmpClose(handle);
    if (m_simulator.isRunning())
        m_simulator.stop();
}

bool SimulatedCrate::start(const QStringList& extraArguments)
{
    // Finding a free port opens a QUdpSocket; without this Qt asks the desktop's proxy library,
    // which runs an uninstrumented thread that ThreadSanitizer reports. Loopback needs no proxy.
    QNetworkProxyFactory::setUseSystemConfiguration(false);
    QNetworkProxy::setApplicationProxy(QNetworkProxy::NoProxy);
    if (!snmpInit()) {
        m_error = QStringLiteral("snmpInit failed");
        return false;
    }
    if (!m_config.isEmpty()) {
        const QString path = m_dir.filePath(QStringLiteral("crate.json"));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(m_config) != m_config.size()) {
            m_error = QStringLiteral("cannot write %1").arg(path);
            return false;
        }
        file.close();
        m_simulator.setConfigFile(path);
    }
    m_simulator.setExtraArguments(extraArguments);
    if (!m_simulator.start()) {
        m_error = QStringLiteral("mpod-sim did not start: %1").arg(m_simulator.output());
        return false;
    }
    return true;
}

HSNMP SimulatedCrate::open()
{
    HSNMP handle = snmpOpen(m_simulator.address().toLatin1().constData());
    if (handle)
        m_handles.append(handle);
    return handle;
}

void SimulatedCrate::close(HSNMP handle)
{
    m_handles.removeAll(handle);
    snmpClose(handle);
}

qint64 SimulatedCrate::stopAndCountRequests()
{
    if (!m_simulator.stop())
        return -1;
    return m_simulator.servedRequests();
}
