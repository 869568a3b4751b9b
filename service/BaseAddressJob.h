#pragma once

#include "service/ServiceJob.h"

// Programs a new A16 base address into a VME module's EEPROM and reads it back: up to ten reads
// 50 ms apart until it shows the new address, then one read more that decides. The module keeps
// answering at its old address until it is reset (AddressResetJob). A refused write ends the
// job with Refused; an address that does not read back with GaveUp (errorText() names the value
// the module returned).
class BaseAddressJob : public ServiceJob
{
    Q_OBJECT
public:
    BaseAddressJob(DeviceSession* session, BaseModule* module, quint16 newAddress, QObject* parent = nullptr);

    quint16 newAddress() const { return m_newAddress; }

protected:
    void begin() override;

private:
    void verify(int readsLeft);
    void decide();

    quint16 m_newAddress;
};
