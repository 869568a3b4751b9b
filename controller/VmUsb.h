#pragma once

#include "controller/VmeController.h"
#include "controller/VmeEntryPoints.h"

#include <QString>

// A Wiener VM-USB bridge, driven through the run-time library "xx_usb". Construction binds the
// library and opens the first bridge the library lists; a library that does not load or lacks
// an entry point ends the program through FatalErrorHandler with exit code 1 (a handler that
// returns leaves an inert controller). Without a bridge every cycle reports -1 and reads 0.
//
// Each operation is one library call; callers serialise them on mutex().
class VmUsb : public VmeController
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

    QString errorString() override;
    QString className() override;
    QString connectionInfo() override;
    QStringList stringList() override;
    bool isConnected() override;

    QString serialNumber() const { return m_serialNumber; }

private:
    void bindLibrary();

    void* m_handle = nullptr;
    QString m_serialNumber;
    QString m_errorText;

#define TESMAR_XXUSB_MEMBER(name, result, parameters) VmeEntry_##name m_##name = nullptr;
    TESMAR_XXUSB_ENTRY_POINTS(TESMAR_XXUSB_MEMBER)
#undef TESMAR_XXUSB_MEMBER
};
