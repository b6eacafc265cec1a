// The raw USB road: start-up, arrival and removal, teardown and every failure it reports.

#include "DeviceIds.h"
#include "DeviceTestSupport.h"
#include "USBCommands.h"

namespace
{
std::string hex8(IOReturn status)
{
    char text[16];
    std::snprintf(text, sizeof(text), "%08x", static_cast<unsigned>(status));
    return text;
}

const std::string kDeviceLines = "device (vendor = 7E57, product = 1 , realse = 100)\n"
                                 "Found device (vendor = 32343, product = 1, release = 256)\n";
const std::string kRemoved = "Raw Device Removed called....\n";
const std::string kAdded = "Raw Device Added called....\n";

class RawUsbRoadTest : public SimulatedMachine
{
};

// With the interface present and step failing with e; returns what the registration printed.
std::string registerWithFailingStep(sim::Step step, IOReturn e)
{
    sim::plug();
    sim::failStep(step, e);
    OutputCapture capture;
    RegisterRawDeviceCallBacks();
    return capture.out();
}

const IOReturn kArrivalError = IOReturn(0xE0001234);
const IOReturn kRegistrationError = IOReturn(0xE0004321);

struct FailingStepRow
{
    std::string what;
    sim::Step step;
    std::string lines; // arrival: after the three start lines; registration: everything printed
    int closes;
};

class RawUsbArrivalFailure : public RawUsbRoadTest, public ::testing::WithParamInterface<FailingStepRow>
{
};

class RawUsbRegistrationFailure : public RawUsbRoadTest, public ::testing::WithParamInterface<FailingStepRow>
{
};
} // namespace

TEST_F(RawUsbRoadTest, StartWithoutTheInterfacePrintsTheThreeStartLines)
{
    OutputCapture capture;
    RegisterRawDeviceCallBacks();
    EXPECT_EQ(capture.out(), kRemoved + kRemoved + kAdded);
    EXPECT_EQ(gUSBdevice, nullptr);
}

TEST_F(RawUsbRoadTest, StartWithTheInterfaceOpensAndConfiguresIt)
{
    sim::plug();
    OutputCapture capture;
    RegisterRawDeviceCallBacks();
    EXPECT_EQ(capture.out(), kRemoved + kRemoved + kAdded + kDeviceLines);
    ASSERT_NE(gUSBdevice, nullptr);
    const auto stats = sim::usbStats();
    EXPECT_TRUE(stats.open);
    EXPECT_EQ(stats.configuration, 1);
}

TEST_F(RawUsbRoadTest, UnplugAndReplugForgetThenReopenTheDevice)
{
    sim::plug();
    {
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
    }

    OutputCapture unplugged;
    sim::unplug();
    sim::pumpMain();
    EXPECT_EQ(unplugged.out(), kRemoved);
    EXPECT_EQ(gUSBdevice, nullptr);
    // The forgotten handle was closed and released.
    EXPECT_EQ(sim::usbStats().closes, 1);
    EXPECT_EQ(sim::usbStats().liveInterfaces, 0);

    OutputCapture replugged;
    sim::plug();
    sim::pumpMain();
    EXPECT_EQ(replugged.out(), kAdded + kDeviceLines);
    ASSERT_NE(gUSBdevice, nullptr);
    usb_hw_toggleLoopbackMode(1);
    EXPECT_EQ(sim::interfaceState().loopback, sim::Tri::on);
}

TEST_F(RawUsbRoadTest, ReleaseRawDeviceClosesReleasesAndPrintsTheRemovalLine)
{
    sim::plug();
    {
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
    }
    OutputCapture capture;
    ReleaseRawDevice();
    EXPECT_EQ(capture.out(), kRemoved);
    EXPECT_EQ(gUSBdevice, nullptr);
    const auto stats = sim::usbStats();
    EXPECT_FALSE(stats.open);
    EXPECT_EQ(stats.closes, 1);
    EXPECT_EQ(stats.liveInterfaces, 0);
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, RawUsbArrivalFailure,
    ::testing::Values(
        FailingStepRow{"plug-in", sim::Step::plugIn, "Unable to create a plug-in (00000000)\n", 0},
        // A failed service release still lets go of the plug-in that was made.
        FailingStepRow{"release service", sim::Step::releaseService,
                       "Unable to create a plug-in (" + hex8(kArrivalError) + ")\n", 0},
        FailingStepRow{"query interface", sim::Step::queryInterface,
                       "Couldn\u2019t create a device interface (" + hex8(kArrivalError) + ")\n", 0},
        FailingStepRow{"open", sim::Step::open,
                       kDeviceLines + "Unable to open device: " + hex8(kArrivalError) + "\n", 0},
        FailingStepRow{"zero configurations", sim::Step::zeroConfigurations,
                       kDeviceLines + "Unable to configure device: ffffffff\n", 1},
        FailingStepRow{"configuration descriptor", sim::Step::configDescriptor,
                       kDeviceLines + "Couldn\u2019t get configuration descriptor for index 0 (err = " +
                           hex8(kArrivalError) + ")\nUnable to configure device: ffffffff\n",
                       1},
        FailingStepRow{"set configuration", sim::Step::setConfiguration,
                       kDeviceLines + "Couldn\u2019t set configuration to value 1 (err = " +
                           hex8(kArrivalError) + ")\nUnable to configure device: ffffffff\n",
                       1}),
    pelktest::NameByWhat());

TEST_P(RawUsbArrivalFailure, PrintsItsLineAndGivesBackWhatWasObtained)
{
    const FailingStepRow& c = GetParam();
    EXPECT_EQ(registerWithFailingStep(c.step, kArrivalError), kRemoved + kRemoved + kAdded + c.lines);
    EXPECT_EQ(gUSBdevice, nullptr);
    const auto stats = sim::usbStats();
    EXPECT_EQ(stats.liveInterfaces, 0);
    EXPECT_EQ(stats.closes, c.closes);
    EXPECT_FALSE(stats.open);
    sim::clearStep(c.step);
    OutputCapture quiet;
    UnregisterRawDeviceCallBacks();
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, RawUsbRegistrationFailure,
    ::testing::Values(FailingStepRow{"master port", sim::Step::masterPort,
                                     kRemoved + "ERR: Couldn\u2019t create a master I/O Kit port(" +
                                         hex8(kRegistrationError) + ")\n",
                                     0},
                      FailingStepRow{"matching dictionary", sim::Step::matchingDictionary,
                                     kRemoved + "Couldn\u2019t create a USB matching dictionary\n", 0},
                      // A missing notification port stops the registration quietly.
                      FailingStepRow{"notification port", sim::Step::notificationPort, kRemoved, 0}),
    pelktest::NameByWhat());

TEST_P(RawUsbRegistrationFailure, PrintsItsLineAndLeavesTheRoadInert)
{
    const FailingStepRow& c = GetParam();
    EXPECT_EQ(registerWithFailingStep(c.step, kRegistrationError), c.lines);
    EXPECT_EQ(gUSBdevice, nullptr);
    EXPECT_EQ(sim::usbStats().opens, 0);
    sim::clearStep(c.step);
    UnregisterRawDeviceCallBacks();
}

TEST_F(RawUsbRoadTest, ADeviceAnsweringWithOtherIdentifiersIsNeverOpened)
{
    auto spec = sim::interfaceSpec();
    spec.descriptorProduct = 2;
    const sim::UsbDevice impostor = sim::addUsbDevice(spec);
    sim::plug(impostor);

    OutputCapture capture;
    RegisterRawDeviceCallBacks();
    EXPECT_EQ(capture.out(), kRemoved + kRemoved + kAdded +
                                 "device (vendor = 7E57, product = 2 , realse = 100)\n"
                                 "Found unwanted device (vendor = 7E57, product = 2)\n");
    EXPECT_EQ(gUSBdevice, nullptr);
    EXPECT_EQ(sim::usbStats(impostor).opens, 0);
    EXPECT_EQ(sim::usbStats(impostor).liveInterfaces, 0);
}

TEST_F(RawUsbRoadTest, AFailedReleaseOfARemovedServiceIsPrinted)
{
    sim::plug();
    {
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
    }
    const IOReturn e = IOReturn(0xE0005555);
    sim::failStep(sim::Step::releaseService, e);
    OutputCapture capture;
    sim::unplug();
    sim::pumpMain();
    EXPECT_EQ(capture.out(), kRemoved + "Couldn\u2019t release raw device object: " + hex8(e) + "\n");
    EXPECT_EQ(gUSBdevice, nullptr);
}

// Two devices that both match: the later arrival replaces the held handle (closing it), and only the
// removal of the held device forgets it.
TEST_F(RawUsbRoadTest, OnlyTheHeldDevicesRemovalForgetsItAndAReplacedHandleIsClosed)
{
    const sim::UsbDevice twin = sim::addUsbDevice(sim::interfaceSpec());
    sim::plug();
    {
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
        sim::plug(twin);
        sim::pumpMain();
    }
    ASSERT_NE(gUSBdevice, nullptr);
    EXPECT_TRUE(sim::usbStats(twin).open);
    EXPECT_FALSE(sim::usbStats(sim::kInterface).open);
    EXPECT_EQ(sim::usbStats(sim::kInterface).closes, 1);
    EXPECT_EQ(sim::usbStats(sim::kInterface).liveInterfaces, 0);

    {
        OutputCapture quiet;
        sim::unplug(sim::kInterface);
        sim::pumpMain();
    }
    ASSERT_NE(gUSBdevice, nullptr);
    usb_hw_toggleMonitoringHP(0);
    EXPECT_EQ(sim::usbDataBytes().size(), 3u);

    {
        OutputCapture quiet;
        sim::unplug(twin);
        sim::pumpMain();
    }
    EXPECT_EQ(gUSBdevice, nullptr);
}

// Descriptor reads that fail leave their out-parameters untouched; the values printed and compared are
// then the zeroes set before each call, never leftovers.
TEST_F(RawUsbRoadTest, FailedDescriptorReadsReadAsZero)
{
    sim::plug();
    sim::failStep(sim::Step::deviceInfo, IOReturn(0xE0000F00));
    OutputCapture capture;
    RegisterRawDeviceCallBacks();
    EXPECT_EQ(capture.out(), kRemoved + kRemoved + kAdded +
                                 "device (vendor = 0, product = 0 , realse = 0)\n"
                                 "Found unwanted device (vendor = 0, product = 0)\n");
    EXPECT_EQ(gUSBdevice, nullptr);
    EXPECT_EQ(sim::usbStats().opens, 0);
    EXPECT_EQ(sim::usbStats().liveInterfaces, 0);
}
