#pragma once

#include "common/SimulatorProcess.h"

#include "WienerSnmp.h"

#include <QByteArray>
#include <QTemporaryDir>

// A crate simulator with a given JSON layout plus the library handles opened on it; closes the
// handles and stops the simulator when it goes out of scope.
class SimulatedCrate
{
public:
    // Slot 0: 16 channels, slot 1: 48, slot 2: 100, slot 3: 8 bipolar, slot 8: measurement;
    // slots 4-7 and 9 are empty.
    static QByteArray testLayout();

    explicit SimulatedCrate(const QByteArray& configJson = testLayout());
    ~SimulatedCrate();
    SimulatedCrate(const SimulatedCrate&) = delete;
    SimulatedCrate& operator=(const SimulatedCrate&) = delete;

    // Starts the simulator and initialises the library; false with the reason in errorText().
    bool start(const QStringList& extraArguments = {});
    // snmpOpen on "127.0.0.1:PORT"; the handle is closed by the destructor.
    HSNMP open();
    void close(HSNMP handle);
    bool command(const QString& line) { return m_simulator.command(line); }
    SimulatorProcess& simulator() { return m_simulator; }
    // Stops the simulator and answers the number of SNMP requests it served, -1 on failure.
    qint64 stopAndCountRequests();
    QString errorText() const { return m_error; }

private:
    QTemporaryDir m_dir;
    QByteArray m_config;
    SimulatorProcess m_simulator;
    QList<HSNMP> m_handles;
    QString m_error;
};
