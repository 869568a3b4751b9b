#pragma once

#include "service/ServiceJob.h"

// Resets a VME module so that it answers at the base address programmed into it
// (BaseAddressJob): the module is asked into its special mode, up to 20 times 50 ms apart, and
// given the reset command there. Only then does the module object take the new address for its
// accesses; until the reset reached the module it answers at the old one and the program keeps
// using that. GaveUp when the module never reported special mode or refused the reset.
class AddressResetJob : public ServiceJob
{
    Q_OBJECT
public:
    AddressResetJob(DeviceSession* session, BaseModule* module, quint16 newAddress, QObject* parent = nullptr);

protected:
    void begin() override;

private:
    void attempt(int attemptsLeft);
    static QString notReset();

    quint16 m_newAddress;
};
