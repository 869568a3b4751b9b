#pragma once

#include "device/ChannelReading.h"

#include <QFile>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QVector>

#include <functional>

class BaseModule;
class DeviceSession;

// Automatic voltage stepping: each step moves the set voltage by a fixed increment towards the
// upper limit, turns at it, moves down to the lower limit, turns again, and applies the value to
// one channel, one module, every module or the first four. A control pass after each step reads
// the set voltages back from the crate and reports deviations. Qt Core only; the main window
// drives it with its timers.
//
// Limits, increment and the demanded voltage are volts whatever a module shows: each module gets
// the value in its own display unit, and read-backs are compared in volts.
//
// Every request to the crate is followed by the between-requests hook (the window processes its
// events there), and a module is used only while the usable hook says so (not released meanwhile).
class AutomaticStepping : public QObject
{
    Q_OBJECT
public:
    enum Scope { SelectedChannel = 0, SelectedModule = 1, WholeSystem = 2, FirstFourModules = 3 };

    struct Parameters
    {
        double upperVolts = 500;
        double lowerVolts = 300;
        double incrementVolts = 1;
        Scope scope = SelectedModule;
    };

    // What a step or a pass acts on, as the window shows it at that moment.
    struct Target
    {
        QPointer<BaseModule> current;
        int row = -1; // the channel table's current row; -1 for none
        QList<QPointer<BaseModule>> modules;
    };

    // A deviation above this (in volts) is reported.
    static constexpr double deviationLimitVolts = 0.001;

    explicit AutomaticStepping(DeviceSession* session, QObject* parent = nullptr);

    void setUsable(std::function<bool(BaseModule*)> hook);
    // The record file, opened (appending) at the first step; "autologfile.csv" by default.
    void setLogFileName(const QString& fileName);

    // The value after `baseVolts`; turns the direction at a limit (the limit is applied in the
    // step that reaches it, the next step turns back).
    static double nextVolts(double baseVolts, const Parameters& parameters, bool* up);
    // Volts per unit of the module's voltage display unit.
    static double voltsPerUnit(BaseModule* module);

    // One step; stepFinished() follows. Does nothing while busy().
    void step(const Parameters& parameters, const Target& target);
    // The control pass for the latest demand; controlPassFinished() follows. Does nothing while
    // busy().
    void controlPass(const Parameters& parameters, const Target& target);

    bool busy() const { return m_busy; }
    bool directionUp() const { return m_up; }
    double demandedVolts() const { return m_demandedVolts; }

signals:
    // One line for the automatic window's log.
    void controlLog(QString message);
    // `demanded` false: nothing was demanded (no module or channel, or the reference channel
    // could not be read); the reason is in the log.
    void stepFinished(bool demanded);
    void controlPassFinished(int errors);

private:
    // What a module answered for a step or a pass, read on the device side.
    struct Answer
    {
        bool reached = false; // the command ran on the module (else: gone, or not connected)
        bool ok = false;      // the write was taken
        QString address;
        QString error;
        double voltsPerUnit = 1;
        int serialNumber = 0;
        QVector<ChannelReading> readings;
        QVector<int> highRangeChannels;
    };
    using Request = std::function<Answer(BaseModule& module)>;
    using Outcome = std::function<void(const Answer& answer)>;
    struct Module
    {
        QPointer<BaseModule> module;
        QString address;
        double voltsPerUnit = 1;
        int serialNumber = 0;
    };

    QList<QPointer<BaseModule>> scopeModules(const Parameters& parameters, const Target& target) const;
    bool usable(BaseModule* module) const;
    // `request` on `module` in the poller's thread, then `outcome` here (with `reached` false
    // when the module is gone). One request at a time.
    void submit(BaseModule* module, Request request, Outcome outcome);
    void deliver(const Answer& answer);
    // The next usable module of `modules`, taken off the list; false when none is left.
    bool takeUsable(QList<QPointer<BaseModule>>* modules, Module* next) const;
    void applyTo(QList<QPointer<BaseModule>> modules, const Parameters& parameters, int row);
    void checkModules(QList<QPointer<BaseModule>> modules, const Parameters& parameters, int row, int errors);
    int evaluate(const Module& module, const Answer& answer, const Parameters& parameters, int row);
    void writeRecord(const Module& module, const QVector<ChannelReading>& readings);

    QPointer<DeviceSession> m_session;
    std::function<bool(BaseModule*)> m_usable;
    Outcome m_pending;
    QFile m_logFile;
    bool m_up = true;
    bool m_busy = false;
    double m_demandedVolts = 0;
};
