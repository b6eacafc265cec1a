#include "RegisterDeviceCallBacksMac.h"

#include "DeviceEventHandOff.h"
#include "DeviceIds.h"
#include "USBCommands.h"

#include <cstring>

DeviceIdentity mydeviceStruct;

void setInterfaceIdentity(DeviceEventCallback callback, void* owner)
{
    mydeviceStruct.vendorId = pelk::kUsbVendorId;
    mydeviceStruct.productIds[0] = pelk::kUsbProductId;
    mydeviceStruct.productIds[1] = 0;
    mydeviceStruct.productIds[2] = 0;
    mydeviceStruct.productName = pelk::kProductName;
    mydeviceStruct.audioDeviceName = pelk::kAudioDeviceName;
    mydeviceStruct.manufacturerName = pelk::kManufacturerName;
    mydeviceStruct.callback = callback;
    mydeviceStruct.owner = owner;
}

io_connect_t root_port = 0;
mach_port_t gMasterDevicePort = 0;
CFRunLoopSourceRef gRunLoopSource = nullptr;

namespace
{
IONotificationPortRef gNotifyPort = nullptr;
IONotificationPortRef gPowerPort = nullptr;
io_object_t gPowerNotifier = 0;
io_iterator_t gPlugIter = 0;
io_iterator_t gRemoveIter = 0;

// Registry entry of the service that last raised ORV_EVENT_DEVICE_READY, so that its departure is
// recognised even when its properties can no longer be read.
UInt64 gReadyEntryID = 0;

constexpr int kDiscoveryRuns = 5;

CFMutableDictionaryRef copyProperties(io_service_t service)
{
    CFMutableDictionaryRef properties = nullptr;
    if (IORegistryEntryCreateCFProperties(service, &properties, kCFAllocatorDefault, 0) != kIOReturnSuccess)
    {
        if (properties != nullptr)
            CFRelease(properties);
        return nullptr;
    }
    return properties;
}

bool numberProperty(CFDictionaryRef properties, CFStringRef key, SInt32& value)
{
    const void* item = CFDictionaryGetValue(properties, key);
    if (item == nullptr || CFGetTypeID(item) != CFNumberGetTypeID())
        return false;
    value = 0;
    return CFNumberGetValue(static_cast<CFNumberRef>(item), kCFNumberSInt32Type, &value);
}

// True when the registry string under key equals text exactly (case-sensitive).
bool stringPropertyEquals(CFDictionaryRef properties, CFStringRef key, const char* text)
{
    const void* item = CFDictionaryGetValue(properties, key);
    if (item == nullptr || text == nullptr || CFGetTypeID(item) != CFStringGetTypeID())
        return false;
    CFStringRef expected = CFStringCreateWithCString(kCFAllocatorDefault, text, kCFStringEncodingASCII);
    if (expected == nullptr)
        return false;
    const bool equal = CFStringCompare(static_cast<CFStringRef>(item), expected, 0) == kCFCompareEqualTo;
    CFRelease(expected);
    return equal;
}

bool isInterface(CFDictionaryRef properties, const DeviceIdentity& identity)
{
    SInt32 product = 0;
    if (!numberProperty(properties, CFSTR("idProduct"), product))
        return false;
    bool productAccepted = false;
    for (int32_t accepted : identity.productIds)
        productAccepted = productAccepted || product == accepted;
    if (!productAccepted)
        return false;

    SInt32 vendor = 0;
    if (!numberProperty(properties, CFSTR("idVendor"), vendor) || vendor != identity.vendorId)
        return false;

    return stringPropertyEquals(properties, CFSTR("USB Vendor Name"), identity.manufacturerName) &&
           stringPropertyEquals(properties, CFSTR("USB Product Name"), identity.productName);
}

bool bothAudioDevicesKnown()
{
    return gInAudioObjectID.load() != 0 && gOutAudioObjectID.load() != 0;
}

// Runs the discovery up to five times, pausing one second after each run that leaves a device unknown.
bool findAudioDevices(const DeviceIdentity& identity, void* reference)
{
    CFStringRef name = CFStringCreateWithCString(
        kCFAllocatorDefault, identity.audioDeviceName != nullptr ? identity.audioDeviceName : "",
        kCFStringEncodingASCII);
    CFStringRef manufacturer = CFStringCreateWithCString(
        kCFAllocatorDefault, identity.manufacturerName != nullptr ? identity.manufacturerName : "",
        kCFStringEncodingASCII);

    bool found = false;
    for (int run = 0; run < kDiscoveryRuns && !found; ++run)
    {
        if (name != nullptr && manufacturer != nullptr)
            CreateInputDeviceArray(name, manufacturer, reference);
        found = bothAudioDevicesKnown();
        if (!found)
            platform::sleep(1);
    }

    if (name != nullptr)
        CFRelease(name);
    if (manufacturer != nullptr)
        CFRelease(manufacturer);
    return found;
}

void releaseObject(io_object_t& object)
{
    if (object != 0)
        IOObjectRelease(object);
    object = 0;
}
} // namespace

void raiseDeviceEvent(void* reference, ORV_CallbackEvent event)
{
    auto* identity = static_cast<DeviceIdentity*>(reference);
    if (identity == nullptr)
        return;
    void* owner = identity->owner.load();
    DeviceEventCallback callback = identity->callback;
    if (owner != nullptr && callback != nullptr)
        callback(owner, nullptr, event);
}

void USBPlugCallback(void* reference, io_iterator_t iterator)
{
    auto* identity = static_cast<DeviceIdentity*>(reference);
    while (io_service_t service = IOIteratorNext(iterator))
    {
        CFMutableDictionaryRef properties = copyProperties(service);
        const bool match = properties != nullptr && identity != nullptr && isInterface(properties, *identity);
        if (properties != nullptr)
            CFRelease(properties);

        if (match)
        {
            // Identifiers left over from devices that have gone would satisfy the search at once.
            DropDepartedAudioDevices();
            if (findAudioDevices(*identity, reference))
            {
                // The restore commands sent on device ready need the USB handle of this arrival.
                OpenPendingRawDevice();
                gReadyEntryID = registryEntryID(service);
                raiseDeviceEvent(reference, ORV_EVENT_DEVICE_READY);
            }
        }
        IOObjectRelease(service);
    }
}

void USBRemoveCallback(void* reference, io_iterator_t iterator)
{
    auto* identity = static_cast<DeviceIdentity*>(reference);
    while (io_service_t service = IOIteratorNext(iterator))
    {
        CFMutableDictionaryRef properties = copyProperties(service);
        bool departed = false;
        if (properties != nullptr)
        {
            departed = identity != nullptr && isInterface(properties, *identity);
            CFRelease(properties);
        }
        else
        {
            const UInt64 entryID = registryEntryID(service);
            departed = entryID != 0 && entryID == gReadyEntryID;
        }

        if (departed)
        {
            gReadyEntryID = 0;
            raiseDeviceEvent(reference, ORV_EVENT_DEVICE_REMOVED);
            gInAudioObjectID = 0;
            gOutAudioObjectID = 0;
        }
        IOObjectRelease(service);
    }
}

void MySleepCallBack(void* reference, io_service_t, UInt32 messageType, void* messageArgument)
{
    const auto notificationID = reinterpret_cast<intptr_t>(messageArgument);
    switch (messageType)
    {
        case kIOMessageCanSystemSleep:
            IOAllowPowerChange(root_port, notificationID);
            break;
        case kIOMessageSystemWillSleep:
            raiseDeviceEvent(reference, ORV_EVENT_SYSTEM_WILL_SLEEP);
            IOAllowPowerChange(root_port, notificationID);
            break;
        case kIOMessageSystemWillPowerOn:
            raiseDeviceEvent(reference, ORV_EVENT_SYSTEM_WILL_POWER_ON);
            break;
        case kIOMessageSystemHasPoweredOn:
            raiseDeviceEvent(reference, ORV_EVENT_SYSTEM_HAS_POWERED_ON);
            break;
        default:
            break;
    }
}

void RegisterDeviceCallBacks()
{
    void* reference = &mydeviceStruct;

    root_port = IORegisterForSystemPower(reference, &gPowerPort, MySleepCallBack, &gPowerNotifier);
    if (root_port != 0 && gPowerPort != nullptr)
    {
        if (CFRunLoopSourceRef powerSource = IONotificationPortGetRunLoopSource(gPowerPort))
            CFRunLoopAddSource(CFRunLoopGetCurrent(), powerSource, kCFRunLoopCommonModes);
    }

    if (IOMasterPort(0, &gMasterDevicePort) != kIOReturnSuccess || gMasterDevicePort == 0)
        return;

    CFMutableDictionaryRef matching = IOServiceMatching("IOUSBDevice");
    if (matching == nullptr)
        return;

    gNotifyPort = IONotificationPortCreate(gMasterDevicePort);
    gRunLoopSource = gNotifyPort != nullptr ? IONotificationPortGetRunLoopSource(gNotifyPort) : nullptr;
    if (gRunLoopSource == nullptr)
    {
        CFRelease(matching);
        return;
    }
    CFRunLoopAddSource(CFRunLoopGetCurrent(), gRunLoopSource, kCFRunLoopDefaultMode);

    // Each registration consumes one reference to the dictionary.
    CFRetain(matching);
    const kern_return_t plugStatus = IOServiceAddMatchingNotification(
        gNotifyPort, "IOServiceMatched", matching, USBPlugCallback, reference, &gPlugIter);
    const kern_return_t removeStatus = IOServiceAddMatchingNotification(
        gNotifyPort, "IOServiceTerminate", matching, USBRemoveCallback, reference, &gRemoveIter);

    // Arm the unplug handler first, then the plug handler, which raises device ready for an interface
    // that is already present.
    if (removeStatus == kIOReturnSuccess)
        USBRemoveCallback(reference, gRemoveIter);
    if (plugStatus == kIOReturnSuccess)
        USBPlugCallback(reference, gPlugIter);
}

void UnregisterDeviceCallBacks()
{
    mydeviceStruct.owner = nullptr;
    wakeWaitingDeviceEvents();

    ReleaseRawDevice();
    UnregisterRawDeviceCallBacks();
    RemoveAudioPropertyListeners();

    if (gPowerNotifier != 0)
        IODeregisterForSystemPower(&gPowerNotifier);
    gPowerNotifier = 0;
    if (gPowerPort != nullptr)
        IONotificationPortDestroy(gPowerPort);
    gPowerPort = nullptr;
    if (root_port != 0)
        IOServiceClose(root_port);
    root_port = 0;

    releaseObject(gPlugIter);
    releaseObject(gRemoveIter);
    if (gNotifyPort != nullptr)
        IONotificationPortDestroy(gNotifyPort);
    gNotifyPort = nullptr;
    gRunLoopSource = nullptr;
    if (gMasterDevicePort != 0)
        mach_port_deallocate(mach_task_self(), gMasterDevicePort);
    gMasterDevicePort = 0;
    gReadyEntryID = 0;
}
