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

    // The base addresses `module` may move to, ascending: its own grid (the size of its register
    // window) from 0x0000 up, without any address whose window would overlap the window of
    // another of `modules`. A module at the current address of `module` does not count: it is the
    // same module. Uses what the modules know already; nothing is read.
    static QList<quint16> freeAddresses(BaseModule* module, const QList<BaseModule*>& modules);

protected:
    void begin() override;

private:
    void verify(int readsLeft);
    void decide();

    quint16 m_newAddress;
};
