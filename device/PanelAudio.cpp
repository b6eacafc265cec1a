#include "PanelAudio.h"

#include <cmath>

double readVolume(AudioObjectID device, AudioObjectPropertyScope scope, UInt32 element)
{
    const AudioObjectPropertyAddress address{kAudioDevicePropertyVolumeDecibels, scope, element};
    Float32 value = 0.0f;
    UInt32 size = sizeof(value);
    if (AudioObjectGetPropertyData(device, &address, 0, nullptr, &size, &value) != 0 || !std::isfinite(value))
        value = 0.0f;
    return (double) value;
}

void writeVolume(AudioObjectID device, AudioObjectPropertyScope scope, UInt32 element, Float32 decibels)
{
    const AudioObjectPropertyAddress address{kAudioDevicePropertyVolumeDecibels, scope, element};
    AudioObjectSetPropertyData(device, &address, 0, nullptr, sizeof(decibels), &decibels);
}

bool readEitherMuted(AudioObjectID device, AudioObjectPropertyScope scope)
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

void writeMute(AudioObjectID device, AudioObjectPropertyScope scope, bool muted)
{
    const UInt32 value = muted ? 1u : 0u;
    for (UInt32 element = 1; element <= 2; ++element)
    {
        const AudioObjectPropertyAddress address{kAudioDevicePropertyMute, scope, element};
        AudioObjectSetPropertyData(device, &address, 0, nullptr, sizeof(value), &value);
    }
}
