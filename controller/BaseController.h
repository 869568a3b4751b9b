#pragma once

#include "controller/BusStatus.h"

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
    // The bus as last read (one request to the device where the kind has a bus status).
    virtual BusStatus busStatus();
    virtual QString errorString() = 0;
    virtual QString className();
    // Plain text naming the connection ("Connected to 10.0.0.5."); the bus status is apart.
    virtual QString connectionInfo() = 0;
    virtual QStringList stringList() = 0;
    virtual bool isConnected();

    // Why this controller cannot work: its access library did not load, lacks a required entry
    // or did not initialise. Empty when it can. A controller with a failure stays inert (calls
    // nothing of its library); it never ends the program itself. Set once, at construction.
    QString libraryFailure() const { return m_libraryFailure; }

protected:
    // Serialises all device access through this controller; see the class comment.
    std::recursive_mutex& mutex() const { return m_mutex; }

    void recordLibraryFailure(const QString& text) { m_libraryFailure = text; }

private:
    friend class ControllerLock;
    mutable std::recursive_mutex m_mutex;
    QString m_libraryFailure;
};
