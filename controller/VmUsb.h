#pragma once

#include "controller/VmeLibraryBridge.h"
#include "snmplib/interfaces/VmeEntryPoints.h"

#include <QString>

// A Wiener VM-USB bridge, driven through the run-time library "xx_usb". Construction binds the
// library and opens the first bridge the library lists. A library that does not load or lacks
// an entry point leaves the bridge inert (VmeLibraryBridge); without a bridge every cycle
// reports -1 and reads 0.
//
// Each operation is one library call; callers serialise them on mutex().
class VmUsb : public VmeLibraryBridge
{
public:
    static constexpr const char* libraryName = "xx_usb";
    // Result code of a cycle without an open bridge.
    static constexpr int noDevice = -1;

    VmUsb();
    ~VmUsb() override;

    // Does nothing: the bridge offers no bus reset. `error` is left as it is.
    int systemReset(int* error) override;
    int write16(quint32 address, int addressModifier, quint32 data, int* error) override;
    quint32 read16(quint32 address, int addressModifier, int* error) override;

    QString className() override;
    QString connectionInfo() override;
    bool isConnected() override;

    QString serialNumber() const { return m_serialNumber; }

private:
    struct Entries
    {
        TESMAR_XXUSB_ENTRY_POINTS(TESMAR_VME_ENTRY_MEMBER)
    };

    Entries m_entries;
    void* m_handle = nullptr;
    QString m_serialNumber;
};
