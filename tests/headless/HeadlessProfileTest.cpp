// The headless export's live profile: its refusals before any sign-in, the session ids it observes,
// what it notes of each frame, and a clean-up that runs from any state.
#include "headless/HeadlessProfile.h"

#include "core/HubError.h"
#include "platform/MemoryKeyring.h"
#include "session/HubModel.h"
#include "support/TestSupport.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

namespace
{
using testsupport::awaitFor;

std::unique_ptr<HubModel> makeModel()
{
    return std::make_unique<HubModel>(HubModel::Dependencies{std::make_shared<MemoryKeyring>(), {}, {}});
}

std::string failure(QCoro::Task<void> task)
{
    try {
        awaitFor(std::move(task));
    } catch (const HubError &error) {
        return error.description().toStdString();
    }
    return "(prepared)";
}

TEST(HeadlessProfile, ObservedSessionIDs)
{
    const struct
    {
        QString id;
        bool valid;
    } cases[] = {
        {QString(33, u'a'), true},
        {QStringLiteral("Az09_-") + QString(27, u'x'), true},
        {QString(256, u'Z'), true},
        {QString(32, u'a'), false},
        {QString(257, u'a'), false},
        {QString(32, u'a') + u'.', false},
        {QString(33, u'a') + u'\n', false},
        {QString(33, u'a') + QStringLiteral("é"), false},
        {QString(), false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(HeadlessProfile::isObservableSessionID(c.id), c.valid) << c.id.toStdString();
}

TEST(HeadlessProfile, EachFrameMovesTheProgressCountAndRunningFlag)
{
    const auto model = makeModel();
    struct Case
    {
        Json frame;
        qint64 count;
        bool running;
        std::optional<QString> terminal;
    };
    const Case cases[] = {
        {{{"kind", "metadata"}, {"turnId", "t1"}, {"payload", {{"working", {"tavrilo_builder"}}}}}, 1, true, {}},
        {{{"kind", "transport_error"}, {"payload", "not an object"}}, 1, true, {}},
        {{{"turnId", "t1"}, {"payload", {{"working", {1, 2}}}}}, 2, true, {}}, // no kind still counts
        {{{"kind", "text"}, {"turnId", "t1"}, {"payload", {{"working", Json::array()}}}}, 3, false, {}},
        {{{"kind", "done"}, {"turnId", "t2"}}, 4, false, {}}, // another turn ends nothing
        {{{"kind", "done"}, {"turnId", "t1"}}, 5, false, QStringLiteral("TURN_COMPLETED")},
    };
    for (const Case &c : cases) {
        HeadlessProfile::observeFrame(*model, c.frame);
        EXPECT_EQ(model->headlessFrameCount(), c.count) << c.frame.dump();
        EXPECT_EQ(model->running(), c.running) << c.frame.dump();
        EXPECT_EQ(model->headlessTurnProgress().terminalCode, c.terminal) << c.frame.dump();
    }
    EXPECT_EQ(model->headlessTurnProgress().turnID, QStringLiteral("t1"));
}

TEST(HeadlessProfile, RefusalsBeforeSignIn)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing"));
    // Low descriptors are refused before the project is looked at, and stay open.
    for (const int descriptor : {0, 1, 2, -1}) {
        const auto model = makeModel();
        HeadlessProfile profile(*model, std::make_shared<MemoryKeyring>());
        EXPECT_EQ(failure(profile.prepare(missing, std::nullopt, descriptor)),
                  "Capture credentials require a private descriptor.");
        if (descriptor >= 0) {
            EXPECT_GE(::fcntl(descriptor, F_GETFD), 0);
        }
    }
    // Past that check the descriptor is the profile's: a refusal closes it.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    const auto model = makeModel();
    HeadlessProfile profile(*model, std::make_shared<MemoryKeyring>());
    EXPECT_EQ(failure(profile.prepare(missing, std::nullopt, ends[0])),
              "The live profile must name an existing project directory.");
    EXPECT_LT(::fcntl(ends[0], F_GETFD), 0);
    ::close(ends[1]);
}

TEST(HeadlessProfile, CleanUpRunsFromAnyStateAndForgetsTheCredentials)
{
    const auto model = makeModel();
    HeadlessProfile profile(*model, std::make_shared<MemoryKeyring>());
    awaitFor(profile.finish());
    model->setToken(QStringLiteral("access"));
    model->setIdentityToken(QStringLiteral("identity"));
    model->setRunning(true);
    model->setCaptureCredentialsOnly(true);
    awaitFor(profile.finish());
    EXPECT_FALSE(model->token());
    EXPECT_FALSE(model->identityToken());
    EXPECT_FALSE(model->running());
    EXPECT_FALSE(model->captureCredentialsOnly());
    EXPECT_TRUE(model->changesShuttingDown());
}
} // namespace
