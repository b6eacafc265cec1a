// Teardown: after it, no event reaches the former owner, and a receiver waiting for the message thread to
// handle its event gives up instead of hanging.

#include "DeviceEventHandOff.h"
#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

#include <juce_events/juce_events.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{
class TeardownTest : public SimulatedMachine
{
protected:
    void startPresent()
    {
        sim::plug();
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
        RegisterDeviceCallBacks();
    }

    EventRecorder recorder;
};
} // namespace

TEST_F(TeardownTest, AfterTeardownNoNotificationReachesTheFormerOwner)
{
    startPresent();
    ASSERT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
    const AudioObjectID in = gInAudioObjectID.load();
    const AudioObjectID out = gOutAudioObjectID.load();

    OutputCapture capture;
    UnregisterDeviceCallBacks();
    EXPECT_EQ(capture.out(), "Raw Device Removed called....\n");
    EXPECT_EQ(mydeviceStruct.owner.load(), nullptr);
    EXPECT_EQ(gUSBdevice, nullptr);
    EXPECT_EQ(sim::usbStats().liveInterfaces, 0);
    EXPECT_EQ(sim::listenerCount(in), 0);
    EXPECT_EQ(sim::listenerCount(out), 0);

    // Put the owner back: nothing may be delivered even so, since every road has been withdrawn.
    mydeviceStruct.owner = &recorder;
    sim::setVolumeDb(out, sim::Direction::output, 1, -30.0f);
    sim::setRate(in, 96000);
    ASSERT_TRUE(sim::waitAudioIdle());
    sim::systemSleep(true);
    sim::unplug();
    sim::pumpMain();
    sim::plug();
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
    EXPECT_TRUE(sim::powerAcks().empty());
    EXPECT_EQ(gUSBdevice, nullptr);
    mydeviceStruct.owner = nullptr;
}

TEST_F(TeardownTest, AnEventRaisedOnTheNotificationThreadAfterTeardownIsDropped)
{
    startPresent();
    // The listener stays installed here, so only the cleared owner keeps the event away.
    mydeviceStruct.owner = nullptr;
    sim::setMute(gOutAudioObjectID.load(), sim::Direction::output, 1, true);
    ASSERT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
}

namespace
{
// What a handler saw when it ran.
struct HandlerRun
{
    std::atomic<bool> ran{false};
    std::atomic<bool> onTheMessageThread{false};
    std::atomic<bool> ownerCurrent{false};

    std::function<void()> handler(void* owner)
    {
        return [this, owner]
        {
            onTheMessageThread = juce::MessageManager::getInstance()->isThisTheMessageThread();
            ownerCurrent = mydeviceStruct.owner.load() == owner;
            ran = true;
        };
    }
};
} // namespace

TEST_F(TeardownTest, AnEventFromAnotherThreadIsHandledOnTheMessageThreadWhileTheCallerWaits)
{
    HandlerRun run;
    std::atomic<bool> handled{false};
    std::atomic<bool> ranBeforeTheCallEnded{false};
    std::atomic<bool> done{false};
    std::thread receiver(
        [&]
        {
            handled = runDeviceEventOnMessageThread(&recorder, run.handler(&recorder));
            ranBeforeTheCallEnded = run.ran.load();
            done = true;
        });
    EXPECT_TRUE(pelktest::pumpUntil([&] { return done.load(); }, 10000));
    receiver.join();
    EXPECT_TRUE(handled);
    EXPECT_TRUE(ranBeforeTheCallEnded) << "the caller went on before its event was handled";
    EXPECT_TRUE(run.onTheMessageThread);
    EXPECT_TRUE(run.ownerCurrent);
}

TEST_F(TeardownTest, AReceiverWaitingForTheMessageThreadGivesUpWhenTheOwnerIsCleared)
{
    HandlerRun run;
    std::atomic<bool> handled{true};
    std::atomic<pid_t> receiverId{0};
    std::thread receiver(
        [&]
        {
            receiverId = pelktest::currentThreadId();
            handled = runDeviceEventOnMessageThread(&recorder, run.handler(&recorder));
        });
    // The receiver runs until it sleeps waiting for the message thread (this thread, busy here).
    ASSERT_TRUE(waitUntil([&] { return receiverId != 0 && threadSleeps(receiverId); }))
        << "the receiver never started waiting";

    OutputCapture quiet;
    UnregisterDeviceCallBacks();
    quiet.stop();
    const auto start = std::chrono::steady_clock::now();
    receiver.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1000));
    EXPECT_FALSE(handled);
    // The message it had posted runs now, and does nothing.
    EXPECT_TRUE(pelktest::drainMessageLoop());
    EXPECT_FALSE(run.ran);
}

// The owner is cleared on the message thread while a receiver waits, and nothing wakes the receiver: the
// event is dropped all the same, whether the receiver or the message notices first.
TEST_F(TeardownTest, AnEventWhoseOwnerWasClearedBeforeItsMessageRanIsDropped)
{
    HandlerRun run;
    std::atomic<pid_t> receiverId{0};
    std::atomic<bool> done{false};
    std::atomic<bool> handled{true};
    std::thread receiver(
        [&]
        {
            receiverId = pelktest::currentThreadId();
            handled = runDeviceEventOnMessageThread(&recorder, run.handler(&recorder));
            done = true;
        });

    // The receiver runs until it sleeps waiting for the message thread (this thread, busy here).
    ASSERT_TRUE(waitUntil([&] { return receiverId != 0 && threadSleeps(receiverId); }))
        << "the receiver never started waiting";

    mydeviceStruct.owner = nullptr;
    EXPECT_TRUE(pelktest::pumpUntil([&] { return done.load(); }, 10000));
    receiver.join();
    EXPECT_TRUE(pelktest::drainMessageLoop());
    EXPECT_FALSE(handled);
    EXPECT_FALSE(run.ran);
}

TEST_F(TeardownTest, AReceiverGivesUpOnceTheEventLoopHasStopped)
{
    HandlerRun run;
    std::atomic<bool> handled{true};
    std::atomic<bool> done{false};
    std::atomic<pid_t> receiverId{0};
    std::thread receiver(
        [&]
        {
            receiverId = pelktest::currentThreadId();
            handled = runDeviceEventOnMessageThread(&recorder, run.handler(&recorder));
            done = true;
        });
    // Waiting for the message thread, which stops its loop meanwhile.
    ASSERT_TRUE(waitUntil([&] { return receiverId != 0 && threadSleeps(receiverId); }))
        << "the receiver never started waiting";
    juce::MessageManager::getInstance()->stopDispatchLoop();
    EXPECT_TRUE(waitUntil([&] { return done.load(); }, 2000));
    receiver.join();
    EXPECT_FALSE(handled);

    // A later event is dropped at once.
    std::thread later([&] { handled = runDeviceEventOnMessageThread(&recorder, run.handler(&recorder)); });
    later.join();
    EXPECT_FALSE(handled);
    EXPECT_FALSE(run.ran);
}

TEST_F(TeardownTest, OnTheMessageThreadTheHandlerRunsAtOnceWhileTheOwnerIsCurrent)
{
    juce::MessageManager::getInstance()->stopDispatchLoop();
    HandlerRun run;
    EXPECT_TRUE(runDeviceEventOnMessageThread(&recorder, run.handler(&recorder)));
    EXPECT_TRUE(run.ran);
    EXPECT_TRUE(run.onTheMessageThread);

    HandlerRun afterwards;
    mydeviceStruct.owner = nullptr;
    EXPECT_FALSE(runDeviceEventOnMessageThread(&recorder, afterwards.handler(&recorder)));
    EXPECT_FALSE(afterwards.ran);
}

// Stress: several notification threads deliver events without pause while the message thread handles some,
// then unregisters the receiver, round after round. Every handler runs on the message thread while its owner
// is current, each delivery that reports its event handled had it handled, and no thread hangs.
TEST_F(TeardownTest, ManyEventsWhileTheReceiverUnregistersAreHandledOrDropped)
{
    constexpr int rounds = 50, threads = 4;
    for (int round = 0; round < rounds; ++round)
    {
        mydeviceStruct.owner = &recorder; // registered again
        std::atomic<bool> stop{false}, unregistered{false};
        std::atomic<int> handled{0}, reported{0}, wrong{0};
        const auto handler = [&]
        {
            if (!juce::MessageManager::getInstance()->isThisTheMessageThread() || unregistered ||
                mydeviceStruct.owner.load() != &recorder)
                ++wrong;
            ++handled;
        };
        std::vector<std::thread> notifiers;
        for (int t = 0; t < threads; ++t)
            notifiers.emplace_back(
                [&]
                {
                    while (!stop)
                        if (runDeviceEventOnMessageThread(&recorder, handler))
                            ++reported;
                });

        EXPECT_TRUE(pelktest::pumpUntil([&] { return handled >= 20; }, 10000)) << "round " << round;
        {
            OutputCapture quiet;
            UnregisterDeviceCallBacks();
        }
        unregistered = true;
        EXPECT_TRUE(pelktest::drainMessageLoop());
        stop = true;
        for (auto& t : notifiers)
            t.join();
        EXPECT_TRUE(pelktest::drainMessageLoop());

        EXPECT_EQ(wrong.load(), 0) << "round " << round;
        EXPECT_EQ(reported.load(), handled.load()) << "round " << round;
    }
}
