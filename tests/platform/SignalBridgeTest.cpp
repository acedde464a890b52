#include "platform/SignalBridge.h"
#include "core/HubError.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <csignal>

namespace
{
using namespace std::chrono_literals;
using testsupport::waitUntil;

sighandler_t currentHandler(int signalNumber)
{
    struct sigaction action = {};
    ::sigaction(signalNumber, nullptr, &action);
    return action.sa_handler;
}

struct Disposition
{
    const char *name;
    sighandler_t before;
};

class SignalBridgeRestores : public ::testing::TestWithParam<Disposition>
{
};

// Whatever the program found (the default, or SIG_IGN from a parent such as nohup), the signal is
// delivered while the bridge lives and the disposition found comes back afterwards.
TEST_P(SignalBridgeRestores, DeliversWhileAliveAndRestoresWhatItFound)
{
    std::signal(SIGTERM, GetParam().before);
    std::signal(SIGINT, GetParam().before);
    {
        SignalBridge bridge({SIGINT, SIGTERM});
        QList<int> received;
        QObject::connect(&bridge, &SignalBridge::received, &bridge, [&](int number) { received << number; });
        ::raise(SIGTERM);
        ::raise(SIGINT);
        ::raise(SIGTERM);
        ASSERT_TRUE(waitUntil([&] { return received.size() == 3; }, 5s));
        EXPECT_EQ(received, (QList<int>{SIGTERM, SIGINT, SIGTERM}));
    }
    EXPECT_EQ(currentHandler(SIGTERM), GetParam().before);
    EXPECT_EQ(currentHandler(SIGINT), GetParam().before);
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGINT, SIG_DFL);
}

INSTANTIATE_TEST_SUITE_P(Dispositions, SignalBridgeRestores,
                         ::testing::Values(Disposition{"Default", SIG_DFL}, Disposition{"Ignored", SIG_IGN}),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(SignalBridge, OneReceiverAtATime)
{
    std::signal(SIGTERM, SIG_IGN);
    {
        SignalBridge first({SIGTERM});
        EXPECT_THROW(SignalBridge({SIGTERM}), HubError);
    }
    SignalBridge again({SIGTERM});
    bool received = false;
    QObject::connect(&again, &SignalBridge::received, &again, [&](int) { received = true; });
    ::raise(SIGTERM);
    EXPECT_TRUE(waitUntil([&] { return received; }, 5s));
}

// The program may end on the first signal: a receiver that destroys the bridge stops the delivery
// of the ones read with it, without touching the destroyed bridge.
TEST(SignalBridge, AReceiverMayDestroyTheBridge)
{
    std::signal(SIGINT, SIG_IGN);
    auto *bridge = new SignalBridge({SIGINT});
    int received = 0;
    QObject::connect(bridge, &SignalBridge::received, bridge, [&](int) {
        ++received;
        delete bridge;
    });
    ::raise(SIGINT);
    ::raise(SIGINT);
    ASSERT_TRUE(waitUntil([&] { return received > 0; }, 5s));
    EXPECT_EQ(received, 1);
    EXPECT_EQ(currentHandler(SIGINT), SIG_IGN);
    std::signal(SIGINT, SIG_DFL);
}
} // namespace
