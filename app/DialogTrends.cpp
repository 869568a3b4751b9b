#include "DialogTrends.h"

#include "device/Archive.h"
#include "dialogs/common/PaletteColours.h"

#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/ModuleSnapshot.h"
#include "device/TrendRecorder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QDoubleSpinBox>
#include <QFile>
#include <QFileDialog>
#include <QGraphicsItem>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QSplitter>
#include <QTableWidget>
#include <QTextStream>
#include <QTimer>
#include <QVBoxLayout>
#include <QtCharts/QChart>
#include <QtCharts/QChartView>
#include <QtCharts/QDateTimeAxis>
#include <QtCharts/QLineSeries>
#include <QtCharts/QLogValueAxis>
#include <QtCharts/QScatterSeries>
#include <QtCharts/QValueAxis>

#include <algorithm>
#include <cmath>

namespace {
enum Column { ColumnChannel = 0, ColumnLimit = 1, ColumnHold = 2, ColumnAlarm = 3, ColumnCount = 4 };

constexpr int updateEveryMs = 1000;
constexpr int defaultShownChannels = 8;
// Used when the chart has not been laid out yet (hidden window, export before showing).
constexpr int fallbackColumns = 800;
const QColor alarmColour(255, 140, 0);

// A channel's colour in the table and in both charts, made readable on the background.
QColor channelColour(int channel, bool darkBackground)
{
    static const QColor colours[] = {QColor(31, 119, 180), QColor(214, 39, 40), QColor(44, 160, 44), QColor(148, 103, 189),
        QColor(140, 86, 75), QColor(227, 119, 194), QColor(127, 127, 127), QColor(188, 189, 34), QColor(23, 190, 207),
        QColor(0, 0, 128), QColor(128, 0, 0), QColor(0, 100, 0), QColor(75, 0, 130), QColor(255, 20, 147),
        QColor(70, 130, 180), QColor(0, 0, 0)};
    return PaletteColours::readable(colours[channel % int(std::size(colours))], darkBackground);
}

// Both charts reserve the same room around their plot areas, whatever their axis labels and
// titles need, so one moment sits at the same x in both: a legend in one chart or wider value
// labels would otherwise shift its plot area. The channel table beside the charts names the
// colours instead of a legend.
void keepPlotAreaMargins(QChart* chart)
{
    QObject::connect(chart, &QGraphicsWidget::geometryChanged, chart, [chart] {
        const QFontMetrics metrics(chart->font());
        const qreal left = metrics.horizontalAdvance(QStringLiteral("-00000.00")) + 3 * metrics.height();
        // The last time label is centred on the right edge of the plot.
        const qreal right = metrics.horizontalAdvance(QStringLiteral("00.00. 00:00")) / 2.0 + 6;
        const qreal top = metrics.height();
        const qreal bottom = 2.5 * metrics.height();
        const QRectF area = QRectF(QPointF(0, 0), chart->size()).adjusted(left, top, -right, -bottom);
        if (area.isValid() && area != chart->plotArea())
            chart->setPlotArea(area);
    });
}

// Wall-clock milliseconds of a ModuleSnapshot::nowMs() time, with the offset taken now.
qint64 wallOffsetMs()
{
    return QDateTime::currentMSecsSinceEpoch() - ModuleSnapshot::nowMs();
}

// One line per contiguous stretch of reads; a gap starts a new one.
using Segments = std::vector<QList<QPointF>>;

// Reduces the points to at most a minimum and a maximum per pixel column, so that what is
// drawn stays proportional to the chart's width and not to the number of reads.
void reduce(const std::vector<ChannelHistory::Point>& points, float ChannelHistory::Point::*low,
    float ChannelHistory::Point::*high, qint64 fromMs, qint64 spanMs, int columns, qint64 offsetMs, double scale,
    Segments* segments)
{
    segments->clear();
    int column = -1;
    float minimum = 0;
    float maximum = 0;
    qint64 columnAtMs = 0;
    const auto flush = [&] {
        if (column < 0)
            return;
        const double x = double(columnAtMs + offsetMs);
        segments->back().append(QPointF(x, minimum * scale));
        if (maximum != minimum)
            segments->back().append(QPointF(x, maximum * scale));
        column = -1;
    };
    bool open = false;
    for (const ChannelHistory::Point& point : points) {
        const float lowValue = point.*low;
        const float highValue = point.*high;
        if (std::isnan(lowValue) || std::isnan(highValue)) {
            flush();
            open = false;
            continue;
        }
        const qint64 atMs = point.atMs + point.durationMs / 2;
        const int at = int(std::clamp<qint64>((atMs - fromMs) * columns / std::max<qint64>(1, spanMs), 0, columns));
        if (!open) {
            segments->emplace_back();
            open = true;
        }
        if (at != column) {
            flush();
            column = at;
            minimum = lowValue;
            maximum = highValue;
            columnAtMs = atMs;
        } else {
            minimum = std::min(minimum, lowValue);
            maximum = std::max(maximum, highValue);
        }
    }
    flush();
}

QString spanText(qint64 spanMs)
{
    const qint64 minutes = spanMs / 60000;
    if (minutes > 24 * 60)
        return DialogTrends::tr("%n days", nullptr, int(minutes / (24 * 60)));
    return minutes < 60 ? DialogTrends::tr("%n min", nullptr, int(minutes))
                        : DialogTrends::tr("%n h", nullptr, int(minutes / 60));
}

QString number(double value)
{
    return std::isnan(value) ? QString() : QString::number(value, 'g', 7);
}
} // namespace

// Paints polylines in the chart's plot area, mapped with the ranges of the chart's axes.
class TrendTraces : public QGraphicsItem
{
public:
    struct Trace
    {
        QColor colour;
        QPolygonF points; // x: wall-clock ms, y: display unit
    };

    explicit TrendTraces(QChart* chart)
        : QGraphicsItem(chart)
        , m_chart(chart)
    {
        setZValue(20); // above the grid
        QObject::connect(chart, &QChart::plotAreaChanged, chart, [this] {
            prepareGeometryChange();
            m_plot = m_chart->plotArea();
            update();
        });
    }

    void setTraces(std::vector<Trace> traces, double xMin, double xMax, double yMin, double yMax, bool logarithmic)
    {
        prepareGeometryChange();
        m_traces = std::move(traces);
        m_logarithmic = logarithmic;
        m_xMin = xMin;
        m_xMax = xMax;
        m_yMin = transformed(yMin);
        m_yMax = transformed(yMax);
        m_plot = m_chart->plotArea();
        update();
    }
    const std::vector<Trace>& traces() const { return m_traces; }

    QRectF boundingRect() const override { return m_plot; }
    void paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*) override
    {
        if (m_xMax <= m_xMin || m_yMax <= m_yMin)
            return;
        painter->setClipRect(m_plot);
        const double sx = m_plot.width() / (m_xMax - m_xMin);
        const double sy = m_plot.height() / (m_yMax - m_yMin);
        QPolygonF mapped;
        for (const Trace& trace : m_traces) {
            mapped.resize(trace.points.size());
            for (qsizetype k = 0; k < trace.points.size(); ++k) {
                const QPointF& p = trace.points.at(k);
                mapped[k] =
                    QPointF(m_plot.left() + (p.x() - m_xMin) * sx, m_plot.bottom() - (transformed(p.y()) - m_yMin) * sy);
            }
            // A cosmetic one-pixel pen: wider lines go through the stroker, many times slower.
            painter->setPen(QPen(trace.colour, 0));
            painter->drawPolyline(mapped);
        }
    }

private:
    double transformed(double y) const { return m_logarithmic ? std::log10(std::max(y, 1e-300)) : y; }

    QChart* m_chart;
    std::vector<Trace> m_traces;
    QRectF m_plot;
    double m_xMin = 0, m_xMax = 0, m_yMin = 0, m_yMax = 0;
    bool m_logarithmic = false;
};

DialogTrends::DialogTrends(DeviceSession* session, TrendRecorder* recorder, QWidget* parent)
    : ToolWindow(session, parent)
    , m_recorder(recorder)
    , m_channels(new QTableWidget(0, ColumnCount, this))
    , m_span(new QComboBox(this))
    , m_logarithmic(new QCheckBox(tr("Logarithmic current axis"), this))
    , m_pause(new QPushButton(tr("Pause"), this))
    , m_alarmText(new QLabel(this))
    , m_voltageView(new QChartView(this))
    , m_currentView(new QChartView(this))
    , m_timer(new QTimer(this))
{
    setWindowTitle(tr("Trends"));
    setObjectName(QStringLiteral("DialogTrends"));
    m_channels->setObjectName(QStringLiteral("tblTrendChannels"));
    m_span->setObjectName(QStringLiteral("cmbSpan"));
    m_logarithmic->setObjectName(QStringLiteral("chkLogarithmic"));
    m_pause->setObjectName(QStringLiteral("btnPause"));
    m_alarmText->setObjectName(QStringLiteral("lblAlarms"));
    m_pause->setCheckable(true);
    for (qint64 spanMs : spansMs())
        m_span->addItem(spanText(spanMs), spanMs);
    m_span->setCurrentIndex(1);

    m_channels->verticalHeader()->hide();
    m_channels->setSelectionMode(QAbstractItemView::NoSelection);
    m_channels->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_channels->horizontalHeader()->setStretchLastSection(true);
    m_channels->setMinimumWidth(330);

    auto* exportCsvButton = new QPushButton(tr("Export CSV..."), this);
    auto* savePngButton = new QPushButton(tr("Save PNG..."), this);
    auto* acknowledgeButton = new QPushButton(tr("Acknowledge Alarms"), this);
    acknowledgeButton->setObjectName(QStringLiteral("btnAcknowledge"));
    acknowledgeButton->setToolTip(tr("Clears the current alarms of this module's channels. "
                                     "Alarms only show; they switch nothing."));

    auto* controls = new QHBoxLayout;
    controls->addWidget(new QLabel(tr("Span:"), this));
    controls->addWidget(m_span);
    controls->addWidget(m_logarithmic);
    controls->addWidget(m_pause);
    controls->addStretch();
    controls->addWidget(exportCsvButton);
    controls->addWidget(savePngButton);

    auto* left = new QWidget(this);
    auto* leftLayout = new QVBoxLayout(left);
    leftLayout->setContentsMargins(0, 0, 0, 0);
    leftLayout->addWidget(m_channels);
    leftLayout->addWidget(acknowledgeButton);

    auto* charts = new QWidget(this);
    charts->setObjectName(QStringLiteral("trendCharts"));
    auto* chartLayout = new QVBoxLayout(charts);
    chartLayout->setContentsMargins(0, 0, 0, 0);
    chartLayout->addWidget(m_alarmText);
    chartLayout->addWidget(m_voltageView, 1);
    chartLayout->addWidget(m_currentView, 1);
    m_alarmText->setWordWrap(true);
    m_alarmText->setVisible(false);
    m_alarmText->setStyleSheet(QStringLiteral("QLabel { background: %1; padding: 3px; }").arg(alarmColour.name()));

    auto* splitter = new QSplitter(this);
    splitter->addWidget(left);
    splitter->addWidget(charts);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({420, 680});
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(splitter, 1);
    resize(1100, 700);

    // Charts: a shared time axis each, voltage above, current below (where the alarms show).
    auto* voltageChart = new QChart;
    auto* currentChart = new QChart;
    for (QChart* chart : {voltageChart, currentChart}) {
        chart->legend()->hide();
        keepPlotAreaMargins(chart);
    }
    m_voltageView->setChart(voltageChart);
    m_currentView->setChart(currentChart);
    m_voltageTime = new QDateTimeAxis;
    m_currentTime = new QDateTimeAxis;
    m_voltageAxis = new QValueAxis;
    m_voltageTime->setTickCount(7);
    m_currentTime->setTickCount(7);
    voltageChart->addAxis(m_voltageTime, Qt::AlignBottom);
    voltageChart->addAxis(m_voltageAxis, Qt::AlignLeft);
    currentChart->addAxis(m_currentTime, Qt::AlignBottom);
    m_voltageTraces = new TrendTraces(voltageChart);
    m_currentTraces = new TrendTraces(currentChart);
    m_alarmMarks = new QScatterSeries;
    m_alarmMarks->setName(tr("Current alarm"));
    m_alarmMarks->setMarkerSize(13);
    currentChart->addSeries(m_alarmMarks);
    m_alarmMarks->attachAxis(m_currentTime);
    attachCurrentAxis();
    applyPalette();

    m_timer->setInterval(updateEveryMs);
    connect(m_timer, &QTimer::timeout, this, &DialogTrends::updateCharts);
    connect(m_span, qOverload<int>(&QComboBox::currentIndexChanged), this, &DialogTrends::updateCharts);
    connect(m_logarithmic, &QCheckBox::toggled, this, [this] {
        attachCurrentAxis();
        updateCharts();
    });
    connect(m_pause, &QPushButton::toggled, this, &DialogTrends::setPaused);
    connect(exportCsvButton, &QPushButton::clicked, this, &DialogTrends::chooseCsvFile);
    connect(savePngButton, &QPushButton::clicked, this, &DialogTrends::choosePngFile);
    connect(acknowledgeButton, &QPushButton::clicked, this, &DialogTrends::acknowledgeAll);
    connect(m_channels, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
        if (item->column() == ColumnChannel)
            updateCharts();
    });
    if (m_recorder)
        connect(m_recorder, &TrendRecorder::alarmsChanged, this, &DialogTrends::showAlarms);
    buildChannelTable();
}

DialogTrends::~DialogTrends() = default;

QVector<qint64> DialogTrends::spansMs()
{
    return {60000, 5 * 60000, 15 * 60000, 3600000, 6 * 3600000, 24 * 3600000, 7 * 24 * 3600000LL, 30 * 24 * 3600000LL};
}

void DialogTrends::setSpanMs(qint64 spanMs)
{
    const int index = m_span->findData(spanMs);
    if (index >= 0)
        m_span->setCurrentIndex(index);
}

qint64 DialogTrends::spanMs() const
{
    return m_span->currentData().toLongLong();
}

void DialogTrends::setChannelShown(int channel, bool shown)
{
    if (QTableWidgetItem* item = m_channels->item(channel, ColumnChannel))
        item->setCheckState(shown ? Qt::Checked : Qt::Unchecked);
}

QList<int> DialogTrends::shownChannels() const
{
    QList<int> channels;
    for (int row = 0; row < m_channels->rowCount(); ++row) {
        if (m_channels->item(row, ColumnChannel)->checkState() == Qt::Checked)
            channels.append(row);
    }
    return channels;
}

void DialogTrends::setLogarithmicCurrent(bool logarithmic)
{
    m_logarithmic->setChecked(logarithmic);
}

bool DialogTrends::logarithmicCurrent() const
{
    return m_logarithmic->isChecked();
}

void DialogTrends::setPaused(bool paused)
{
    if (paused == (m_pausedAtMs >= 0))
        return;
    m_pausedAtMs = paused ? ModuleSnapshot::nowMs() : -1;
    const QSignalBlocker blocker(m_pause);
    m_pause->setChecked(paused);
    updateCharts();
}

bool DialogTrends::paused() const
{
    return m_pausedAtMs >= 0;
}

QChart* DialogTrends::voltageChart() const
{
    return m_voltageView->chart();
}

QChart* DialogTrends::currentChart() const
{
    return m_currentView->chart();
}

int DialogTrends::moduleIndex() const
{
    return module() && session() ? session()->currentModuleIndex() : -1;
}

qint64 DialogTrends::viewEndMs() const
{
    return m_pausedAtMs >= 0 ? m_pausedAtMs : ModuleSnapshot::nowMs();
}

void DialogTrends::moduleChanged(BaseModule*)
{
    m_archived.clear();
    buildChannelTable();
    if (isVisible())
        updateCharts();
}

void DialogTrends::showEvent(QShowEvent* event)
{
    ToolWindow::showEvent(event);
    m_timer->start();
    updateCharts();
}

void DialogTrends::changeEvent(QEvent* event)
{
    ToolWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        applyPalette();
        if (isVisible())
            updateCharts();
    }
}

void DialogTrends::applyPalette()
{
    // The charts follow the window: a dark theme on a dark palette (the light theme's white
    // plot would glare), and channel colours lightened where they would vanish on it.
    const bool dark = PaletteColours::isDark(palette());
    if (dark != m_darkCharts || !m_themeApplied) {
        m_darkCharts = dark;
        m_themeApplied = true;
        for (QChart* chart : {voltageChart(), currentChart()}) {
            chart->setTheme(dark ? QChart::ChartThemeDark : QChart::ChartThemeLight);
            chart->setBackgroundRoundness(0);
        }
        m_alarmMarks->setColor(alarmColour);
        m_alarmMarks->setBorderColor(dark ? Qt::white : Qt::black);
    }
    const bool darkTable = PaletteColours::isDark(m_channels->palette());
    for (int channel = 0; channel < m_channels->rowCount(); ++channel) {
        if (QTableWidgetItem* item = m_channels->item(channel, ColumnChannel))
            item->setForeground(channelColour(channel, darkTable));
    }
}

void DialogTrends::hideEvent(QHideEvent* event)
{
    ToolWindow::hideEvent(event);
    m_timer->stop();
}

void DialogTrends::buildChannelTable()
{
    BaseModule* current = module();
    const ModuleIdentity identity = m_recorder ? m_recorder->identity(moduleIndex()) : ModuleIdentity();
    const int channels = current ? identity.channels : 0;
    const QString currentUnit = current ? current->currentUnit(0) : QStringLiteral("mA");
    m_currentUnit = currentUnit;
    m_amperesPerUnit = BaseModule::amperesPerCurrentUnit(BaseModule::currentUnitIndexOf(currentUnit));
    m_voltsPerUnit = current && current->voltageUnit(0) == QLatin1String("kV") ? BaseModule::voltsPerKilovolt : 1.0;
    setWindowTitle(current ? tr("Trends: %1").arg(identity.text()) : tr("Trends"));

    const QSignalBlocker blocker(m_channels);
    m_channels->clearContents();
    m_channels->setRowCount(channels);
    m_channels->setHorizontalHeaderLabels({tr("Channel"), tr("Limit (%1)").arg(currentUnit), tr("Hold (s)"), tr("Alarm")});
    const CurrentAlarms* alarms = m_recorder ? m_recorder->alarms(moduleIndex()) : nullptr;
    for (int channel = 0; channel < channels; ++channel) {
        auto* item = new QTableWidgetItem(tr("Channel %1").arg(channel));
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable);
        item->setCheckState(channel < defaultShownChannels ? Qt::Checked : Qt::Unchecked);
        item->setForeground(channelColour(channel, PaletteColours::isDark(m_channels->palette())));
        m_channels->setItem(channel, ColumnChannel, item);

        const CurrentLimit limit = alarms ? alarms->limit(channel) : CurrentLimit();
        auto* limitBox = new QDoubleSpinBox(m_channels);
        limitBox->setDecimals(3);
        limitBox->setRange(0, 1e9);
        limitBox->setSpecialValueText(tr("none"));
        limitBox->setKeyboardTracking(false);
        limitBox->setValue(limit.isSet() ? limit.limitA / m_amperesPerUnit : 0);
        auto* holdBox = new QSpinBox(m_channels);
        holdBox->setRange(0, 24 * 3600);
        holdBox->setKeyboardTracking(false);
        holdBox->setValue(int(limit.holdMs / 1000));
        m_channels->setCellWidget(channel, ColumnLimit, limitBox);
        m_channels->setCellWidget(channel, ColumnHold, holdBox);
        connect(limitBox, qOverload<double>(&QDoubleSpinBox::valueChanged), this, [this, channel] { limitEdited(channel); });
        connect(holdBox, qOverload<int>(&QSpinBox::valueChanged), this, [this, channel] { limitEdited(channel); });
        auto* alarmItem = new QTableWidgetItem;
        alarmItem->setFlags(Qt::ItemIsEnabled);
        m_channels->setItem(channel, ColumnAlarm, alarmItem);
    }
    showAlarms();
}

void DialogTrends::limitEdited(int channel)
{
    auto* limitBox = qobject_cast<QDoubleSpinBox*>(m_channels->cellWidget(channel, ColumnLimit));
    auto* holdBox = qobject_cast<QSpinBox*>(m_channels->cellWidget(channel, ColumnHold));
    if (!m_recorder || !limitBox || !holdBox)
        return;
    const CurrentLimit limit = limitBox->value() > 0
        ? CurrentLimit{limitBox->value() * m_amperesPerUnit, qint64(holdBox->value()) * 1000}
        : CurrentLimit();
    const WriteSource source("trends window");
    m_recorder->setCurrentLimit(moduleIndex(), channel, limit);
}

void DialogTrends::acknowledgeAll()
{
    if (!m_recorder)
        return;
    QList<int> channels;
    for (int channel = 0; channel < m_channels->rowCount(); ++channel)
        channels.append(channel);
    m_recorder->acknowledge(moduleIndex(), channels);
}

void DialogTrends::showAlarms()
{
    const CurrentAlarms* alarms = m_recorder ? m_recorder->alarms(moduleIndex()) : nullptr;
    const qint64 offsetMs = wallOffsetMs();
    QStringList lines;
    const QString unit = module() ? module()->currentUnit(0) : QString();
    for (int channel = 0; channel < m_channels->rowCount(); ++channel) {
        QTableWidgetItem* item = m_channels->item(channel, ColumnAlarm);
        const bool alarm = alarms && alarms->alarm(channel);
        if (!alarm) {
            item->setText(QString());
            item->setBackground(QBrush());
            continue;
        }
        const CurrentAlarms::Channel& state = alarms->channel(channel);
        const QString since =
            QDateTime::fromMSecsSinceEpoch(state.firedAtMs + offsetMs).toString(QStringLiteral("HH:mm:ss"));
        item->setText(tr("since %1").arg(since));
        item->setBackground(alarmColour);
        lines.append(tr("Channel %1: current above %2 %3 since %4 (highest %5 %3)")
                         .arg(channel)
                         .arg(state.limit.limitA / m_amperesPerUnit, 0, 'g', 4)
                         .arg(unit, since)
                         .arg(state.highestA / m_amperesPerUnit, 0, 'g', 4));
    }
    m_alarmText->setText(lines.join(QLatin1Char('\n')));
    m_alarmText->setVisible(!lines.isEmpty());
}

void DialogTrends::attachCurrentAxis()
{
    QChart* chart = currentChart();
    const QList<QAbstractSeries*> series = chart->series();
    if (m_currentAxis) {
        for (QAbstractSeries* s : series)
            s->detachAxis(m_currentAxis);
        chart->removeAxis(m_currentAxis);
        delete m_currentAxis;
    }
    if (logarithmicCurrent()) {
        auto* axis = new QLogValueAxis;
        axis->setBase(10);
        axis->setLabelFormat(QStringLiteral("%g"));
        axis->setMinorTickCount(-1);
        m_currentAxis = axis;
    } else {
        m_currentAxis = new QValueAxis;
    }
    chart->addAxis(m_currentAxis, Qt::AlignLeft);
    for (QAbstractSeries* s : series)
        s->attachAxis(m_currentAxis);
}

QLineSeries* DialogTrends::pooledSeries(QChart* chart, std::vector<QLineSeries*>& pool, size_t index, QAbstractAxis* y)
{
    while (pool.size() <= index) {
        auto* series = new QLineSeries;
        chart->addSeries(series);
        series->attachAxis(chart == voltageChart() ? static_cast<QAbstractAxis*>(m_voltageTime) : m_currentTime);
        series->attachAxis(y);
        pool.push_back(series);
    }
    return pool.at(index);
}

std::vector<ChannelHistory::Point> DialogTrends::archivedPoints(int channel, qint64 fromMs, qint64 beforeMs)
{
    Archive* archive = m_recorder ? m_recorder->archive() : nullptr;
    if (!archive)
        return {};
    const qint64 offsetMs = wallOffsetMs();
    const QString module = m_recorder->archiveKey(moduleIndex());
    Archived& archived = m_archived[channel];
    // A minute of slack: the span's start moves on with the clock.
    constexpr qint64 slackMs = 60000;
    const bool sameModule = archived.module == module && archived.fromUtcMs != 0;
    const bool covered = sameModule && fromMs + offsetMs >= archived.fromUtcMs;
    if (!covered && !(sameModule && archived.asked)) {
        archived = Archived{module, fromMs + offsetMs - slackMs, true, {}};
        archive->findCurve(module, channel, archived.fromUtcMs, beforeMs + offsetMs, this,
            [this, channel, module](const std::vector<ChannelHistory::Point>& points, const QString&) {
                Archived& answer = m_archived[channel];
                if (answer.module != module)
                    return;
                answer.points = points;
                answer.asked = false;
                if (isVisible())
                    updateCharts();
            });
    }
    std::vector<ChannelHistory::Point> points;
    for (ChannelHistory::Point point : archived.points) {
        point.atMs -= offsetMs;
        if (point.atMs + point.durationMs < fromMs || point.atMs >= beforeMs)
            continue;
        points.push_back(point);
    }
    if (!points.empty()) {
        // Between the archive and the history in memory: a gap, unless they meet.
        ChannelHistory::Point gap = points.back();
        gap.atMs += gap.durationMs;
        gap.durationMs = 0;
        gap.voltageMin = gap.voltageMax = gap.voltageMean = NAN;
        gap.currentMin = gap.currentMax = gap.currentMean = NAN;
        points.push_back(gap);
    }
    return points;
}

void DialogTrends::updateCharts()
{
    BaseModule* current = module();
    const ChannelHistory* history = m_recorder ? m_recorder->history(moduleIndex()) : nullptr;
    // The display unit was changed in the resolution settings: the limits are shown in it.
    if (current && current->currentUnit(0) != m_currentUnit)
        buildChannelTable();
    const qint64 toMs = viewEndMs();
    const qint64 span = spanMs();
    const qint64 fromMs = toMs - span;
    const qint64 offsetMs = wallOffsetMs();
    const int plotWidth = int(voltageChart()->plotArea().width());
    const int columns = plotWidth >= 100 ? plotWidth : fallbackColumns;
    const QList<int> channels = history ? shownChannels() : QList<int>();
    const bool logarithmic = logarithmicCurrent();
    const CurrentAlarms* alarms = m_recorder ? m_recorder->alarms(moduleIndex()) : nullptr;

    // Reduce every shown channel first: the current axis needs the smallest positive value.
    struct Drawn
    {
        int channel;
        Segments voltage;
        Segments current;
    };
    std::vector<Drawn> drawn;
    double vMin = INFINITY, vMax = -INFINITY, iMin = INFINITY, iMax = -INFINITY, iPositiveMin = INFINITY;
    const qint64 memoryFromMs = history && !history->isEmpty() ? history->oldestMs() : toMs;
    for (int channel : channels) {
        std::vector<ChannelHistory::Point> points;
        if (fromMs < memoryFromMs)
            points = archivedPoints(channel, fromMs, memoryFromMs);
        const std::vector<ChannelHistory::Point> recent = history->envelope(channel, fromMs, toMs, columns);
        points.insert(points.end(), recent.begin(), recent.end());
        Drawn d{channel, {}, {}};
        reduce(points, &ChannelHistory::Point::voltageMin, &ChannelHistory::Point::voltageMax, fromMs, span, columns,
            offsetMs, 1.0 / m_voltsPerUnit, &d.voltage);
        reduce(points, &ChannelHistory::Point::currentMin, &ChannelHistory::Point::currentMax, fromMs, span, columns,
            offsetMs, 1.0 / m_amperesPerUnit, &d.current);
        for (const QList<QPointF>& segment : d.voltage)
            for (const QPointF& p : segment) {
                vMin = std::min(vMin, p.y());
                vMax = std::max(vMax, p.y());
            }
        for (const QList<QPointF>& segment : d.current)
            for (const QPointF& p : segment) {
                iMin = std::min(iMin, p.y());
                iMax = std::max(iMax, p.y());
                if (p.y() > 0)
                    iPositiveMin = std::min(iPositiveMin, p.y());
            }
        if (alarms && alarms->limit(channel).isSet()) {
            const double limit = alarms->limit(channel).limitA / m_amperesPerUnit;
            iMin = std::min(iMin, limit);
            iMax = std::max(iMax, limit);
            iPositiveMin = std::min(iPositiveMin, limit);
        }
        drawn.push_back(std::move(d));
    }
    // A logarithmic axis has no zero: values at or below the floor sit on it.
    const double floor = std::isfinite(iPositiveMin) ? iPositiveMin / 2 : 1e-3;
    int points = 0;
    size_t limitUsed = 0;
    QList<QPointF> marks;
    std::vector<TrendTraces::Trace> voltageTraces;
    std::vector<TrendTraces::Trace> currentTraces;
    for (Drawn& d : drawn) {
        const QColor colour = channelColour(d.channel, m_darkCharts);
        for (QList<QPointF>& segment : d.voltage) {
            points += int(segment.size());
            voltageTraces.push_back({colour, QPolygonF(std::move(segment))});
        }
        for (QList<QPointF>& segment : d.current) {
            if (logarithmic) {
                for (QPointF& p : segment)
                    p.setY(std::max(p.y(), floor));
            }
            points += int(segment.size());
            currentTraces.push_back({colour, QPolygonF(std::move(segment))});
        }
        if (alarms && alarms->limit(d.channel).isSet()) {
            const double limit = alarms->limit(d.channel).limitA / m_amperesPerUnit;
            QLineSeries* line = pooledSeries(currentChart(), m_limitSeries, limitUsed++, m_currentAxis);
            QPen pen(colour);
            pen.setStyle(Qt::DashLine);
            line->setPen(pen);
            line->replace({QPointF(double(fromMs + offsetMs), limit), QPointF(double(toMs + offsetMs), limit)});
        }
        if (alarms && alarms->alarm(d.channel)) {
            const CurrentAlarms::Channel& state = alarms->channel(d.channel);
            if (state.firedAtMs >= fromMs && state.firedAtMs <= toMs)
                marks.append(QPointF(double(state.firedAtMs + offsetMs),
                    std::max(state.firedAtA / m_amperesPerUnit, logarithmic ? floor : -INFINITY)));
        }
    }
    for (size_t k = limitUsed; k < m_limitSeries.size(); ++k)
        m_limitSeries[k]->clear();
    m_alarmMarks->replace(marks);
    m_drawnPoints = points;

    // Axes: the span in wall-clock time, the values with a margin.
    const QString format = span <= 3600000 ? QStringLiteral("HH:mm:ss") : QStringLiteral("dd.MM. HH:mm");
    for (QDateTimeAxis* axis : {m_voltageTime, m_currentTime}) {
        if (axis->format() != format)
            axis->setFormat(format);
        axis->setRange(QDateTime::fromMSecsSinceEpoch(fromMs + offsetMs), QDateTime::fromMSecsSinceEpoch(toMs + offsetMs));
    }
    const QString voltageUnit = current ? current->voltageUnit(0) : QStringLiteral("V");
    const QString currentUnit = current ? current->currentUnit(0) : QStringLiteral("mA");
    if (m_voltageAxis->titleText() != tr("Voltage (%1)").arg(voltageUnit))
        m_voltageAxis->setTitleText(tr("Voltage (%1)").arg(voltageUnit));
    if (m_currentAxis->titleText() != tr("Current (%1)").arg(currentUnit))
        m_currentAxis->setTitleText(tr("Current (%1)").arg(currentUnit));
    if (!std::isfinite(vMin)) {
        vMin = 0;
        vMax = 1;
    }
    const double vMargin = std::max((vMax - vMin) * 0.05, 0.5);
    m_voltageAxis->setRange(vMin - vMargin, vMax + vMargin);
    if (!std::isfinite(iMin)) {
        iMin = 0;
        iMax = 1;
    }
    double currentLow = 0;
    double currentHigh = 0;
    if (logarithmic) {
        currentLow = floor / 1.5;
        currentHigh = std::max(iMax, floor) * 2;
    } else {
        const double iMargin = std::max((iMax - iMin) * 0.05, 1e-3);
        currentLow = iMin - iMargin;
        currentHigh = iMax + iMargin;
    }
    m_currentAxis->setRange(currentLow, currentHigh);
    const double xFrom = double(fromMs + offsetMs);
    const double xTo = double(toMs + offsetMs);
    m_voltageTraces->setTraces(std::move(voltageTraces), xFrom, xTo, vMin - vMargin, vMax + vMargin, false);
    m_currentTraces->setTraces(std::move(currentTraces), xFrom, xTo, currentLow, currentHigh, logarithmic);
}

QList<QPolygonF> DialogTrends::traces(bool current) const
{
    QList<QPolygonF> lines;
    for (const TrendTraces::Trace& trace : (current ? m_currentTraces : m_voltageTraces)->traces())
        lines.append(trace.points);
    return lines;
}

bool DialogTrends::exportCsv(const QString& path) const
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Text))
        return false;
    const ChannelHistory* history = m_recorder ? m_recorder->history(moduleIndex()) : nullptr;
    const qint64 toMs = viewEndMs();
    const qint64 fromMs = toMs - spanMs();
    const qint64 offsetMs = wallOffsetMs();
    struct Row
    {
        qint64 atMs;
        int channel;
        ChannelHistory::Point point;
    };
    std::vector<Row> rows;
    if (history) {
        for (int channel : shownChannels()) {
            for (const ChannelHistory::Point& point : history->points(channel, fromMs, toMs)) {
                if (!point.isGap())
                    rows.push_back(Row{point.atMs, channel, point});
            }
        }
    }
    std::stable_sort(rows.begin(), rows.end(), [](const Row& a, const Row& b) { return a.atMs < b.atMs; });
    QTextStream out(&file);
    out << "time_utc,channel,voltage_V,current_A,voltage_min_V,voltage_max_V,current_min_A,current_max_A,period_s\n";
    for (const Row& row : rows) {
        const ChannelHistory::Point& p = row.point;
        out << QDateTime::fromMSecsSinceEpoch(row.atMs + offsetMs).toUTC().toString(Qt::ISODateWithMs) << ',' << row.channel
            << ',' << number(p.voltageMean) << ',' << number(p.currentMean) << ',' << number(p.voltageMin) << ','
            << number(p.voltageMax) << ',' << number(p.currentMin) << ',' << number(p.currentMax) << ','
            << p.durationMs / 1000 << '\n';
    }
    out.flush();
    return out.status() == QTextStream::Ok && file.commit();
}

bool DialogTrends::savePng(const QString& path)
{
    QWidget* charts = findChild<QWidget*>(QStringLiteral("trendCharts"));
    return charts && charts->grab().save(path, "PNG");
}

void DialogTrends::chooseCsvFile()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Export CSV"), QStringLiteral("trends.csv"), tr("CSV files (*.csv)"));
    if (!path.isEmpty() && !exportCsv(path))
        QMessageBox::warning(this, windowTitle(), tr("Could not write %1.").arg(path));
}

void DialogTrends::choosePngFile()
{
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save PNG"), QStringLiteral("trends.png"), tr("PNG images (*.png)"));
    if (!path.isEmpty() && !savePng(path))
        QMessageBox::warning(this, windowTitle(), tr("Could not write %1.").arg(path));
}
