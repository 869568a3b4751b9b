#pragma once

#include "dialogs/common/ToolWindow.h"

#include <QPointer>
#include <QString>

#include "device/BaseModule.h"

class DeviceSession;

namespace Ui {
class DialogFactory;
}

// "Factory Settings": the VME test (a single set bit walked through the module's event mask and
// event channel mask, each value read back) and the factory reset (the module is stopped, then
// the service desk runs the reset job that rewrites its settings to the defaults and has them
// stored). The dialog only logs, sequences and shows the reset's progress; its requests go to
// its target module (the module object the procedure started on). While a reset runs the two
// procedure buttons are disabled and "Cancel Reset" is offered.
//
// The procedures advance with each reading of the target's module words: the poller's snapshots
// while the target is the module the main window shows, otherwise the reads the service desk hands
// over (update...). A read that was not answered advances nothing.
class DialogFactory : public ToolWindow
{
    Q_OBJECT
public:
    enum class State {
        Idle = 0,
        EventMaskTest = 1,
        EventChannelMaskTest = 2,
        WaitingForStop = 3,
        Settling = 4,
        SettlingEnd = 5,
    };

    explicit DialogFactory(DeviceSession* session = nullptr, QWidget* parent = nullptr);
    ~DialogFactory() override;

    State state() const;
    QString log() const;
    // The module the requests go to (null when none was named or it is gone).
    BaseModule* target() const;
    int serialNumber() const;
    // The module the next procedure acts on, its serial number as last read and its name for the
    // title ("VME BA 0x4000, serial 1234"). Ignored while a procedure runs in the shown dialog
    // (showing the dialog again ends it).
    void setTarget(BaseModule* module, int serialNumber, const QString& name);
    // True while the target's control word has a current reading (Factory Reset builds its stop
    // request from it and sends nothing without one).
    bool controlKnown() const;

signals:
    void setModuleEventMask(quint32 mask);
    void setModuleEventChannelMask(quint32 mask);
    void setModuleControl(quint32 control);
    // Starts the reset procedure on the module; factoryResetDone() or factoryResetCancelled()
    // tells when it ended.
    void storeFactorySettings();
    void cancelFactoryReset();

public slots:
    // Words of the target module as read just now; the event mask comes last of a reading (it
    // advances the procedures).
    void updateModuleControl(quint32 control);
    void updateModuleStatus(quint32 status);
    void updateModuleEventMask(quint32 mask);
    void updateModuleEventChannelMask(quint32 mask);
    // The reset procedure set `channel`'s nominal values to its hardware nominal values.
    void showChannelReset(int channel, float voltage, const QString& voltageUnit, float current, const QString& currentUnit);
    void factoryResetDone(bool success);
    void factoryResetCancelled();
    void factoryResetProgress(int done, int total);
    void setChannelNumber(int channels);
    // A request that did not reach the module (refused, or the module is gone).
    void showProblem(QString text);

    void on_btnVmeTest_clicked();
    void on_btnFactoryReset_clicked();
    void on_btnCancelReset_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    void showAnyModuleSnapshot(BaseModule* module, const ModuleSnapshot& snapshot, qint64 nowMs) override;

private:
    bool idleOrHidden() const;
    void setResetRunning(bool running);
    void resetEnded(const QString& line);
    void appendLog(const QString& line);

    Ui::DialogFactory* ui;
    State m_state = State::Idle;
    quint32 m_testMask = 0;
    int m_channels = 0;
    quint16 m_moduleControl = 0;
    quint16 m_moduleStatus = 0;
    int m_serialNumber = 0;
    QPointer<BaseModule> m_target;
    bool m_storing = false;          // the reset procedure runs
    qint64 m_snapshotTakenAtMs = -1; // the tool-window read of the latest snapshot taken
    qint64 m_controlReadAtMs = -1;   // when m_moduleControl was read; -1: not known
};
