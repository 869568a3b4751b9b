#pragma once

#include <QObject>
#include <QStringList>

// Short names of the bits of the channel status, event status and control words, bit 0 first;
// "res" marks a reserved bit.
class TbusChannelStatusBits : public QObject
{
    Q_OBJECT
public:
    explicit TbusChannelStatusBits(QObject* parent = nullptr);

    QStringList statusNames(quint32 word) const;
    QString statusText(quint32 word) const;
    QStringList eventStatusNames(quint32 word) const;
    QString eventStatusText(quint32 word) const;
    QStringList controlNames(quint32 word) const;
    QString controlText(quint32 word) const;

private:
    QStringList m_status;
    QStringList m_eventStatus;
    QStringList m_control;
};
