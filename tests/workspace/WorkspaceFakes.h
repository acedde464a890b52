#pragma once

#include "cloud/HubNetwork.h"
#include "core/HubError.h"
#include "core/Json.h"
#include "workspace/NativeDocuments.h"
#include "workspace/ShellSocket.h"
#include "workspace/WorkspaceClock.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QColor>
#include <QImage>
#include <QStringList>

#include <coroutine>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <vector>

// Stand-ins of the workspace tools' clock, command-channel socket and platform, for tests that
// step time and script the platform within the test process.
namespace workspacefakes
{
// Resumes waiting coroutines when a test opens it; each waiter resumes from the event loop.
class Gate
{
public:
    bool isOpen() const { return m_open; }
    void open();
    // Ends when the gate is open (at once when it is already).
    QCoro::Task<void> wait();

private:
    bool m_open = false;
    std::vector<std::coroutine_handle<>> m_waiters;
};

// Time moves only when the test says so; sleepers due by then resume in the order they are due.
class FakeClock final : public WorkspaceClock
{
public:
    Instant now() const override { return m_now; }
    QCoro::Task<void> sleep(std::chrono::milliseconds duration, CancelToken token) override;
    void advance(std::chrono::milliseconds by);
    // Every sleep asked for, in order.
    std::vector<std::chrono::milliseconds> sleeps;
    // Sleeps not yet over.
    qsizetype sleeping() const;

private:
    struct Waiter;
    Instant m_now{1'000'000};
    std::vector<std::shared_ptr<Waiter>> m_waiters;
};

class FakeShellSocket final : public ShellSocket
{
public:
    explicit FakeShellSocket(std::shared_ptr<FakeClock> clock) : m_clock(std::move(clock)) {}

    struct Sent
    {
        QByteArray bytes;
        WorkspaceClock::Instant at;
    };

    void open(const QNetworkRequest &request) override { opened = request.url(); }
    QCoro::Task<void> send(QByteArray message) override;
    void cancel(int closeCode) override;
    QCoro::Task<RealtimeInbox::Message> receive(CancelToken token) override { return m_inbox.next(std::move(token)); }
    int closeCode() const override { return m_closeCode; }

    // What the platform sends.
    void deliver(QByteArray bytes, bool binary = true) { m_inbox.push({std::move(bytes), binary}); }
    void deliverStatus(const Json &status);
    // The connection ends from the platform's side with `closeCode` (0: dropped).
    void end(int closeCode, int transportCode = 1);
    void endWithInvalidFrame(int closeCode);

    QUrl opened;
    std::vector<Sent> sent;
    std::vector<int> cancelledWith;
    // Sends wait here while it is closed.
    std::shared_ptr<Gate> sendGate;
    bool failSends = false;

private:
    std::shared_ptr<FakeClock> m_clock;
    RealtimeInbox m_inbox;
    int m_closeCode = 0;
    bool m_ended = false;
};

// The window's browser view: records what the tools ask of it.
class FakeBrowserView final : public LiveBrowserView
{
public:
    void stopLoading() override { calls.push_back(QStringLiteral("stop")); }
    void loadBlank() override { calls.push_back(QStringLiteral("blank")); }
    void loadPage(const QUrl &url, std::chrono::milliseconds timeout) override
    {
        calls.push_back(QStringLiteral("load ") + url.toString() + QStringLiteral(" %1s").arg(timeout.count() / 1000));
    }
    QStringList calls;
};

// The platform's GraphQL endpoint, as the workspace tools' transport: every request is recorded;
// an answer is scripted per result field, else the platform grants and accepts.
class FakePlatform
{
public:
    struct Request
    {
        QString field;
        QString query;
        Json variables;
        QString token;
    };
    struct Answer
    {
        int status = 200;
        QByteArray body;             // the whole answer; empty: the field's object below
        Json object = Json::object(); // the field's answer object
        std::shared_ptr<Gate> holdUntil;

        static Answer with(Json object)
        {
            Answer answer;
            answer.object = std::move(object);
            return answer;
        }
        static Answer httpStatus(int status)
        {
            Answer answer;
            answer.status = status;
            answer.body = "{}";
            return answer;
        }
        static Answer heldBy(std::shared_ptr<Gate> gate) { return Answer().held(std::move(gate)); }
        Answer held(std::shared_ptr<Gate> gate) &&
        {
            holdUntil = std::move(gate);
            return std::move(*this);
        }
    };

    NativeDocuments::Transport transport();
    // The next answers of `field`, in order; afterwards the platform's own.
    void script(const QString &field, Answer answer) { m_scripts[field].push_back(std::move(answer)); }
    std::vector<QString> fields() const;
    std::vector<Request> requests;
    // The shell id of the next new shell's grant.
    QString nextShellID = QStringLiteral("shell-1");
    QString shellURL = QStringLiteral("wss://bedrock-agentcore.us-east-1.amazonaws.com/shells/shell-1");
    // The live view of the next browser grant.
    QString liveViewURL = QStringLiteral("https://live.tavrilo.example/browser-live/index.html#token=1");
    QString browserSessionID = QStringLiteral("browser-1");
    // The frame a capture returns, as Base64.
    QByteArray capturedPNG;

private:
    QCoro::Task<HubNetwork::Reply> answer(HubNetwork::Request request);
    std::map<QString, std::deque<Answer>> m_scripts;
};

// A model on the fakes, configured for one session.
struct ModelOnFakes
{
    ModelOnFakes();
    void configure(QString session = QStringLiteral("session-1"), QString tenant = QStringLiteral("tenant-1"));
    // Opens a shell and delivers its connect status; the newest socket is then ready.
    void openReadyShell();
    FakeShellSocket &socket() { return *sockets.back(); }

    std::shared_ptr<FakeClock> clock = std::make_shared<FakeClock>();
    FakePlatform platform;
    std::vector<std::shared_ptr<FakeShellSocket>> sockets;
    std::unique_ptr<NativeDocuments> model;
    int tokenRequests = 0;
};

Json connectStatus(const QString &shellID, bool reconnected = false);
// A PNG of `width` by `height` in one colour, as the live browser's frames come.
inline QByteArray pngOf(int width, int height, QColor colour = Qt::darkGreen)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "png");
    return buffer.data();
}

// A message of an output channel.
QByteArray output(quint8 channel, const QByteArray &bytes);

// The sentence `task` fails with ("invalid frame" for the channel codec's refusal); empty when it
// succeeds.
template <typename T> QString failureOf(QCoro::Task<T> task)
{
    try {
        testsupport::awaitFor(std::move(task));
    } catch (const HubError &error) {
        return error.description();
    } catch (const AgentCoreShellProtocol::ProtocolFailure &) {
        return QStringLiteral("invalid frame");
    }
    return {};
}
QByteArray statusFrame(const Json &status);
} // namespace workspacefakes
