// Reading and setting the sample rate of the interface's two audio devices.

#include "RegisterDeviceCallBacksMac.h"

#include <juce_core/juce_core.h>

#include <cmath>

namespace
{
constexpr AudioObjectPropertyAddress kNominalRate{kAudioDevicePropertyNominalSampleRate,
                                                  kAudioObjectPropertyScopeWildcard, 0};

struct RateRead
{
    OSStatus status;
    Float64 rate;
};

RateRead readRate(AudioObjectID device)
{
    Float64 rate = 0.0;
    UInt32 size = sizeof(rate);
    const OSStatus status = AudioObjectGetPropertyData(device, &kNominalRate, 0, nullptr, &size, &rate);
    return {status, rate};
}

AudioStreamBasicDescription physicalFormat(Float64 rate, UInt32 bytesPerFrame, UInt32 channels, UInt32 bits)
{
    AudioStreamBasicDescription format{};
    format.mSampleRate = rate;
    format.mFormatID = kAudioFormatLinearPCM;
    format.mFormatFlags = kAudioFormatFlagIsSignedInteger | kAudioFormatFlagIsPacked;
    format.mBytesPerPacket = bytesPerFrame;
    format.mFramesPerPacket = 1;
    format.mBytesPerFrame = bytesPerFrame;
    format.mChannelsPerFrame = channels;
    format.mBitsPerChannel = bits;
    format.mReserved = 0;
    return format;
}

void writeFormat(AudioObjectID device, AudioObjectPropertyScope scope,
                 const AudioStreamBasicDescription& format)
{
    const AudioObjectPropertyAddress address{kAudioStreamPropertyPhysicalFormat, scope, 0};
    AudioObjectSetPropertyData(device, &address, 0, nullptr, sizeof(format), &format);
}

void writeRate(AudioObjectID device, Float64 rate)
{
    AudioObjectSetPropertyData(device, &kNominalRate, 0, nullptr, sizeof(rate), &rate);
}

bool agree(const RateRead& in, const RateRead& out)
{
    return in.status == 0 && out.status == 0 && in.rate == out.rate;
}
} // namespace

Float64 hw_getSampleRate()
{
    const AudioObjectID in = gInAudioObjectID.load();
    const AudioObjectID out = gOutAudioObjectID.load();

    const RateRead inFirst = readRate(in);
    const RateRead outFirst = readRate(out);
    if (inFirst.rate == outFirst.rate)
        return inFirst.rate;

    // Only a positive finite output rate is worth bringing the input to.
    if (outFirst.status != 0 || !std::isfinite(outFirst.rate) || outFirst.rate <= 0.0)
        return 0.0;

    if (outFirst.rate == 32000.0)
    {
        const AudioStreamBasicDescription format = physicalFormat(32000.0, 4, 2, 16);
        writeFormat(in, kAudioObjectPropertyScopeWildcard, format);
        writeFormat(out, kAudioObjectPropertyScopeWildcard, format);
    }
    else
    {
        writeRate(in, outFirst.rate);
        writeRate(out, outFirst.rate);
    }

    RateRead inLast = readRate(in);
    RateRead outLast = readRate(out);
    if (inLast.rate != outLast.rate || inLast.status != outLast.status)
    {
        juce::Time::waitForMillisecondCounter(juce::Time::getMillisecondCounter() + 300);
        inLast = readRate(in);
        outLast = readRate(out);
    }

    return agree(inLast, outLast) ? outLast.rate : 0.0;
}

void hw_setSampleRateEx(double rate)
{
    if (!std::isfinite(rate) || rate <= 0.0)
        return;

    const AudioStreamBasicDescription format = physicalFormat(rate, 12, 4, 24);
    writeFormat(gInAudioObjectID.load(), kAudioObjectPropertyScopeInput, format);
    writeFormat(gOutAudioObjectID.load(), kAudioObjectPropertyScopeOutput, format);
}
