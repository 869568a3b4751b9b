#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>

class QLoggingCategory;

// One run-time access library of a controller: loads it by name and resolves its entry points
// into typed function pointers, recording what was missing. Every controller binds its library
// through this class and fails the same way: it never ends the program itself, it stays inert
// (its entry points null) and says why through BaseController::libraryFailure(); what a failure
// means for the program is decided in one place above the device layer.
//
// The library stays loaded for the program's life (the QLibrary is never unloaded on
// destruction), so resolved pointers stay valid while anything still holds them; only an
// incomplete library is unloaded at once, after its pointers were cleared.
class LibraryBinding
{
public:
    // `category` receives the debug lines of the binding (file name, every entry's address).
    LibraryBinding(const QString& name, const QLoggingCategory& category);

    // Loads the library; false when it does not load (failure() then says why).
    bool load();

    // Resolves the exported `name` into `entry` (null when the library lacks it). A missing
    // required entry makes the binding incomplete; a missing optional one only leaves its pointer
    // null. Returns whether it was found.
    template <typename Function>
    bool resolve(const char* name, Function& entry, bool required = true)
    {
        entry = reinterpret_cast<Function>(m_library.isLoaded() ? m_library.resolve(name) : nullptr);
        noteResolved(name, reinterpret_cast<const void*>(entry), required);
        return entry != nullptr;
    }

    bool isLoaded() const { return m_library.isLoaded(); }
    // Loaded and no required entry missing.
    bool isComplete() const { return isLoaded() && m_missing.isEmpty(); }
    QString fileName() const { return m_library.fileName(); }
    QStringList missingEntries() const { return m_missing; }
    // The loader's text after a failed load(), otherwise empty.
    QString loaderError() const { return m_loaderError; }
    // What the operator is told when the binding is not complete: "Error while loading shared
    // library '<file>' or one of its dependencies!"; empty when complete.
    QString failure() const;

    // Unloads an incomplete library; the caller clears every pointer it resolved first.
    void unload();

private:
    void noteResolved(const char* name, const void* address, bool required);

    QLibrary m_library;
    const QLoggingCategory& m_category;
    QString m_loaderError;
    QStringList m_missing;
};
