// Device access beside the raw USB road: the interface's plug and unplug, system power events, the
// discovery of its audio devices with their property listener, and the sample rate.
#pragma once

#include "DeviceIdentity.h"
#include "DevicePlatform.h"
#include "PanelAudio.h" // hw_getSampleRate, hw_setSampleRateEx

#include <atomic>

// The interface's input and output audio devices; 0 when not known. Written on the main thread, read by
// the volume worker and the audio service's notification thread.
extern std::atomic<AudioObjectID> gInAudioObjectID;
extern std::atomic<AudioObjectID> gOutAudioObjectID;

extern io_connect_t root_port;
extern mach_port_t gMasterDevicePort;
extern CFRunLoopSourceRef gRunLoopSource;

// Registers the power handler and the USB plug and unplug handlers and arms them; an interface that is
// already plugged in raises ORV_EVENT_DEVICE_READY before this returns. Main thread.
void RegisterDeviceCallBacks();

// Teardown for the owner's destructor, on the main thread, in place of ReleaseRawDevice: clears the
// record's owner (so no further event reaches it), closes and releases the USB device as
// ReleaseRawDevice does, removes the audio property listeners and withdraws the power, plug, unplug and
// raw-device notifications.
void UnregisterDeviceCallBacks();

void USBPlugCallback(void* reference, io_iterator_t iterator);
void USBRemoveCallback(void* reference, io_iterator_t iterator);
void MySleepCallBack(void* reference, io_service_t service, UInt32 messageType, void* messageArgument);

// Finds the interface's audio devices by name and manufacturer, installs the property listener on each
// and records them in gInAudioObjectID and gOutAudioObjectID.
void CreateInputDeviceArray(CFStringRef name, CFStringRef manufacturer, void* reference);
OSStatus myAudioObjectPropertyListenerProc(AudioObjectID object, UInt32 count,
                                           const AudioObjectPropertyAddress* addresses, void* reference);

// Clears each of the two identifiers that no longer names a device in the audio service's device list.
void DropDepartedAudioDevices();
// Removes the property listener from every device on which discovery installed it.
void RemoveAudioPropertyListeners();
