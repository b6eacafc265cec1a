// Audio-device discovery: which devices become the input and output device, and how the listener is
// installed on them.

#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"

namespace
{
class DiscoveryTest : public SimulatedMachine
{
protected:
    void TearDown() override
    {
        RemoveAudioPropertyListeners();
        SimulatedMachine::TearDown();
    }

    static AudioObjectID add(const std::string& name, int inputs, int outputs,
                             const std::string& manufacturer = "Orvalis")
    {
        static int serial = 0;
        return sim::addAudioDevice({"uid-" + std::to_string(++serial), name, manufacturer, inputs, outputs});
    }

    static void discover() { CreateInputDeviceArray(CFSTR("PELK"), CFSTR("Orvalis"), &mydeviceStruct); }

    EventRecorder recorder;
};

template <typename Row>
class DiscoveryRowTest : public DiscoveryTest, public ::testing::WithParamInterface<Row>
{
};

struct NameRow
{
    std::string what;
    const char* name;
    const char* manufacturer;
    bool taken;
};
class DiscoveryByName : public DiscoveryRowTest<NameRow>
{
};

struct PolicyRow
{
    std::string what;
    sim::DuplicateListeners policy;
};
class DiscoveryWithDuplicatePolicy : public DiscoveryRowTest<PolicyRow>
{
protected:
    sim::Config config() const override
    {
        sim::Config c;
        c.duplicateListeners = GetParam().policy;
        return c;
    }
};

struct UnreadableRow
{
    std::string what;
    sim::AudioOp op;
    AudioObjectPropertySelector selector;
    bool nullString;
};
class DiscoveryOfUnreadableDevice : public DiscoveryRowTest<UnreadableRow>
{
};
} // namespace

INSTANTIATE_TEST_SUITE_P(Names, DiscoveryByName,
                         ::testing::Values(NameRow{"exact", "PELK", "Orvalis", true},
                                           NameRow{"lower case", "pelk", "Orvalis", true},
                                           NameRow{"mixed case", "PeLk", "Orvalis", true},
                                           NameRow{"prefix", "PEL", "Orvalis", true},
                                           NameRow{"one letter prefix", "P", "Orvalis", true},
                                           NameRow{"empty name", "", "Orvalis", true},
                                           NameRow{"prefix in lower case", "pel", "Orvalis", false},
                                           NameRow{"longer name", "PELK Pro", "Orvalis", false},
                                           NameRow{"maker in lower case", "PELK", "orvalis", true},
                                           NameRow{"other maker", "PELK", "Other", false}),
                         pelktest::NameByWhat());

TEST_P(DiscoveryByName, TheDeviceNameMustBeTheWantedNameIgnoringCaseOrACaseSensitivePrefixOfIt)
{
    const NameRow& c = GetParam();
    const AudioObjectID device = add(c.name, 1, 1, c.manufacturer);
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), c.taken ? device : 0u);
    EXPECT_EQ(gOutAudioObjectID.load(), c.taken ? device : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Policies, DiscoveryWithDuplicatePolicy,
    ::testing::Values(PolicyRow{"refuse", sim::DuplicateListeners::refuse},
                      PolicyRow{"accept idempotent", sim::DuplicateListeners::acceptIdempotent},
                      PolicyRow{"accept duplicate", sim::DuplicateListeners::acceptDuplicate}),
    pelktest::NameByWhat());

TEST_P(DiscoveryWithDuplicatePolicy, ADeviceServingBothDirectionsEndsUpInBoth)
{
    const AudioObjectID device = add("PELK", 1, 1);
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), device);
    EXPECT_EQ(gOutAudioObjectID.load(), device);
    // Our listener is installed once, so one change raises one event.
    EXPECT_EQ(sim::listenerCount(device), 1);
}

TEST_F(DiscoveryTest, TheLastMatchInListOrderWinsAndAnOutputOnlyDeviceIsNeverTheInput)
{
    add("PELK", 1, 0);
    const AudioObjectID later = add("PELK", 1, 0);
    const AudioObjectID output = add("PELK", 0, 1);
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), later);
    EXPECT_EQ(gOutAudioObjectID.load(), output);
}

TEST_F(DiscoveryTest, ARefusedListenerInstallationSetsNothing)
{
    const AudioObjectID refused = add("PELK", 1, 0);
    sim::failProperty({sim::AudioOp::addListener, refused});
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Reads, DiscoveryOfUnreadableDevice,
    ::testing::Values(
        UnreadableRow{"uid", sim::AudioOp::get, kAudioDevicePropertyDeviceUID, false},
        UnreadableRow{"name", sim::AudioOp::get, kAudioObjectPropertyName, false},
        UnreadableRow{"maker", sim::AudioOp::get, kAudioObjectPropertyManufacturer, false},
        UnreadableRow{"stream size", sim::AudioOp::size, kAudioDevicePropertyStreamConfiguration, false},
        UnreadableRow{"streams", sim::AudioOp::get, kAudioDevicePropertyStreamConfiguration, false},
        // A string read that succeeds without a string counts as failed.
        UnreadableRow{"null uid", sim::AudioOp::get, kAudioDevicePropertyDeviceUID, true},
        UnreadableRow{"null name", sim::AudioOp::get, kAudioObjectPropertyName, true},
        UnreadableRow{"null maker", sim::AudioOp::get, kAudioObjectPropertyManufacturer, true}),
    pelktest::NameByWhat());

TEST_P(DiscoveryOfUnreadableDevice, ADeviceWhosePropertiesCannotBeReadIsSkipped)
{
    const UnreadableRow& c = GetParam();
    const AudioObjectID broken = add("PELK", 1, 1);
    sim::PropertyFault fault;
    fault.op = c.op;
    fault.device = broken;
    fault.selector = c.selector;
    fault.nullString = c.nullString;
    sim::failProperty(fault);
    // The broken device comes first in the list; the one after it is still examined.
    const AudioObjectID after = add("PELK", 1, 0);
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), after);
    EXPECT_EQ(gOutAudioObjectID.load(), 0u);
}

TEST_F(DiscoveryTest, ADirectionWithoutStreamsSkipsTheDeviceAndThePassGoesOn)
{
    add("PELK", 0, 1);
    const AudioObjectID input = add("PELK", 1, 0);
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), input);
}

TEST_F(DiscoveryTest, AListThatShrinksBetweenSizeAndReadIsReadByTheSizeReturned)
{
    const AudioObjectID device = add("PELK", 1, 1);
    add("Speakers", 0, 1, "Acme");
    sim::shrinkDeviceListBetweenSizeAndRead(1);
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), device);
    EXPECT_EQ(gOutAudioObjectID.load(), device);
}

TEST_F(DiscoveryTest, AnEmptyOrUnreadableListLeavesTheIdentifiersAlone)
{
    gInAudioObjectID = 77;
    gOutAudioObjectID = 78;
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), 77u);
    add("PELK", 1, 1);
    sim::failProperty({sim::AudioOp::get, kAudioObjectSystemObject, kAudioHardwarePropertyDevices});
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), 77u);
    EXPECT_EQ(gOutAudioObjectID.load(), 78u);
    gInAudioObjectID = 0;
    gOutAudioObjectID = 0;
}

// A device that kept its identifier while the identifiers were cleared (for example by a removal) still
// carries our listener; it is found again although a repeated installation is refused.
TEST_F(DiscoveryTest, ADeviceThatAlreadyCarriesOurListenerIsFoundAgain)
{
    const AudioObjectID input = add("PELK", 1, 0);
    const AudioObjectID output = add("PELK", 0, 1);
    discover();
    ASSERT_EQ(gInAudioObjectID.load(), input);
    gInAudioObjectID = 0;
    gOutAudioObjectID = 0;
    discover();
    EXPECT_EQ(gInAudioObjectID.load(), input);
    EXPECT_EQ(gOutAudioObjectID.load(), output);
    EXPECT_EQ(sim::listenerCount(input), 1);
}
