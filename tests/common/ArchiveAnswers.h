#pragma once

#include "device/Archive.h"

#include <QString>
#include <QVector>

#include <vector>

// Asks the archive on its thread and waits (running the event loop) for the answer; empty with
// `error` set when it did not come within the time.
namespace ArchiveAnswers {
QVector<ArchiveEvent> events(Archive& archive, const EventFilter& filter, QString* error = nullptr);
std::vector<ChannelHistory::Point> curve(
    Archive& archive, const QString& module, int channel, qint64 fromUtcMs, qint64 toUtcMs, QString* error = nullptr);
} // namespace ArchiveAnswers
