#include "AddressResetJob.h"

#include "device/BaseModule.h"
#include "device/StatusWordBits.h"

namespace {
constexpr quint32 requestSpecialMode = ModuleControlBit::enterSpecialMode;
constexpr quint32 specialModeBit = ModuleStatusBit::specialMode;
constexpr quint32 commandReset = 9;
constexpr int specialModeTries = 20;
constexpr int retryWaitMs = 50;
} // namespace

AddressResetJob::AddressResetJob(DeviceSession* session, BaseModule* module, quint16 newAddress, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("base address"), parent)
    , m_newAddress(newAddress)
{
}

QString AddressResetJob::notReset()
{
    return tr("Can not set Module to special mode - reset is not possible!\n\nPlease try a hardware reset by "
              "powering the crate off/on!");
}

void AddressResetJob::begin()
{
    attempt(specialModeTries);
}

void AddressResetJob::attempt(int attemptsLeft)
{
    const quint16 address = m_newAddress;
    runStep([this, address, attemptsLeft](BaseModule& module, StepWrites& writes) -> Continuation {
        writes.check(module.setControl(requestSpecialMode), -1, tr("set module control 0x5"));
        if (module.status() & specialModeBit) {
            if (!writes.check(module.setSpecialControlCommand(commandReset), -1, tr("special command 9")))
                return [this] { finish(GaveUp, notReset()); };
            // The module restarts at the new address: from here on it is reached there.
            module.setBaseAddress(address);
            return [this] {
                setProgress(specialModeTries, specialModeTries, tr("Reset"));
                finish();
            };
        }
        if (attemptsLeft <= 1) {
            return [this] { finish(GaveUp, notReset()); };
        }
        return [this, attemptsLeft] {
            setProgress(specialModeTries - attemptsLeft + 1, specialModeTries, tr("Waiting for special mode"));
            after(retryWaitMs, [this, attemptsLeft] { attempt(attemptsLeft - 1); });
        };
    });
}
