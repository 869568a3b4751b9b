#pragma once

#include "common/SimulatorProcess.h"

#include <QString>
#include <QTemporaryDir>

#include <memory>

class SnmpController;

// A simulated crate for device tests: writes a crate configuration, starts mpod-sim on a free
// loopback port and opens an SnmpController on it through our SNMP library.
class CrateFixture
{
public:
    // `modulesJson`: the JSON array of the configuration's "modules".
    explicit CrateFixture(const QString& modulesJson);
    ~CrateFixture();

    // Starts the simulator and opens the controller; false with a message on failure.
    bool start(QString* error);

    SimulatorProcess& simulator() { return m_simulator; }
    SnmpController* controller() { return m_controller.get(); }

    // Serial number and firmware text the simulated crate reports.
    static constexpr int crateSerialNumber = 4711042;
    static constexpr const char* crateFirmware = "MPOD 2.1.9.0";

private:
    QTemporaryDir m_directory;
    QString m_modulesJson;
    SimulatorProcess m_simulator;
    std::unique_ptr<SnmpController> m_controller;
};
