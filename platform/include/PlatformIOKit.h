// The Mach and IOKit subset the device layer uses: master port, matching dictionaries, notification ports,
// matching and terminate notifications, registry properties, the USB plug-in and device interface, and
// system power registration. Handles are 32-bit values, 0 meaning none.
//
// Only kIOReturnSuccess and kIOReturnNoDevice have fixed values; the other failure statuses are this
// layer's own. A null, unknown or released handle returns kIOReturnBadArgument (or 0 / null) and never
// crashes.
#pragma once

#include "PlatformCF.h"

// Mach.
typedef UInt32 mach_port_t;
typedef SInt32 kern_return_t;
#define MACH_PORT_NULL ((mach_port_t) 0)
#define kIOMasterPortDefault ((mach_port_t) 0)
mach_port_t mach_task_self();
kern_return_t mach_port_deallocate(mach_port_t task, mach_port_t name);

// Statuses.
typedef kern_return_t IOReturn;
typedef UInt32 IOOptionBits;
constexpr IOReturn kIOReturnSuccess = 0;
constexpr IOReturn kIOReturnNoDevice = IOReturn(0xE00002C0);
// This layer's own failure statuses.
constexpr IOReturn kIOReturnError = IOReturn(0xE0000F00);
constexpr IOReturn kIOReturnBadArgument = IOReturn(0xE0000F01);
constexpr IOReturn kIOReturnNotOpen = IOReturn(0xE0000F02);
constexpr IOReturn kIOReturnExclusiveAccess = IOReturn(0xE0000F03);
constexpr IOReturn kIOReturnNotResponding = IOReturn(0xE0000F04);
constexpr IOReturn kIOUSBPipeStalled =
    IOReturn(0xE0000F05); // the answer to a request the device does not know
constexpr IOReturn kIOReturnUnsupported = IOReturn(0xE0000F06);

// Objects.
typedef mach_port_t io_object_t;
typedef io_object_t io_service_t;
typedef io_object_t io_iterator_t;
typedef io_object_t io_registry_entry_t;
typedef io_object_t io_connect_t;
typedef char io_name_t[128];

kern_return_t IOMasterPort(mach_port_t bootstrapPort, mach_port_t* masterPort);
kern_return_t IOObjectRelease(io_object_t object);
kern_return_t IOObjectRetain(io_object_t object);
// The next service (+1, give it back with IOObjectRelease), or 0 when none is left. Returning 0 arms the
// notification behind the iterator. Iterator 0 returns 0.
io_object_t IOIteratorNext(io_iterator_t iterator);

// Matching and notifications.
#define kIOProviderClassKey "IOProviderClass"
#define kIOUSBDeviceClassName "IOUSBDevice"
#define kIOFirstMatchNotification "IOServiceFirstMatch"
#define kIOMatchedNotification "IOServiceMatched"
#define kIOTerminatedNotification "IOServiceTerminate"
#define kUSBVendorID "idVendor"
#define kUSBProductID "idProduct"
#define kUSBVendorString "USB Vendor Name"
#define kUSBProductString "USB Product Name"

typedef struct IONotificationPort* IONotificationPortRef;
typedef void (*IOServiceMatchingCallback)(void* refCon, io_iterator_t iterator);
typedef void (*IOServiceInterestCallback)(void* refCon, io_service_t service, UInt32 messageType,
                                          void* messageArgument);

// +1 matching dictionary for the class ("IOProviderClass" = name), or null.
CFMutableDictionaryRef IOServiceMatching(const char* name);
IONotificationPortRef IONotificationPortCreate(mach_port_t masterPort);
void IONotificationPortDestroy(
    IONotificationPortRef port); // its notifications stop; their iterators stay valid
CFRunLoopSourceRef IONotificationPortGetRunLoopSource(IONotificationPortRef port); // borrowed
// Consumes one reference to matching, whatever the result. A first-match or matched iterator starts holding
// every matching service present; a terminate iterator starts empty. The handler is called by the main run
// loop once the notification is armed (its iterator emptied) and a service arrives or goes. Releasing the
// iterator ends the notification.
kern_return_t IOServiceAddMatchingNotification(IONotificationPortRef port, const char* notificationType,
                                               CFDictionaryRef matching, IOServiceMatchingCallback callback,
                                               void* refCon, io_iterator_t* notification);

// Registry. Terminated services still answer while they are held.
kern_return_t IORegistryEntryCreateCFProperties(io_registry_entry_t entry, CFMutableDictionaryRef* properties,
                                                CFAllocatorRef allocator, IOOptionBits options);
CFTypeRef IORegistryEntryCreateCFProperty(io_registry_entry_t entry, CFStringRef key,
                                          CFAllocatorRef allocator,
                                          IOOptionBits options); // +1 or null
kern_return_t IORegistryEntryGetRegistryEntryID(io_registry_entry_t entry, UInt64* entryID);

// COM-style plug-in and USB device interface. Every method takes the object as its first argument:
//     (*gUSBdevice)->DeviceRequest(gUSBdevice, &request)
typedef CFUUIDBytes REFIID;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_NOINTERFACE = HRESULT(0x80000004);
constexpr HRESULT E_POINTER = HRESULT(0x80000005);

#define kIOUSBDeviceUserClientTypeID                                                                         \
    CFUUIDGetConstantUUIDWithBytes(nullptr, 0x50, 0x45, 0x4C, 0x4B, 0x00, 0x01, 0x4E, 0x55, 0x8A, 0x01,      \
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x01)
#define kIOCFPlugInInterfaceID                                                                               \
    CFUUIDGetConstantUUIDWithBytes(nullptr, 0x50, 0x45, 0x4C, 0x4B, 0x00, 0x02, 0x4E, 0x55, 0x8A, 0x01,      \
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x02)
#define kIOUSBDeviceInterfaceID                                                                              \
    CFUUIDGetConstantUUIDWithBytes(nullptr, 0x50, 0x45, 0x4C, 0x4B, 0x00, 0x03, 0x4E, 0x55, 0x8A, 0x01,      \
                                   0x00, 0x00, 0x00, 0x00, 0x00, 0x03)

struct IOCFPlugInInterface
{
    void* _reserved;
    HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* out); // +1 interface on S_OK
    ULONG (*AddRef)(void* self);
    ULONG (*Release)(void* self);
    UInt16 version;
    UInt16 revision;
};

#pragma pack(push, 1)
struct IOUSBConfigurationDescriptor
{
    UInt8 bLength;
    UInt8 bDescriptorType;
    UInt16 wTotalLength;
    UInt8 bNumInterfaces;
    UInt8 bConfigurationValue;
    UInt8 iConfiguration;
    UInt8 bmAttributes;
    UInt8 MaxPower;
};
#pragma pack(pop)
typedef IOUSBConfigurationDescriptor* IOUSBConfigurationDescriptorPtr;

struct IOUSBDevRequest
{
    UInt8 bmRequestType;
    UInt8 bRequest;
    UInt16 wValue;
    UInt16 wIndex;
    UInt16 wLength;
    void* pData;
    UInt32 wLenDone;
};

struct IOUSBDeviceInterface
{
    void* _reserved;
    HRESULT (*QueryInterface)(void* self, REFIID iid, LPVOID* out);
    ULONG (*AddRef)(void* self);
    ULONG (*Release)(void* self);          // the last release closes a device still open
    IOReturn (*USBDeviceOpen)(void* self); // exclusive
    IOReturn (*USBDeviceClose)(void* self);
    IOReturn (*GetDeviceVendor)(void* self, UInt16* vendor);
    IOReturn (*GetDeviceProduct)(void* self, UInt16* product);
    IOReturn (*GetDeviceReleaseNumber)(void* self, UInt16* release);
    IOReturn (*GetLocationID)(void* self, UInt32* location);
    IOReturn (*GetNumberOfConfigurations)(void* self, UInt8* count);
    // The descriptor stays owned by the device.
    IOReturn (*GetConfigurationDescriptorPtr)(void* self, UInt8 index,
                                              IOUSBConfigurationDescriptorPtr* descriptor);
    IOReturn (*GetConfiguration)(void* self, UInt8* value);
    IOReturn (*SetConfiguration)(void* self, UInt8 value); // the device must be open
    // One synchronous control transfer on the default pipe; 0 means it was delivered. Sets wLenDone.
    IOReturn (*DeviceRequest)(void* self, IOUSBDevRequest* request);
};

// +1 plug-in on success (*plugIn null otherwise); *score may be null.
kern_return_t IOCreatePlugInInterfaceForService(io_service_t service, CFUUIDRef pluginType,
                                                CFUUIDRef interfaceType, IOCFPlugInInterface*** plugIn,
                                                SInt32* score);

// System power.
constexpr UInt32 kIOMessageCanSystemSleep = 0xE0000270;
constexpr UInt32 kIOMessageSystemWillSleep = 0xE0000280;
constexpr UInt32 kIOMessageSystemWillNotSleep = 0xE0000290;
constexpr UInt32 kIOMessageSystemHasPoweredOn = 0xE0000300;
constexpr UInt32 kIOMessageSystemWillPowerOn = 0xE0000320;

// The root-domain connection, or 0 when refused. *port receives the notification port whose source must be
// added to the main run loop; *notifier the handle IODeregisterForSystemPower takes.
io_connect_t IORegisterForSystemPower(void* refCon, IONotificationPortRef* port,
                                      IOServiceInterestCallback callback, io_object_t* notifier);
IOReturn IODeregisterForSystemPower(io_object_t* notifier); // stops the messages; *notifier becomes 0
IOReturn IOAllowPowerChange(io_connect_t rootPort, intptr_t notificationID);
IOReturn IOCancelPowerChange(io_connect_t rootPort, intptr_t notificationID);
kern_return_t IOServiceClose(io_connect_t connection);
