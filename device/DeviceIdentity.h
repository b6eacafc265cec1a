// The device identity record and the event codes through which device access reports to its owner.
#pragma once

#include <atomic>
#include <cstdint>

enum ORV_CallbackEvent : int32_t
{
    ORV_EVENT_DEVICE_READY = 1,
    ORV_EVENT_DEVICE_REMOVED = 2,
    ORV_EVENT_AUDIO_PROPERTY_CHANGED = 3,
    ORV_EVENT_SYSTEM_WILL_SLEEP = 5,
    ORV_EVENT_SYSTEM_WILL_POWER_ON = 6,
    ORV_EVENT_SYSTEM_HAS_POWERED_ON = 7
};

// Called as callback(owner, nullptr, event). Event 3 arrives on the audio service's notification thread,
// every other event on the main thread.
using DeviceEventCallback = void (*)(void* owner, void* unused, ORV_CallbackEvent event);

struct DeviceIdentity
{
    // Read by the notification threads; cleared by UnregisterDeviceCallBacks before the owner goes away.
    std::atomic<void*> owner{nullptr};
    int32_t vendorId = 0;
    int32_t productIds[3] = {0, 0, 0};
    const char* productName = nullptr;
    const char* audioDeviceName = nullptr;
    const char* manufacturerName = nullptr;
    DeviceEventCallback callback = nullptr;
};

extern DeviceIdentity mydeviceStruct;

// Fills mydeviceStruct with the interface's identifiers and names and callback, then sets owner last, so
// that a notification thread never sees an owner with an incomplete record. Main thread.
void setInterfaceIdentity(DeviceEventCallback callback, void* owner);

// Delivers one event through the record at reference (the address of mydeviceStruct). Nothing is
// delivered once the record has no owner.
void raiseDeviceEvent(void* reference, ORV_CallbackEvent event);
