#pragma once

#include <QObject>
#include <QStringList>

// Short names of the bits of the module status, event status, event mask and control words,
// bit 0 first; "res" marks a reserved bit.
//
// The service-needed event sits at bit 4 of the event status and event mask words (where the
// module status word and the SNMP bit moves put it), so "ESrvc" / "MESrvc" are listed at
// position 4 here.
class TbusModuleStatusBits : public QObject
{
    Q_OBJECT
public:
    explicit TbusModuleStatusBits(QObject* parent = nullptr);

    QStringList statusNames(quint32 word) const;
    QString statusText(quint32 word) const;
    QStringList eventStatusNames(quint32 word) const;
    QString eventStatusText(quint32 word) const;
    QStringList eventMaskNames(quint32 word) const;
    QString eventMaskText(quint32 word) const;
    QStringList controlNames(quint32 word) const;
    QString controlText(quint32 word) const;

    // Entry i of a list names bit i; used by names() and text().
    static QStringList namesOf(const QStringList& list, quint32 word);
    // A comma-separated name list split into entries (empty parts kept).
    static QStringList splitNameList(const char* list);

private:
    QStringList m_status;
    QStringList m_eventStatus;
    QStringList m_eventMask;
    QStringList m_control;
};
