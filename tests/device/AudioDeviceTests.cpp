// Audio-device discovery: which devices become the input and output device, and how the listener is
// installed on them.

#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"

namespace
{
class DiscoveryTest : public SimTest
{
protected:
    void TearDown() override
    {
        RemoveAudioPropertyListeners();
        SimTest::TearDown();
    }

    // A fresh machine for one row of a table.
    void freshWorld(const sim::Config& config = {})
    {
        RemoveAudioPropertyListeners();
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        sim::reset(config);
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
} // namespace

TEST_F(DiscoveryTest, TheDeviceNameMustBeTheWantedNameIgnoringCaseOrACaseSensitivePrefixOfIt)
{
    const struct
    {
        const char* name;
        const char* manufacturer;
        bool taken;
    } cases[] = {
        {"PELK", "Orvalis", true}, {"pelk", "Orvalis", true},      {"PeLk", "Orvalis", true},
        {"PEL", "Orvalis", true},  {"P", "Orvalis", true},         {"", "Orvalis", true},
        {"pel", "Orvalis", false}, {"PELK Pro", "Orvalis", false}, {"PELK", "orvalis", true},
        {"PELK", "Other", false},
    };
    for (const auto& c : cases)
    {
        freshWorld();
        const AudioObjectID device = add(c.name, 1, 1, c.manufacturer);
        discover();
        EXPECT_EQ(gInAudioObjectID.load(), c.taken ? device : 0u) << '"' << c.name << "\" " << c.manufacturer;
        EXPECT_EQ(gOutAudioObjectID.load(), c.taken ? device : 0u)
            << '"' << c.name << "\" " << c.manufacturer;
    }
}

TEST_F(DiscoveryTest, ADeviceServingBothDirectionsEndsUpInBothWhateverTheDuplicatePolicy)
{
    for (auto policy : {sim::DuplicateListeners::refuse, sim::DuplicateListeners::acceptIdempotent,
                        sim::DuplicateListeners::acceptDuplicate})
    {
        sim::Config config;
        config.duplicateListeners = policy;
        freshWorld(config);
        const AudioObjectID device = add("PELK", 1, 1);
        discover();
        EXPECT_EQ(gInAudioObjectID.load(), device);
        EXPECT_EQ(gOutAudioObjectID.load(), device);
        // Our listener is installed once, so one change raises one event.
        EXPECT_EQ(sim::listenerCount(device), 1);
    }
}

TEST_F(DiscoveryTest, DirectionsOrderAndRefusalsDecideTheDevices)
{
    {
        freshWorld();
        add("PELK", 1, 0);
        const AudioObjectID later = add("PELK", 1, 0);
        const AudioObjectID output = add("PELK", 0, 1);
        discover();
        EXPECT_EQ(gInAudioObjectID.load(), later) << "the last match in list order wins";
        EXPECT_EQ(gOutAudioObjectID.load(), output) << "an output-only device is never the input";
    }
    {
        freshWorld();
        const AudioObjectID refused = add("PELK", 1, 0);
        sim::failProperty({sim::AudioOp::addListener, refused});
        discover();
        EXPECT_EQ(gInAudioObjectID.load(), 0u) << "a refused installation sets nothing";
    }
}

TEST_F(DiscoveryTest, ADeviceWhosePropertiesCannotBeReadIsSkipped)
{
    const struct
    {
        sim::AudioOp op;
        AudioObjectPropertySelector selector;
        bool nullString;
    } cases[] = {
        {sim::AudioOp::get, kAudioDevicePropertyDeviceUID, false},
        {sim::AudioOp::get, kAudioObjectPropertyName, false},
        {sim::AudioOp::get, kAudioObjectPropertyManufacturer, false},
        {sim::AudioOp::size, kAudioDevicePropertyStreamConfiguration, false},
        {sim::AudioOp::get, kAudioDevicePropertyStreamConfiguration, false},
        // A string read that succeeds without a string counts as failed.
        {sim::AudioOp::get, kAudioDevicePropertyDeviceUID, true},
        {sim::AudioOp::get, kAudioObjectPropertyName, true},
        {sim::AudioOp::get, kAudioObjectPropertyManufacturer, true},
    };
    for (const auto& c : cases)
    {
        freshWorld();
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
        EXPECT_EQ(gInAudioObjectID.load(), after) << c.selector << " null " << c.nullString;
        EXPECT_EQ(gOutAudioObjectID.load(), 0u) << c.selector << " null " << c.nullString;
        EXPECT_TRUE(sim::violations().empty()) << joined(sim::violations());
    }
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
