#pragma once

#include "device/Freshness.h"
#include "device/Poller.h"

#include <QDialog>
#include <QPointer>
#include <QSet>

#include <memory>

class BaseModule;
class DeviceSession;
class QAbstractButton;
class QDoubleSpinBox;
class QSpinBox;
class QTimer;
struct CrateSnapshot;
struct ModuleSnapshot;

// Base of the tool windows: follows the session's current module through a guarded pointer
// (null once the module is released), and registers with the session what it needs read while
// it is visible (nothing while hidden). This base carries what every tool window shares:
//
// - What the window shows. While visible, each snapshot the poller publishes of the window's
//   module (the module object, that is its controller and slot or base address, never its
//   serial number) is handed to showSnapshot(), and so is the latest one when the window is
//   shown or its module changes. Snapshots of other modules never reach the window.
//
// - The crate. While visible, each crate snapshot the poller publishes is handed to
//   showCrateSnapshot(), and so is the latest one when the window is shown.
//
// - Every module (for a window that records all of them). While visible, each module snapshot
//   the poller publishes is also handed to showAnyModuleSnapshot() with its module.
//
// - The age of what the window shows. While the window is visible, showFreshness() is called
//   every freshnessTickMs (and at once when it is shown or its module changes); the window
//   reads the age of each of its values from the latest snapshots (moduleSnapshot(),
//   crateSnapshot()) by FreshnessRules: grey when ageing (showAgeing()), "---" or unknown bits
//   and disabled Set buttons when stale.
// - Fields the operator edits. A tracked field becomes edited by the operator's change: it is
//   marked, and the window's refresh leaves it alone until its value was sent (clearEdits()) or
//   the operator pressed Escape, which reverts every edited field to the latest reading
//   (editsReverted()). Escape without edits closes the window as before.
class ToolWindow : public QDialog
{
    Q_OBJECT
public:
    static constexpr int freshnessTickMs = 200;

    ToolWindow(DeviceSession* session, QWidget* parent = nullptr);
    ~ToolWindow() override;

    // What this window needs read while visible; registered at once when it is visible.
    void setNeeds(Poller::Needs needs);
    Poller::Needs needs() const;
    // The module this window shows; null without one or after it was released.
    BaseModule* module() const;
    DeviceSession* session() const;

    // True while the operator's change of `field` is waiting to be sent.
    static bool isEdited(const QWidget* field);
    bool anyEdited() const;
    // Grey text in `widget` and its children while `ageing`, the normal colours otherwise.
    static void showAgeing(QWidget* widget, bool ageing);

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Called when the window's module changes (also to null); the default does nothing.
    virtual void moduleChanged(BaseModule* module);

    // ---- What the window shows ----
    // A new snapshot of the window's module while the window is visible; the default does
    // nothing. Called after moduleChanged() for the module's latest snapshot.
    virtual void showSnapshot(const ModuleSnapshot& snapshot, qint64 nowMs);
    // True when the tool-window values of `snapshot` were read recently enough to be drawn: they
    // are read with the module values (every 11th poller tick), so they count as current for one
    // such period beyond the freshness time.
    static bool windowValuesCurrent(const ModuleSnapshot& snapshot, qint64 nowMs);
    // A new crate snapshot while the window is visible; the default does nothing.
    virtual void showCrateSnapshot(const CrateSnapshot& snapshot, qint64 nowMs);
    // A new snapshot of any of the session's modules (`module`) while the window is visible; the
    // default does nothing.
    virtual void showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64 nowMs);
    // The same for the module values (ramp speeds, status words, temperatures, supplies), of a
    // module that still answers.
    static bool moduleValuesCurrent(const ModuleSnapshot& snapshot, qint64 nowMs);
    // Draws the latest snapshot of the window's module at once (after the window changed what it
    // shows of it, e.g. another channel); nothing while hidden.
    void showLatestSnapshot();

    // ---- Age of what the window shows ----
    // Shows the age of every value (see above); the default does nothing.
    virtual void showFreshness(qint64 nowMs);
    // The latest snapshot of the window's module (the session's current one); null without one.
    std::shared_ptr<const ModuleSnapshot> moduleSnapshot() const;
    std::shared_ptr<const CrateSnapshot> crateSnapshot() const;

    // ---- Fields the operator edits ----
    // A box becomes edited when the operator clicks it; a spin box when its value changes other
    // than inside a Drawing scope.
    void trackEdits(QAbstractButton* field);
    void trackEdits(QSpinBox* field);
    void trackEdits(QDoubleSpinBox* field);
    void setEdited(QWidget* field, bool edited);
    // After the edited values were sent: the refresh shows the module's values again.
    void clearEdits();
    void clearEdits(const QList<QWidget*>& fields);
    // Escape reverted every edit (the marks are already cleared): draw the latest readings.
    virtual void editsReverted();
    // Programmatic changes of tracked spin boxes (values, ranges) happen inside one of these, so
    // they do not count as the operator's.
    class Drawing
    {
    public:
        explicit Drawing(ToolWindow* window);
        ~Drawing();
        Drawing(const Drawing&) = delete;
        Drawing& operator=(const Drawing&) = delete;

    private:
        ToolWindow* m_window;
    };
    // Sets a spin box the operator has not edited (inside a Drawing scope).
    void showValue(QDoubleSpinBox* field, double value);
    void showValue(QSpinBox* field, int value);

private:
    void registerNeeds(bool visible);
    void followModule(BaseModule* module);
    void tickFreshness();
    void snapshotPublished(int moduleIndex);
    void crateSnapshotPublished();
    void spinBoxChanged(QWidget* field);

    QPointer<DeviceSession> m_session;
    QPointer<BaseModule> m_module;
    Poller::Needs m_needs;
    QTimer* m_freshnessTimer;
    QSet<QWidget*> m_edited;
    int m_drawing = 0;
};
