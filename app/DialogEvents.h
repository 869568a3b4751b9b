#pragma once

#include "device/ArchiveEvent.h"

#include <QDialog>
#include <QVector>

class Archive;
class DeviceSession;
class EventLog;
class QTimer;
class UserDialogs;
namespace Ui {
class DialogEvents;
}

// "Events": the event log from the archive, newest first, filtered by module, channel, kind
// (presets such as "Trips" and every single kind) and time span; "trips of channel 35 in the
// last 24 h" is the preset "Trips", the span "24 h" and 35 in the channel box. Each row shows
// when (UTC), which station, module and channel, what, and the set and measured voltage and
// current of that moment. The query runs on the archive's thread; while the window is shown, a
// new event of the log queries again. "Export CSV..." writes the rows shown.
class DialogEvents : public QDialog
{
    Q_OBJECT
public:
    enum Column {
        ColumnTime,
        ColumnStation,
        ColumnModule,
        ColumnChannel,
        ColumnKind,
        ColumnVoltageSet,
        ColumnVoltageMeasured,
        ColumnCurrentSet,
        ColumnCurrentMeasured,
        ColumnDetail,
        ColumnCount
    };

    DialogEvents(Archive* archive, DeviceSession* session, EventLog* log, UserDialogs* dialogs, QWidget* parent = nullptr);
    ~DialogEvents() override;

    // The filter the controls make now.
    EventFilter filter() const;
    // Queries the archive again (the answer arrives later).
    void reload();
    const QVector<ArchiveEvent>& shownEvents() const { return m_events; }
    // Writes the shown rows as CSV; false with `error` naming the file and the reason.
    bool exportCsv(const QString& path, QString* error) const;
    // Current in A as "1.234 mA" / "56.7 µA"; "" for no value.
    static QString currentText(float amperes);

    // The kind presets offered first in the kind box.
    static QString tripsPreset() { return tr("Trips"); }

signals:
    // A query was answered and shown.
    void reloaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void fillModules();
    void showEvents(const QVector<ArchiveEvent>& events, const QString& error);
    void exportClicked();

    Ui::DialogEvents* ui;
    Archive* m_archive;
    DeviceSession* m_session;
    UserDialogs* m_dialogs;
    QTimer* m_reloadSoon;
    QVector<ArchiveEvent> m_events;
    quint64 m_query = 0;
};
