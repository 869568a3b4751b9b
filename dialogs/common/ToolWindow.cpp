#include "dialogs/common/ToolWindow.h"

#include "device/BaseModule.h"
#include "device/CrateSnapshot.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"

#include <QAbstractButton>
#include <QDoubleSpinBox>
#include <QHideEvent>
#include <QKeyEvent>
#include <QShowEvent>
#include <QSpinBox>
#include <QTimer>

namespace {
const char* const editedProperty = "operatorEdited";
// Light yellow behind an edited field: visible on every style, readable in black and grey.
const QString editedStyle = QStringLiteral("background-color: #fff0a0;");
} // namespace

ToolWindow::ToolWindow(DeviceSession* session, QWidget* parent)
    : QDialog(parent)
    , m_session(session)
    , m_freshnessTimer(new QTimer(this))
{
    m_freshnessTimer->setInterval(freshnessTickMs);
    connect(m_freshnessTimer, &QTimer::timeout, this, &ToolWindow::tickFreshness);
    if (!session)
        return;
    // Let go before the session drops the modules; pick the new one up once it has them.
    connect(session, &DeviceSession::modulesAboutToBeReleased, this, [this] { followModule(nullptr); });
    connect(session, &DeviceSession::modulesDiscovered, this, [this] { followModule(m_session->currentModule()); });
    connect(session, &DeviceSession::currentModuleChanged, this, [this] { followModule(m_session->currentModule()); });
    if (session->poller()) {
        connect(session->poller(), &Poller::modulePublished, this, &ToolWindow::snapshotPublished);
        connect(session->poller(), &Poller::cratePublished, this, &ToolWindow::crateSnapshotPublished);
    }
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
    crateSnapshotPublished();
    showLatestSnapshot();
    m_freshnessTimer->start();
    tickFreshness();
}

void ToolWindow::hideEvent(QHideEvent* event)
{
    QDialog::hideEvent(event);
    registerNeeds(false);
    m_freshnessTimer->stop();
}

void ToolWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier && anyEdited()) {
        clearEdits();
        editsReverted();
        tickFreshness();
        return;
    }
    QDialog::keyPressEvent(event);
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
    // Edits were meant for the module shown before.
    clearEdits();
    moduleChanged(module);
    if (isVisible()) {
        showLatestSnapshot();
        tickFreshness();
    }
}

// ---- What the window shows ----

void ToolWindow::showSnapshot(const ModuleSnapshot&, qint64)
{
}

namespace {
// Module and tool-window values are read every 11th poller tick: they count as current for one
// such period beyond the freshness time.
constexpr qint64 moduleValuesFreshForMs = 11 * Poller::tickMs + ModuleSnapshot::freshForMs;
} // namespace

bool ToolWindow::windowValuesCurrent(const ModuleSnapshot& snapshot, qint64 nowMs)
{
    return snapshot.windowValuesReadAtMs >= 0 && nowMs - snapshot.windowValuesReadAtMs <= moduleValuesFreshForMs;
}

bool ToolWindow::moduleValuesCurrent(const ModuleSnapshot& snapshot, qint64 nowMs)
{
    return snapshot.connected(nowMs) && snapshot.valuesReadAtMs >= 0
        && nowMs - snapshot.valuesReadAtMs <= moduleValuesFreshForMs;
}

void ToolWindow::showCrateSnapshot(const CrateSnapshot&, qint64)
{
}

void ToolWindow::showAnyModuleSnapshot(BaseModule*, const ModuleSnapshot&, qint64)
{
}

void ToolWindow::snapshotPublished(int moduleIndex)
{
    if (!isVisible() || !m_session || !m_session->poller())
        return;
    const QList<BaseModule*> modules = m_session->modules();
    const std::shared_ptr<const ModuleSnapshot> snapshot = m_session->poller()->moduleSnapshot(moduleIndex);
    if (!snapshot || moduleIndex < 0 || moduleIndex >= modules.size())
        return;
    const qint64 now = ModuleSnapshot::nowMs();
    showAnyModuleSnapshot(modules.at(moduleIndex), *snapshot, now);
    // The window may have let go of its module in the call above.
    if (isVisible() && m_module && modules.at(moduleIndex) == m_module.data())
        showSnapshot(*snapshot, now);
}

void ToolWindow::crateSnapshotPublished()
{
    if (!isVisible())
        return;
    if (const std::shared_ptr<const CrateSnapshot> snapshot = crateSnapshot())
        showCrateSnapshot(*snapshot, ModuleSnapshot::nowMs());
}

void ToolWindow::showLatestSnapshot()
{
    if (!isVisible())
        return;
    if (const std::shared_ptr<const ModuleSnapshot> snapshot = moduleSnapshot())
        showSnapshot(*snapshot, ModuleSnapshot::nowMs());
}

// ---- Age of what the window shows ----

void ToolWindow::showFreshness(qint64)
{
}

void ToolWindow::tickFreshness()
{
    showFreshness(ModuleSnapshot::nowMs());
}

std::shared_ptr<const ModuleSnapshot> ToolWindow::moduleSnapshot() const
{
    if (!m_session || !m_module || !m_session->poller())
        return nullptr;
    const int index = m_session->modules().indexOf(m_module.data());
    return index >= 0 ? m_session->poller()->moduleSnapshot(index) : nullptr;
}

std::shared_ptr<const CrateSnapshot> ToolWindow::crateSnapshot() const
{
    if (!m_session || !m_session->poller())
        return nullptr;
    return m_session->poller()->crateSnapshot();
}

void ToolWindow::showAgeing(QWidget* widget, bool ageing)
{
    if (widget->property("ageing").toBool() == ageing)
        return;
    widget->setProperty("ageing", ageing);
    if (!ageing) {
        widget->setPalette(QPalette());
        return;
    }
    QPalette palette = widget->palette();
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(group, role, QColor(Qt::gray));
    }
    widget->setPalette(palette);
}

// ---- Fields the operator edits ----

bool ToolWindow::isEdited(const QWidget* field)
{
    return field && field->property(editedProperty).toBool();
}

bool ToolWindow::anyEdited() const
{
    return !m_edited.isEmpty();
}

void ToolWindow::trackEdits(QAbstractButton* field)
{
    connect(field, &QAbstractButton::clicked, this, [this, field] { setEdited(field, true); });
}

void ToolWindow::trackEdits(QSpinBox* field)
{
    connect(field, &QSpinBox::valueChanged, this, [this, field] { spinBoxChanged(field); });
}

void ToolWindow::trackEdits(QDoubleSpinBox* field)
{
    connect(field, &QDoubleSpinBox::valueChanged, this, [this, field] { spinBoxChanged(field); });
}

void ToolWindow::spinBoxChanged(QWidget* field)
{
    if (m_drawing == 0)
        setEdited(field, true);
}

void ToolWindow::setEdited(QWidget* field, bool edited)
{
    if (isEdited(field) == edited)
        return;
    field->setProperty(editedProperty, edited);
    field->setStyleSheet(edited ? editedStyle : QString());
    field->setToolTip(edited ? tr("Edited: kept until it is sent; Escape reverts it") : QString());
    // Tracked fields are children of the window: they live as long as the set.
    if (edited)
        m_edited.insert(field);
    else
        m_edited.remove(field);
}

void ToolWindow::clearEdits()
{
    const QSet<QWidget*> edited = m_edited;
    for (QWidget* field : edited)
        setEdited(field, false);
}

void ToolWindow::clearEdits(const QList<QWidget*>& fields)
{
    for (QWidget* field : fields)
        setEdited(field, false);
}

void ToolWindow::editsReverted()
{
}

ToolWindow::Drawing::Drawing(ToolWindow* window)
    : m_window(window)
{
    ++m_window->m_drawing;
}

ToolWindow::Drawing::~Drawing()
{
    --m_window->m_drawing;
}

void ToolWindow::showValue(QDoubleSpinBox* field, double value)
{
    if (isEdited(field))
        return;
    const Drawing drawing(this);
    field->setValue(value);
}

void ToolWindow::showValue(QSpinBox* field, int value)
{
    if (isEdited(field))
        return;
    const Drawing drawing(this);
    field->setValue(value);
}
