// The nominal sample rate of one audio device, read and written the same way by the rate functions and
// the property listener.
#pragma once

#include "DevicePlatform.h"

struct RateRead
{
    OSStatus status;
    Float64 rate; // 0.0 when the read failed
};

RateRead readNominalRate(AudioObjectID device);
void writeNominalRate(AudioObjectID device, Float64 rate);

// Only a positive finite rate is ever brought to a device.
bool isUsableRate(Float64 rate);
