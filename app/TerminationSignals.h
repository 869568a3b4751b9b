#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a Qt signal in the thread that created the object, so that the
// program can end as a normal close does (address lock removed, journal written) instead of
// dying on the spot. The handler only writes one byte to a socket pair (async-signal-safe); a
// QSocketNotifier reads it in the event loop. One instance per process; the handlers stay
// installed until it is destroyed, then the default action is back.
class TerminationSignals : public QObject
{
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the socket pair or a handler could not be set up (the default action stays).
    bool isInstalled() const { return m_installed; }

signals:
    // SIGTERM or SIGINT arrived; `signalNumber` says which.
    void terminationRequested(int signalNumber);

private:
    void readSignal();

    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};
