// The workspace tools model as a whole and its request caller, on a stepped clock and a scripted
// platform.

#include "WorkspaceFakes.h"
#include "cloud/DeadlineError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

using namespace workspacefakes;
using testsupport::awaitFor;
using testsupport::waitUntil;

namespace
{
const QString kShellField = QStringLiteral("tavriloOpenBuildShell");
const QString kCloseField = QStringLiteral("tavriloCloseBuildShell");

QCoro::Task<void> closeAndMark(NativeDocuments *model, bool *closed)
{
    co_await model->close();
    *closed = true;
}

TEST(NativeDocuments, StartsEmpty)
{
    NativeDocuments model;
    EXPECT_EQ(model.shellStatus(), QStringLiteral("Not opened"));
    EXPECT_FALSE(model.browserAvailable());
    EXPECT_TRUE(model.shellText().isEmpty());
    EXPECT_FALSE(model.shellReady());
    EXPECT_FALSE(model.isClosed());
}

TEST(NativeDocuments, ConfigureStartsANewContextOnlyForAnotherSessionOrTenant)
{
    ModelOnFakes fakes;
    fakes.configure(QStringLiteral("s1"), QStringLiteral("t1"));
    awaitFor(fakes.model->close());
    const qint64 context = fakes.model->contextGeneration();
    const qint64 grant = fakes.model->browserGrantGeneration();

    fakes.configure(QStringLiteral("s1"), QStringLiteral("t1"));
    EXPECT_EQ(fakes.model->contextGeneration(), context);
    EXPECT_EQ(fakes.model->browserGrantGeneration(), grant);
    EXPECT_FALSE(fakes.model->isClosed());
    EXPECT_TRUE(fakes.model->hasTokenSource());

    fakes.configure(QStringLiteral("s2"), QStringLiteral("t1"));
    EXPECT_EQ(fakes.model->contextGeneration(), context + 1);
    EXPECT_EQ(fakes.model->browserGrantGeneration(), grant + 1);
    fakes.configure(QStringLiteral("s2"), QStringLiteral("t2"));
    EXPECT_EQ(fakes.model->contextGeneration(), context + 2);
}

TEST(NativeDocuments, CloseWithoutAShellSendsNothingAndCanRunAgain)
{
    ModelOnFakes fakes;
    fakes.configure();
    awaitFor(fakes.model->close());
    EXPECT_TRUE(fakes.platform.requests.empty());
    EXPECT_EQ(fakes.model->shellStatus(), QStringLiteral("Closed"));
    EXPECT_FALSE(fakes.model->hasTokenSource());
    EXPECT_TRUE(fakes.model->isClosed());

    const qint64 grant = fakes.model->browserGrantGeneration();
    awaitFor(fakes.model->close());
    EXPECT_EQ(fakes.model->browserGrantGeneration(), grant + 1);
    EXPECT_TRUE(fakes.platform.requests.empty());
    // Closed: every request is refused until the model is configured again.
    EXPECT_EQ(failureOf(fakes.model->openShell()), QStringLiteral("Sign in before opening workspace tools."));
}

TEST(NativeDocuments, CloseReleasesTheShellAfterTheRequestsInFlight)
{
    ModelOnFakes fakes;
    fakes.configure();
    fakes.openReadyShell();
    auto answer = std::make_shared<Gate>();
    fakes.platform.script(QStringLiteral("tavriloResizeBuildShell"), FakePlatform::Answer::heldBy(answer));
    auto resizing = fakes.model->resize(80, 24);
    bool closed = false;
    auto closing = closeAndMark(fakes.model.get(), &closed);
    ASSERT_TRUE(waitUntil([&] { return fakes.model->isClosed() && !fakes.socket().cancelledWith.empty(); }));
    ASSERT_TRUE(waitUntil([&] { return fakes.platform.requests.size() == 2; }));
    EXPECT_EQ(fakes.model->pendingRequests(), 1);
    EXPECT_FALSE(closed);
    EXPECT_EQ(fakes.platform.fields().back(), QStringLiteral("tavriloResizeBuildShell"));

    answer->open();
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_EQ(fakes.platform.fields().back(), kCloseField);
    EXPECT_EQ(fakes.platform.requests.back().variables,
              (Json{{"input", {{"sessionId", "session-1"}, {"shellId", "shell-1"}}}}));
    EXPECT_EQ(fakes.model->shellID(), std::nullopt);
    EXPECT_EQ(fakes.model->shellStatus(), QStringLiteral("Closed"));
    // The resize that was under way learns that the shell went.
    EXPECT_THROW(awaitFor(std::move(resizing)), HubError);
    // The close frame went out before the socket was cancelled with a normal closure.
    EXPECT_EQ(fakes.sockets.front()->sent.back().bytes, QByteArray(1, char(0xFF)));
    EXPECT_EQ(fakes.sockets.front()->cancelledWith.front(), 1000);
}

TEST(NativeDocuments, RefusedReleaseKeepsTheShellForTheNextClose)
{
    ModelOnFakes fakes;
    fakes.configure();
    fakes.openReadyShell();
    fakes.platform.script(kCloseField, FakePlatform::Answer::with({{"ok", false}, {"refusal", "SHELL_BUSY"}}));
    EXPECT_EQ(failureOf(fakes.model->close()), QStringLiteral("The platform refused this workspace tool request (SHELL_BUSY)."));
    EXPECT_EQ(fakes.model->shellID(), QStringLiteral("shell-1"));
    EXPECT_NE(fakes.model->shellStatus(), QStringLiteral("Closed"));
    EXPECT_TRUE(fakes.model->hasTokenSource());

    awaitFor(fakes.model->close());
    EXPECT_EQ(fakes.platform.fields(), (std::vector<QString>{kShellField, kCloseField, kCloseField}));
    EXPECT_EQ(fakes.model->shellStatus(), QStringLiteral("Closed"));
}

TEST(NativeDocuments, ACloseFrameThatNeverGoesOutIsCutShortAfterTwoSeconds)
{
    ModelOnFakes fakes;
    fakes.configure();
    fakes.openReadyShell();
    fakes.socket().sendGate = std::make_shared<Gate>();
    bool closed = false;
    auto closing = closeAndMark(fakes.model.get(), &closed);
    // The expiry's wait and the close frame's watchdog.
    ASSERT_TRUE(waitUntil([&] { return fakes.clock->sleeping() == 2; }));
    EXPECT_EQ(fakes.clock->sleeps.back(), std::chrono::seconds(2));
    fakes.clock->advance(std::chrono::milliseconds(1999));
    QCoreApplication::processEvents();
    EXPECT_TRUE(fakes.socket().cancelledWith.empty());
    EXPECT_FALSE(closed);
    fakes.clock->advance(std::chrono::milliseconds(1));
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_EQ(fakes.socket().cancelledWith.front(), 1000);
    EXPECT_EQ(fakes.model->shellStatus(), QStringLiteral("Closed"));
}

TEST(WorkspaceToolCall, SendsOneNativeDocumentMutationWithAFreshToken)
{
    ModelOnFakes fakes;
    fakes.configure();
    awaitFor(fakes.model->openShell());
    ASSERT_EQ(fakes.platform.requests.size(), 1u);
    const FakePlatform::Request &request = fakes.platform.requests.front();
    EXPECT_EQ(request.query, QStringLiteral("mutation NativeDocument($input: TavriloOpenBuildShellInput!) { "
                                            "tavriloOpenBuildShell(input: $input) { ok refusal detail shellId url "
                                            "protocol } }"));
    EXPECT_EQ(request.variables, (Json{{"input", {{"sessionId", "session-1"}, {"shellId", nullptr}}}}));
    EXPECT_EQ(request.token, QStringLiteral("token-1"));
}

TEST(WorkspaceToolCall, RefusesWithoutATokenAndCountsNothingAfterwards)
{
    ModelOnFakes fakes;
    HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("tools-test")}});
    fakes.model->configure(configuration, QStringLiteral("s"), [](CancelToken) -> QCoro::Task<QString> { co_return {}; });
    EXPECT_EQ(failureOf(fakes.model->openShell()), QStringLiteral("Sign in before opening workspace tools."));
    EXPECT_EQ(fakes.model->pendingRequests(), 0);
    EXPECT_TRUE(fakes.platform.requests.empty());
}

TEST(WorkspaceToolCall, HttpRefusalIsNotASignInSentence)
{
    for (int status : {401, 500, 302}) {
        ModelOnFakes fakes;
        fakes.configure();
        fakes.platform.script(kShellField, FakePlatform::Answer::httpStatus(status));
        EXPECT_EQ(failureOf(fakes.model->openShell()), QStringLiteral("The platform refused this workspace tool request."))
            << status;
    }
}

TEST(WorkspaceToolCall, AnAnswerOfAnEarlierContextIsDropped)
{
    // A new session while the token is fetched, then while the answer is awaited.
    {
        ModelOnFakes fakes;
        auto token = std::make_shared<Gate>();
        HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("t")}});
        fakes.model->configure(configuration, QStringLiteral("s1"), [token](CancelToken) -> QCoro::Task<QString> {
            co_await token->wait();
            co_return QStringLiteral("token");
        });
        auto opening = fakes.model->openShell();
        fakes.configure(QStringLiteral("s2"));
        token->open();
        EXPECT_EQ(failureOf(std::move(opening)),
                  QStringLiteral("Workspace tool context changed during credential renewal."));
        EXPECT_EQ(fakes.model->pendingRequests(), 0);
    }
    {
        ModelOnFakes fakes;
        fakes.configure(QStringLiteral("s1"));
        auto answer = std::make_shared<Gate>();
        fakes.platform.script(kShellField, FakePlatform::Answer::heldBy(answer));
        auto opening = fakes.model->openShell();
        ASSERT_TRUE(waitUntil([&] { return !fakes.platform.requests.empty(); }));
        fakes.configure(QStringLiteral("s2"));
        answer->open();
        EXPECT_EQ(failureOf(std::move(opening)), QStringLiteral("Workspace tool response belongs to a previous context."));
        EXPECT_EQ(fakes.model->shellID(), std::nullopt);
        EXPECT_EQ(fakes.model->pendingRequests(), 0);
    }
}

// A model on the fakes whose requests wait at most 50 ms for a token of `source`.
struct ModelWithTokenSource
{
    explicit ModelWithTokenSource(TokenSource source)
    {
        NativeDocuments::Options options;
        options.clock = std::make_shared<FakeClock>();
        options.transport = platform.transport();
        options.tokenDeadline = std::chrono::milliseconds(50);
        model = std::make_unique<NativeDocuments>(options);
        HubConfiguration configuration(HubEnvironment{{QStringLiteral("TAVRILO_APP_ID"), QStringLiteral("t")}});
        model->configure(configuration, QStringLiteral("s"), std::move(source));
    }
    FakePlatform platform;
    std::unique_ptr<NativeDocuments> model;
};

// A token renewal that never ends is cut short at the deadline, so close() is never held by it.
TEST(WorkspaceToolCall, ATokenRenewalThatNeverEndsTimesOut)
{
    bool renewalCancelled = false;
    ModelWithTokenSource fakes([&](CancelToken token) -> QCoro::Task<QString> {
        auto never = std::make_shared<Gate>();
        const CancelRegistration registration = token.onCancel([never] { never->open(); });
        co_await never->wait();
        renewalCancelled = token.cancelled();
        throw CancelledError();
    });
    NativeDocuments &model = *fakes.model;
    EXPECT_EQ(failureOf(model.openShell()), DeadlineError().description());
    EXPECT_TRUE(waitUntil([&] { return renewalCancelled; }));
    EXPECT_EQ(model.pendingRequests(), 0);
    awaitFor(model.close());
}

// A renewal that ignores its token (stuck in a keyring write that cannot be stopped) holds neither
// the request nor close() past the deadline; the token it returns at last is dropped.
TEST(WorkspaceToolCall, ARenewalThatIgnoresTheDeadlineIsLeftBehind)
{
    auto keyring = std::make_shared<Gate>();
    bool cancelledWhileStuck = false;
    bool returned = false;
    ModelWithTokenSource fakes([&](CancelToken token) -> QCoro::Task<QString> {
        co_await keyring->wait();
        cancelledWhileStuck = token.cancelled();
        returned = true;
        co_return QStringLiteral("late-token");
    });
    NativeDocuments &model = *fakes.model;
    auto opening = model.openShell();
    bool closed = false;
    auto closing = closeAndMark(&model, &closed);
    EXPECT_EQ(failureOf(std::move(opening)), DeadlineError().description());
    EXPECT_EQ(model.pendingRequests(), 0);
    ASSERT_TRUE(waitUntil([&] { return closed; }));
    EXPECT_EQ(model.shellStatus(), QStringLiteral("Closed"));

    keyring->open();
    ASSERT_TRUE(waitUntil([&] { return returned; }));
    QCoreApplication::processEvents();
    EXPECT_TRUE(cancelledWhileStuck);
    EXPECT_TRUE(fakes.platform.requests.empty());
    EXPECT_EQ(model.pendingRequests(), 0);
}
} // namespace
