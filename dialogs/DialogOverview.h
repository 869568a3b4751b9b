#pragma once

#include "dialogs/common/ToolWindow.h"

#include <QString>

namespace Ui {
class DialogOverview;
}

class QTableWidgetItem;
class QTimer;

// All modules side by side: a column per module of the session, a row per channel up to the
// largest channel count of the modules (no channel is ever out of sight), with the measured
// voltage, current or both, a running-state row and a units row.
//
// The window renders the session's latest module snapshots itself, on its own timer while it is
// visible, whatever the channel table does; it registers Poller::AllModulesChannels, so every
// module is read each tick meanwhile. Each column follows the age rules (FreshnessRules): values
// older than the ageing time grey, older than the freshness time "---", and a module from which
// nothing was answered for that long "Not connected". A module's running state is rated over all
// its channels of one read and is "---" when that read did not reach every channel.
class DialogOverview : public ToolWindow
{
    Q_OBJECT
public:
    // Item data role of the current text in "both" mode.
    static constexpr int currentTextRole = Qt::UserRole + 1;
    static constexpr int renderIntervalMs = 200;
    static constexpr int runningStateRow = 0;
    static constexpr int unitsRow = 1;
    static constexpr int firstChannelRow = 2;
    enum DisplayMode { ShowVoltages = 0, ShowCurrents = 1, ShowBoth = 2 };

    explicit DialogOverview(DeviceSession* session, QWidget* parent = nullptr);
    ~DialogOverview() override;

    // Shows the latest snapshots now (the timer calls it while the window is visible).
    void render();

    int columnCount() const { return m_columns; }
    int channelRowCount() const { return m_channelRows; }
    DisplayMode displayMode() const { return m_mode; }

    // "HV Off", "HV On", "Ramping" or "Error" for the channel status words of one read.
    static QString runningState(const QVector<quint32>& statusWords);

private slots:
    void on_showVoltages_clicked();
    void on_showCurrents_clicked();
    void on_showBoth_clicked();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    // Columns and rows for the session's modules (headers with address, serial number and
    // firmware); the rows of channels beyond a module's count stay empty in its column.
    void layOut();
    // Every cell of the columns "Not connected" / "---": the modules were released.
    void showAllLost();
    QTableWidgetItem* cell(int row, int column);
    void setCell(int row, int column, const QString& voltage, const QString& current, bool grey);

    Ui::DialogOverview* ui;
    QTimer* m_renderTimer;
    DisplayMode m_mode = ShowBoth;
    int m_columns = 0;
    int m_channelRows = 0;
    // Set by a discovery or release: the columns are laid out anew at the next render.
    bool m_layoutDue = true;
};
