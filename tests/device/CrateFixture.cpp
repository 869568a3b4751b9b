#include "CrateFixture.h"

#include "controller/SnmpController.h"

#include <QFile>

CrateFixture::CrateFixture(const QString& modulesJson)
    : m_modulesJson(modulesJson)
{
}

CrateFixture::~CrateFixture()
{
    m_controller.reset();
    m_simulator.stop();
}

bool CrateFixture::start(QString* error)
{
    if (!m_directory.isValid()) {
        *error = QStringLiteral("no temporary folder");
        return false;
    }
    const QString path = m_directory.filePath(QStringLiteral("crate.json"));
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        *error = file.errorString();
        return false;
    }
    file.write(QStringLiteral("{\"crate\": {\"serialNumber\": \"%1\", \"firmware\": \"%2\", \"bootDelayMs\": 0},"
                              " \"modules\": %3}")
                   .arg(crateSerialNumber)
                   .arg(QLatin1String(crateFirmware), m_modulesJson)
                   .toUtf8());
    file.close();
    m_simulator.setConfigFile(path);
    if (!m_simulator.start()) {
        *error = QStringLiteral("simulator did not start: ") + m_simulator.output();
        return false;
    }
    m_simulator.exportLibraryEnvironment();
    m_controller = std::make_unique<SnmpController>();
    if (!m_controller->open(m_simulator.address())) {
        *error = QStringLiteral("controller did not connect to ") + m_simulator.address();
        return false;
    }
    return true;
}
