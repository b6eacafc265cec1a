// The mutes of the interface's audio devices as the panel reads and writes them: channels 1 and 2 of one
// device in one direction.
#pragma once

#include "DevicePlatform.h"

// Whether channel 1 or channel 2 of a device is muted; a read that fails counts as not muted.
inline bool readEitherMuted(AudioObjectID device, AudioObjectPropertyScope scope)
{
    bool muted = false;
    for (UInt32 element = 1; element <= 2; ++element)
    {
        const AudioObjectPropertyAddress address{kAudioDevicePropertyMute, scope, element};
        UInt32 value = 0;
        UInt32 size = sizeof(value);
        if (AudioObjectGetPropertyData(device, &address, 0, nullptr, &size, &value) != 0)
            value = 0;
        muted = muted || value != 0;
    }
    return muted;
}

// Sets channel 1, then channel 2; the results are not looked at.
inline void writeMute(AudioObjectID device, AudioObjectPropertyScope scope, bool muted)
{
    const UInt32 value = muted ? 1u : 0u;
    for (UInt32 element = 1; element <= 2; ++element)
    {
        const AudioObjectPropertyAddress address{kAudioDevicePropertyMute, scope, element};
        AudioObjectSetPropertyData(device, &address, 0, nullptr, sizeof(value), &value);
    }
}
