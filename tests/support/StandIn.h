#pragma once

#include "core/Json.h"

#include <QByteArray>
#include <QNetworkProxy>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <QUrl>

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

// The stand-in platform (tools/standin) as a test uses it: started in its own process with a fresh
// state folder, reached through its proxy port, stopped with SIGTERM when the object goes.
// Every wait here is bounded; failures throw std::runtime_error with what went wrong.
class StandIn
{
public:
    struct LogPage
    {
        qint64 next = 0; // the cursor for the next read
        std::vector<Json> entries;
    };
    struct ControlReply
    {
        int status = 0;
        QByteArray body;
    };

    // Starts the stand-in and waits for its ready line; `scenario`, when given, is its start scenario.
    explicit StandIn(std::optional<Json> scenario = std::nullopt);
    ~StandIn();
    StandIn(const StandIn &) = delete;
    StandIn &operator=(const StandIn &) = delete;

    quint16 port() const { return m_port; }
    QString caPath() const { return m_caPath; }
    QString stateDir() const { return m_stateDir.path(); }
    QUrl proxyUrl() const;
    QNetworkProxy proxy() const;

    // Replaces the scenario; throws with the stand-in's reason when it refuses it.
    void setScenario(const Json &scenario) const;
    // The log from entry `from` on.
    LogPage logEntries(qint64 from = 0) const;
    // Reads the log until an entry from `from` on satisfies `predicate`; none when `timeout` passes.
    std::optional<Json> waitForEntry(qint64 from, const std::function<bool(const Json &)> &predicate,
                                     std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;
    // One raw request on the control port (plain HTTP, never through a proxy).
    ControlReply control(const QByteArray &method, const QByteArray &target, const QByteArray &body = {}) const;

    // Points hub code made afterwards in this process at the stand-in: https_proxy and SSL_CERT_FILE.
    void applyToEnvironment() const;

    // Sends SIGTERM and waits for the end; the exit status, or -1 when it crashed or had to be killed.
    int stop();

private:
    QTemporaryDir m_stateDir;
    QProcess m_process;
    quint16 m_port = 0;
    QString m_caPath;
};
