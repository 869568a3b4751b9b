#pragma once

#include <QString>
#include <QVector>
#include <QtGlobal>

class BaseModule;

// Values of the current module that only the tool windows show, read at the cadence of the
// module values while a window that shows them is visible. Each group carries whether it was
// read: a group whose read was not answered stays invalid (0 is a reading, a failure is not).
struct ToolWindowReading
{
    // Module status/control window.
    bool moduleWordsValid = false;
    quint32 control = 0;
    quint32 eventMask = 0;
    quint32 restartTime = 0;
    quint32 eventChannelStatus = 0;
    quint32 eventChannelMask = 0;
    quint32 eventGroupStatus = 0;
    quint32 eventGroupMask = 0;

    // Channel status/control window: one entry per channel.
    bool channelEventWordsValid = false;
    QVector<quint32> channelEventStatus;
    QVector<quint32> channelEventMask;

    // Channel status/control window, in the display units below.
    bool hardwareNominalsValid = false;
    QVector<float> voltageHardwareNominal;
    QVector<float> currentHardwareNominal;

    // Bounds window, in the display units below.
    bool boundsValid = false;
    QVector<float> voltageInterlockMax;
    QVector<float> voltageInterlockMin;
    QVector<float> currentInterlockMax;
    QVector<float> currentInterlockMin;

    // Interlock-out window.
    bool interlockOutValid = false;
    quint32 interlockStatus = 0;
    quint32 interlockControl = 0;
    quint32 interlockCount = 0;
    quint32 interlockLastTrigger = 0;
    quint32 interlockChannelActualActive = 0;
    quint32 interlockChannelEverTriggered = 0;

    // Display units the voltages and currents above were read in.
    QString voltageUnit;
    QString currentUnit;

    // Which groups to read.
    struct Groups
    {
        bool moduleWords = false;
        bool channelEventWords = false;
        bool hardwareNominals = false;
        bool bounds = false;
        bool interlockOut = false;
        bool any() const { return moduleWords || channelEventWords || hardwareNominals || bounds || interlockOut; }
    };

    // Reads the groups asked for through the module's operations; a group of which the module
    // reports none of the quantities is not read (and stays invalid). The getters cannot tell a
    // failed read from a 0: a group counts as read only when the module still counts as
    // connected after it.
    static ToolWindowReading read(BaseModule& module, const Groups& groups);
    int validGroups() const;
    // How many groups read() can make valid for `module`.
    static int readableGroups(const BaseModule& module, const Groups& groups);
};
