// The simulated USB bus: matching notifications (arming by draining, first-match iterators holding what is
// present, removal answering registry reads), the device interface, the interface's command decoder and
// the fault injection a client relies on.

#include "SimTestSupport.h"
#include "SimulatedMachine.h"

#include "DeviceIds.h"

using namespace simtest;

namespace
{
class Usb : public pelktest::SimulatedMachine
{
};

std::string registryString(io_service_t s, const char* key)
{
    CFMutableDictionaryRef props = nullptr;
    if (IORegistryEntryCreateCFProperties(s, &props, nullptr, 0) != kIOReturnSuccess)
        return "<unreadable>";
    auto* value = static_cast<CFStringRef>(CFDictionaryGetValue(props, platformConstantString(key)));
    std::string text = value != nullptr ? platform::toStdString(value) : "<missing>";
    CFRelease(props);
    return text;
}

TEST_F(Usb, FirstMatchIteratorHoldsThePresentDevicesAndArmsOnlyWhenDrained)
{
    sim::plug();
    const sim::UsbDevice other = sim::addUsbDevice(sim::otherDeviceSpec(0x1234, 0x0042, "Acme", "Mouse"));
    sim::plug(other);

    Watch watch;
    watch.start(kIOFirstMatchNotification);
    EXPECT_EQ(sim::pumpMain(), 0) << "nothing is delivered for the devices already present";

    // Not drained yet: a new arrival collects in the iterator and is not delivered.
    const sim::UsbDevice late = sim::addUsbDevice(sim::otherDeviceSpec(0x1234, 0x0043, "Acme", "Pad"));
    sim::plug(late);
    EXPECT_EQ(sim::pumpMain(), 0);
    watch.takeAll(watch.iterator);
    EXPECT_EQ(watch.seen.size(), 3u) << "two present at registration and the one that arrived";

    // Drained: armed, so the next arrival is delivered once, and the handler drains again.
    sim::unplug(late);
    sim::plug(late);
    EXPECT_EQ(sim::pumpMain(), 1);
    EXPECT_EQ(watch.deliveries, 1);
    EXPECT_EQ(watch.seen.size(), 4u);

    // A handler that does not drain is never called again; arrivals pile up.
    watch.drain = false;
    sim::unplug(other);
    sim::plug(other);
    sim::pumpMain();
    EXPECT_EQ(watch.deliveries, 2);
    sim::unplug(late);
    sim::plug(late);
    EXPECT_EQ(sim::pumpMain(), 0);
    EXPECT_EQ(watch.deliveries, 2);
    watch.takeAll(watch.iterator);
    EXPECT_EQ(watch.seen.size(), 6u);
}

TEST_F(Usb, MatchingDictionaryKeysSelectTheInterfaceOnly)
{
    sim::plug(sim::addUsbDevice(sim::otherDeviceSpec(0x1234, 0x0001, "Acme", "Mouse")));
    sim::plug(sim::addUsbDevice(sim::otherDeviceSpec(pelk::kUsbVendorId, 0x0002, "Orvalis", "Other")));
    sim::plug();
    Watch watch;
    watch.start(kIOFirstMatchNotification, interfaceMatching(pelk::kUsbVendorId, pelk::kUsbProductId));
    watch.takeAll(watch.iterator);
    ASSERT_EQ(watch.seen.size(), 1u);
}

TEST_F(Usb, TerminateStartsEmptyAndTheRemovedServiceStillAnswersRegistryReads)
{
    sim::plug();
    struct Removal
    {
        std::string product;
        int calls = 0;
    } removal;
    IONotificationPortRef port = IONotificationPortCreate(kIOMasterPortDefault);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port),
                       kCFRunLoopDefaultMode);
    io_iterator_t it = 0;
    auto handler = [](void* refCon, io_iterator_t iterator)
    {
        auto* r = static_cast<Removal*>(refCon);
        ++r->calls;
        while (io_service_t s = IOIteratorNext(iterator))
        {
            r->product = registryString(s, kUSBProductString);
            IOObjectRelease(s);
        }
    };
    IOServiceAddMatchingNotification(port, kIOTerminatedNotification,
                                     IOServiceMatching(kIOUSBDeviceClassName), handler, &removal, &it);
    handler(&removal, it); // the arming run finds nothing
    EXPECT_EQ(removal.calls, 1);
    EXPECT_EQ(removal.product, "");

    sim::unplug();
    EXPECT_EQ(sim::pumpMain(), 1);
    EXPECT_EQ(removal.calls, 2);
    EXPECT_EQ(removal.product, "PELK");

    // With the fault, the gone service's properties cannot be read.
    sim::failStep(sim::Step::propertiesOnTerminate, kIOReturnNotResponding);
    sim::plug();
    sim::unplug();
    sim::pumpMain();
    EXPECT_EQ(removal.product, "<unreadable>");
}

TEST_F(Usb, RegistryPropertiesMayBeWrongTypedOrMissing)
{
    sim::UsbDeviceSpec spec = sim::interfaceSpec();
    spec.set(kUSBProductString, SInt32(7)).erase(kUSBVendorString);
    sim::plug(sim::addUsbDevice(spec));
    const io_service_t s = presentService();
    CFMutableDictionaryRef props = nullptr;
    ASSERT_EQ(IORegistryEntryCreateCFProperties(s, &props, nullptr, 0), kIOReturnSuccess);
    EXPECT_EQ(CFGetTypeID(CFDictionaryGetValue(props, CFSTR(kUSBProductString))), CFNumberGetTypeID());
    EXPECT_EQ(CFDictionaryGetValue(props, CFSTR(kUSBVendorString)), nullptr);
    SInt32 vendor = 0;
    EXPECT_TRUE(CFNumberGetValue(static_cast<CFNumberRef>(CFDictionaryGetValue(props, CFSTR(kUSBVendorID))),
                                 kCFNumberSInt32Type, &vendor));
    EXPECT_EQ(vendor, pelk::kUsbVendorId);
    CFRelease(props);
    IOObjectRelease(s);
}

TEST_F(Usb, TheOpenInterfaceIsExclusiveAndDiesWithTheUnplug)
{
    sim::plug();
    IOUSBDeviceInterface** dev = openDevice(presentService());
    ASSERT_NE(dev, nullptr);
    UInt16 vendor = 0, product = 0, release = 0;
    (*dev)->GetDeviceVendor(dev, &vendor);
    (*dev)->GetDeviceProduct(dev, &product);
    (*dev)->GetDeviceReleaseNumber(dev, &release);
    EXPECT_EQ(vendor, pelk::kUsbVendorId);
    EXPECT_EQ(product, pelk::kUsbProductId);
    EXPECT_EQ(release, pelk::kUsbReleaseNumber);
    EXPECT_EQ(sim::usbStats().configuration, 1);

    EXPECT_EQ(openDevice(presentService()), nullptr) << "a second open is refused";

    EXPECT_EQ(sendByte(dev, 0x55), kIOReturnSuccess);
    sim::unplug();
    EXPECT_EQ(sendByte(dev, 0xAA), kIOReturnNoDevice);
    closeDevice(dev);
    const auto stats = sim::usbStats();
    EXPECT_EQ(stats.opens, 1);
    EXPECT_EQ(stats.liveInterfaces, 0) << "every plug-in and device interface was released";
}

struct DecoderRow
{
    std::string what;
    std::vector<UInt8> bytes;
    std::vector<int> commands;
    const char* state;
    int violations;
};

class UsbDecoder : public pelktest::SimulatedMachineWithParam<DecoderRow>
{
};

INSTANTIATE_TEST_SUITE_P(
    Sequences, UsbDecoder,
    ::testing::Values(
        DecoderRow{
            "headphone on", {0x55, 0xAA, 4}, {4}, "hp=on rec=unknown loopback=unknown monvol=unknown", 0},
        DecoderRow{
            "headphone off", {0x55, 0xAA, 5}, {5}, "hp=off rec=unknown loopback=unknown monvol=unknown", 0},
        DecoderRow{"record off then on",
                   {0x55, 0xAA, 6, 0x55, 0xAA, 7},
                   {6, 7},
                   "hp=unknown rec=on loopback=unknown monvol=unknown",
                   0},
        DecoderRow{
            "loopback on", {0x55, 0xAA, 9}, {9}, "hp=unknown rec=unknown loopback=on monvol=unknown", 0},
        DecoderRow{"monitoring volume -37 dB",
                   {0x55, 0xAA, 53},
                   {53},
                   "hp=unknown rec=unknown loopback=unknown monvol=-37",
                   0},
        DecoderRow{"monitoring volume limits",
                   {0x55, 0xAA, 16, 0x55, 0xAA, 126},
                   {16, 126},
                   "hp=unknown rec=unknown loopback=unknown monvol=-110",
                   0},
        DecoderRow{"lead-ins without a command",
                   {0x55, 0xAA},
                   {},
                   "hp=unknown rec=unknown loopback=unknown monvol=unknown",
                   0},
        DecoderRow{"broken lead-in, then a whole command",
                   {0x55, 0x13, 0x55, 0xAA, 8},
                   {8},
                   "hp=unknown rec=unknown loopback=off monvol=unknown",
                   1},
        DecoderRow{"repeated first lead-in",
                   {0x55, 0x55, 0xAA, 4},
                   {4},
                   "hp=on rec=unknown loopback=unknown monvol=unknown",
                   1},
        DecoderRow{"command byte without lead-ins",
                   {4},
                   {},
                   "hp=unknown rec=unknown loopback=unknown monvol=unknown",
                   1},
        DecoderRow{"unknown command byte",
                   {0x55, 0xAA, 200},
                   {},
                   "hp=unknown rec=unknown loopback=unknown monvol=unknown",
                   0}),
    pelktest::NameByWhat());

TEST_P(UsbDecoder, TheDecoderAppliesCompleteCommandsOnly)
{
    const DecoderRow& c = GetParam();
    sim::plug();
    IOUSBDeviceInterface** dev = openDevice(presentService());
    ASSERT_NE(dev, nullptr);
    for (UInt8 b : c.bytes)
        EXPECT_EQ(sendByte(dev, b), kIOReturnSuccess);
    const sim::InterfaceState state = sim::interfaceState();
    EXPECT_EQ(state.commands, c.commands);
    EXPECT_EQ(state.protocolViolations, c.violations);
    EXPECT_EQ(sim::command("state"), std::string(c.state) + " plugged=yes");
    closeDevice(dev);
}

TEST_F(Usb, RequestsAreRecordedAsOnTheWireAndOthersStall)
{
    sim::plug();
    IOUSBDeviceInterface** dev = openDevice(presentService());
    ASSERT_NE(dev, nullptr);
    EXPECT_EQ(sendByte(dev, 0x55), kIOReturnSuccess);
    UInt8 byte = 1;
    IOUSBDevRequest other{0x21, 0x01, 0x0100, 0x0300, 1, &byte, 0};
    EXPECT_EQ((*dev)->DeviceRequest(dev, &other), kIOUSBPipeStalled);
    const auto requests = sim::usbRequests();
    ASSERT_EQ(requests.size(), 2u);
    const UInt8 wire[8] = {0x21, 0x01, 0x00, 0x20, 0x00, 0x03, 0x01, 0x00};
    EXPECT_TRUE(std::equal(wire, wire + 8, requests[0].setup));
    EXPECT_EQ(requests[0].data, 0x55);
    EXPECT_EQ(requests[0].thread, "main");
    EXPECT_EQ(requests[1].status, kIOUSBPipeStalled);
    EXPECT_EQ(sim::journal(), (std::vector<std::string>{"usb 55 0", "usb 01 e0000f05"}));
    closeDevice(dev);
}

struct FailRuleRow
{
    std::string what;
    sim::UsbFailRule rule;
    std::vector<IOReturn> statuses; // of 0x55, 0xAA, 4
    std::vector<int> commands;
};

class UsbFailRules : public pelktest::SimulatedMachineWithParam<FailRuleRow>
{
};

const IOReturn kRuleError = IOReturn(0xE0001234);
using When = sim::UsbFailRule::When;

INSTANTIATE_TEST_SUITE_P(
    Rules, UsbFailRules,
    ::testing::Values(
        FailRuleRow{"next", {When::next, 1, 0, kRuleError, false}, {kRuleError, 0, 0}, {}},
        FailRuleRow{"third", {When::nth, 3, 0, kRuleError, false}, {0, 0, kRuleError}, {}},
        FailRuleRow{"third delivered", {When::nth, 3, 0, kRuleError, true}, {0, 0, kRuleError}, {4}},
        FailRuleRow{"second delivered", {When::nth, 2, 0, kRuleError, true}, {0, kRuleError, 0}, {4}},
        FailRuleRow{"data byte AA", {When::dataByte, 1, 0xAA, kRuleError, false}, {0, kRuleError, 0}, {}},
        FailRuleRow{
            "always", {When::always, 1, 0, kRuleError, false}, {kRuleError, kRuleError, kRuleError}, {}},
        FailRuleRow{"off", {When::off, 1, 0, kRuleError, false}, {0, 0, 0}, {4}}),
    pelktest::NameByWhat());

TEST_P(UsbFailRules, TheChosenRequestsFailDeliveredOrNot)
{
    const FailRuleRow& c = GetParam();
    sim::plug();
    IOUSBDeviceInterface** dev = openDevice(presentService());
    ASSERT_NE(dev, nullptr);
    sim::failUsbRequests(c.rule);
    std::vector<IOReturn> statuses;
    for (UInt8 b : {0x55, 0xAA, 4})
        statuses.push_back(sendByte(dev, b));
    EXPECT_EQ(statuses, c.statuses);
    EXPECT_EQ(sim::interfaceState().commands, c.commands);
    closeDevice(dev);
}

TEST_F(Usb, StepFaultsFailTheirCall)
{
    const IOReturn e = IOReturn(0xE0005678);
    sim::plug();
    mach_port_t master = 1;

    sim::failStep(sim::Step::masterPort, e, 1);
    EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &master), e);
    EXPECT_EQ(master, 0u);
    EXPECT_EQ(IOMasterPort(MACH_PORT_NULL, &master), kIOReturnSuccess) << "count 1: the next call works";
    EXPECT_NE(master, 0u);
    EXPECT_EQ(mach_port_deallocate(mach_task_self(), master), kIOReturnSuccess);

    sim::failStep(sim::Step::matchingDictionary, e, 1);
    EXPECT_EQ(IOServiceMatching(kIOUSBDeviceClassName), nullptr);
    sim::failStep(sim::Step::notificationPort, e, 1);
    EXPECT_EQ(IONotificationPortCreate(master), nullptr);

    sim::failStep(sim::Step::releaseService, e, 1);
    EXPECT_EQ(IOObjectRelease(presentService()), e);

    sim::failStep(sim::Step::plugIn, e, 1);
    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score;
    io_service_t s = presentService();
    EXPECT_EQ(IOCreatePlugInInterfaceForService(s, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                                &plugIn, &score),
              e);
    EXPECT_EQ(plugIn, nullptr);
    IOObjectRelease(s);

    struct Case
    {
        sim::Step step;
        bool configure;
    };
    for (auto c : {Case{sim::Step::queryInterface, false}, Case{sim::Step::open, false},
                   Case{sim::Step::configDescriptor, true}, Case{sim::Step::setConfiguration, true}})
    {
        sim::failStep(c.step, e, 1);
        EXPECT_EQ(openDevice(presentService(), c.configure), nullptr) << int(c.step);
    }

    IOUSBDeviceInterface** dev = openDevice(presentService(), false);
    ASSERT_NE(dev, nullptr);
    UInt8 count = 9;
    sim::failStep(sim::Step::zeroConfigurations, e, 1);
    EXPECT_EQ((*dev)->GetNumberOfConfigurations(dev, &count), kIOReturnSuccess);
    EXPECT_EQ(count, 0);
    UInt16 vendor = 0xBEEF;
    sim::failStep(sim::Step::deviceInfo, e, 1);
    EXPECT_EQ((*dev)->GetDeviceVendor(dev, &vendor), e);
    EXPECT_EQ(vendor, 0xBEEF) << "left unwritten";
    closeDevice(dev);

    sim::failStep(sim::Step::properties, e);
    s = presentService();
    CFMutableDictionaryRef props = nullptr;
    EXPECT_EQ(IORegistryEntryCreateCFProperties(s, &props, nullptr, 0), e);
    EXPECT_EQ(props, nullptr);
    sim::clearStep(sim::Step::properties);
    EXPECT_EQ(IORegistryEntryCreateCFProperties(s, &props, nullptr, 0), kIOReturnSuccess);
    CFRelease(props);
    IOObjectRelease(s);
    EXPECT_EQ(sim::usbStats().liveInterfaces, 0);
}

TEST_F(Usb, DescriptorIdsMayDifferFromTheRegistry)
{
    sim::UsbDeviceSpec spec = sim::interfaceSpec();
    spec.descriptorProduct = 0x0BAD;
    sim::setInterfaceSpec(spec);
    sim::plug();
    Watch watch;
    watch.drain = false;
    watch.start(kIOFirstMatchNotification, interfaceMatching(pelk::kUsbVendorId, pelk::kUsbProductId));
    IOUSBDeviceInterface** dev = openDevice(IOIteratorNext(watch.iterator), false);
    ASSERT_NE(dev, nullptr);
    UInt16 product = 0;
    (*dev)->GetDeviceProduct(dev, &product);
    EXPECT_EQ(product, 0x0BAD);
    closeDevice(dev);
}

// Two roads registered in turn are delivered in that order, or reversed on request.
class UsbDeliveryOrder : public pelktest::SimulatedMachineWithParam<bool>
{
};

INSTANTIATE_TEST_SUITE_P(ForwardOrReversed, UsbDeliveryOrder, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row)
                         { return std::string(row.param ? "Reversed" : "Forward"); });

TEST_P(UsbDeliveryOrder, FollowsTheRegistrationOrder)
{
    const bool reverse = GetParam();
    static std::vector<int> order;
    order.clear();
    Watch first, second;
    first.start(kIOMatchedNotification);
    second.start(kIOMatchedNotification);
    first.takeAll(first.iterator);
    second.takeAll(second.iterator);
    struct Tag
    {
        static void handler(void* refCon, io_iterator_t it)
        {
            order.push_back(*static_cast<int*>(refCon));
            while (io_object_t s = IOIteratorNext(it))
                IOObjectRelease(s);
        }
    };
    int one = 1, two = 2;
    IONotificationPortRef port = IONotificationPortCreate(0);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port),
                       kCFRunLoopDefaultMode);
    io_iterator_t a = 0, b = 0;
    IOServiceAddMatchingNotification(port, kIOMatchedNotification, IOServiceMatching(kIOUSBDeviceClassName),
                                     Tag::handler, &one, &a);
    IOServiceAddMatchingNotification(port, kIOMatchedNotification, IOServiceMatching(kIOUSBDeviceClassName),
                                     Tag::handler, &two, &b);
    IOIteratorNext(a);
    IOIteratorNext(b);
    sim::PlugOptions options;
    options.reverseOrder = reverse;
    sim::plug(sim::kInterface, options);
    sim::pumpMain();
    EXPECT_EQ(order, reverse ? (std::vector<int>{2, 1}) : (std::vector<int>{1, 2}));
}

// By default the audio devices have gone when the removal is delivered; with audioLast they go after it.
class UsbRemovalAudio : public pelktest::SimulatedMachineWithParam<bool>
{
};

INSTANTIATE_TEST_SUITE_P(AudioFirstOrLast, UsbRemovalAudio, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& row)
                         { return std::string(row.param ? "AudioLast" : "AudioFirst"); });

TEST_P(UsbRemovalAudio, AudioDevicesLeaveBeforeOrAfterTheRemovalIsDelivered)
{
    const bool audioLast = GetParam();
    sim::plug();
    static bool audioDuringRemoval;
    IONotificationPortRef port = IONotificationPortCreate(0);
    CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port),
                       kCFRunLoopDefaultMode);
    io_iterator_t it = 0;
    IOServiceAddMatchingNotification(
        port, kIOTerminatedNotification, IOServiceMatching(kIOUSBDeviceClassName),
        [](void*, io_iterator_t i)
        {
            audioDuringRemoval = sim::interfaceAudioDevice(sim::Direction::input) != 0;
            while (io_object_t s = IOIteratorNext(i))
                IOObjectRelease(s);
        },
        nullptr, &it);
    IOIteratorNext(it);
    sim::UnplugOptions options;
    options.audioLast = audioLast;
    sim::unplug(sim::kInterface, options);
    sim::pumpMain();
    EXPECT_EQ(audioDuringRemoval, audioLast);
    EXPECT_TRUE(sim::audioDevices().empty());
}

// Plugged in again before the late removal ran: the old audio devices still leave, the new ones stay.
TEST_F(Usb, ALateRemovalAfterAReplugTakesOnlyTheOldAudioDevices)
{
    sim::plug();
    const std::vector<AudioObjectID> before = sim::audioDevices();
    sim::UnplugOptions late;
    late.audioLast = true;
    sim::unplug(sim::kInterface, late);
    sim::plug();
    sim::pumpMain();
    const std::vector<AudioObjectID> after{sim::interfaceAudioDevice(sim::Direction::input),
                                           sim::interfaceAudioDevice(sim::Direction::output)};
    EXPECT_EQ(sim::audioDevices(), after);
    for (AudioObjectID old : before)
        EXPECT_TRUE(std::find(after.begin(), after.end(), old) == after.end());
}

TEST_F(Usb, AReleasedIteratorOrADestroyedPortDeliversNothingMore)
{
    Watch released, destroyed;
    released.start(kIOMatchedNotification);
    destroyed.start(kIOMatchedNotification);
    released.takeAll(released.iterator);
    destroyed.takeAll(destroyed.iterator);
    EXPECT_EQ(IOObjectRelease(released.iterator), kIOReturnSuccess);
    IONotificationPortDestroy(destroyed.port);
    sim::plug();
    EXPECT_EQ(sim::pumpMain(), 0);
    EXPECT_EQ(released.deliveries + destroyed.deliveries, 0);
}

TEST_F(Usb, ADeliveryWaitingWhenItsPortIsDestroyedIsDropped)
{
    Watch queued;
    queued.start(kIOMatchedNotification);
    queued.takeAll(queued.iterator);
    sim::plug();
    IONotificationPortDestroy(queued.port);
    sim::pumpMain();
    EXPECT_EQ(queued.deliveries, 0);
}

TEST_F(Usb, NullAndStaleArgumentsReturnErrors)
{
    sim::plug();
    IOUSBDeviceInterface** dev = openDevice(presentService());
    ASSERT_NE(dev, nullptr);
    io_service_t released = presentService();
    IOObjectRelease(released);
    io_iterator_t it = 0;

    struct Case
    {
        const char* what;
        std::function<bool()> failed;
    };
    const std::vector<Case> cases{
        {"iterator 0", [&] { return IOIteratorNext(0) == 0; }},
        {"unknown iterator", [&] { return IOIteratorNext(0x7777) == 0; }},
        {"master port into null", [&] { return IOMasterPort(0, nullptr) != kIOReturnSuccess; }},
        {"matching null class", [&] { return IOServiceMatching(nullptr) == nullptr; }},
        {"source of a null port", [&] { return IONotificationPortGetRunLoopSource(nullptr) == nullptr; }},
        {"register on a null port",
         [&]
         {
             return IOServiceAddMatchingNotification(
                        nullptr, kIOMatchedNotification, IOServiceMatching(kIOUSBDeviceClassName),
                        [](void*, io_iterator_t) {}, nullptr, &it) != kIOReturnSuccess;
         }},
        {"register with a null dictionary",
         [&]
         {
             return IOServiceAddMatchingNotification(
                        IONotificationPortCreate(0), kIOMatchedNotification, nullptr,
                        [](void*, io_iterator_t) {}, nullptr, &it) != kIOReturnSuccess;
         }},
        {"register with a string for the dictionary",
         [&]
         {
             return IOServiceAddMatchingNotification(
                        IONotificationPortCreate(0), kIOMatchedNotification,
                        reinterpret_cast<CFDictionaryRef>(CFSTR("IOUSBDevice")), [](void*, io_iterator_t) {},
                        nullptr, &it) != kIOReturnSuccess;
         }},
        {"register with an unknown type",
         [&]
         {
             return IOServiceAddMatchingNotification(
                        IONotificationPortCreate(0), "IOServiceSomething",
                        IOServiceMatching(kIOUSBDeviceClassName), [](void*, io_iterator_t) {}, nullptr,
                        &it) != kIOReturnSuccess;
         }},
        {"properties of a released service",
         [&]
         {
             CFMutableDictionaryRef p = nullptr;
             return IORegistryEntryCreateCFProperties(released, &p, nullptr, 0) != kIOReturnSuccess &&
                    p == nullptr;
         }},
        {"properties into null",
         [&] { return IORegistryEntryCreateCFProperties(released, nullptr, nullptr, 0) != 0; }},
        {"release of a released service", [&] { return IOObjectRelease(released) != kIOReturnSuccess; }},
        {"plug-in for service 0",
         [&]
         {
             IOCFPlugInInterface** p = nullptr;
             return IOCreatePlugInInterfaceForService(0, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID,
                                                      &p, nullptr) != kIOReturnSuccess &&
                    p == nullptr;
         }},
        {"request with null record", [&] { return (*dev)->DeviceRequest(dev, nullptr) != kIOReturnSuccess; }},
        {"request with null data",
         [&]
         {
             IOUSBDevRequest r{0x21, 0x01, 0x2000, 0x0300, 1, nullptr, 0};
             return (*dev)->DeviceRequest(dev, &r) != kIOReturnSuccess;
         }},
        {"vendor into null", [&] { return (*dev)->GetDeviceVendor(dev, nullptr) != kIOReturnSuccess; }},
        {"request on a null object", [&] { return (*dev)->USBDeviceOpen(nullptr) != kIOReturnSuccess; }},
        {"add a null source",
         [&]
         {
             CFRunLoopAddSource(CFRunLoopGetCurrent(), nullptr, kCFRunLoopDefaultMode);
             return true;
         }},
        {"power registration without outputs",
         [&] { return IORegisterForSystemPower(nullptr, nullptr, nullptr, nullptr) == 0; }},
        {"ack on an unknown connection", [&] { return IOAllowPowerChange(0x4444, 1) != kIOReturnSuccess; }},
    };
    for (auto& c : cases)
        EXPECT_TRUE(c.failed()) << c.what;
    EXPECT_GE(sim::violations().size(), cases.size() - 2);
    closeDevice(dev);
    // A call on a released interface is answered, not a crash.
    EXPECT_EQ(sendByte(dev, 0x55), kIOReturnBadArgument);
    pelktest::freshMachine(); // the violations above were wanted
}
} // namespace
