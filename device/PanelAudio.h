// The audio-service calls the panel makes on the interface's audio devices: the volumes and mutes of
// channels 1 and 2 of one device in one direction, and the rate both devices share.
#pragma once

#include "DevicePlatform.h"

// One channel's volume in dB; a read that fails, or a value that is not finite, counts as 0 dB.
double readVolume(AudioObjectID device, AudioObjectPropertyScope scope, UInt32 element);
// Sets one channel's volume in dB; the result is not looked at.
void writeVolume(AudioObjectID device, AudioObjectPropertyScope scope, UInt32 element, Float32 decibels);

// Whether channel 1 or channel 2 of a device is muted; a read that fails counts as not muted.
bool readEitherMuted(AudioObjectID device, AudioObjectPropertyScope scope);
// Sets channel 1, then channel 2; the results are not looked at.
void writeMute(AudioObjectID device, AudioObjectPropertyScope scope, bool muted);

// The nominal rate both audio devices share, bringing them to the output's rate first when they differ;
// 0.0 when no common rate can be established.
Float64 hw_getSampleRate();
// Asks both audio devices for 24-bit, 4-channel linear PCM at rate Hz. A rate that is not a positive
// finite number is not written.
void hw_setSampleRateEx(double rate);
