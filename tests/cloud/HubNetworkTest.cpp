#include "cloud/HubNetwork.h"
#include "LoopbackHttpServer.h"
#include "cloud/DeadlineError.h"
#include "cloud/EnvironmentProxyFactory.h"
#include "cloud/HubNetworkError.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QSslCertificate>
#include <QTimer>

#include <gtest/gtest.h>

using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
HubNetwork::Request post(const QUrl &url, QByteArray body = "{}")
{
    HubNetwork::Request request;
    request.request.setUrl(url);
    request.request.setHeader(QNetworkRequest::ContentTypeHeader, "application/json");
    request.body = std::move(body);
    return request;
}

HubNetwork::Reply send(HubNetwork::Request request, CancelToken token = {})
{
    return awaitFor(
        HubNetwork::send(LoopbackHttpServer::directNetwork().httpSession(), std::move(request), std::move(token)));
}

HubNetworkError::Kind failureOf(HubNetwork::Request request)
{
    try {
        send(std::move(request));
    } catch (const HubNetworkError &error) {
        return error.kind();
    }
    ADD_FAILURE() << "the request did not fail";
    return HubNetworkError::Kind::connectionLost;
}

TEST(HubNetwork, AnswerOfAnyStatusReachesTheCallerWithBodyAndHeaders)
{
    LoopbackHttpServer server([](QTcpSocket *socket, const LoopbackHttpServer::Received &request) {
        const int status = request.path == "/" ? 200 : request.path.mid(1).toInt();
        socket->write(LoopbackHttpServer::answer(status, "echo:" + request.body, "X-Trace: t1\r\n"));
    });
    const auto ok = send(post(server.url(), "{\"a\":1}"));
    EXPECT_EQ(ok.status, 200);
    EXPECT_EQ(ok.body, "echo:{\"a\":1}");
    EXPECT_FALSE(ok.overCap);
    EXPECT_TRUE(std::any_of(ok.headers.begin(), ok.headers.end(),
                            [](const auto &h) { return h.first == "X-Trace" && h.second == "t1"; }));
    ASSERT_EQ(server.requests().size(), 1);
    EXPECT_EQ(server.requests()[0].method, "POST");
    EXPECT_EQ(server.requests()[0].header("Content-Type"), "application/json");

    for (int status : {400, 401, 404, 409, 429, 500, 503}) {
        const auto failed = send(post(server.url(QStringLiteral("/%1").arg(status))));
        EXPECT_EQ(failed.status, status);
        EXPECT_EQ(failed.body, "echo:{}");
    }
}

TEST(HubNetwork, RedirectIsNeverFollowed)
{
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &request) {
        if (request.path.startsWith("/moved/"))
            socket->write(LoopbackHttpServer::answer(request.path.mid(7).toInt(), "", "Location: /elsewhere\r\n"));
        else
            socket->write(LoopbackHttpServer::answer(200, "followed"));
    });
    for (int status : {301, 302, 303, 307, 308}) {
        const auto reply = send(post(server.url(QStringLiteral("/moved/%1").arg(status))));
        EXPECT_EQ(reply.status, status);
        EXPECT_NE(reply.body, "followed");
    }
    EXPECT_EQ(server.requests().size(), 5);
}

struct CapCase
{
    const char *name;
    qint64 bodyBytes;
    qint64 maxBytes;
    bool overCap;
};

class BodyCap : public ::testing::TestWithParam<CapCase>
{
};

TEST_P(BodyCap, IsCheckedAsTheBodyArrives)
{
    const CapCase c = GetParam();
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write(LoopbackHttpServer::answer(200, QByteArray(c.bodyBytes, 'x')));
    });
    auto request = post(server.url());
    request.maxBytes = c.maxBytes;
    const auto reply = send(request);
    EXPECT_EQ(reply.status, 200);
    EXPECT_EQ(reply.overCap, c.overCap);
    if (!c.overCap)
        EXPECT_EQ(reply.body.size(), c.bodyBytes);
    else
        EXPECT_LE(reply.body.size(), c.maxBytes + 1);
}

INSTANTIATE_TEST_SUITE_P(HubNetwork, BodyCap,
                         ::testing::Values(CapCase{"ExactlyAtTheCap", 1048576, 1048576, false},
                                           CapCase{"OneByteOver", 1048577, 1048576, true},
                                           CapCase{"FarOver", 4 << 20, 1024, true},
                                           CapCase{"EmptyUnderAnyCap", 0, 0, false},
                                           CapCase{"NoCap", 3 << 20, -1, false}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(HubNetwork, BodyPastTheCapIsAbortedWithoutWaitingForTheRest)
{
    // The server announces far more than it sends; only aborting ends the request in time.
    LoopbackHttpServer server([](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
        socket->write(QByteArray(2048, 'x'));
    });
    auto request = post(server.url());
    request.maxBytes = 1024;
    const auto reply = send(request);
    EXPECT_TRUE(reply.overCap);
    EXPECT_TRUE(waitUntil([&] { return server.closedByClient() == 1; }));
}

TEST(HubNetwork, DeadlineBoundsTheWholeRequestEvenWhileBytesKeepArriving)
{
    QTimer trickle;
    QPointer<QTcpSocket> open;
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n");
        open = socket;
        trickle.start(20);
    });
    QObject::connect(&trickle, &QTimer::timeout, &server, [&] {
        if (open)
            open->write("x");
    });
    auto request = post(server.url());
    request.deadline = std::chrono::milliseconds(300);
    EXPECT_EQ(failureOf(request), HubNetworkError::Kind::timedOut);

    LoopbackHttpServer silent([](QTcpSocket *, const LoopbackHttpServer::Received &) {});
    request = post(silent.url());
    request.deadline = std::chrono::milliseconds(200);
    try {
        send(request);
        ADD_FAILURE() << "no time-out";
    } catch (const DeadlineError &error) {
        EXPECT_EQ(error.description(), QStringLiteral("The request timed out."));
    }
}

TEST(HubNetwork, TransportFailuresAreErrorsNotAnswers)
{
    LoopbackHttpServer dropping([](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
        socket->flush();
        LoopbackHttpServer::drop(socket);
    });
    EXPECT_EQ(failureOf(post(dropping.url())), HubNetworkError::Kind::connectionLost);

    QUrl closed;
    {
        LoopbackHttpServer gone([](QTcpSocket *, const LoopbackHttpServer::Received &) {});
        closed = gone.url();
    }
    EXPECT_EQ(failureOf(post(closed)), HubNetworkError::Kind::cannotConnect);
}

TEST(HubNetwork, CancellationMidFlightAbortsTheRequest)
{
    CancelSource source;
    LoopbackHttpServer server([&](QTcpSocket *, const LoopbackHttpServer::Received &) { source.cancel(); });
    EXPECT_THROW(send(post(server.url()), source.token()), CancelledError);
    EXPECT_TRUE(waitUntil([&] { return server.closedByClient() == 1; }));

    // Cancelled before it starts: nothing is sent.
    LoopbackHttpServer untouched([](QTcpSocket *, const LoopbackHttpServer::Received &) {});
    EXPECT_THROW(send(post(untouched.url()), source.token()), CancelledError);
    EXPECT_EQ(untouched.connections(), 0);
}

// How a request ended, seen by a caller that owns the request's manager.
enum class Ending {
    answer,
    overCap,
    deadline,
    cancelled,
    transport,
};

struct EndingCase
{
    const char *name;
    LoopbackHttpServer::Handler server;
    std::chrono::milliseconds deadline;
    qint64 maxBytes;
    Ending expected;
};

class OwnManager : public ::testing::TestWithParam<EndingCase>
{
};

// The caller's manager goes with the caller as soon as the wait ends, as the preview bridge's does.
// The wait must therefore end from the event loop: ended inside the abort of a deadline, a
// cancellation or the body cap, the caller would destroy the manager under that abort (caught by
// the sanitizers, and a crash with MALLOC_PERTURB_).
TEST_P(OwnManager, MayGoAsSoonAsTheRequestEnds)
{
    const EndingCase c = GetParam();
    CancelSource source;
    LoopbackHttpServer server([&](QTcpSocket *socket, const LoopbackHttpServer::Received &request) {
        if (c.expected == Ending::cancelled)
            source.cancel();
        else
            c.server(socket, request);
    });
    LoopbackHttpServer::directNetwork();
    HubNetwork::Request request = post(server.url());
    request.deadline = c.deadline;
    request.maxBytes = c.maxBytes;
    const auto ending = [](HubNetwork::Request request, CancelToken token) -> QCoro::Task<Ending> {
        auto manager = std::make_unique<QNetworkAccessManager>();
        manager->setProxy(QNetworkProxy::NoProxy);
        manager->setAutoDeleteReplies(false);
        try {
            const HubNetwork::Reply reply = co_await HubNetwork::send(manager.get(), std::move(request), token);
            co_return reply.overCap ? Ending::overCap : Ending::answer;
        } catch (const DeadlineError &) {
            co_return Ending::deadline;
        } catch (const CancelledError &) {
            co_return Ending::cancelled;
        } catch (const HubNetworkError &) {
            co_return Ending::transport;
        }
    };
    EXPECT_EQ(awaitFor(ending(std::move(request), source.token())), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    HubNetwork, OwnManager,
    ::testing::Values(
        EndingCase{"Answer",
                   [](QTcpSocket *socket, const auto &) { socket->write(LoopbackHttpServer::answer(200, "ok")); },
                   std::chrono::milliseconds(45000), -1, Ending::answer},
        EndingCase{"Deadline", [](QTcpSocket *, const auto &) {}, std::chrono::milliseconds(100), -1, Ending::deadline},
        EndingCase{"Cancellation", {}, std::chrono::milliseconds(45000), -1, Ending::cancelled},
        EndingCase{"BodyCap",
                   [](QTcpSocket *socket, const auto &) {
                       socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100000000\r\n\r\n");
                       socket->write(QByteArray(2048, 'x'));
                   },
                   std::chrono::milliseconds(45000), 1024, Ending::overCap},
        EndingCase{"DroppedConnection",
                   [](QTcpSocket *socket, const auto &) {
                       socket->write("HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\npartial");
                       socket->flush();
                       LoopbackHttpServer::drop(socket);
                   },
                   std::chrono::milliseconds(45000), -1, Ending::transport}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(HubNetwork, NothingIsPersistedBetweenRequests)
{
    // A cookie set by one answer goes back only for the life of the process, and a cacheable
    // answer is fetched again.
    LoopbackHttpServer server([](QTcpSocket *socket, const LoopbackHttpServer::Received &) {
        socket->write(LoopbackHttpServer::answer(200, "v", "Cache-Control: max-age=3600\r\nSet-Cookie: s=1\r\n"));
    });
    auto request = post(server.url());
    request.method = "GET";
    send(request);
    send(request);
    ASSERT_EQ(server.requests().size(), 2);
    EXPECT_EQ(LoopbackHttpServer::directNetwork().httpSession()->cache(), nullptr);
}

TEST(HubNetwork, TrustVariablesAddToTheSystemAuthorities)
{
    const QList<QSslCertificate> trusted = LoopbackHttpServer::directNetwork().sslConfiguration().caCertificates();
    const QSslCertificate folder(LoopbackHttpServer::kFolderAuthority, QSsl::Pem);
    ASSERT_FALSE(folder.isNull());
    EXPECT_EQ(trusted.count(folder), 1);
    for (const QSslCertificate &system : QSslConfiguration::systemCaCertificates())
        ASSERT_TRUE(trusted.contains(system));
}

struct BypassCase
{
    const char *name;
    const char *noProxy;
    const char *host;
    bool bypassed;
};

class NoProxy : public ::testing::TestWithParam<BypassCase>
{
};

TEST_P(NoProxy, ListsHostsAndTheirSubdomains)
{
    const BypassCase c = GetParam();
    const EnvironmentProxyFactory factory({"http://127.0.0.1:3128", {}, {}, c.noProxy});
    EXPECT_EQ(factory.bypasses(QString::fromUtf8(c.host)), c.bypassed);
    const QNetworkProxy proxy = factory.proxyFor(QUrl(QStringLiteral("https://%1/x").arg(QString::fromUtf8(c.host))));
    EXPECT_EQ(proxy.type(), c.bypassed ? QNetworkProxy::NoProxy : QNetworkProxy::HttpProxy);
}

INSTANTIATE_TEST_SUITE_P(
    EnvironmentProxyFactory, NoProxy,
    ::testing::Values(
        BypassCase{"Empty", "", "api.tavrilo.example", false}, BypassCase{"Star", "*", "api.tavrilo.example", true},
        BypassCase{"ExactName", "api.tavrilo.example", "api.tavrilo.example", true},
        BypassCase{"DomainWithoutDot", "tavrilo.example", "api.tavrilo.example", true},
        BypassCase{"DomainWithDot", ".tavrilo.example", "api.tavrilo.example", true},
        BypassCase{"DomainWithStar", "*.tavrilo.example", "api.tavrilo.example", true},
        BypassCase{"OnlyWholeLabels", "vrilo.example", "api.tavrilo.example", false},
        BypassCase{"CaseAndTrailingDot", "API.Tavrilo.Example.", "api.tavrilo.example", true},
        BypassCase{"SecondOfAList", "localhost, tavrilo.example", "api.tavrilo.example", true},
        BypassCase{"OtherDomain", "localhost,other.example", "api.tavrilo.example", false},
        BypassCase{"Address", "127.0.0.1", "127.0.0.1", true}, BypassCase{"Subnet", "10.0.0.0/8", "10.2.3.4", true},
        BypassCase{"OutsideSubnet", "10.0.0.0/8", "11.2.3.4", false}, BypassCase{"IPv6", "::1", "[::1]", true},
        BypassCase{"NameDoesNotListAddress", "example", "127.0.0.1", false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(EnvironmentProxyFactory, PicksTheVariableOfTheScheme)
{
    const EnvironmentProxyFactory factory({"secure:8443", "http://plain:3128", "socks5h://any:1080", {}});
    const QNetworkProxy https = factory.proxyFor(QUrl(QStringLiteral("https://api.tavrilo.example/")));
    EXPECT_EQ(https.type(), QNetworkProxy::HttpProxy);
    EXPECT_EQ(https.hostName(), QStringLiteral("secure"));
    EXPECT_EQ(https.port(), 8443);
    // WebSockets over TLS take the https proxy; Qt's own factory leaves them unproxied.
    EXPECT_EQ(factory.proxyFor(QUrl(QStringLiteral("wss://rt.tavrilo.example/realtime"))).hostName(),
              QStringLiteral("secure"));
    EXPECT_EQ(factory.proxyFor(QUrl(QStringLiteral("http://x.example/"))).hostName(), QStringLiteral("plain"));
    const QNetworkProxy other = factory.proxyFor(QUrl(QStringLiteral("ftp://x.example/")));
    EXPECT_EQ(other.type(), QNetworkProxy::Socks5Proxy);

    const EnvironmentProxyFactory fallback({{}, {}, "http://all:1", {}});
    EXPECT_EQ(fallback.proxyFor(QUrl(QStringLiteral("https://api.tavrilo.example/"))).hostName(),
              QStringLiteral("all"));
    const EnvironmentProxyFactory none({{}, {}, {}, {}});
    EXPECT_EQ(none.proxyFor(QUrl(QStringLiteral("https://api.tavrilo.example/"))).type(), QNetworkProxy::NoProxy);
    const EnvironmentProxyFactory unusable({"ftp://odd:21", {}, {}, {}});
    EXPECT_EQ(unusable.proxyFor(QUrl(QStringLiteral("https://api.tavrilo.example/"))).type(), QNetworkProxy::NoProxy);
}
} // namespace
