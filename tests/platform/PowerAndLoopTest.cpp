// System power messages and acknowledgements, the main run loop (by hand and through the JUCE message
// loop, in order with other messages), and the virtual clock behind platform::sleep.

#include "SimTestSupport.h"
#include "SimulatedMachine.h"
#include "Wait.h"

#include <juce_events/juce_events.h>

using namespace simtest;

namespace
{
struct PowerClient
{
    io_connect_t root = 0;
    std::vector<UInt32> messages;
    std::vector<IOReturn> ackResults;

    static void handler(void* refCon, io_service_t, UInt32 type, void* argument)
    {
        auto* self = static_cast<PowerClient*>(refCon);
        self->messages.push_back(type);
        if (type == kIOMessageCanSystemSleep || type == kIOMessageSystemWillSleep)
        {
            sim::note("handled " + std::to_string(type));
            self->ackResults.push_back(IOAllowPowerChange(self->root, reinterpret_cast<intptr_t>(argument)));
        }
    }

    io_object_t notifier = 0;
    void start(CFStringRef mode = kCFRunLoopCommonModes)
    {
        IONotificationPortRef port = nullptr;
        root = IORegisterForSystemPower(this, &port, handler, &notifier);
        if (root != 0)
            CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port), mode);
    }
};

class PowerAndLoop : public pelktest::SimulatedMachine
{
};

struct AttachRow
{
    std::string what;
    std::function<void(IONotificationPortRef)> attach;
    int delivered;
};

class RunLoopSources : public pelktest::SimulatedMachineWithParam<AttachRow>
{
};

TEST_F(PowerAndLoop, SleepAndWakeMessagesWithTheirAcknowledgements)
{
    PowerClient client;
    client.start();
    ASSERT_NE(client.root, 0u);
    struct Case
    {
        std::function<void()> act;
        std::vector<UInt32> messages;
        std::vector<UInt32> acks;
    };
    const std::vector<Case> cases{
        {[] { sim::systemSleep(true); },
         {kIOMessageCanSystemSleep, kIOMessageSystemWillSleep},
         {kIOMessageCanSystemSleep, kIOMessageSystemWillSleep}},
        {[] { sim::systemSleep(false); }, {kIOMessageSystemWillSleep}, {kIOMessageSystemWillSleep}},
        {[] { sim::systemWake(); }, {kIOMessageSystemWillPowerOn, kIOMessageSystemHasPoweredOn}, {}},
        {[] { sim::sendPowerMessage(0xE0000999); }, {0xE0000999}, {}},
    };
    for (auto& c : cases)
    {
        client.messages.clear();
        const size_t acksBefore = sim::powerAcks().size();
        c.act();
        EXPECT_TRUE(client.messages.empty()) << "delivered by the run loop, not at once";
        sim::pumpMain();
        EXPECT_EQ(client.messages, c.messages);
        const auto acks = sim::powerAcks();
        EXPECT_EQ(std::vector<UInt32>(acks.begin() + long(acksBefore), acks.end()), c.acks);
    }
    for (IOReturn r : client.ackResults)
        EXPECT_EQ(r, kIOReturnSuccess);

    // The acknowledgement comes after the handler's own work, in journal order.
    const auto journal = sim::journal();
    const auto handled = std::find(journal.begin(), journal.end(),
                                   "note handled " + std::to_string(kIOMessageSystemWillSleep));
    ASSERT_NE(handled, journal.end());
    EXPECT_EQ(*(handled + 1), "power-ack e0000280");

    // An id that was never handed out, or one acknowledged twice, is refused.
    EXPECT_EQ(IOAllowPowerChange(client.root, 9999), kIOReturnBadArgument);
    EXPECT_EQ(sim::violations(), std::vector<std::string>{"IOAllowPowerChange: unknown notification id"});
    pelktest::freshMachine(); // the violation above was wanted
}

TEST_F(PowerAndLoop, AfterDeregisteringNoFurtherMessagesArrive)
{
    PowerClient client;
    client.start();
    EXPECT_EQ(IODeregisterForSystemPower(&client.notifier), kIOReturnSuccess);
    EXPECT_EQ(client.notifier, 0u);
    sim::systemSleep();
    EXPECT_EQ(sim::pumpMain(), 0);
    EXPECT_TRUE(client.messages.empty());
}

TEST_F(PowerAndLoop, ARefusedPowerRegistrationGetsNoMessages)
{
    sim::failStep(sim::Step::powerRegistration);
    PowerClient client;
    client.start();
    EXPECT_EQ(client.root, 0u);
    sim::systemSleep();
    sim::systemWake();
    EXPECT_EQ(sim::pumpMain(), 0);
    EXPECT_TRUE(client.messages.empty());
}

TEST_F(PowerAndLoop, MessagesWaitingForADestroyedPortAreDropped)
{
    PowerClient client;
    IONotificationPortRef port = nullptr;
    client.root = IORegisterForSystemPower(&client, &port, PowerClient::handler, &client.notifier);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port),
                       kCFRunLoopCommonModes);
    sim::systemSleep();
    IONotificationPortDestroy(port);
    sim::pumpMain();
    EXPECT_TRUE(client.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Attachments, RunLoopSources,
    ::testing::Values(AttachRow{"default mode",
                                [](IONotificationPortRef p) {
                                    CFRunLoopAddSource(CFRunLoopGetCurrent(),
                                                       IONotificationPortGetRunLoopSource(p),
                                                       kCFRunLoopDefaultMode);
                                },
                                1},
                      AttachRow{"common modes",
                                [](IONotificationPortRef p) {
                                    CFRunLoopAddSource(CFRunLoopGetMain(),
                                                       IONotificationPortGetRunLoopSource(p),
                                                       kCFRunLoopCommonModes);
                                },
                                1},
                      AttachRow{"another mode",
                                [](IONotificationPortRef p) {
                                    CFRunLoopAddSource(CFRunLoopGetCurrent(),
                                                       IONotificationPortGetRunLoopSource(p),
                                                       CFSTR("tracking"));
                                },
                                0},
                      AttachRow{"another thread's loop",
                                [](IONotificationPortRef p)
                                {
                                    std::thread other(
                                        [p] {
                                            CFRunLoopAddSource(CFRunLoopGetCurrent(),
                                                               IONotificationPortGetRunLoopSource(p),
                                                               kCFRunLoopDefaultMode);
                                        });
                                    other.join();
                                },
                                0},
                      AttachRow{"never added", [](IONotificationPortRef) {}, 0}),
    pelktest::NameByWhat());

TEST_P(RunLoopSources, OnlySourcesOnTheMainLoopInAServicedModeDeliver)
{
    IONotificationPortRef port = IONotificationPortCreate(kIOMasterPortDefault);
    int calls = 0;
    io_iterator_t it = 0;
    IOServiceAddMatchingNotification(
        port, kIOMatchedNotification, IOServiceMatching(kIOUSBDeviceClassName),
        [](void* refCon, io_iterator_t i)
        {
            ++*static_cast<int*>(refCon);
            while (io_object_t s = IOIteratorNext(i))
                IOObjectRelease(s);
        },
        &calls, &it);
    IOIteratorNext(it); // arm
    sim::plug();
    GetParam().attach(port);
    sim::pumpMain();
    EXPECT_EQ(calls, GetParam().delivered);
}

// A fresh world with the JUCE main loop, and the watch armed for matched services in it.
void freshJuceWorldWatching(Watch& watch)
{
    sim::Config config;
    config.mainLoop = sim::MainLoop::juce;
    pelktest::freshMachine(config);
    watch.start(kIOMatchedNotification);
    IOIteratorNext(watch.iterator);
}

TEST_F(PowerAndLoop, JuceBindingDeliversInOrderWithOtherMessages)
{
    Watch watch;
    freshJuceWorldWatching(watch);

    std::vector<std::string> order;
    juce::MessageManager::callAsync([&] { order.push_back("before"); });
    sim::plug();
    juce::MessageManager::callAsync(
        [&] { order.push_back(watch.deliveries == 1 ? "after the delivery" : "after"); });
    EXPECT_TRUE(pelktest::pumpUntil([&] { return order.size() >= 2; }));
    EXPECT_TRUE(pelktest::drainMessageLoop());
    EXPECT_EQ(order, (std::vector<std::string>{"before", "after the delivery"}));
    EXPECT_EQ(watch.deliveries, 1);
    EXPECT_EQ(sim::pendingMain(), 0);
}

// Installs a loop for one test and puts the one it replaced (the framework's) back afterwards.
class ScopedMainThreadLoop
{
public:
    explicit ScopedMainThreadLoop(sim::MainThreadLoop loop)
        : replaced(sim::setMainThreadLoop(std::move(loop)))
    {
    }
    ~ScopedMainThreadLoop() { sim::setMainThreadLoop(std::move(replaced)); }

private:
    sim::MainThreadLoop replaced;
};

// The JUCE main loop goes through whatever loop is installed: a test's own loop gets each delivery as one
// posted call and decides which thread is main; with none installed, the world still resets and its
// deliveries wait for pumpMain().
TEST_F(PowerAndLoop, JuceMainLoopPostsThroughTheInstalledLoop)
{
    std::vector<std::function<void()>> posted;
    std::optional<bool> onLoopThread = true;
    sim::MainThreadLoop own;
    own.post = [&](std::function<void()> call) { posted.push_back(std::move(call)); };
    own.isLoopThread = [&] { return onLoopThread; };
    ScopedMainThreadLoop installed(std::move(own));

    Watch watch;
    freshJuceWorldWatching(watch);
    sim::plug();
    ASSERT_EQ(posted.size(), 1u);
    EXPECT_EQ(watch.deliveries, 0) << "posted, not yet run";
    posted.front()();
    EXPECT_EQ(watch.deliveries, 1);
    EXPECT_EQ(sim::pendingMain(), 0);

    EXPECT_EQ(sim::currentThreadRole(), "main");
    onLoopThread = false;
    EXPECT_NE(sim::currentThreadRole(), "main") << "the loop says this is not its thread";
    onLoopThread = std::nullopt;
    EXPECT_EQ(sim::currentThreadRole(), "main") << "the loop cannot tell: the thread that reset the world";

    sim::setMainThreadLoop({});
    Watch unposted;
    freshJuceWorldWatching(unposted);
    sim::plug();
    EXPECT_EQ(posted.size(), 1u);
    EXPECT_EQ(sim::pendingMain(), 1);
    EXPECT_EQ(sim::pumpMain(), 1);
    EXPECT_EQ(unposted.deliveries, 1);
}

TEST_F(PowerAndLoop, WakeWithReenumerationReplugsBetweenThePowerMessages)
{
    sim::plug();
    PowerClient power;
    power.start();
    Watch removed, added;
    removed.start(kIOTerminatedNotification);
    removed.takeAll(removed.iterator);
    added.start(kIOMatchedNotification);
    added.takeAll(added.iterator);
    const AudioObjectID before = sim::interfaceAudioDevice(sim::Direction::input);
    sim::systemWake(true);
    sim::pumpMain();
    EXPECT_EQ(power.messages,
              (std::vector<UInt32>{kIOMessageSystemWillPowerOn, kIOMessageSystemHasPoweredOn}));
    EXPECT_EQ(removed.deliveries, 1);
    EXPECT_EQ(added.deliveries, 1);
    EXPECT_NE(sim::interfaceAudioDevice(sim::Direction::input), before) << "new audio ids after a replug";
}

TEST_F(PowerAndLoop, TheVirtualClockSkipsPausesAndGatesDelayedAudio)
{
    sim::PlugOptions options;
    options.audioDelayMs = 2000;
    sim::plug(sim::kInterface, options);
    const auto started = std::chrono::steady_clock::now();
    std::vector<AudioObjectID> seen;
    for (int i = 0; i < 3; ++i)
    {
        seen.push_back(sim::interfaceAudioDevice(sim::Direction::output));
        EXPECT_EQ(platform::sleep(1), 0u);
    }
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(500));
    EXPECT_EQ(sim::nowMs(), 3000);
    EXPECT_EQ(sim::sleepCalls(), 3);
    EXPECT_EQ(seen[0], 0u);
    EXPECT_EQ(seen[1], 0u);
    EXPECT_NE(seen[2], 0u) << "present once 2000 ms had passed";
    sim::advance(250);
    EXPECT_EQ(sim::nowMs(), 3250);
}
} // namespace
