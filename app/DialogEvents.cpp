#include "DialogEvents.h"

#include "dialogs/common/UserDialogs.h"
#include "ui_DialogEvents.h"

#include "device/Archive.h"
#include "device/BaseModule.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"

#include <QDateTime>
#include <QFile>
#include <QHeaderView>
#include <QStandardPaths>
#include <QTextStream>
#include <QTimer>

#include <cmath>

namespace {
constexpr qint64 hourMs = 3600 * 1000;

QString timeText(qint64 utcMs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

QString voltageText(float volts)
{
    return std::isnan(volts) ? QString() : QString::number(double(volts), 'f', 1);
}

QString moduleText(const ArchiveEvent& event)
{
    if (event.address.isEmpty())
        return event.crate;
    return event.serialNumber ? QStringLiteral("%1 (%2)").arg(event.address).arg(event.serialNumber) : event.address;
}

QString csvField(QString text)
{
    if (text.contains(QLatin1Char(',')) || text.contains(QLatin1Char('"')) || text.contains(QLatin1Char('\n')))
        text = QLatin1Char('"') + text.replace(QLatin1Char('"'), QStringLiteral("\"\"")) + QLatin1Char('"');
    return text;
}
} // namespace

DialogEvents::DialogEvents(Archive* archive, DeviceSession* session, EventLog* log, UserDialogs* dialogs, QWidget* parent)
    : QDialog(parent)
    , ui(new Ui::DialogEvents)
    , m_archive(archive)
    , m_session(session)
    , m_dialogs(dialogs)
    , m_reloadSoon(new QTimer(this))
{
    ui->setupUi(this);
    setObjectName(QStringLiteral("DialogEvents"));

    ui->comboKind->addItem(tr("All kinds"), QStringList());
    ui->comboKind->addItem(tripsPreset(), EventKind::trips());
    ui->comboKind->addItem(tr("Alarms"), QStringList{EventKind::alarmFired, EventKind::alarmAcknowledged});
    ui->comboKind->addItem(tr("Limits"), QStringList{EventKind::voltageLimit, EventKind::currentLimit});
    ui->comboKind->addItem(tr("Connection and power"),
        QStringList{EventKind::connected, EventKind::disconnected, EventKind::moduleFound, EventKind::moduleLost,
            EventKind::moduleNotConnected, EventKind::moduleAnswers, EventKind::crateNotConnected, EventKind::crateAnswers,
            EventKind::powerOff, EventKind::powerOn});
    ui->comboKind->insertSeparator(ui->comboKind->count());
    for (const QString& kind : EventKind::all())
        ui->comboKind->addItem(kind, QStringList{kind});

    ui->comboSpan->addItem(tr("1 h"), hourMs);
    ui->comboSpan->addItem(tr("24 h"), 24 * hourMs);
    ui->comboSpan->addItem(tr("7 days"), 7 * 24 * hourMs);
    ui->comboSpan->addItem(tr("30 days"), 30 * 24 * hourMs);
    ui->comboSpan->addItem(tr("All"), qint64(0));
    ui->comboSpan->setCurrentIndex(ui->comboSpan->count() - 1);

    ui->table->setColumnCount(ColumnCount);
    ui->table->setHorizontalHeaderLabels({tr("Time (UTC)"), tr("Station"), tr("Module"), tr("Channel"), tr("Event"),
        tr("V set [V]"), tr("V meas [V]"), tr("I set"), tr("I meas"), tr("Detail")});
    ui->table->verticalHeader()->hide();
    ui->table->horizontalHeader()->setStretchLastSection(true);

    fillModules();
    if (session)
        connect(session, &DeviceSession::modulesDiscovered, this, &DialogEvents::fillModules);

    // Several events in a row (a crate going silent) cost one query.
    m_reloadSoon->setSingleShot(true);
    m_reloadSoon->setInterval(300);
    connect(m_reloadSoon, &QTimer::timeout, this, &DialogEvents::reload);
    if (log)
        connect(log, &EventLog::eventRecorded, this, [this] {
            if (isVisible())
                m_reloadSoon->start();
        });
    const auto changed = [this] { reload(); };
    connect(ui->comboModule, qOverload<int>(&QComboBox::currentIndexChanged), this, changed);
    connect(ui->comboKind, qOverload<int>(&QComboBox::currentIndexChanged), this, changed);
    connect(ui->comboSpan, qOverload<int>(&QComboBox::currentIndexChanged), this, changed);
    connect(ui->spinChannel, qOverload<int>(&QSpinBox::valueChanged), this, changed);
    connect(ui->buttonExport, &QPushButton::clicked, this, &DialogEvents::exportClicked);
}

DialogEvents::~DialogEvents()
{
    delete ui;
}

void DialogEvents::fillModules()
{
    const QSignalBlocker blocker(ui->comboModule);
    const QString chosen = ui->comboModule->currentText();
    ui->comboModule->clear();
    ui->comboModule->addItem(tr("All modules"), QVariantList());
    if (m_session) {
        for (BaseModule* module : m_session->modules()) {
            const int serial = module->serialNumber();
            const QString address = module->address();
            ui->comboModule->addItem(
                serial ? QStringLiteral("%1 (%2)").arg(address).arg(serial) : address, QVariantList{address, serial});
        }
    }
    const int again = ui->comboModule->findText(chosen);
    ui->comboModule->setCurrentIndex(again < 0 ? 0 : again);
}

EventFilter DialogEvents::filter() const
{
    EventFilter filter;
    const QVariantList module = ui->comboModule->currentData().toList();
    if (module.size() == 2) {
        filter.address = module.at(0).toString();
        filter.serialNumber = module.at(1).toInt();
    }
    filter.channel = ui->spinChannel->value();
    filter.kinds = ui->comboKind->currentData().toStringList();
    const qint64 spanMs = ui->comboSpan->currentData().toLongLong();
    if (spanMs > 0)
        filter.fromUtcMs = QDateTime::currentMSecsSinceEpoch() - spanMs;
    filter.limit = 5000;
    return filter;
}

void DialogEvents::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    reload();
}

void DialogEvents::reload()
{
    if (!m_archive) {
        showEvents({}, tr("No archive: the event log is not stored (see the [Archive] settings)."));
        return;
    }
    // Only the latest query's answer is shown.
    const quint64 query = ++m_query;
    m_archive->findEvents(filter(), this, [this, query](const QVector<ArchiveEvent>& events, const QString& error) {
        if (query == m_query)
            showEvents(events, error);
    });
}

void DialogEvents::showEvents(const QVector<ArchiveEvent>& events, const QString& error)
{
    m_events = events;
    ui->labelProblem->setText(error);
    ui->labelProblem->setVisible(!error.isEmpty());
    ui->table->setRowCount(int(events.size()));
    for (int row = 0; row < events.size(); ++row) {
        const ArchiveEvent& event = events.at(row);
        const QStringList cells = {timeText(event.atUtcMs), event.station, moduleText(event),
            event.channel >= 0 ? QString::number(event.channel) : QString(), event.kind, voltageText(event.voltageSet),
            voltageText(event.voltageMeasured), currentText(event.currentSet), currentText(event.currentMeasured),
            event.detail};
        const bool fault = EventKind::channelConditions().contains(event.kind);
        for (int column = 0; column < ColumnCount; ++column) {
            auto* item = new QTableWidgetItem(cells.at(column));
            if (fault && column == ColumnKind)
                item->setForeground(Qt::red);
            ui->table->setItem(row, column, item);
        }
    }
    ui->table->resizeColumnsToContents();
    ui->labelCount->setText(events.size() >= filter().limit
            ? tr("The newest %n events are shown.", nullptr, int(events.size()))
            : tr("%n event(s).", nullptr, int(events.size())));
    emit reloaded();
}

QString DialogEvents::currentText(float amperes)
{
    return amperesText(amperes);
}

bool DialogEvents::exportCsv(const QString& path, QString* error) const
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        *error = tr("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    QTextStream out(&file);
    out << "time_utc,station,crate,address,serial,channel,kind,voltage_set_V,voltage_measured_V,current_set_A,"
           "current_measured_A,detail\n";
    const auto number = [](float value) { return std::isnan(value) ? QString() : QString::number(double(value), 'g', 7); };
    for (const ArchiveEvent& event : m_events) {
        const QStringList fields = {QDateTime::fromMSecsSinceEpoch(event.atUtcMs, Qt::UTC).toString(Qt::ISODateWithMs),
            event.station, event.crate, event.address, QString::number(event.serialNumber),
            event.channel >= 0 ? QString::number(event.channel) : QString(), event.kind, number(event.voltageSet),
            number(event.voltageMeasured), number(event.currentSet), number(event.currentMeasured), event.detail};
        QStringList quoted;
        for (const QString& field : fields)
            quoted << csvField(field);
        out << quoted.join(QLatin1Char(',')) << '\n';
    }
    out.flush();
    if (file.error() != QFileDevice::NoError) {
        *error = tr("%1 cannot be written: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

void DialogEvents::exportClicked()
{
    const QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    const QString suggested = folder
        + QStringLiteral("/events-%1.csv").arg(QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmm")));
    const QString path = m_dialogs->getSaveFileName(this, tr("Export Events"), suggested, tr("CSV files (*.csv)"));
    if (path.isEmpty())
        return;
    QString error;
    if (!exportCsv(path, &error))
        m_dialogs->critical(this, tr("Export Events"), error);
}
