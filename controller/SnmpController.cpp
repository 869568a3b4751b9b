#include "controller/SnmpController.h"

#include "controller/FatalErrorHandler.h"

#include <QCoreApplication>
#include <QDebug>
#include <QHostAddress>
#include <QRegularExpression>
#include <QtEndian>

namespace {

QString translate(const char* text)
{
    return QCoreApplication::translate("SnmpController", text);
}

QString applicationTitle()
{
    return translate("Tesmar SNMP Control");
}

} // namespace

SnmpController::SnmpController()
    : m_library(QStringLiteral("WIENER_SNMP"))
{
    bindLibrary();
}

SnmpController::~SnmpController()
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    if (m_handle && snmpClose)
        snmpClose(m_handle);
    m_handle = nullptr;
}

void SnmpController::bindLibrary()
{
    // The library stays loaded for the program's life (m_library is never unloaded), so the
    // resolved pointers stay valid even after this controller is gone.
    if (!m_library.load()) {
        qDebug().noquote() << QStringLiteral("\"%1\"").arg(m_library.errorString());
        FatalErrorHandler::raise(applicationTitle(),
                                 translate("Error while loading shared library '%1' or one of it's "
                                           "dependencies!\n\nProgram will be terminated.")
                                     .arg(m_library.fileName()),
                                 1);
        return;
    }
    qDebug().noquote() << m_library.fileName() << "loaded succesfully";

    QStringList group;
    const auto bind = [this, &group](const char* name, auto& entry) {
        group << (resolveEntry(m_library, name, entry) ? QStringLiteral("true") : QStringLiteral("false"));
    };
    const auto endGroup = [&group](const char* title) {
        qDebug().noquote() << title << group.join(QLatin1Char(' '));
        group.clear();
    };
#define TESMAR_BIND(entry) bind(#entry, entry)
    TESMAR_BIND(snmpInit);
    TESMAR_BIND(snmpCleanup);
    TESMAR_BIND(snmpOpen);
    TESMAR_BIND(snmpClose);
    endGroup("snmp:");
    TESMAR_BIND(getMainSwitch);
    TESMAR_BIND(setMainSwitch);
    TESMAR_BIND(getMainStatus);
    TESMAR_BIND(getIpStaticAddress);
    TESMAR_BIND(setIpStaticAddress);
    TESMAR_BIND(getPsSerialNumber);
    TESMAR_BIND(getSysDescr);
    TESMAR_BIND(getPsAuxVoltage);
    TESMAR_BIND(getPsAuxCurrent);
    TESMAR_BIND(getFanNominalSpeed);
    TESMAR_BIND(setFanNominalSpeed);
    endGroup("crate:");
    TESMAR_BIND(getOutputNumber);
    TESMAR_BIND(getOutputGroups);
    TESMAR_BIND(getOutputGroup);
    endGroup("output groups:");
    TESMAR_BIND(getChannelStatus);
    TESMAR_BIND(getOutputSenseMeasurement);
    TESMAR_BIND(getOutputTerminalMeasurement);
    TESMAR_BIND(getCurrentMeasurement);
    endGroup("channel measurements:");
    TESMAR_BIND(setHighVoltageGroupsSwitch);
    TESMAR_BIND(getHighVoltageGroupsSwitch);
    TESMAR_BIND(setLowVoltageGroupsSwitch);
    TESMAR_BIND(getLowVoltageGroupsSwitch);
    endGroup("groups switch:");
    TESMAR_BIND(getTemperatureMeasurement);
    TESMAR_BIND(getModuleAuxTemperature);
    TESMAR_BIND(setChannelSwitch);
    TESMAR_BIND(getChannelSwitch);
    endGroup("temperature and switch:");
    TESMAR_BIND(getOutputVoltage);
    TESMAR_BIND(setOutputVoltage);
    TESMAR_BIND(getOutputCurrent);
    TESMAR_BIND(setOutputCurrent);
    TESMAR_BIND(getOutputRiseRate);
    TESMAR_BIND(setOutputRiseRate);
    TESMAR_BIND(getOutputFallRate);
    TESMAR_BIND(setOutputFallRate);
    TESMAR_BIND(getOutputCurrentRiseRate);
    TESMAR_BIND(setOutputCurrentRiseRate);
    TESMAR_BIND(getOutputCurrentFallRate);
    TESMAR_BIND(setOutputCurrentFallRate);
    endGroup("voltage and current:");
    TESMAR_BIND(getOutputSupervisionBehavior);
    TESMAR_BIND(setOutputSupervisionBehavior);
    TESMAR_BIND(getOutputSupervisionMinSenseVoltage);
    TESMAR_BIND(setOutputSupervisionMinSenseVoltage);
    TESMAR_BIND(getOutputSupervisionMaxSenseVoltage);
    TESMAR_BIND(setOutputSupervisionMaxSenseVoltage);
    TESMAR_BIND(getOutputSupervisionMaxTerminalVoltage);
    TESMAR_BIND(setOutputSupervisionMaxTerminalVoltage);
    TESMAR_BIND(getOutputSupervisionMaxCurrent);
    TESMAR_BIND(setOutputSupervisionMaxCurrent);
    TESMAR_BIND(getOutputConfigMaxSenseVoltage);
    TESMAR_BIND(getOutputConfigMaxTerminalVoltage);
    TESMAR_BIND(getOutputConfigMaxCurrent);
    TESMAR_BIND(getOutputSupervisionMaxPower);
    TESMAR_BIND(getOutputTripTimeMaxCurrent);
    TESMAR_BIND(setOutputTripTimeMaxCurrent);
    endGroup("supervision:");
    TESMAR_BIND(getModuleDescription);
    TESMAR_BIND(getModuleSupply24);
    TESMAR_BIND(getModuleSupply5);
    TESMAR_BIND(getModuleHardwareLimitVoltage);
    TESMAR_BIND(getModuleHardwareLimitCurrent);
    TESMAR_BIND(getModuleRampSpeedVoltage);
    TESMAR_BIND(setModuleRampSpeedVoltage);
    TESMAR_BIND(getModuleRampSpeedCurrent);
    TESMAR_BIND(setModuleRampSpeedCurrent);
    TESMAR_BIND(getModuleStatus);
    TESMAR_BIND(getModuleEventStatus);
    TESMAR_BIND(setModuleDoClear);
    endGroup("module:");
    TESMAR_BIND(getMultipleChannelStatuses);
    TESMAR_BIND(getMultipleOutputSwitches);
    TESMAR_BIND(setMultipleOutputSwitches);
    TESMAR_BIND(getMultipleOutputTripTimeMaxCurrents);
    TESMAR_BIND(setMultipleOutputTripTimeMaxCurrents);
    TESMAR_BIND(getMultipleOutputSupervisionBehaviors);
    TESMAR_BIND(setMultipleOutputSupervisionBehaviors);
    TESMAR_BIND(getMultipleOutputVoltages);
    TESMAR_BIND(setMultipleOutputVoltages);
    TESMAR_BIND(getMultipleMeasurementTerminalVoltages);
    TESMAR_BIND(getMultipleOutputConfigMaxTerminalVoltages);
    TESMAR_BIND(getMultipleOutputCurrents);
    TESMAR_BIND(setMultipleOutputCurrents);
    TESMAR_BIND(getMultipleMeasurementCurrents);
    TESMAR_BIND(getMultipleOutputConfigMaxCurrents);
    endGroup("multiple:");
#undef TESMAR_BIND

    m_handle = nullptr;
    if (!snmpInit || snmpInit() == 0) {
        FatalErrorHandler::raise(applicationTitle(),
                                 translate("Error while initializing SNMP!\nMost likely the "
                                           "WIENER-CRATE-MIB.txt is missing in /usr/share/snmp/mibs."
                                           "\n\nProgram will be terminated."),
                                 1);
        return;
    }
    m_libraryReady = true;
}

bool SnmpController::open(const QString& address)
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    m_address = address;
    if (m_libraryReady && snmpOpen)
        m_handle = snmpOpen(address.toLatin1().constData());
    return isConnected();
}

QString SnmpController::address()
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    return m_address;
}

bool SnmpController::isConnected()
{
    const char* serial = call(&SnmpController::getPsSerialNumber);
    return serial && *serial;
}

bool SnmpController::setIpAddress(const QString& address)
{
    std::lock_guard<std::recursive_mutex> lock(mutex());
    if (!m_handle)
        return false;
    // Only a full dotted quad: an unparsable text must not reach the crate as 0.0.0.0 (which
    // switches it to DHCP), and short forms such as "192.168.1" would name another address.
    static const QRegularExpression dottedQuad(QStringLiteral("^\\d{1,3}(\\.\\d{1,3}){3}$"));
    const QString text = address.trimmed();
    bool isIpv4 = false;
    const quint32 value = QHostAddress(text).toIPv4Address(&isIpv4);
    if (!isIpv4 || !dottedQuad.match(text).hasMatch())
        return false;
    // The crate wants the first dotted number in the least significant byte.
    call(&SnmpController::setIpStaticAddress, qbswap(value));
    return true;
}

void SnmpController::setLiveInsertion(bool) {}

bool SnmpController::liveInsertion()
{
    return false;
}

QString SnmpController::busStatus()
{
    if (call(&SnmpController::getMainSwitch) != 0)
        return translate("Bus status: OK");
    return translate("<font color=\"red\">MPOD is powered off!");
}

QString SnmpController::errorString()
{
    return QString();
}

QString SnmpController::className()
{
    return QStringLiteral("SnmpController");
}

QString SnmpController::connectionInfo()
{
    return translate("Connected to %1. %2").arg(address(), busStatus());
}

QStringList SnmpController::stringList()
{
    return m_stringList;
}
