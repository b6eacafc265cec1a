// The interface command: request shape, command bytes, the failure path and the skipped commands.

#include "DeviceTestSupport.h"
#include "USBCommands.h"

namespace
{
class UsbCommandTest : public SimulatedMachine
{
protected:
    void SetUp() override
    {
        SimulatedMachine::SetUp();
        sim::plug();
        OutputCapture quiet;
        RegisterRawDeviceCallBacks();
        quiet.stop();
        ASSERT_NE(gUSBdevice, nullptr);
    }
};

class UsbCommandWithoutDevice : public SimulatedMachine
{
};

constexpr UInt8 kSetup[8] = {0x21, 0x01, 0x00, 0x20, 0x00, 0x03, 0x01, 0x00};

std::string hex(unsigned value, const char* format)
{
    char text[32];
    std::snprintf(text, sizeof(text), format, value);
    return text;
}
} // namespace

TEST(MonitorVolumeCommand, IsSixteenMinusTheTruncatedDecibelsModulo256)
{
    const struct
    {
        double decibels;
        int byte;
    } cases[] = {{0.0, 16}, {-1.0, 17}, {-37.0, 53}, {-110.0, 126}, {-0.5, 16}, {-37.9, 53}, {-250.0, 10}};
    for (const auto& c : cases)
        EXPECT_EQ(monitorVolumeCommand(c.decibels), c.byte) << c.decibels;
}

TEST_F(UsbCommandWithoutDevice, NothingIsSentOrPrinted)
{
    OutputCapture capture;
    usb_hw_toggleMonitoringHP(0);
    usb_hw_toggleMonitoringRecording(1);
    EXPECT_EQ(writeDeviceCommand(monitorVolumeCommand(-37)), kIOReturnNoDevice);
    EXPECT_EQ(usb_hw_toggleLoopbackMode(1), kIOReturnNoDevice);
    EXPECT_EQ(static_cast<unsigned>(usb_hw_toggleLoopbackMode(1)), 0xE00002C0u);
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(capture.err(), "");
    EXPECT_TRUE(sim::usbRequests().empty());
}

TEST_F(UsbCommandTest, EachOperationSendsItsCommandAfterTheTwoLeadInBytes)
{
    // Arguments other than 0 and 1 count as 1, so they never turn into another command.
    const struct
    {
        const char* name;
        std::function<IOReturn()> call;
        int byte;
    } cases[] = {
        {"HP(0)",
         []
         {
             usb_hw_toggleMonitoringHP(0);
             return kIOReturnSuccess;
         },
         HeadphoneMonitorOn},
        {"HP(1)",
         []
         {
             usb_hw_toggleMonitoringHP(1);
             return kIOReturnSuccess;
         },
         HeadphoneMonitorOff},
        {"HP(2)",
         []
         {
             usb_hw_toggleMonitoringHP(2);
             return kIOReturnSuccess;
         },
         HeadphoneMonitorOff},
        {"Rec(0)",
         []
         {
             usb_hw_toggleMonitoringRecording(0);
             return kIOReturnSuccess;
         },
         RecordMonitorOff},
        {"Rec(1)",
         []
         {
             usb_hw_toggleMonitoringRecording(1);
             return kIOReturnSuccess;
         },
         RecordMonitorOn},
        {"Rec(7)",
         []
         {
             usb_hw_toggleMonitoringRecording(7);
             return kIOReturnSuccess;
         },
         RecordMonitorOn},
        {"Loop(0)", [] { return usb_hw_toggleLoopbackMode(0); }, LoopbackOff},
        {"Loop(1)", [] { return usb_hw_toggleLoopbackMode(1); }, LoopbackOn},
        {"Loop(3)", [] { return usb_hw_toggleLoopbackMode(3); }, LoopbackOn},
        {"knob 0", [] { return writeDeviceCommand(monitorVolumeCommand(0)); }, 16},
        {"knob -37", [] { return writeDeviceCommand(monitorVolumeCommand(-37)); }, 53},
        {"knob -110", [] { return writeDeviceCommand(monitorVolumeCommand(-110)); }, 126},
    };

    OutputCapture capture;
    for (const auto& c : cases)
    {
        const size_t before = sim::usbRequests().size();
        EXPECT_EQ(c.call(), kIOReturnSuccess) << c.name;
        const auto requests = sim::usbRequests();
        ASSERT_EQ(requests.size(), before + 3) << c.name;
        for (size_t i = before; i < requests.size(); ++i)
        {
            EXPECT_TRUE(std::equal(std::begin(kSetup), std::end(kSetup), requests[i].setup)) << c.name;
            EXPECT_EQ(requests[i].status, kIOReturnSuccess) << c.name;
        }
        EXPECT_EQ(dataBytesFrom(before), (std::vector<int>{0x55, 0xAA, c.byte})) << c.name;
        ASSERT_FALSE(sim::interfaceState().commands.empty());
        EXPECT_EQ(sim::interfaceState().commands.back(), c.byte) << c.name;
    }
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(sim::interfaceState().protocolViolations, 0);
}

struct FailedRequestRow
{
    std::string what;
    int failingRequest;
    bool delivered;
    std::vector<int> attempted;
    bool applied;
};

class UsbCommandFailure : public UsbCommandTest, public ::testing::WithParamInterface<FailedRequestRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    EachRequest, UsbCommandFailure,
    ::testing::Values(FailedRequestRow{"first lead-in byte", 1, false, {0x55}, false},
                      FailedRequestRow{"second lead-in byte", 2, false, {0x55, 0xAA}, false},
                      FailedRequestRow{"command byte", 3, false, {0x55, 0xAA, LoopbackOn}, false},
                      FailedRequestRow{
                          "command byte failing after delivery", 3, true, {0x55, 0xAA, LoopbackOn}, true}),
    pelktest::NameByWhat());

TEST_P(UsbCommandFailure, ClosesAndForgetsTheDeviceOnce)
{
    const FailedRequestRow& c = GetParam();
    const IOReturn status = kIOUSBPipeStalled;
    sim::failUsbRequests({sim::UsbFailRule::When::nth, c.failingRequest, 0, status, c.delivered});

    OutputCapture capture;
    EXPECT_EQ(usb_hw_toggleLoopbackMode(1), status);
    EXPECT_EQ(capture.out(), "WriteToDevice reset returned err 0x" + hex(unsigned(status), "%x") +
                                 "\nUnable to send to device: " + hex(unsigned(status), "%08x") + "\n");
    EXPECT_EQ(sim::usbDataBytes(), c.attempted);
    EXPECT_EQ(sim::interfaceState().loopback == sim::Tri::on, c.applied);
    EXPECT_EQ(gUSBdevice, nullptr);

    const auto stats = sim::usbStats();
    EXPECT_EQ(stats.closes, 1);
    EXPECT_EQ(stats.liveInterfaces, 0);
    EXPECT_FALSE(stats.open);

    // Every later command finds no device.
    usb_hw_toggleMonitoringHP(0);
    EXPECT_EQ(usb_hw_toggleLoopbackMode(0), kIOReturnNoDevice);
    EXPECT_EQ(sim::usbDataBytes(), c.attempted);
    {
        OutputCapture quiet;
        ReleaseRawDevice();
        UnregisterRawDeviceCallBacks();
    }
    EXPECT_EQ(sim::usbStats().closes, 1);
}

// The failure forgets the device as a removal does, registry entry included: the unplug that follows
// closes nothing twice, and the interface plugged in again is opened and takes commands.
TEST_F(UsbCommandTest, AfterAFailureTheUnplugAndTheNextPlugFindTheDeviceForgotten)
{
    sim::failUsbRequests({sim::UsbFailRule::When::next, 1, 0, kIOUSBPipeStalled, false});
    OutputCapture capture;
    EXPECT_EQ(usb_hw_toggleLoopbackMode(1), kIOUSBPipeStalled);
    ASSERT_EQ(gUSBdevice, nullptr);

    sim::unplug();
    sim::pumpMain();
    EXPECT_EQ(sim::usbStats().closes, 1);
    sim::plug();
    sim::pumpMain();
    EXPECT_EQ(sim::usbStats().opens, 2);
    ASSERT_NE(gUSBdevice, nullptr);
    EXPECT_EQ(usb_hw_toggleLoopbackMode(1), kIOReturnSuccess);
    EXPECT_EQ(sim::interfaceState().loopback, sim::Tri::on);
    capture.stop();
    OutputCapture quiet;
    UnregisterRawDeviceCallBacks();
}
