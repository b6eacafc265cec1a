// Teardown: after it, no event reaches the former owner, and a receiver waiting for the message-thread
// lock gives up instead of hanging.

#include "DeviceEventLock.h"
#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

#include <juce_events/juce_events.h>

#include <chrono>
#include <future>
#include <sys/syscall.h>
#include <unistd.h>

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

// Runs body on another thread and reports whether it ended within the time.
bool endsWithin(std::function<void()> body, std::chrono::milliseconds time)
{
    auto done = std::make_shared<std::promise<void>>();
    auto ended = done->get_future();
    std::thread(
        [body, done]
        {
            body();
            done->set_value();
        })
        .detach();
    return ended.wait_for(time) == std::future_status::ready;
}
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

TEST_F(TeardownTest, TheEventLockIsTakenWhileTheLoopRuns)
{
    std::atomic<bool> locked{false};
    std::atomic<bool> done{false};
    std::thread receiver(
        [&]
        {
            DeviceEventLock lock(&recorder);
            locked = lock.isLocked();
            done = true;
        });
    EXPECT_TRUE(pelktest::pumpUntil([&] { return done.load(); }, 10000));
    receiver.join();
    EXPECT_TRUE(locked);
}

TEST_F(TeardownTest, AReceiverWaitingForTheLockGivesUpWhenTheOwnerIsCleared)
{
    std::atomic<bool> locked{true};
    std::atomic<pid_t> receiverId{0};
    std::thread receiver(
        [&]
        {
            receiverId = pelktest::currentThreadId();
            DeviceEventLock lock(&recorder);
            locked = lock.isLocked();
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
    EXPECT_FALSE(locked);
}

// The owner is cleared on the message thread while a receiver waits for the lock, and nothing wakes the
// receiver early: the lock is granted once the loop runs again, and only the check made after taking it
// tells the receiver that its owner has gone.
TEST_F(TeardownTest, AReceiverGrantedTheLockAfterItsOwnerWasClearedGivesItBack)
{
    std::atomic<pid_t> receiverId{0};
    std::atomic<bool> done{false};
    std::atomic<bool> locked{true};
    std::thread receiver(
        [&]
        {
            receiverId = pelktest::currentThreadId();
            DeviceEventLock lock(&recorder);
            locked = lock.isLocked();
            done = true;
        });

    // The receiver runs until it sleeps waiting for the message thread (this thread, busy here).
    ASSERT_TRUE(waitUntil([&] { return receiverId != 0 && threadSleeps(receiverId); }))
        << "the receiver never started waiting";

    mydeviceStruct.owner = nullptr;
    EXPECT_TRUE(pelktest::pumpUntil([&] { return done.load(); }, 10000));
    receiver.join();
    EXPECT_FALSE(locked);
}

TEST_F(TeardownTest, AReceiverGivesUpOnceTheEventLoopHasStopped)
{
    juce::MessageManager::getInstance()->stopDispatchLoop();
    std::atomic<bool> locked{true};
    EXPECT_TRUE(endsWithin(
        [&]
        {
            DeviceEventLock lock(&recorder);
            locked = lock.isLocked();
        },
        std::chrono::milliseconds(2000)));
    EXPECT_FALSE(locked);
}

TEST_F(TeardownTest, OnTheMessageThreadTheLockHoldsWhileTheOwnerIsCurrent)
{
    juce::MessageManager::getInstance()->stopDispatchLoop();
    EXPECT_TRUE(DeviceEventLock(&recorder).isLocked());
    mydeviceStruct.owner = nullptr;
    EXPECT_FALSE(DeviceEventLock(&recorder).isLocked());
}
