#pragma once

#include "app/ToolWindow.h"

#include <QBitArray>
#include <QColor>
#include <QString>
#include <QVector>

namespace Ui {
class DialogOverview;
}

// All modules side by side: a column per module (up to ten), a row per channel (up to 32) with
// the measured voltage, current or both, a running-state row and a units row. Fed by the main
// window's update signals while it is visible.
//
// Columns belong to modules, not to serial numbers: two modules whose serial number is the same
// (0, unknown) get a column each. The main window's overview refresh announces its modules in
// list order (updateModuleStarted ... updateModuleCompleted), which tells such modules apart; an
// update outside that with a serial number that several columns share is ignored. A module that
// gave nothing in its turn shows "Not connected" and "---", never its old values as live.
class DialogOverview : public ToolWindow
{
    Q_OBJECT
public:
    // Item data role of the current text in "both" mode.
    static constexpr int currentTextRole = Qt::UserRole + 1;
    static constexpr int maximumColumns = 10;
    static constexpr int channelRows = 32;
    enum DisplayMode { ShowVoltages = 0, ShowCurrents = 1, ShowBoth = 2 };

    explicit DialogOverview(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogOverview() override;

    // Forgets every column and clears the table.
    void reset();
    // Claims the next column for a module (one call per module, in list order, after reset()):
    // header text `title`, tool tip with serial number, firmware name and release.
    void setModuleHeader(
        int serialNumber, const QString& title, const QString& firmwareName, const QString& firmwareRelease);

    int columnCount() const { return int(m_columns.size()); }
    DisplayMode displayMode() const { return m_mode; }

public slots:
    void updateChannelVoltageMeasure(int serialNumber, int channel, QString value);
    void updateChannelCurrentMeasure(int serialNumber, int channel, QString value);
    void updateChannelVoltage(int serialNumber, int channel, float voltage, QString unit);
    void updateChannelVoltageUnit(int serialNumber, int channel, QString unit);
    void updateChannelCurrentUnit(int serialNumber, int channel, QString unit);
    void updateModuleRunningState(int serialNumber, QString runningState, QColor color);
    // The overview refresh's brackets (see above).
    void updateAllModulesStarted();
    void updateModuleStarted(int serialNumber);
    void updateModuleCompleted(int serialNumber);

private slots:
    void on_showVoltages_clicked();
    void on_showCurrents_clicked();
    void on_showBoth_clicked();

private:
    struct Column
    {
        int serialNumber = 0;
        QVector<QString> voltageTexts = QVector<QString>(channelRows);
        QVector<QString> currentTexts = QVector<QString>(channelRows);
        QString voltageUnit;
        QString currentUnit;
        // Within the module's refresh turn: what arrived.
        QBitArray channelsUpdated = QBitArray(channelRows);
        bool runningStateUpdated = false;
    };

    // The column of `serialNumber`: the module of the running refresh turn, else the one column
    // with that number, else a new one while fewer than ten are used; -1 when none.
    int columnFor(int serialNumber);
    int claimColumn(int serialNumber);
    void drawPair(int row, int column, const QString& voltage, const QString& current);
    void setRowHeaders();

    Ui::DialogOverview* ui;
    QVector<Column> m_columns;
    DisplayMode m_mode = ShowBoth;
    int m_turnColumn = -1;    // column of the module in its refresh turn
    int m_nextTurnColumn = 0; // column of the next module the refresh announces
};
