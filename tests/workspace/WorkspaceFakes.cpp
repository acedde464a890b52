#include "WorkspaceFakes.h"

#include "core/HubError.h"
#include "support/TestSupport.h"

#include <QCoreApplication>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace workspacefakes
{
namespace
{
void resumeLater(std::coroutine_handle<> handle)
{
    QMetaObject::invokeMethod(QCoreApplication::instance(), [handle] { handle.resume(); }, Qt::QueuedConnection);
}
} // namespace

void Gate::open()
{
    m_open = true;
    for (auto handle : std::exchange(m_waiters, {}))
        resumeLater(handle);
}

QCoro::Task<void> Gate::wait()
{
    struct Awaiter
    {
        Gate &gate;
        bool await_ready() const noexcept { return gate.m_open; }
        void await_suspend(std::coroutine_handle<> handle) { gate.m_waiters.push_back(handle); }
        void await_resume() const noexcept {}
    };
    Awaiter awaiter{*this};
    co_await awaiter;
}

struct FakeClock::Waiter
{
    Instant due;
    std::coroutine_handle<> handle;
    bool woken = false;

    void wake()
    {
        if (std::exchange(woken, true))
            return;
        resumeLater(handle);
    }
};

QCoro::Task<void> FakeClock::sleep(std::chrono::milliseconds duration, CancelToken token)
{
    sleeps.push_back(duration);
    token.throwIfCancelled();
    auto waiter = std::make_shared<Waiter>();
    waiter->due = m_now + duration;
    struct Awaiter
    {
        FakeClock &clock;
        std::shared_ptr<Waiter> waiter;
        CancelToken token;
        CancelRegistration *registration;
        bool await_ready() const noexcept { return false; }
        void await_suspend(std::coroutine_handle<> handle)
        {
            waiter->handle = handle;
            clock.m_waiters.push_back(waiter);
            *registration = token.onCancel([w = waiter] { w->wake(); });
        }
        void await_resume() { registration->reset(); }
    };
    CancelRegistration registration;
    Awaiter awaiter{*this, waiter, token, &registration};
    co_await awaiter;
    std::erase(m_waiters, waiter);
    token.throwIfCancelled();
}

qsizetype FakeClock::sleeping() const
{
    return std::count_if(m_waiters.begin(), m_waiters.end(), [](const auto &waiter) { return !waiter->woken; });
}

void FakeClock::advance(std::chrono::milliseconds by)
{
    m_now += by;
    std::vector<std::shared_ptr<Waiter>> due;
    for (const auto &waiter : m_waiters)
        if (waiter->due <= m_now && !waiter->woken)
            due.push_back(waiter);
    std::stable_sort(due.begin(), due.end(), [](const auto &a, const auto &b) { return a->due < b->due; });
    for (const auto &waiter : due)
        waiter->wake();
}

QCoro::Task<void> FakeShellSocket::send(QByteArray message)
{
    if (sendGate && !sendGate->isOpen()) {
        std::shared_ptr<Gate> gate = sendGate;
        co_await gate->wait();
    }
    if (m_ended || failSends)
        throw HubError(QStringLiteral("The network connection was lost."));
    sent.push_back({std::move(message), m_clock->now()});
}

void FakeShellSocket::cancel(int closeCode)
{
    cancelledWith.push_back(closeCode);
    if (m_closeCode == 0)
        m_closeCode = closeCode;
    m_ended = true;
    m_inbox.fail(std::make_exception_ptr(ShellSocketEnded(-1)));
    if (sendGate)
        sendGate->open();
}

void FakeShellSocket::deliverStatus(const Json &status)
{
    deliver(statusFrame(status));
}

void FakeShellSocket::end(int closeCode, int transportCode)
{
    m_closeCode = closeCode;
    m_inbox.fail(std::make_exception_ptr(ShellSocketEnded(transportCode)));
}

void FakeShellSocket::endWithInvalidFrame(int closeCode)
{
    m_closeCode = closeCode;
    m_inbox.fail(std::make_exception_ptr(
        AgentCoreShellProtocol::ProtocolFailure(AgentCoreShellProtocol::ProtocolFailure::Kind::invalidFrame)));
}

NativeDocuments::Transport FakePlatform::transport()
{
    return [this](HubNetwork::Request request, CancelToken) { return answer(std::move(request)); };
}

std::vector<QString> FakePlatform::fields() const
{
    std::vector<QString> result;
    for (const auto &request : requests)
        result.push_back(request.field);
    return result;
}

QCoro::Task<HubNetwork::Reply> FakePlatform::answer(HubNetwork::Request request)
{
    const Json body = json::parse(request.body);
    const QString query = json::toQString(body["query"].get<std::string>());
    static const QRegularExpression fieldOf(QStringLiteral("\\) \\{ (\\w+)\\("));
    const QString field = fieldOf.match(query).captured(1);
    const Json variables = body["variables"];
    requests.push_back({field, query, variables,
                        QString::fromUtf8(request.request.rawHeader("Authorization")).remove(QStringLiteral("Bearer "))});

    Answer scripted;
    auto &queue = m_scripts[field];
    if (!queue.empty()) {
        scripted = std::move(queue.front());
        queue.pop_front();
    }
    // The platform's own answer unless the script gives one.
    if (scripted.object.empty() && field == QLatin1String("tavriloOpenBuildShell")) {
        const Json &held = variables["input"]["shellId"];
        scripted.object = Json{{"shellId", held.is_string() ? held.get<std::string>() : json::toStd(nextShellID)},
                               {"url", json::toStd(shellURL)},
                               {"protocol", json::toStd(NativeDocuments::shellProtocol())}};
    }
    if (scripted.object.empty() && field == QLatin1String("tavriloOpenBrowserLiveView"))
        scripted.object = Json{{"url", json::toStd(liveViewURL)}, {"browserSessionId", json::toStd(browserSessionID)}};
    if (scripted.object.empty() && field == QLatin1String("tavriloCaptureBrowserFrame"))
        scripted.object = Json{{"png", capturedPNG.toStdString()}};
    if (scripted.holdUntil) {
        std::shared_ptr<Gate> gate = scripted.holdUntil;
        co_await gate->wait();
    }
    HubNetwork::Reply reply;
    reply.status = scripted.status;
    if (!scripted.body.isEmpty()) {
        reply.body = scripted.body;
    } else {
        Json object = scripted.object;
        if (!object.contains("ok"))
            object["ok"] = true;
        reply.body = json::dump(Json{{"data", {{json::toStd(field), object}}}});
    }
    co_return reply;
}

ModelOnFakes::ModelOnFakes()
{
    NativeDocuments::Options options;
    options.clock = clock;
    options.transport = platform.transport();
    options.socketFactory = [this] {
        sockets.push_back(std::make_shared<FakeShellSocket>(clock));
        return sockets.back();
    };
    model = std::make_unique<NativeDocuments>(options);
}

void ModelOnFakes::configure(QString session, QString tenant)
{
    HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("tools-test")}});
    configuration.tenantID = tenant;
    model->configure(configuration, session, [this](CancelToken) -> QCoro::Task<QString> {
        co_return QStringLiteral("token-%1").arg(++tokenRequests);
    });
}

void ModelOnFakes::openReadyShell()
{
    testsupport::awaitFor(model->openShell());
    ASSERT_FALSE(sockets.empty());
    socket().deliverStatus(connectStatus(*model->shellID()));
    ASSERT_TRUE(testsupport::waitUntil([&] { return model->shellReady(); }));
}

Json connectStatus(const QString &shellID, bool reconnected)
{
    Json status{{"status", "Success"}, {"metadata", {{"shellId", json::toStd(shellID)}}}};
    if (reconnected)
        status["metadata"]["reconnected"] = true;
    return status;
}

QByteArray output(quint8 channel, const QByteArray &bytes)
{
    return QByteArray(1, char(channel)) + bytes;
}

QByteArray statusFrame(const Json &status)
{
    return QByteArray(1, char(AgentCoreShellProtocol::statusChannel)) + json::dump(status);
}
} // namespace workspacefakes
