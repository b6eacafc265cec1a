// The plug road: recognising the interface, the retried audio-device search, unplug and power events.

#include "DeviceIds.h"
#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"
#include "USBCommands.h"

#include <algorithm>

namespace
{
class PlugRoadTest : public SimulatedMachine
{
protected:
    void TearDown() override
    {
        {
            OutputCapture quiet;
            UnregisterDeviceCallBacks();
        }
        SimulatedMachine::TearDown();
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

struct RecognitionRow
{
    std::string what;
    sim::UsbDeviceSpec spec;
    bool ready;
};

class PlugRoadRecognition : public PlugRoadTest, public ::testing::WithParamInterface<RecognitionRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    ByIdentifiersAndExactNames, PlugRoadRecognition,
    ::testing::Values(
        RecognitionRow{"exact", sim::interfaceSpec(), true},
        RecognitionRow{"product id 0 (a spare entry)", sim::interfaceSpec().set("idProduct", SInt32(0)),
                       true},
        RecognitionRow{"other product id", sim::interfaceSpec().set("idProduct", SInt32(5)), false},
        RecognitionRow{"other vendor id", sim::interfaceSpec().set("idVendor", SInt32(0x1234)), false},
        RecognitionRow{"vendor name in lower case",
                       sim::interfaceSpec().set("USB Vendor Name", std::string("orvalis")), false},
        RecognitionRow{"product name in lower case",
                       sim::interfaceSpec().set("USB Product Name", std::string("pelk")), false},
        RecognitionRow{"other product name",
                       sim::interfaceSpec().set("USB Product Name", std::string("PELK2")), false},
        RecognitionRow{"no product name", sim::interfaceSpec().erase("USB Product Name"), false},
        RecognitionRow{"no vendor id", sim::interfaceSpec().erase("idVendor"), false},
        // Registry values of the wrong type are a mismatch, never read as another type.
        RecognitionRow{"product id as text", sim::interfaceSpec().set("idProduct", std::string("1")), false},
        RecognitionRow{"vendor id as text", sim::interfaceSpec().set("idVendor", std::string("32343")),
                       false},
        RecognitionRow{"product name as number", sim::interfaceSpec().set("USB Product Name", SInt32(7)),
                       false}),
    pelktest::NameByWhat());

TEST_P(PlugRoadRecognition, TheInterfaceIsRecognisedByIdentifiersAndExactNamesOnly)
{
    sim::setInterfaceSpec(GetParam().spec);
    sim::plug();
    registerQuietly();
    EXPECT_EQ(recorder.codes(), (GetParam().ready ? Events{ORV_EVENT_DEVICE_READY} : Events{}));
    EXPECT_EQ(sim::sleepCalls(), 0);
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

struct RetryRow
{
    std::string what;
    int audioAtRun; // 0: never
    int runs;
    int pauses;
    bool ready;
};

class PlugRoadRetries : public PlugRoadTest, public ::testing::WithParamInterface<RetryRow>
{
};

INSTANTIATE_TEST_SUITE_P(FiveTimesOneSecondApart, PlugRoadRetries,
                         ::testing::Values(RetryRow{"audio at run 1", 1, 1, 0, true},
                                           RetryRow{"audio at run 2", 2, 2, 1, true},
                                           RetryRow{"audio at run 3", 3, 3, 2, true},
                                           RetryRow{"audio at run 5", 5, 5, 4, true},
                                           RetryRow{"audio never", 0, 5, 5, false}),
                         pelktest::NameByWhat());

TEST_P(PlugRoadRetries, TheSearchRetriesFiveTimesOneSecondApart)
{
    const RetryRow& c = GetParam();
    registerQuietly();
    sim::PlugOptions options;
    options.audioAtRun = c.audioAtRun;
    sim::plug(sim::kInterface, options);
    sim::pumpMain();
    EXPECT_EQ(sim::discoveryRuns(), c.runs);
    EXPECT_EQ(sim::sleepCalls(), c.pauses);
    EXPECT_EQ(sim::nowMs(), c.pauses * 1000);
    EXPECT_EQ(recorder.codes(), (c.ready ? Events{ORV_EVENT_DEVICE_READY} : Events{}));
}

TEST_F(PlugRoadTest, AnInterfacePresentAtStartIsReadyBeforeRegistrationReturns)
{
    sim::plug();
    registerQuietly();
    EXPECT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
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
    EXPECT_EQ(recorder.codes(), (Events{ORV_EVENT_DEVICE_READY, ORV_EVENT_DEVICE_REMOVED}));
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
    EXPECT_EQ(recorder.codes(), (Events{ORV_EVENT_DEVICE_READY, ORV_EVENT_DEVICE_REMOVED}));
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

class PlugRoadHotPlug : public PlugRoadTest, public ::testing::WithParamInterface<bool>
{
};

INSTANTIATE_TEST_SUITE_P(EitherRoadFirst, PlugRoadHotPlug, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row)
                         { return std::string(row.param ? "PlugRoadFirst" : "RawRoadFirst"); });

TEST_P(PlugRoadHotPlug, DeviceReadyFindsTheUsbHandleOpen)
{
    bool handleAtReady = false;
    recorder.onEvent = [&](ORV_CallbackEvent event)
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
    options.reverseOrder = GetParam();
    sim::plug(sim::kInterface, options);
    sim::pumpMain();
    quiet.stop();
    EXPECT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
    EXPECT_TRUE(handleAtReady);
    EXPECT_EQ(sim::interfaceState().headphone, sim::Tri::on);
    EXPECT_NE(gUSBdevice, nullptr);
}

TEST_F(PlugRoadTest, PowerMessagesRaiseTheirEventsAndAreAcknowledgedAsRequired)
{
    registerQuietly();
    recorder.onEvent = [](ORV_CallbackEvent event) { sim::note("event " + std::to_string(int(event))); };

    sim::systemSleep(true);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), Events{ORV_EVENT_SYSTEM_WILL_SLEEP});
    EXPECT_EQ(sim::powerAcks(), (std::vector<UInt32>{kIOMessageCanSystemSleep, kIOMessageSystemWillSleep}));
    // The will-sleep acknowledgement comes after the event has been handled.
    const auto eventAt = journalIndex("note event 5");
    const auto ackAt = journalIndex("power-ack e0000280");
    ASSERT_GE(eventAt, 0);
    EXPECT_GT(ackAt, eventAt);

    sim::systemSleep(false);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (Events{ORV_EVENT_SYSTEM_WILL_SLEEP, ORV_EVENT_SYSTEM_WILL_SLEEP}));
    EXPECT_EQ(sim::powerAcks().size(), 3u);

    sim::systemWake(false);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (Events{ORV_EVENT_SYSTEM_WILL_SLEEP, ORV_EVENT_SYSTEM_WILL_SLEEP,
                                        ORV_EVENT_SYSTEM_WILL_POWER_ON, ORV_EVENT_SYSTEM_HAS_POWERED_ON}));
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
    const auto removed = std::find(codes.begin(), codes.end(), ORV_EVENT_DEVICE_REMOVED);
    ASSERT_NE(removed, codes.end());
    EXPECT_NE(std::find(removed, codes.end(), ORV_EVENT_DEVICE_READY), codes.end());
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

struct RegistrationStepRow
{
    std::string what;
    sim::Step step;
};

class PlugRoadRegistrationFailure : public PlugRoadTest,
                                    public ::testing::WithParamInterface<RegistrationStepRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    EachStep, PlugRoadRegistrationFailure,
    ::testing::Values(RegistrationStepRow{"master port", sim::Step::masterPort},
                      RegistrationStepRow{"matching dictionary", sim::Step::matchingDictionary},
                      RegistrationStepRow{"notification port", sim::Step::notificationPort},
                      RegistrationStepRow{"add notification", sim::Step::addNotification}),
    pelktest::NameByWhat());

TEST_P(PlugRoadRegistrationFailure, StopsQuietly)
{
    sim::plug();
    sim::failStep(GetParam().step);
    OutputCapture capture;
    RegisterDeviceCallBacks();
    sim::pumpMain();
    EXPECT_EQ(capture.out(), "");
    EXPECT_TRUE(recorder.codes().empty());
    sim::clearStep(GetParam().step);
}

// Device ready opens a raw device only when one is waiting on the raw road; with none waiting, the raw
// road prints nothing of its own.
struct NoRawWaitingRow
{
    std::string what;
    bool openFails;    // the raw road's open of a present interface fails at start
    bool productZero;  // the interface reports product id 0, which only the plug road accepts
    std::string lines; // printed after the three start lines
};

class PlugRoadNoRawWaiting : public PlugRoadTest, public ::testing::WithParamInterface<NoRawWaitingRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    Cases, PlugRoadNoRawWaiting,
    ::testing::Values(NoRawWaitingRow{"open failed at start", true, false,
                                      "device (vendor = 7E57, product = 1 , realse = 100)\n"
                                      "Found device (vendor = 32343, product = 1, release = 256)\n"
                                      "Unable to open device: e0000f03\n"},
                      NoRawWaitingRow{"product id 0", false, true, ""}),
    pelktest::NameByWhat());

TEST_P(PlugRoadNoRawWaiting, DeviceReadyPrintsNothingOfTheRawRoad)
{
    const NoRawWaitingRow& c = GetParam();
    if (c.productZero)
        sim::setInterfaceSpec(sim::interfaceSpec().set("idProduct", SInt32(0)));
    sim::plug();
    if (c.openFails)
        sim::failStep(sim::Step::open, kIOReturnExclusiveAccess, 1);
    OutputCapture capture;
    RegisterRawDeviceCallBacks();
    RegisterDeviceCallBacks();
    sim::pumpMain();
    EXPECT_EQ(capture.out(), rawStartLines(false) + c.lines);
    EXPECT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
    EXPECT_EQ(gUSBdevice, nullptr);
}

// Identifiers are dropped before a new search only when the device list shows them gone; a list that
// cannot be read keeps them, so known devices still satisfy the search at once.
TEST_F(PlugRoadTest, AnUnreadableDeviceListDropsNoIdentifiersBeforeANewSearch)
{
    const sim::UsbDevice twin = sim::addUsbDevice(sim::interfaceSpec());
    sim::plug();
    registerQuietly();
    ASSERT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
    const AudioObjectID in = gInAudioObjectID.load();
    const AudioObjectID out = gOutAudioObjectID.load();

    sim::failProperty({sim::AudioOp::size, kAudioObjectSystemObject, kAudioHardwarePropertyDevices});
    sim::plug(twin);
    sim::pumpMain();
    EXPECT_EQ(recorder.codes(), (Events{ORV_EVENT_DEVICE_READY, ORV_EVENT_DEVICE_READY}));
    EXPECT_EQ(sim::sleepCalls(), 0);
    EXPECT_EQ(gInAudioObjectID.load(), in);
    EXPECT_EQ(gOutAudioObjectID.load(), out);
    sim::clearPropertyFaults();
}
