#include "cloud/PlatformWebSocket.h"
#include "support/TestSupport.h"

#include <QNetworkProxy>
#include <QWebSocket>
#include <QWebSocketServer>

#include <gtest/gtest.h>

using testsupport::waitUntil;

namespace
{
// What the server does once the client is connected: send messages, then end one way or another.
struct EndCase
{
    const char *name;
    PlatformWebSocket::Limits limits;
    std::function<void(QWebSocket &)> serve;
    PlatformWebSocket::Ending::Kind kind;
    int closeCode;
    // Messages handed on before the end.
    int delivered;
};

class PlatformWebSocketEnd : public ::testing::TestWithParam<EndCase>
{
};

TEST_P(PlatformWebSocketEnd, IsToldApartAndNothingAfterItIsHandedOn)
{
    const EndCase &c = GetParam();
    QWebSocketServer server(QStringLiteral("test"), QWebSocketServer::NonSecureMode);
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost, 0));
    QObject::connect(&server, &QWebSocketServer::newConnection, &server, [&] {
        QWebSocket *peer = server.nextPendingConnection();
        QObject::connect(peer, &QWebSocket::disconnected, peer, &QObject::deleteLater);
        c.serve(*peer);
    });

    std::vector<QByteArray> messages;
    std::optional<PlatformWebSocket::Ending> ending;
    PlatformWebSocket socket(
        c.limits, [](QWebSocket &s, const QUrl &) { s.setProxy(QNetworkProxy::NoProxy); },
        [&](QByteArray bytes, bool) {
            messages.push_back(std::move(bytes));
            return true;
        },
        [&](const PlatformWebSocket::Ending &e) { ending = e; });
    socket.open(QNetworkRequest(QUrl(QStringLiteral("ws://127.0.0.1:%1/").arg(server.serverPort()))));
    ASSERT_TRUE(waitUntil([&] { return ending.has_value(); }));
    EXPECT_EQ(int(ending->kind), int(c.kind));
    EXPECT_EQ(ending->closeCode, c.closeCode);
    EXPECT_EQ(int(messages.size()), c.delivered);
    EXPECT_TRUE(socket.isEnded());
    EXPECT_FALSE(socket.sendBinary("late"));
}

const PlatformWebSocket::Limits kBinaryOnly{1024, false, true};
const PlatformWebSocket::Limits kBoth{1024, true, true};
using Kind = PlatformWebSocket::Ending::Kind;

INSTANTIATE_TEST_SUITE_P(
    Table, PlatformWebSocketEnd,
    ::testing::Values(EndCase{"CloseFrame", kBinaryOnly,
                              [](QWebSocket &peer) {
                                  peer.sendBinaryMessage("a");
                                  peer.close(QWebSocketProtocol::CloseCode(4000), QStringLiteral("taken over"));
                              },
                              Kind::closedByPeer, 4000, 1},
                      EndCase{"DropWithoutCloseFrame", kBinaryOnly,
                              [](QWebSocket &peer) {
                                  peer.sendBinaryMessage("a");
                                  peer.flush();
                                  peer.abort();
                              },
                              Kind::dropped, 0, 1},
                      EndCase{"TextWhereBinaryIsExpected", kBinaryOnly,
                              [](QWebSocket &peer) {
                                  peer.sendBinaryMessage("a");
                                  peer.sendTextMessage(QStringLiteral("b"));
                                  peer.sendBinaryMessage("c");
                              },
                              Kind::invalidFrame, 0, 1},
                      EndCase{"OneByteOverTheCap", kBoth,
                              [](QWebSocket &peer) {
                                  peer.sendBinaryMessage(QByteArray(1024, 'a'));
                                  peer.sendBinaryMessage(QByteArray(1025, 'b'));
                                  peer.sendBinaryMessage("c");
                              },
                              Kind::invalidFrame, int(QWebSocketProtocol::CloseCodeTooMuchData), 1},
                      EndCase{"FarOverTheCapInFrames", kBoth,
                              [](QWebSocket &peer) {
                                  peer.setOutgoingFrameSize(256);
                                  peer.sendTextMessage(QString(4096, u'x'));
                              },
                              Kind::invalidFrame, int(QWebSocketProtocol::CloseCodeTooMuchData), 0}),
    [](const auto &info) { return std::string(info.param.name); });
} // namespace
