#include "BaseAddressJob.h"

#include "device/BaseModule.h"

namespace {
// The module writes its EEPROM before it reports the new address.
constexpr int verifyReads = 10;
constexpr int verifyWaitMs = 50;

QString spacePaddedHex(quint32 value)
{
    return QStringLiteral("%1").arg(value, 4, 16, QLatin1Char(' '));
}
} // namespace

BaseAddressJob::BaseAddressJob(DeviceSession* session, BaseModule* module, quint16 newAddress, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("base address"), parent)
    , m_newAddress(newAddress)
{
}

void BaseAddressJob::begin()
{
    const quint16 address = m_newAddress;
    runStep([this, address](BaseModule& module, StepWrites& writes) -> Continuation {
        const QString what = tr("program base address 0x%1").arg(address, 4, 16, QLatin1Char('0'));
        if (!writes.check(module.programBaseAddress(address), -1, what))
            return [this, what] { finish(Refused, tr("%1 refused").arg(what)); };
        return [this] {
            setProgress(1, verifyReads + 2, tr("Programmed"));
            verify(verifyReads);
        };
    });
}

void BaseAddressJob::verify(int readsLeft)
{
    const quint16 address = m_newAddress;
    runStep([this, address, readsLeft](BaseModule& module, StepWrites&) -> Continuation {
        if (module.verifyBaseAddress() == address || readsLeft <= 1)
            return [this] { decide(); };
        return [this, readsLeft] {
            setProgress(verifyReads + 2 - readsLeft, verifyReads + 2, tr("Reading back"));
            after(verifyWaitMs, [this, readsLeft] { verify(readsLeft - 1); });
        };
    });
}

void BaseAddressJob::decide()
{
    // One read more decides, also after a read that showed the new address.
    const quint16 address = m_newAddress;
    runStep([this, address](BaseModule& module, StepWrites&) -> Continuation {
        const quint16 returned = module.verifyBaseAddress();
        return [this, address, returned] {
            if (returned == address) {
                setProgress(verifyReads + 2, verifyReads + 2, tr("Read back"));
                finish();
                return;
            }
            finish(GaveUp,
                tr("It seems the module did not accept our new address 0x%1.\n\nThe module returned 0x%2 instead. "
                   "Giving up.")
                    .arg(spacePaddedHex(address), spacePaddedHex(returned)));
        };
    });
}
