// SIGTERM and SIGHUP reach the quit request on the message thread through the event loop, also when they
// come before the loop runs.

#include "QuitSignals.h"
#include "Wait.h"

#include <juce_events/juce_events.h>

#include <csignal>
#include <gtest/gtest.h>

namespace
{
class QuitSignal : public ::testing::TestWithParam<int>
{
};

TEST_P(QuitSignal, ArrivesOnceOnTheMessageThreadWhenTheLoopRuns)
{
    int requests = 0;
    bool onMessageThread = false;
    pelk::program::QuitSignals signals(
        [&]
        {
            ++requests;
            onMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
        });
    ASSERT_TRUE(signals.isActive());

    ASSERT_EQ(::raise(GetParam()), 0);
    ASSERT_EQ(::raise(GetParam()), 0);
    EXPECT_EQ(requests, 0) << "nothing runs inside the signal handler";

    EXPECT_TRUE(pelktest::pumpUntil([&] { return requests != 0; }, 1000));
    EXPECT_TRUE(pelktest::drainMessageLoop());

    EXPECT_EQ(requests, 1) << "signals waiting together make one request";
    EXPECT_TRUE(onMessageThread);
}

INSTANTIATE_TEST_SUITE_P(TermAndHangUp, QuitSignal, ::testing::Values(SIGTERM, SIGHUP));

TEST(QuitSignals, GivesTheDefaultActionBackWhenDestroyed)
{
    {
        pelk::program::QuitSignals signals([] {});
        struct sigaction current = {};
        sigaction(SIGTERM, nullptr, &current);
        EXPECT_NE(current.sa_handler, SIG_DFL);
    }
    struct sigaction after = {};
    sigaction(SIGTERM, nullptr, &after);
    EXPECT_EQ(after.sa_handler, SIG_DFL);
}
} // namespace
