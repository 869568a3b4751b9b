#pragma once

#include <QLibrary>
#include <QString>
#include <QStringList>

#include <mutex>

// The access path to the hardware: one object per connection (an MPOD crate over SNMP, ...).
// Concrete controllers bind their access library at run time; modules and crates keep a plain,
// non-owning pointer to their controller.
//
// Thread safety: the device threads (the session's poller, which also carries the operator's
// commands, and a script thread) reach the device through one controller. Every module and crate
// operation takes mutex() for its whole duration (device access plus cache update), so two
// threads never interleave inside one operation. The mutex is recursive because operations call
// other operations of the same object. Only the controller itself and the device layer (through
// ControllerLock) take it.
class BaseController
{
public:
    BaseController() = default;
    virtual ~BaseController();
    BaseController(const BaseController&) = delete;
    BaseController& operator=(const BaseController&) = delete;

    virtual bool open(const QString& address);
    virtual QString address();
    virtual bool setIpAddress(const QString& address);
    virtual void setLiveInsertion(bool on);
    virtual bool liveInsertion();
    virtual QString busStatus();
    virtual QString errorString() = 0;
    virtual QString className();
    virtual QString connectionInfo() = 0;
    virtual QStringList stringList() = 0;
    virtual bool isConnected();

protected:
    // Serialises all device access through this controller; see the class comment.
    std::recursive_mutex& mutex() const { return m_mutex; }

    // Resolves one exported entry of `library` into the typed pointer `entry` (null when the
    // library lacks it). Returns whether it was found.
    template <typename Function>
    static bool resolveEntry(QLibrary& library, const char* name, Function& entry)
    {
        entry = reinterpret_cast<Function>(library.resolve(name));
        return entry != nullptr;
    }

private:
    friend class ControllerLock;
    mutable std::recursive_mutex m_mutex;
};
