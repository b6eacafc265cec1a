// The interface command over USB class control requests, and the raw USB road that opens the
// interface's device handle for it.
#pragma once

#include "DevicePlatform.h"

// The open, configured device interface of the interface; null when none is held. Main thread only.
extern IOUSBDeviceInterface** gUSBdevice;

enum DeviceCommand : UInt8
{
    HeadphoneMonitorOn = 4,
    HeadphoneMonitorOff = 5,
    RecordMonitorOff = 6,
    RecordMonitorOn = 7,
    LoopbackOff = 8,
    LoopbackOn = 9,
    MonitorVolumeBase = 16
};

// Writes 0x55, 0xAA and the command byte, each only after the one before succeeded. Returns 0,
// kIOReturnNoDevice without a device (nothing sent, nothing printed), or the failing request's status
// after closing, releasing and forgetting the device.
IOReturn writeDeviceCommand(UInt8 command);

// 0 switches headphone monitoring on, 1 (or any other non-zero value) off.
void usb_hw_toggleMonitoringHP(UInt32 off);
// 0 switches record monitoring off, 1 (or any other non-zero value) on.
void usb_hw_toggleMonitoringRecording(UInt32 on);
// 0 switches loopback off, 1 (or any other non-zero value) on; returns writeDeviceCommand's result.
SInt32 usb_hw_toggleLoopbackMode(UInt32 on);

// The monitoring-volume command byte for a knob value in dB: (16 - trunc(v)) modulo 256.
UInt8 monitorVolumeCommand(double decibels);

// Closes and releases the held device (if any) and forgets it with its registry entry.
void forgetHeldDevice();

// Raw USB road: registers the arrival and removal notifications of the interface and opens an
// interface that is already present.
void RegisterRawDeviceCallBacks();
// Closes, releases and forgets the held device, then drains the removal iterator.
void ReleaseRawDevice();
void RawDeviceAdded(void* reference, io_iterator_t iterator);
void RawDeviceRemoved(void* reference, io_iterator_t iterator);

// Opens an interface that has arrived on the raw road but whose arrival has not been handled yet.
// Does nothing, and prints nothing, while a device is held, before the road is registered or when no
// arrival is waiting.
void OpenPendingRawDevice();
// The registry entry identifier of a service (present or terminated); 0 when it cannot be read.
UInt64 registryEntryID(io_service_t service);

// Withdraws the raw road's notifications and gives back its port and iterators.
void UnregisterRawDeviceCallBacks();
