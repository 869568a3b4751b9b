#pragma once

#include "device/WriteJournal.h"

#include <QHash>
#include <QStringList>

// Journal lines as the tests compare them: one line per write in the older nine-field form
// (time, crate, slot, serial number, channel, quantity, value, source, result), the result
// taken from the write's result line. A "sent" line whose result line is missing keeps the
// result "sent"; a result line without its "sent" line before it comes out as
// "without sent line: <line>", so a comparison with what was expected fails.
namespace JournalLines {

inline QString olderForm(const JournalLine& line)
{
    return QStringList{line.time, line.crateAddress, line.slot, line.serialNumber, line.channel, line.quantity, line.value,
        line.source, line.result}
        .join(QLatin1Char('\t'));
}

inline QStringList writes(const QStringList& lines)
{
    QStringList writes;
    QVector<JournalLine> parsed;
    QHash<QString, int> waiting; // entry -> index in parsed / writes
    for (const QString& text : lines) {
        JournalLine line;
        if (!JournalLine::parse(text, &line)) {
            writes.append(QStringLiteral("not a journal line: ") + text);
            parsed.append(JournalLine());
            continue;
        }
        const QString key = line.host + QLatin1Char('\t') + line.program + QLatin1Char('\t') + line.entry;
        if (line.isSent()) {
            waiting.insert(key, int(writes.size()));
            writes.append(olderForm(line));
            parsed.append(line);
            continue;
        }
        const int index = waiting.contains(key) ? waiting.take(key) : -1;
        if (index < 0) {
            writes.append(QStringLiteral("without sent line: ") + olderForm(line));
            parsed.append(line);
            continue;
        }
        JournalLine paired = parsed.at(index);
        // The two lines name the same write.
        const bool same = paired.crateAddress == line.crateAddress && paired.slot == line.slot
            && paired.channel == line.channel && paired.quantity == line.quantity && paired.value == line.value;
        paired.result = line.result;
        writes[index] = same ? olderForm(paired) : QStringLiteral("sent line differs: ") + olderForm(line);
    }
    return writes;
}

} // namespace JournalLines
