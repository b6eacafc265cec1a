// The plug road: recognising the interface, the retried audio-device search, unplug and power events.

#include "DeviceIds.h"
#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

#include <algorithm>

namespace
{
class PlugRoadTest : public SimTest
{
protected:
    void TearDown() override
    {
        {
            OutputCapture quiet;
            UnregisterDeviceCallBacks();
        }
        SimTest::TearDown();
    }

    void registerQuietly()
    {
        OutputCapture quiet;
        RegisterDeviceCallBacks();
    }

    EventRecorder recorder;
};

std::ptrdiff_t journalIndex(const std::string& text)
{
    const auto lines = sim::journal();
    const auto it =
        std::find_if(lines.begin(), lines.end(),
                     [&](const std::string& line) { return line.find(text) != std::string::npos; });
    return it == lines.end() ? -1 : it - lines.begin();
}
} // namespace

TEST_F(PlugRoadTest, TheInterfaceIsRecognisedByIdentifiersAndExactNamesOnly)
{
    const struct
    {
        const char* name;
        sim::UsbDeviceSpec spec;
        bool ready;
    } cases[] = {
        {"exact", sim::interfaceSpec(), true},
        {"product id 0 (a spare entry)", sim::interfaceSpec().set("idProduct", SInt32(0)), true},
        {"other product id", sim::interfaceSpec().set("idProduct", SInt32(5)), false},
        {"other vendor id", sim::interfaceSpec().set("idVendor", SInt32(0x1234)), false},
        {"vendor name in lower case", sim::interfaceSpec().set("USB Vendor Name", std::string("orvalis")),
         false},
        {"product name in lower case", sim::interfaceSpec().set("USB Product Name", std::string("pelk")),
         false},
        {"other product name", sim::interfaceSpec().set("USB Product Name", std::string("PELK2")), false},
        {"no product name", sim::interfaceSpec().erase("USB Product Name"), false},
        {"no vendor id", sim::interfaceSpec().erase("idVendor"), false},
        // Registry values of the wrong type are a mismatch, never read as another type.
        {"product id as text", sim::interfaceSpec().set("idProduct", std::string("1")), false},
        {"vendor id as text", sim::interfaceSpec().set("idVendor", std::string("32343")), false},
        {"product name as number", sim::interfaceSpec().set("USB Product Name", SInt32(7)), false},
    };

    for (const auto& c : cases)
    {
        sim::reset();
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        EventRecorder rowRecorder;
        sim::setInterfaceSpec(c.spec);
        sim::plug();
        registerQuietly();
        EXPECT_EQ(rowRecorder.codes(), c.ready ? std::vector<int>{1} : std::vector<int>{}) << c.name;
        EXPECT_EQ(sim::sleepCalls(), 0) << c.name;
        EXPECT_TRUE(sim::violations().empty()) << c.name << "\n" << joined(sim::violations());
        OutputCapture quiet;
        UnregisterDeviceCallBacks();
    }
}

TEST_F(PlugRoadTest, AnUnrelatedDeviceIsReadAndGivenBackWithoutAnEvent)
{
    const sim::UsbDevice other = sim::addUsbDevice(sim::otherDeviceSpec(0x1111, 0x2222, "Acme", "Mouse"));
    registerQuietly();
    sim::plug(other);
    sim::pumpMain();
    sim::unplug(other);
    sim::pumpMain();
    EXPECT_TRUE(recorder.codes().empty());
    EXPECT_EQ(sim::usbStats(other).liveInterfaces, 0);
}

TEST_F(PlugRoadTest, TheSearchRetriesFiveTimesOneSecondApart)
{
    const struct
    {
        int audioAtRun; // 0: never
        int runs;
        int pauses;
        bool ready;
    } cases[] = {{1, 1, 0, true}, {2, 2, 1, true}, {3, 3, 2, true}, {5, 5, 4, true}, {0, 5, 5, false}};

    for (const auto& c : cases)
    {
        sim::reset();
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        EventRecorder rowRecorder;
        registerQuietly();
        sim::PlugOptions options;
        options.audioAtRun = c.audioAtRun;
        sim::plug(sim::kInterface, options);
        sim::pumpMain();
        EXPECT_EQ(sim::discoveryRuns(), c.runs) << c.audioAtRun;
        EXPECT_EQ(sim::sleepCalls(), c.pauses) << c.audioAtRun;
        EXPECT_EQ(sim::nowMs(), c.pauses * 1000) << c.audioAtRun;
        EXPECT_EQ(rowRecorder.codes(), c.ready ? std::vector<int>{1} : std::vector<int>{}) << c.audioAtRun;
        OutputCapture quiet;
        UnregisterDeviceCallBacks();
    }
}

TEST_F(PlugRoadTest, AnInterfacePresentAtStartIsReadyBeforeRegistrationReturns)
{
    sim::plug();
    registerQuietly();
    EXPECT_EQ(recorder.codes(), std::vector<int>{1});
    EXPECT_NE(gInAudioObjectID.load(), 0u);
    EXPECT_NE(gOutAudioObjectID.load(), 0u);
    EXPECT_EQ(gInAudioObjectID.load(), sim::interfaceAudioDevice(sim::Direction::input));
    EXPECT_EQ(gOutAudioObjectID.load(), sim::interfaceAudioDevice(sim::Direction::output));
}

TEST_F(PlugRoadTest, UnplugRaisesRemovedWhileTheIdentifiersAreStillSetThenClearsThem)
{
    sim::plug();
    registerQuietly();
    std::vector<AudioObjectID> seen;
    recorder.onEvent = [&](ORV_CallbackEvent event)
    {
        if (event == ORV_EVENT_DEVICE_REMOVED)
            seen = {gInAudioObjectID.load(), gOutAudioObjectID.load()};
    };
    sim::unplug();
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{1, 2}));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_NE(seen[0], 0u);
    EXPECT_NE(seen[1], 0u);
    EXPECT_EQ(gInAudioObjectID.load(), 0u);
    EXPECT_EQ(gOutAudioObjectID.load(), 0u);
}

TEST_F(PlugRoadTest, TheDepartedInterfaceIsRecognisedWhenItsPropertiesCannotBeRead)
{
    sim::plug();
    registerQuietly();
    sim::failStep(sim::Step::propertiesOnTerminate);
    sim::unplug();
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{1, 2}));
    EXPECT_EQ(gInAudioObjectID.load(), 0u);
}

TEST_F(PlugRoadTest, IdentifiersOfDevicesThatHaveGoneDoNotSatisfyANewSearch)
{
    registerQuietly();
    gInAudioObjectID = 9001;
    gOutAudioObjectID = 9002;
    sim::PlugOptions never;
    never.audioAtRun = 0;
    sim::plug(sim::kInterface, never);
    sim::pumpMain();
    EXPECT_TRUE(recorder.codes().empty());
    EXPECT_EQ(sim::sleepCalls(), 5);
    EXPECT_EQ(gInAudioObjectID.load(), 0u);
    EXPECT_EQ(gOutAudioObjectID.load(), 0u);
}

TEST_F(PlugRoadTest, DeviceReadyOnAHotPlugFindsTheUsbHandleOpenWhicheverRoadIsDeliveredFirst)
{
    for (bool plugRoadFirst : {false, true})
    {
        sim::reset();
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        EventRecorder rowRecorder;
        bool handleAtReady = false;
        rowRecorder.onEvent = [&](ORV_CallbackEvent event)
        {
            if (event != ORV_EVENT_DEVICE_READY)
                return;
            handleAtReady = gUSBdevice != nullptr;
            usb_hw_toggleMonitoringHP(0);
        };
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
        RegisterDeviceCallBacks();
        sim::PlugOptions options;
        options.reverseOrder = plugRoadFirst;
        sim::plug(sim::kInterface, options);
        sim::pumpMain();
        quiet.stop();
        EXPECT_EQ(rowRecorder.codes(), std::vector<int>{1}) << plugRoadFirst;
        EXPECT_TRUE(handleAtReady) << plugRoadFirst;
        EXPECT_EQ(sim::interfaceState().headphone, sim::Tri::on) << plugRoadFirst;
        EXPECT_NE(gUSBdevice, nullptr);
        OutputCapture quietAgain;
        UnregisterDeviceCallBacks();
    }
}

TEST_F(PlugRoadTest, PowerMessagesRaiseTheirEventsAndAreAcknowledgedAsRequired)
{
    registerQuietly();
    recorder.onEvent = [](ORV_CallbackEvent event) { sim::note("event " + std::to_string(int(event))); };

    sim::systemSleep(true);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), std::vector<int>{5});
    EXPECT_EQ(sim::powerAcks(), (std::vector<UInt32>{kIOMessageCanSystemSleep, kIOMessageSystemWillSleep}));
    // The will-sleep acknowledgement comes after the event has been handled.
    const auto eventAt = journalIndex("note event 5");
    const auto ackAt = journalIndex("power-ack e0000280");
    ASSERT_GE(eventAt, 0);
    EXPECT_GT(ackAt, eventAt);

    sim::systemSleep(false);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{5, 5}));
    EXPECT_EQ(sim::powerAcks().size(), 3u);

    sim::systemWake(false);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{5, 5, 6, 7}));
    EXPECT_EQ(sim::powerAcks().size(), 3u);

    sim::sendPowerMessage(kIOMessageSystemWillNotSleep);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes().size(), 4u);
    EXPECT_EQ(sim::powerAcks().size(), 3u);
}

TEST_F(PlugRoadTest, WakeWithReenumerationReportsRemovalThenReadiness)
{
    sim::plug();
    registerQuietly();
    sim::systemWake(true);
    sim::pumpMain();
    const auto codes = recorder.codes();
    const auto removed = std::find(codes.begin(), codes.end(), 2);
    ASSERT_NE(removed, codes.end());
    EXPECT_NE(std::find(removed, codes.end(), 1), codes.end());
    EXPECT_NE(gInAudioObjectID.load(), 0u);
}

TEST_F(PlugRoadTest, ARefusedPowerRegistrationGivesNoPowerEvents)
{
    sim::failStep(sim::Step::powerRegistration);
    registerQuietly();
    EXPECT_EQ(root_port, 0u);
    sim::systemSleep(true);
    sim::pumpMain();
    EXPECT_TRUE(recorder.codes().empty());
    EXPECT_TRUE(sim::powerAcks().empty());
}

TEST_F(PlugRoadTest, FailedRegistrationStepsStopQuietly)
{
    for (sim::Step step : {sim::Step::masterPort, sim::Step::matchingDictionary, sim::Step::notificationPort,
                           sim::Step::addNotification})
    {
        sim::reset();
        EventRecorder rowRecorder;
        sim::plug();
        sim::failStep(step);
        OutputCapture capture;
        RegisterDeviceCallBacks();
        sim::pumpMain();
        EXPECT_EQ(capture.out(), "") << static_cast<int>(step);
        EXPECT_TRUE(rowRecorder.codes().empty()) << static_cast<int>(step);
        EXPECT_TRUE(sim::violations().empty()) << static_cast<int>(step) << "\n" << joined(sim::violations());
        sim::clearStep(step);
        OutputCapture quiet;
        UnregisterDeviceCallBacks();
    }
}

// Device ready opens a raw device only when one is waiting on the raw road; with none waiting, the raw
// road prints nothing of its own.
TEST_F(PlugRoadTest, DeviceReadyWithNoRawDeviceWaitingPrintsNothingOfTheRawRoad)
{
    const struct
    {
        const char* name;
        bool openFails;    // the raw road's open of a present interface fails at start
        bool productZero;  // the interface reports product id 0, which only the plug road accepts
        std::string lines; // printed after the three start lines
    } cases[] = {
        {"open failed at start", true, false,
         "device (vendor = 7E57, product = 1 , realse = 100)\n"
         "Found device (vendor = 32343, product = 1, release = 256)\n"
         "Unable to open device: e0000f03\n"},
        {"product id 0", false, true, ""},
    };
    for (const auto& c : cases)
    {
        sim::reset();
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        EventRecorder rowRecorder;
        if (c.productZero)
            sim::setInterfaceSpec(sim::interfaceSpec().set("idProduct", SInt32(0)));
        sim::plug();
        if (c.openFails)
            sim::failStep(sim::Step::open, kIOReturnExclusiveAccess, 1);
        OutputCapture capture;
        RegisterRawDeviceCallBacks();
        RegisterDeviceCallBacks();
        sim::pumpMain();
        EXPECT_EQ(capture.out(), rawStartLines(false) + c.lines) << c.name;
        EXPECT_EQ(rowRecorder.codes(), std::vector<int>{1}) << c.name;
        EXPECT_EQ(gUSBdevice, nullptr) << c.name;
        OutputCapture quiet;
        UnregisterDeviceCallBacks();
    }
}

// Identifiers are dropped before a new search only when the device list shows them gone; a list that
// cannot be read keeps them, so known devices still satisfy the search at once.
TEST_F(PlugRoadTest, AnUnreadableDeviceListDropsNoIdentifiersBeforeANewSearch)
{
    const sim::UsbDevice twin = sim::addUsbDevice(sim::interfaceSpec());
    sim::plug();
    registerQuietly();
    ASSERT_EQ(recorder.codes(), std::vector<int>{1});
    const AudioObjectID in = gInAudioObjectID.load();
    const AudioObjectID out = gOutAudioObjectID.load();

    sim::failProperty({sim::AudioOp::size, kAudioObjectSystemObject, kAudioHardwarePropertyDevices});
    sim::plug(twin);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (std::vector<int>{1, 1}));
    EXPECT_EQ(sim::sleepCalls(), 0);
    EXPECT_EQ(gInAudioObjectID.load(), in);
    EXPECT_EQ(gOutAudioObjectID.load(), out);
    sim::clearPropertyFaults();
}
