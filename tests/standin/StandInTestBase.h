#pragma once

#include "support/StandIn.h"

#include <QDeadlineTimer>
#include <QTcpSocket>

#include <gtest/gtest.h>

#include <memory>
#include <vector>

// A stand-in process shared by the tests of one suite, with an empty scenario and a log cursor
// taken afresh for each test.
class StandInTest : public ::testing::Test
{
public:
    static void SetUpTestSuite() { s_standIn = std::make_unique<StandIn>(); }
    static void TearDownTestSuite() { s_standIn.reset(); }

protected:
    void SetUp() override
    {
        standIn().setScenario(Json::object());
        m_cursor = standIn().logEntries().next;
    }

    static StandIn &standIn() { return *s_standIn; }

    // Entries of this test so far.
    std::vector<Json> entries() const { return standIn().logEntries(m_cursor).entries; }
    std::vector<Json> entriesOfKind(const char *kind) const
    {
        std::vector<Json> found;
        for (auto &entry : entries()) {
            if (entry["kind"] == kind)
                found.push_back(entry);
        }
        return found;
    }

    // The stand-in's answer to a raw CONNECT: its status line.
    static QByteArray connectStatus(const QByteArray &authority)
    {
        QTcpSocket socket;
        socket.setProxy(QNetworkProxy::NoProxy);
        socket.connectToHost(QStringLiteral("127.0.0.1"), standIn().port());
        if (!socket.waitForConnected(5000))
            return "no connection";
        socket.write("CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
        QDeadlineTimer deadline(5000);
        while (!socket.canReadLine() && !deadline.hasExpired() && socket.state() == QAbstractSocket::ConnectedState)
            socket.waitForReadyRead(100);
        return socket.readLine().trimmed();
    }

    qint64 m_cursor = 0;
    static inline std::unique_ptr<StandIn> s_standIn;
};
