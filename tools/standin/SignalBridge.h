#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a signal on the event loop: the handler only writes a byte to a
// pipe, which a socket notifier reads on the main thread.
class SignalBridge : public QObject
{
    Q_OBJECT

public:
    explicit SignalBridge(QObject *parent = nullptr);
    ~SignalBridge() override;

Q_SIGNALS:
    void terminationRequested();

private:
    QSocketNotifier *m_notifier = nullptr;
};
