#include "ToolWindow.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"

#include <QHideEvent>
#include <QShowEvent>

ToolWindow::ToolWindow(DeviceSession* session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
{
    if (!session)
        return;
    // Let go before the session drops the modules; pick the new one up once it has them.
    connect(session, &DeviceSession::modulesAboutToBeReleased, this, [this] { followModule(nullptr); });
    connect(session, &DeviceSession::modulesDiscovered, this, [this] { followModule(m_session->currentModule()); });
    connect(session, &DeviceSession::currentModuleChanged, this, [this] { followModule(m_session->currentModule()); });
    m_module = session->currentModule();
}

ToolWindow::~ToolWindow()
{
    if (m_session)
        m_session->setNeeds(this, {});
}

void ToolWindow::setNeeds(Poller::Needs needs)
{
    m_needs = needs;
    registerNeeds(isVisible());
}

Poller::Needs ToolWindow::needs() const
{
    return m_needs;
}

BaseModule* ToolWindow::module() const
{
    return m_module.data();
}

DeviceSession* ToolWindow::session() const
{
    return m_session.data();
}

void ToolWindow::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    registerNeeds(true);
}

void ToolWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    registerNeeds(false);
}

void ToolWindow::moduleChanged(BaseModule*)
{
}

void ToolWindow::registerNeeds(bool visible)
{
    // A hidden window costs the crate nothing.
    if (m_session)
        m_session->setNeeds(this, visible ? m_needs : Poller::Needs());
}

void ToolWindow::followModule(BaseModule* module)
{
    if (m_module == module)
        return;
    m_module = module;
    moduleChanged(module);
}
