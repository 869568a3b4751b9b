#include "BaseAddressJob.h"

#include "device/BaseModule.h"
#include "device/ModuleTypes.h"
#include "device/VmeModule.h"

#include <algorithm>

namespace {
// The module writes its EEPROM before it reports the new address.
constexpr int verifyReads = 10;
constexpr int verifyWaitMs = 50;
// The highest base address; A16 addresses are even.
constexpr quint32 lastAddress = 0xFFFE;

quint32 windowOf(BaseModule* module)
{
    return VmeModule::windowBytes(ModuleTypes::deviceClassOf(module->firmwareName()));
}
} // namespace

BaseAddressJob::BaseAddressJob(DeviceSession* session, BaseModule* module, quint16 newAddress, QObject* parent)
    : ServiceJob(session, module, QStringLiteral("base address"), parent)
    , m_newAddress(newAddress)
{
}

QList<quint16> BaseAddressJob::freeAddresses(BaseModule* module, const QList<BaseModule*>& modules)
{
    struct Window
    {
        quint32 start, size;
    };
    const quint16 currentAddress = module->baseAddress();
    QList<Window> used;
    for (BaseModule* other : modules) {
        if (other != module && other->baseAddress() != currentAddress)
            used.append(Window{other->baseAddress(), windowOf(other)});
    }
    const quint32 step = windowOf(module);
    QList<quint16> free;
    for (quint32 candidate = 0; candidate <= lastAddress; candidate += step) {
        const bool overlaps = std::any_of(used.cbegin(), used.cend(),
            [&](const Window& w) { return candidate < w.start + w.size && w.start < candidate + step; });
        if (!overlaps)
            free.append(quint16(candidate));
    }
    return free;
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
                    .arg(address, 4, 16, QLatin1Char(' '))
                    .arg(returned, 4, 16, QLatin1Char(' ')));
        };
    });
}
