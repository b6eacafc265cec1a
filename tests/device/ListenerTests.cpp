// The audio property listener: which changes become events, and the rate kept equal on both devices.

#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"

#include <algorithm>
#include <atomic>
#include <limits>

namespace
{
class ListenerTest : public SimulatedMachine
{
protected:
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        recorder.onEvent = [this](ORV_CallbackEvent event)
        {
            if (event == ORV_EVENT_AUDIO_PROPERTY_CHANGED && !sim::isNotificationThread())
                offThread = true;
        };
        sim::plug();
        {
            OutputCapture quiet;
            RegisterDeviceCallBacks();
        }
        ASSERT_EQ(recorder.codes(), Events{ORV_EVENT_DEVICE_READY});
        in = gInAudioObjectID.load();
        out = gOutAudioObjectID.load();
    }

    void TearDown() override
    {
        {
            OutputCapture quiet;
            UnregisterDeviceCallBacks();
        }
        EXPECT_FALSE(offThread) << "event 3 raised off the notification thread";
        SimulatedMachine::TearDown();
    }

    int propertyEvents() const
    {
        const auto codes = recorder.codes();
        return static_cast<int>(std::count(codes.begin(), codes.end(), ORV_EVENT_AUDIO_PROPERTY_CHANGED));
    }

    // Events raised by one delivery carrying these addresses.
    int eventsFor(AudioObjectID device, const std::vector<AudioObjectPropertyAddress>& addresses)
    {
        const int before = propertyEvents();
        EXPECT_TRUE(sim::notifyRaw(device, addresses));
        EXPECT_TRUE(sim::waitAudioIdle());
        return propertyEvents() - before;
    }

    EventRecorder recorder;
    std::atomic<bool> offThread{false};
    AudioObjectID in = 0;
    AudioObjectID out = 0;
};

constexpr AudioObjectPropertyAddress at(AudioObjectPropertySelector selector, AudioObjectPropertyScope scope,
                                        AudioObjectPropertyElement element)
{
    return {selector, scope, element};
}

constexpr auto kOut = kAudioObjectPropertyScopeOutput;
} // namespace

TEST_F(ListenerTest, WatchedPropertiesRaiseOneEventPerAddress)
{
    const struct
    {
        const char* name;
        std::vector<AudioObjectPropertyAddress> addresses;
        int events;
    } cases[] = {
        {"volm + mute",
         {at(kAudioDevicePropertyVolumeScalar, kOut, 1), at(kAudioDevicePropertyMute, kOut, 1)},
         2},
        {"vold", {at(kAudioDevicePropertyVolumeDecibels, kOut, 1)}, 0},
        {"thru", {at(kAudioDevicePropertyPlayThru, kOut, 0)}, 1},
        {"ssrc", {at(kAudioDevicePropertyDataSource, kOut, 0)}, 1},
        {"pft ", {at(kAudioStreamPropertyPhysicalFormat, kOut, 0)}, 0},
    };
    for (const auto& c : cases)
        EXPECT_EQ(eventsFor(out, c.addresses), c.events) << c.name;
}

TEST_F(ListenerTest, AVolumeChangeElsewhereRaisesAnEventOnlyWhenTheScalarCanBeRead)
{
    const int before = propertyEvents();
    sim::setVolumeDb(out, sim::Direction::output, 1, -20.0f);
    ASSERT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(propertyEvents() - before, 1);

    sim::failProperty({sim::AudioOp::get, out, kAudioDevicePropertyVolumeScalar});
    EXPECT_EQ(eventsFor(out, {at(kAudioDevicePropertyVolumeScalar, kOut, 1)}), 0);
}

TEST_F(ListenerTest, ARateChangeOfOneDeviceIsCarriedToTheOther)
{
    const int before = propertyEvents();
    ASSERT_TRUE(sim::setRate(in, 96000));
    ASSERT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(sim::rate(out), 96000.0);
    // Both devices reported a known rate.
    EXPECT_EQ(propertyEvents() - before, 2);
}

TEST_F(ListenerTest, ARateOutsideTheKnownRatesIsCarriedOverWithoutAnEvent)
{
    for (AudioObjectID device : {in, out})
        sim::setAcceptedRates(device, {22050, 44100, 48000, 96000});
    const int before = propertyEvents();
    ASSERT_TRUE(sim::setRate(in, 22050));
    ASSERT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(sim::rate(in), 22050.0);
    EXPECT_EQ(sim::rate(out), 22050.0);
    EXPECT_EQ(propertyEvents() - before, 0);
}

TEST_F(ListenerTest, AKnownRateWithoutAnOutputDeviceStillRaisesTheEvent)
{
    gOutAudioObjectID = 0;
    const int before = propertyEvents();
    ASSERT_TRUE(sim::setRate(in, 96000));
    ASSERT_TRUE(sim::waitAudioIdle());
    EXPECT_EQ(propertyEvents() - before, 1);
    EXPECT_EQ(sim::rate(out), 48000.0);
}

TEST_F(ListenerTest, AnUnreadableNewRateIsNeitherCarriedOverNorReported)
{
    sim::PropertyFault fault;
    fault.op = sim::AudioOp::get;
    fault.device = in;
    fault.selector = kAudioDevicePropertyNominalSampleRate;
    fault.count = 1;
    sim::failProperty(fault);
    EXPECT_EQ(eventsFor(in, {at(kAudioDevicePropertyNominalSampleRate, kAudioObjectPropertyScopeGlobal, 0)}),
              0);
    EXPECT_EQ(sim::rate(out), 48000.0);
    EXPECT_EQ(sim::rate(in), 48000.0);
}

// A device reporting a rate that is not a positive finite number is treated as unreadable: nothing is
// written back, so no notify/write loop can start, and no event is raised.
TEST_F(ListenerTest, AnUnusableReportedRateIsNeverCarriedOver)
{
    for (double bad : {std::numeric_limits<double>::quiet_NaN(), 0.0, -44100.0})
    {
        const int before = propertyEvents();
        ASSERT_TRUE(sim::setRateUnchecked(in, bad));
        ASSERT_TRUE(sim::waitAudioIdle());
        EXPECT_EQ(sim::rate(out), 48000.0) << bad;
        EXPECT_EQ(propertyEvents() - before, 0) << bad;
    }
}
