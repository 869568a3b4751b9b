#pragma once

#include "controller/VmeLibraryBridge.h"
#include "snmplib/interfaces/VmeEntryPoints.h"

#include <QString>

// A CAEN V1718 bridge, driven through the run-time library "CAENVME". Construction binds the
// library and opens the first V1718. A library that does not load or lacks an entry point
// leaves the bridge inert (VmeLibraryBridge): every cycle reports -3 and reads 0.
//
// isConnected() answers true while a board handle is held, so that an operator sees whether the
// bridge is there.
//
// Each operation is one library call; callers serialise them on mutex().
class V1718 : public VmeLibraryBridge
{
public:
    static constexpr const char* libraryName = "CAENVME";
    // Result code of a cycle without an open board (or without the library).
    static constexpr int noBoard = -3;

    V1718();
    ~V1718() override;

    int systemReset(int* error) override;
    int write16(quint32 address, int addressModifier, quint32 data, int* error) override;
    quint32 read16(quint32 address, int addressModifier, int* error) override;

    QString className() override;
    QString connectionInfo() override;
    bool isConnected() override;

private:
    struct Entries
    {
        TESMAR_CAENVME_ENTRY_POINTS(TESMAR_VME_ENTRY_MEMBER)
    };

    Entries m_entries;
    qint32 m_handle = 0;
};
