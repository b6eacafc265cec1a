// Helpers shared by the simulator tests: a matching registration that records its deliveries, and the
// steps that open the interface as a client would.
#pragma once

#include "SimControl.h"

#include <gtest/gtest.h>

namespace simtest
{
namespace sim = platform::sim;

// One matching notification on its own port, on the main run loop. The handler records each delivery and,
// when drain is set, empties the iterator (which re-arms the notification).
struct Watch
{
    IONotificationPortRef port = nullptr;
    io_iterator_t iterator = 0;
    int deliveries = 0;
    bool drain = true;
    std::vector<io_object_t> seen;

    static void handler(void* refCon, io_iterator_t iterator)
    {
        auto* self = static_cast<Watch*>(refCon);
        ++self->deliveries;
        if (self->drain)
            self->takeAll(iterator);
    }

    void takeAll(io_iterator_t it)
    {
        while (io_object_t s = IOIteratorNext(it))
        {
            seen.push_back(s);
            IOObjectRelease(s);
        }
    }

    // Registers for the notification type; matching null means every USB device.
    void start(const char* type, CFMutableDictionaryRef matching = nullptr)
    {
        port = IONotificationPortCreate(kIOMasterPortDefault);
        CFRunLoopAddSource(CFRunLoopGetCurrent(), IONotificationPortGetRunLoopSource(port),
                           kCFRunLoopDefaultMode);
        if (matching == nullptr)
            matching = IOServiceMatching(kIOUSBDeviceClassName);
        ASSERT_EQ(IOServiceAddMatchingNotification(port, type, matching, handler, this, &iterator),
                  kIOReturnSuccess);
    }
};

inline CFMutableDictionaryRef interfaceMatching(SInt32 vendor, SInt32 product)
{
    CFMutableDictionaryRef d = IOServiceMatching(kIOUSBDeviceClassName);
    CFNumberRef v = CFNumberCreate(nullptr, kCFNumberSInt32Type, &vendor);
    CFNumberRef p = CFNumberCreate(nullptr, kCFNumberSInt32Type, &product);
    CFDictionarySetValue(d, CFSTR(kUSBVendorID), v);
    CFDictionarySetValue(d, CFSTR(kUSBProductID), p);
    CFRelease(v);
    CFRelease(p);
    return d;
}

// The first service a fresh first-match registration holds (+1), or 0.
inline io_service_t presentService()
{
    IONotificationPortRef port = IONotificationPortCreate(kIOMasterPortDefault);
    io_iterator_t it = 0;
    IOServiceAddMatchingNotification(
        port, kIOFirstMatchNotification, IOServiceMatching(kIOUSBDeviceClassName),
        [](void*, io_iterator_t) {}, nullptr, &it);
    const io_service_t s = IOIteratorNext(it);
    IOObjectRelease(it);
    return s;
}

// Plug-in, device interface, open, first configuration; null on any failure. Releases the service.
inline IOUSBDeviceInterface** openDevice(io_service_t service, bool configure = true)
{
    IOCFPlugInInterface** plugIn = nullptr;
    SInt32 score = 0;
    IOCreatePlugInInterfaceForService(service, kIOUSBDeviceUserClientTypeID, kIOCFPlugInInterfaceID, &plugIn,
                                      &score);
    IOObjectRelease(service);
    if (plugIn == nullptr)
        return nullptr;
    IOUSBDeviceInterface** dev = nullptr;
    const HRESULT result =
        (*plugIn)->QueryInterface(plugIn, CFUUIDGetUUIDBytes(kIOUSBDeviceInterfaceID), (LPVOID*) &dev);
    (*plugIn)->Release(plugIn);
    if (result != S_OK || dev == nullptr)
        return nullptr;
    if ((*dev)->USBDeviceOpen(dev) != kIOReturnSuccess)
    {
        (*dev)->Release(dev);
        return nullptr;
    }
    IOUSBConfigurationDescriptorPtr config = nullptr;
    if (configure && ((*dev)->GetConfigurationDescriptorPtr(dev, 0, &config) != kIOReturnSuccess ||
                      (*dev)->SetConfiguration(dev, config->bConfigurationValue) != kIOReturnSuccess))
    {
        (*dev)->USBDeviceClose(dev);
        (*dev)->Release(dev);
        return nullptr;
    }
    return dev;
}

inline IOReturn sendByte(IOUSBDeviceInterface** dev, UInt8 byte)
{
    IOUSBDevRequest request{0x21, 0x01, 0x2000, 0x0300, 1, &byte, 0};
    return (*dev)->DeviceRequest(dev, &request);
}

inline void closeDevice(IOUSBDeviceInterface** dev)
{
    (*dev)->USBDeviceClose(dev);
    (*dev)->Release(dev);
}
} // namespace simtest
