// The audio hardware service subset the device layer uses: property sizes, reads and writes, and property
// listeners. Every call returns 0 on success and a non-zero OSStatus otherwise; an unknown or 0 object, a
// null address or buffer, or a wrong size is a failure, never a crash.
//
// Listeners are called on the service's own notification thread ("audio-notify"), never recursively, with
// concrete addresses (never wildcards). Removing a listener does not wait for a call already running.
#pragma once

#include "PlatformCF.h"

typedef UInt32 AudioObjectID;
typedef UInt32 AudioObjectPropertySelector;
typedef UInt32 AudioObjectPropertyScope;
typedef UInt32 AudioObjectPropertyElement;
typedef UInt32 AudioFormatID;
typedef UInt32 AudioFormatFlags;

struct AudioObjectPropertyAddress
{
    AudioObjectPropertySelector mSelector;
    AudioObjectPropertyScope mScope;
    AudioObjectPropertyElement mElement;
};

struct AudioBuffer
{
    UInt32 mNumberChannels;
    UInt32 mDataByteSize;
    void* mData;
};

struct AudioBufferList
{
    UInt32 mNumberBuffers;
    AudioBuffer mBuffers[1];
};

struct AudioStreamBasicDescription
{
    Float64 mSampleRate;
    AudioFormatID mFormatID;
    AudioFormatFlags mFormatFlags;
    UInt32 mBytesPerPacket;
    UInt32 mFramesPerPacket;
    UInt32 mBytesPerFrame;
    UInt32 mChannelsPerFrame;
    UInt32 mBitsPerChannel;
    UInt32 mReserved;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40, "the physical format is 40 bytes");

typedef OSStatus (*AudioObjectPropertyListenerProc)(AudioObjectID object, UInt32 count,
                                                    const AudioObjectPropertyAddress* addresses,
                                                    void* clientData);

// Objects.
constexpr AudioObjectID kAudioObjectUnknown = 0;
constexpr AudioObjectID kAudioObjectSystemObject = 1;

// Scopes and elements.
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeGlobal = platformFourCC("glob");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeInput = platformFourCC("inpt");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeOutput = platformFourCC("outp");
constexpr AudioObjectPropertyScope kAudioObjectPropertyScopeWildcard = platformFourCC("****");
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMain = 0;
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementMaster = 0;
constexpr AudioObjectPropertyElement kAudioObjectPropertyElementWildcard = 0xFFFFFFFF;

// Selectors.
constexpr AudioObjectPropertySelector kAudioObjectPropertySelectorWildcard = platformFourCC("****");
constexpr AudioObjectPropertySelector kAudioHardwarePropertyDevices = platformFourCC("dev#");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDeviceUID = platformFourCC("uid ");
constexpr AudioObjectPropertySelector kAudioObjectPropertyName = platformFourCC("lnam");
constexpr AudioObjectPropertySelector kAudioObjectPropertyManufacturer = platformFourCC("lmak");
constexpr AudioObjectPropertySelector kAudioDevicePropertyStreamConfiguration = platformFourCC("slay");
constexpr AudioObjectPropertySelector kAudioDevicePropertyNominalSampleRate = platformFourCC("nsrt");
constexpr AudioObjectPropertySelector kAudioStreamPropertyPhysicalFormat = platformFourCC("pft ");
constexpr AudioObjectPropertySelector kAudioDevicePropertyVolumeDecibels = platformFourCC("vold");
constexpr AudioObjectPropertySelector kAudioDevicePropertyVolumeScalar = platformFourCC("volm");
constexpr AudioObjectPropertySelector kAudioDevicePropertyMute = platformFourCC("mute");
constexpr AudioObjectPropertySelector kAudioDevicePropertyPlayThru = platformFourCC("thru");
constexpr AudioObjectPropertySelector kAudioDevicePropertyDataSource = platformFourCC("ssrc");

// Formats.
constexpr AudioFormatID kAudioFormatLinearPCM = platformFourCC("lpcm");
constexpr AudioFormatFlags kAudioFormatFlagIsFloat = 0x1;
constexpr AudioFormatFlags kAudioFormatFlagIsBigEndian = 0x2;
constexpr AudioFormatFlags kAudioFormatFlagIsSignedInteger = 0x4;
constexpr AudioFormatFlags kAudioFormatFlagIsPacked = 0x8;
constexpr AudioFormatFlags kAudioFormatFlagIsNonInterleaved = 0x20;

// This service's own failure statuses.
constexpr OSStatus kAudioHardwareNoError = 0;
constexpr OSStatus kAudioHardwareUnspecifiedError = OSStatus(platformFourCC("fail"));
constexpr OSStatus kAudioHardwareBadObjectError = OSStatus(platformFourCC("bobj"));
constexpr OSStatus kAudioHardwareUnknownPropertyError = OSStatus(platformFourCC("uprp"));
constexpr OSStatus kAudioHardwareBadPropertySizeError = OSStatus(platformFourCC("bsiz"));
constexpr OSStatus kAudioHardwareIllegalOperationError = OSStatus(platformFourCC("ilop"));
constexpr OSStatus kAudioHardwareUnsupportedOperationError = OSStatus(platformFourCC("unsp"));

Boolean AudioObjectHasProperty(AudioObjectID object, const AudioObjectPropertyAddress* address);
OSStatus AudioObjectGetPropertyDataSize(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                        UInt32 qualifierSize, const void* qualifier, UInt32* outSize);
// *ioSize goes in as the buffer size and comes back as the size written. A string comes back as a new
// CFStringRef (+1).
OSStatus AudioObjectGetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    UInt32 qualifierSize, const void* qualifier, UInt32* ioSize,
                                    void* outData);
OSStatus AudioObjectSetPropertyData(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                    UInt32 qualifierSize, const void* qualifier, UInt32 size,
                                    const void* data);
// Wildcards in the address match any selector, scope or element. Installing the same (object, address,
// procedure, data) twice is refused by default (see platform::sim::Config::duplicateListeners).
OSStatus AudioObjectAddPropertyListener(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                        AudioObjectPropertyListenerProc listener, void* clientData);
// No call of this listener begins after this returns; a call already running may still finish.
OSStatus AudioObjectRemovePropertyListener(AudioObjectID object, const AudioObjectPropertyAddress* address,
                                           AudioObjectPropertyListenerProc listener, void* clientData);
