// Reading and setting the sample rate of the interface's two audio devices.

#include "NominalRate.h"
#include "RegisterDeviceCallBacksMac.h"

#include <juce_core/juce_core.h>

#include <cmath>

namespace
{
constexpr AudioObjectPropertyAddress kNominalRate{kAudioDevicePropertyNominalSampleRate,
                                                  kAudioObjectPropertyScopeWildcard, 0};

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

bool agree(const RateRead& in, const RateRead& out)
{
    return in.status == 0 && out.status == 0 && in.rate == out.rate;
}
} // namespace

RateRead readNominalRate(AudioObjectID device)
{
    Float64 rate = 0.0;
    UInt32 size = sizeof(rate);
    const OSStatus status = AudioObjectGetPropertyData(device, &kNominalRate, 0, nullptr, &size, &rate);
    return {status, status == 0 ? rate : 0.0};
}

void writeNominalRate(AudioObjectID device, Float64 rate)
{
    AudioObjectSetPropertyData(device, &kNominalRate, 0, nullptr, sizeof(rate), &rate);
}

bool isUsableRate(Float64 rate)
{
    return std::isfinite(rate) && rate > 0.0;
}

Float64 hw_getSampleRate()
{
    const AudioObjectID in = gInAudioObjectID.load();
    const AudioObjectID out = gOutAudioObjectID.load();

    const RateRead inFirst = readNominalRate(in);
    const RateRead outFirst = readNominalRate(out);
    if (inFirst.rate == outFirst.rate)
        return inFirst.rate;

    // Only a positive finite output rate is worth bringing the input to.
    if (outFirst.status != 0 || !isUsableRate(outFirst.rate))
        return 0.0;

    if (outFirst.rate == 32000.0)
    {
        const AudioStreamBasicDescription format = physicalFormat(32000.0, 4, 2, 16);
        writeFormat(in, kAudioObjectPropertyScopeWildcard, format);
        writeFormat(out, kAudioObjectPropertyScopeWildcard, format);
    }
    else
    {
        writeNominalRate(in, outFirst.rate);
        writeNominalRate(out, outFirst.rate);
    }

    RateRead inLast = readNominalRate(in);
    RateRead outLast = readNominalRate(out);
    if (inLast.rate != outLast.rate || inLast.status != outLast.status)
    {
        juce::Time::waitForMillisecondCounter(juce::Time::getMillisecondCounter() + 300);
        inLast = readNominalRate(in);
        outLast = readNominalRate(out);
    }

    return agree(inLast, outLast) ? outLast.rate : 0.0;
}

void hw_setSampleRateEx(double rate)
{
    if (!isUsableRate(rate))
        return;

    const AudioStreamBasicDescription format = physicalFormat(rate, 12, 4, 24);
    writeFormat(gInAudioObjectID.load(), kAudioObjectPropertyScopeInput, format);
    writeFormat(gOutAudioObjectID.load(), kAudioObjectPropertyScopeOutput, format);
}
