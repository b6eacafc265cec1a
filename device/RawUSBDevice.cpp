// The raw USB road: finds the interface by its USB identifiers, opens and configures it and keeps the
// open device in gUSBdevice for the interface command.

#include "DeviceIds.h"
#include "DeviceLog.h"
#include "USBCommands.h"

namespace
{
io_iterator_t gRawAddedIter = 0;
io_iterator_t gRawRemovedIter = 0;
IONotificationPortRef gNotifyPort = nullptr;

// Registry entry of the service whose device is held in gUSBdevice; 0 when unknown.
UInt64 gHeldEntryID = 0;

void closeAndRelease(IOUSBDeviceInterface** device)
{
    (*device)->USBDeviceClose(device);
    (*device)->Release(device);
}

void drainRemoved(io_iterator_t iterator)
{
    deviceLog(stdout, "Raw Device Removed called....\n");

    bool heldDeviceLeft = false;
    while (io_service_t service = IOIteratorNext(iterator))
    {
        const UInt64 entryID = registryEntryID(service);
        // A removal whose entry cannot be told counts as the held device.
        if (entryID == 0 || gHeldEntryID == 0 || entryID == gHeldEntryID)
            heldDeviceLeft = true;

        const kern_return_t status = IOObjectRelease(service);
        if (status != kIOReturnSuccess)
            deviceLog(stdout, "Couldn\u2019t release raw device object: %08x\n",
                      static_cast<unsigned>(status));
    }

    if (heldDeviceLeft)
        forgetHeldDevice();
}

bool configureDevice(IOUSBDeviceInterface** device)
{
    UInt8 configurations = 0;
    (*device)->GetNumberOfConfigurations(device, &configurations);
    if (configurations == 0)
        return false;

    IOUSBConfigurationDescriptorPtr descriptor = nullptr;
    IOReturn status = (*device)->GetConfigurationDescriptorPtr(device, 0, &descriptor);
    if (status != kIOReturnSuccess || descriptor == nullptr)
    {
        deviceLog(stdout, "Couldn\u2019t get configuration descriptor for index %d (err = %08x)\n", 0,
                  static_cast<unsigned>(status));
        return false;
    }

    status = (*device)->SetConfiguration(device, descriptor->bConfigurationValue);
    if (status != kIOReturnSuccess)
    {
        deviceLog(stdout, "Couldn\u2019t set configuration to value %d (err = %08x)\n",
                  static_cast<int>(descriptor->bConfigurationValue), static_cast<unsigned>(status));
        return false;
    }
    return true;
}

void addService(io_service_t service)
{
    const UInt64 entryID = registryEntryID(service);

    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score = 0;
    IOCreatePlugInInterfaceForService(service, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID, &plugIn,
                                      &score);
    const kern_return_t releaseStatus = IOObjectRelease(service);
    if (releaseStatus != kIOReturnSuccess || plugIn == nullptr)
    {
        if (plugIn != nullptr)
            (*plugIn)->Release(plugIn);
        deviceLog(stdout, "Unable to create a plug-in (%08x)\n", static_cast<unsigned>(releaseStatus));
        return;
    }

    IOUSBDeviceInterface** device = nullptr;
    const HRESULT queryStatus = (*plugIn)->QueryInterface(plugIn, CFUUIDGetUUIDBytes(kIOUSBDeviceInterfaceID),
                                                          reinterpret_cast<void**>(&device));
    (*plugIn)->Release(plugIn);
    if (queryStatus != 0 || device == nullptr)
    {
        deviceLog(stdout, "Couldn\u2019t create a device interface (%08x)\n",
                  static_cast<unsigned>(queryStatus));
        return;
    }

    UInt16 vendor = 0;
    UInt16 product = 0;
    UInt16 release = 0;
    (*device)->GetDeviceVendor(device, &vendor);
    (*device)->GetDeviceProduct(device, &product);
    (*device)->GetDeviceReleaseNumber(device, &release);
    deviceLog(stdout, "device (vendor = %X, product = %X , realse = %X)\n", static_cast<unsigned>(vendor),
              static_cast<unsigned>(product), static_cast<unsigned>(release));

    if (vendor != pelk::kUsbVendorId || product != pelk::kUsbProductId)
    {
        deviceLog(stdout, "Found unwanted device (vendor = %X, product = %X)\n",
                  static_cast<unsigned>(vendor), static_cast<unsigned>(product));
        (*device)->Release(device);
        return;
    }

    deviceLog(stdout, "Found device (vendor = %d, product = %d, release = %d)\n", static_cast<int>(vendor),
              static_cast<int>(product), static_cast<int>(release));

    const IOReturn openStatus = (*device)->USBDeviceOpen(device);
    if (openStatus != kIOReturnSuccess)
    {
        deviceLog(stdout, "Unable to open device: %08x\n", static_cast<unsigned>(openStatus));
        (*device)->Release(device);
        return;
    }

    if (!configureDevice(device))
    {
        deviceLog(stdout, "Unable to configure device: %08x\n", static_cast<unsigned>(-1));
        closeAndRelease(device);
        return;
    }

    // A device held from an earlier arrival is closed before it is replaced.
    forgetHeldDevice();
    gUSBdevice = device;
    gHeldEntryID = entryID;
}

// The arrival handler's work on the services of iterator, starting with first (0 when it is empty).
void addServices(io_iterator_t iterator, io_service_t first)
{
    deviceLog(stdout, "Raw Device Added called....\n");
    for (io_service_t service = first; service != 0; service = IOIteratorNext(iterator))
        addService(service);
}

CFNumberRef createSInt32(SInt32 value)
{
    return CFNumberCreate(kCFAllocatorDefault, kCFNumberSInt32Type, &value);
}

bool setIdentifier(CFMutableDictionaryRef dictionary, CFStringRef key, SInt32 value)
{
    CFNumberRef number = createSInt32(value);
    if (number == nullptr)
        return false;
    CFDictionarySetValue(dictionary, key, number);
    CFRelease(number);
    return true;
}
} // namespace

void forgetHeldDevice()
{
    if (gUSBdevice != nullptr)
    {
        IOUSBDeviceInterface** device = gUSBdevice;
        gUSBdevice = nullptr;
        closeAndRelease(device);
    }
    gHeldEntryID = 0;
}

UInt64 registryEntryID(io_service_t service)
{
    UInt64 entryID = 0;
    if (IORegistryEntryGetRegistryEntryID(service, &entryID) != kIOReturnSuccess)
        return 0;
    return entryID;
}

void RawDeviceRemoved(void*, io_iterator_t iterator)
{
    drainRemoved(iterator);
}

void RawDeviceAdded(void*, io_iterator_t iterator)
{
    addServices(iterator, IOIteratorNext(iterator));
}

void ReleaseRawDevice()
{
    forgetHeldDevice();
    drainRemoved(gRawRemovedIter);
    forgetHeldDevice();
}

void OpenPendingRawDevice()
{
    if (gUSBdevice != nullptr || gRawAddedIter == 0)
        return;
    // Only an arrival that is actually waiting is handled here, with the arrival handler's own lines.
    if (io_service_t first = IOIteratorNext(gRawAddedIter))
        addServices(gRawAddedIter, first);
}

void UnregisterRawDeviceCallBacks()
{
    for (io_iterator_t* iterator : {&gRawAddedIter, &gRawRemovedIter})
    {
        if (*iterator != 0)
            IOObjectRelease(*iterator);
        *iterator = 0;
    }
    if (gNotifyPort != nullptr)
        IONotificationPortDestroy(gNotifyPort);
    gNotifyPort = nullptr;
}

void RegisterRawDeviceCallBacks()
{
    ReleaseRawDevice();

    mach_port_t masterPort = 0;
    const kern_return_t masterStatus = IOMasterPort(0, &masterPort);
    if (masterStatus != kIOReturnSuccess || masterPort == 0)
    {
        deviceLog(stdout, "ERR: Couldn\u2019t create a master I/O Kit port(%08x)\n",
                  static_cast<unsigned>(masterStatus));
        return;
    }

    CFMutableDictionaryRef matching = IOServiceMatching("IOUSBDevice");
    if (matching == nullptr)
    {
        deviceLog(stdout, "Couldn\u2019t create a USB matching dictionary\n");
    }
    else if (!setIdentifier(matching, CFSTR("idVendor"), pelk::kUsbVendorId) ||
             !setIdentifier(matching, CFSTR("idProduct"), pelk::kUsbProductId))
    {
        CFRelease(matching);
    }
    else
    {
        gNotifyPort = IONotificationPortCreate(masterPort);
        CFRunLoopSourceRef source =
            gNotifyPort != nullptr ? IONotificationPortGetRunLoopSource(gNotifyPort) : nullptr;
        if (source == nullptr)
        {
            UnregisterRawDeviceCallBacks();
            CFRelease(matching);
        }
        else
        {
            CFRunLoopAddSource(CFRunLoopGetCurrent(), source, kCFRunLoopDefaultMode);

            // Each registration consumes one reference to the dictionary.
            CFRetain(matching);
            const kern_return_t removedStatus = IOServiceAddMatchingNotification(
                gNotifyPort, "IOServiceTerminate", matching, RawDeviceRemoved, nullptr, &gRawRemovedIter);
            if (removedStatus == kIOReturnSuccess)
                RawDeviceRemoved(nullptr, gRawRemovedIter);

            const kern_return_t addedStatus = IOServiceAddMatchingNotification(
                gNotifyPort, "IOServiceFirstMatch", matching, RawDeviceAdded, nullptr, &gRawAddedIter);
            if (addedStatus == kIOReturnSuccess)
                RawDeviceAdded(nullptr, gRawAddedIter);
        }
    }

    mach_port_deallocate(mach_task_self(), masterPort);
}
