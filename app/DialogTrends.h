#pragma once

#include "dialogs/common/ToolWindow.h"

#include "device/ChannelHistory.h"

#include <QHash>
#include <QList>
#include <QPolygonF>
#include <QVector>

#include <vector>

class QAbstractAxis;
class QChart;
class QChartView;
class QCheckBox;
class QComboBox;
class QDateTimeAxis;
class QLabel;
class QLineSeries;
class QPushButton;
class QScatterSeries;
class QTableWidget;
class QTimer;
class QValueAxis;
class TrendRecorder;
class TrendTraces;

// Measured voltage and current of the current module's channels over time, from the recorder's
// history (what the refresh already read) and, before that, from the measurement archive (earlier
// runs of the program): the channels ticked in the table, a span from 1 min to 30 days, a linear or logarithmic current
// axis, pause, export of the shown data as CSV and of the charts as PNG. The table also holds each channel's current limit
// and hold time; a channel in alarm is marked in the table and on the current chart (limit line and a mark where the alarm
// fired), and "Acknowledge Alarms" clears the alarms of the module.
//
// The charts follow the history once a second while shown and not paused. Long spans are drawn
// with one minimum and one maximum per pixel column, so a repaint costs the same whatever the
// number of reads; the lines are painted by one plain item per chart (Qt Charts' line series
// rebuild a hover outline of every line on every change, which costs far more than drawing).
class DialogTrends : public ToolWindow
{
    Q_OBJECT
public:
    DialogTrends(DeviceSession* session, TrendRecorder* recorder, QWidget* parent = nullptr);
    ~DialogTrends() override;

    // Spans offered, in ms.
    static QVector<qint64> spansMs();
    void setSpanMs(qint64 spanMs);
    qint64 spanMs() const;
    void setChannelShown(int channel, bool shown);
    QList<int> shownChannels() const;
    void setLogarithmicCurrent(bool logarithmic);
    bool logarithmicCurrent() const;
    // A paused window keeps showing the span that ended when it was paused.
    void setPaused(bool paused);
    bool paused() const;

    // Draws the shown span from the history now.
    void updateCharts();
    // The shown channels over the shown span at the history's resolution: one line per read or
    // 10 s point, times in UTC, values in volts and amperes. False when the file cannot be written.
    bool exportCsv(const QString& path) const;
    bool savePng(const QString& path);

    QChart* voltageChart() const;
    QChart* currentChart() const;
    // Points drawn in the latest update (both charts), for the repaint measurement.
    int drawnPoints() const { return m_drawnPoints; }
    // The lines drawn in the latest update, one per stretch of reads of a channel: x in
    // wall-clock ms since the epoch, y in the module's display unit.
    QList<QPolygonF> traces(bool current) const;

protected:
    void moduleChanged(BaseModule* module) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void buildChannelTable();
    void showAlarms();
    void limitEdited(int channel);
    void acknowledgeAll();
    void chooseCsvFile();
    void choosePngFile();
    void attachCurrentAxis();
    // Chart theme and channel colours for the window's palette (light or dark).
    void applyPalette();
    // The span shown: [fromMs, toMs] on the ModuleSnapshot clock.
    qint64 viewEndMs() const;
    QLineSeries* pooledSeries(QChart* chart, std::vector<QLineSeries*>& pool, size_t index, QAbstractAxis* y);
    int moduleIndex() const;
    // Points of `channel` from the archive for [fromMs, beforeMs) (ModuleSnapshot clock): what the
    // history in memory no longer or not yet holds (a restart, spans beyond 24 h). Asks the
    // archive when its answer at hand does not reach back to fromMs; the charts are drawn again
    // when the answer comes.
    std::vector<ChannelHistory::Point> archivedPoints(int channel, qint64 fromMs, qint64 beforeMs);

    TrendRecorder* m_recorder;
    QTableWidget* m_channels;
    QComboBox* m_span;
    QCheckBox* m_logarithmic;
    QPushButton* m_pause;
    QLabel* m_alarmText;
    QChartView* m_voltageView;
    QChartView* m_currentView;
    QDateTimeAxis* m_voltageTime;
    QDateTimeAxis* m_currentTime;
    QValueAxis* m_voltageAxis;
    QAbstractAxis* m_currentAxis = nullptr;
    QScatterSeries* m_alarmMarks;
    // Traces are drawn by one item per chart, not by series.
    TrendTraces* m_voltageTraces;
    TrendTraces* m_currentTraces;
    std::vector<QLineSeries*> m_limitSeries;
    QTimer* m_timer;
    qint64 m_pausedAtMs = -1;
    int m_drawnPoints = 0;
    bool m_darkCharts = false;
    bool m_themeApplied = false;
    double m_voltsPerUnit = 1;
    double m_amperesPerUnit = 1e-3;
    QString m_currentUnit; // of the limits in the table
    // The archive's latest answer per channel, in UTC.
    struct Archived
    {
        QString module;
        qint64 fromUtcMs = 0;
        bool asked = false;
        std::vector<ChannelHistory::Point> points;
    };
    QHash<int, Archived> m_archived;
};
