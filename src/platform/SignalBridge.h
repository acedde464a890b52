#pragma once

#include <QList>
#include <QObject>

#include <csignal>
#include <memory>

class QSocketNotifier;

// Delivers process signals (SIGINT, SIGTERM) to the main thread's event loop as `received`: the
// handler only writes the signal's number into a pipe, which a socket notifier reads, so nothing
// but that one write runs in signal context. The handlers are installed whatever the inherited
// disposition was (a signal a parent ignored would never reach a signalfd), and the dispositions
// found at construction come back when the bridge is destroyed, on every way out of the program.
// One bridge at a time: a second one is refused while the first lives.
class SignalBridge : public QObject
{
    Q_OBJECT

public:
    // Throws HubError when a bridge already exists or the pipe cannot be made.
    explicit SignalBridge(QList<int> signalNumbers, QObject *parent = nullptr);
    ~SignalBridge() override;

    SignalBridge(const SignalBridge &) = delete;
    SignalBridge &operator=(const SignalBridge &) = delete;

Q_SIGNALS:
    // One emission per signal delivered (signals that arrive faster than the loop reads may merge, as
    // the kernel merges pending signals).
    void received(int signalNumber);

private:
    void drain();

    struct Saved
    {
        int signalNumber;
        struct sigaction action;
    };
    QList<Saved> m_saved;
    int m_readEnd = -1;
    int m_writeEnd = -1;
    std::unique_ptr<QSocketNotifier> m_notifier;
};
