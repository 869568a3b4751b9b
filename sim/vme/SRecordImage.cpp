#include "SRecordImage.h"

#include <QList>

void SRecordImage::add(const SRecord& record)
{
    if (!record.isDataRecord())
        return;
    for (int i = 0; i < record.data.size(); ++i)
        m_bytes[record.address + quint32(i)] = quint8(record.data.at(i));
}

bool SRecordImage::matches(const SRecord& record) const
{
    if (!record.isDataRecord())
        return true;
    for (int i = 0; i < record.data.size(); ++i) {
        const auto found = m_bytes.find(record.address + quint32(i));
        if (found == m_bytes.end() || found->second != quint8(record.data.at(i)))
            return false;
    }
    return true;
}

bool SRecordImage::load(const QByteArray& text)
{
    clear();
    const QList<QByteArray> lines = text.split('\n');
    for (const QByteArray& rawLine : lines) {
        const QByteArray line = rawLine.trimmed();
        if (line.isEmpty())
            continue;
        SRecord record;
        if (!SRecord::parse(line, &record))
            return false;
        add(record);
    }
    return true;
}
