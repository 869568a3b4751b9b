#pragma once

#include "controller/LibraryBinding.h"
#include "controller/VmeController.h"

// What the two bridges driven through a vendor library (VmUsb, V1718) share: the binding of
// their library and the record of why a bridge is unusable. A library that does not load or
// lacks an entry leaves the bridge inert, errorString() and libraryFailure() say why, and every
// cycle reports the bridge's "no device" code.
class VmeLibraryBridge : public VmeController
{
public:
    // Why the bridge is not usable: the loader's text, "Error while loading shared library
    // '<name>'" for missing entries, or what opening the bridge found; empty otherwise.
    QString errorString() override;

protected:
    explicit VmeLibraryBridge(const char* libraryName);

    // Loads the library and fills `entries` (a struct of entry pointers) through `resolveAll`
    // (called with the binding and `entries`). When the library does not load or lacks an
    // entry: records why, unloads it, clears every pointer and answers false.
    template <typename Entries, typename ResolveAll>
    bool bindLibrary(Entries& entries, ResolveAll resolveAll)
    {
        if (m_binding.load())
            resolveAll(m_binding, entries);
        if (m_binding.isComplete())
            return true;
        noteIncomplete();
        entries = Entries();
        return false;
    }

    // Written only while the controller is made.
    QString m_errorText;

private:
    void noteIncomplete();

    const char* m_libraryName;
    LibraryBinding m_binding;
};

// Inside a resolveAll(LibraryBinding& binding, Entries& entries): resolves every entry of an
// entry-point list into the member of the same name, e.g.
// TESMAR_XXUSB_ENTRY_POINTS(TESMAR_VME_RESOLVE).
#define TESMAR_VME_RESOLVE(name, result, parameters) binding.resolve(#name, entries.name);
// The members of an entries struct: one null pointer of the entry's type per entry.
#define TESMAR_VME_ENTRY_MEMBER(name, result, parameters) VmeEntry_##name name = nullptr;
