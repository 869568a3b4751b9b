// The event log and the measurement archive in the main window: the archive the [Archive]
// settings name (opened and written on its own thread), the event log fed from the session,
// "Events..." in the System menu, the lasting red line while the archive cannot be written and
// the status cell's tool tip that says what happened to a channel and when.
#include "TesmarControl.h"

#include "DialogEvents.h"
#include "ui_TesmarControl.h"

#include "device/Archive.h"
#include "device/DeviceSession.h"
#include "device/EventLog.h"
#include "device/TrendRecorder.h"

#include <QDateTime>
#include <QLabel>
#include <QSettings>
#include <QStatusBar>

#include <cmath>

void TesmarControl::setUpHistory()
{
    statusLabelArchive = new QLabel(this);
    statusLabelArchive->setObjectName(QStringLiteral("statusLabelArchive"));
    statusLabelArchive->setStyleSheet(QStringLiteral("QLabel { background: red; color: white; padding: 0 4px; }"));
    statusLabelArchive->hide();
    statusBar()->insertPermanentWidget(0, statusLabelArchive);

    const QSettings settings(QSettings::IniFormat, QSettings::UserScope, settingsOrganisation, settingsApplication);
    ArchiveSettings archiveSettings;
    QString error;
    if (ArchiveSettings::load(settings, &archiveSettings, &error)) {
        archiveStore = std::make_unique<Archive>(archiveSettings);
        connect(archiveStore.get(), &Archive::stateChanged, this, &TesmarControl::showArchiveState);
        archiveStore->start();
        trends->setArchive(archiveStore.get());
    } else {
        showArchiveState(false, tr("No event log or archive: %1").arg(error));
    }
    events = std::make_unique<EventLog>(session.get(), trends.get(), archiveStore.get());

    QAction* action = new QAction(tr("Events..."), this);
    action->setObjectName(QStringLiteral("actionEvents"));
    action->setStatusTip(tr("Trips, limits, alarms and connection events of every module, kept in the archive"));
    ui->menuSystem->addAction(action);
    connect(action, &QAction::triggered, this, &TesmarControl::showEvents);
}

Archive* TesmarControl::archive() const
{
    return archiveStore.get();
}

EventLog* TesmarControl::eventLog() const
{
    return events.get();
}

void TesmarControl::showEvents()
{
    if (!dialogEvents)
        dialogEvents = new DialogEvents(archiveStore.get(), session.get(), events.get(), userDialogs, this);
    dialogEvents->show();
    dialogEvents->raise();
    dialogEvents->activateWindow();
}

void TesmarControl::showArchiveState(bool working, const QString& message)
{
    statusLabelArchive->setText(working ? QString() : message);
    statusLabelArchive->setToolTip(message);
    statusLabelArchive->setVisible(!working);
}

QString TesmarControl::channelEventToolTip(int row) const
{
    if (!events)
        return {};
    const ArchiveEvent event = events->latestChannelEvent(session->currentModuleIndex(), row);
    if (event.kind.isEmpty())
        return {};
    QString text =
        tr("%1 at %2 UTC")
            .arg(event.kind,
                QDateTime::fromMSecsSinceEpoch(event.atUtcMs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")));
    if (!std::isnan(event.voltageMeasured))
        text += tr(": %1 V set, %2 V and %3 measured")
                    .arg(double(event.voltageSet), 0, 'f', 1)
                    .arg(double(event.voltageMeasured), 0, 'f', 1)
                    .arg(DialogEvents::currentText(event.currentMeasured));
    if (!event.detail.isEmpty())
        text += QStringLiteral(" (%1)").arg(event.detail);
    return text;
}
