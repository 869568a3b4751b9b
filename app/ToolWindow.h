#pragma once

#include "device/Poller.h"

#include <QDialog>
#include <QPointer>

class BaseModule;
class DeviceSession;

// Base of the tool windows: follows the session's current module through a guarded pointer
// (null once the module is released), and registers with the session what it needs read while
// it is visible (nothing while hidden). Update signals of the main window reach the concrete
// windows as before; this base only carries what every tool window shares.
class ToolWindow : public QDialog
{
    Q_OBJECT
public:
    ToolWindow(DeviceSession* session, QWidget* parent = nullptr);
    ~ToolWindow() override;

    // What this window needs read while visible; registered at once when it is visible.
    void setNeeds(Poller::Needs needs);
    Poller::Needs needs() const;
    // The module this window shows; null without one or after it was released.
    BaseModule* module() const;
    DeviceSession* session() const;

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // Called when the window's module changes (also to null); the default does nothing.
    virtual void moduleChanged(BaseModule* module);

private:
    void registerNeeds(bool visible);
    void followModule(BaseModule* module);

    QPointer<DeviceSession> m_session;
    QPointer<BaseModule> m_module;
    Poller::Needs m_needs;
};
