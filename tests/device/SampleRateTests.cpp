// Reading and setting the sample rate of the two audio devices.

#include "DeviceTestSupport.h"
#include "RegisterDeviceCallBacksMac.h"
#include "Wait.h"

#include <juce_core/juce_core.h>

#include <cmath>
#include <limits>
#include <thread>

namespace
{
class SampleRateTest : public SimulatedMachine
{
protected:
    void TearDown() override
    {
        gInAudioObjectID = 0;
        gOutAudioObjectID = 0;
        SimulatedMachine::TearDown();
    }

    void devices(Float64 inRate, Float64 outRate)
    {
        gInAudioObjectID = sim::addAudioDevice({"in", "PELK", "Orvalis", 1, 0, inRate});
        gOutAudioObjectID = sim::addAudioDevice({"out", "PELK", "Orvalis", 0, 1, outRate});
    }

    // The journal's property writes ("audio-set ...") made since the start of the test.
    static std::vector<std::string> writes()
    {
        std::vector<std::string> lines;
        for (const auto& line : sim::journal())
            if (line.rfind("audio-set", 0) == 0)
                lines.push_back(line);
        return lines;
    }

    static size_t countWrites(const std::string& part)
    {
        size_t n = 0;
        for (const auto& line : writes())
            n += line.find(part) != std::string::npos ? 1u : 0u;
        return n;
    }
};

juce::uint32 elapsedSince(juce::uint32 start)
{
    return juce::Time::getMillisecondCounter() - start;
}
} // namespace

TEST_F(SampleRateTest, EqualRatesAreReturnedWithoutWriting)
{
    devices(44100, 44100);
    EXPECT_EQ(hw_getSampleRate(), 44100.0);
    EXPECT_TRUE(writes().empty());
}

TEST_F(SampleRateTest, AnOutputAt32kBringsBothDevicesThroughThe16BitFormat)
{
    devices(48000, 32000);
    EXPECT_EQ(hw_getSampleRate(), 32000.0);
    EXPECT_EQ(countWrites("nsrt"), 0u);
    EXPECT_EQ(countWrites("pft "), 2u);
    for (AudioObjectID device : {gInAudioObjectID.load(), gOutAudioObjectID.load()})
    {
        EXPECT_EQ(sim::rate(device), 32000.0);
        const auto format = sim::physicalFormat(
            device, device == gInAudioObjectID.load() ? sim::Direction::input : sim::Direction::output);
        EXPECT_EQ(format.mBitsPerChannel, 16u);
        EXPECT_EQ(format.mChannelsPerFrame, 2u);
        EXPECT_EQ(format.mBytesPerFrame, 4u);
    }
}

TEST_F(SampleRateTest, ARateThatLandsLateIsReadAgainAfter300Ms)
{
    devices(48000, 96000);
    sim::setRateLatency(gInAudioObjectID.load(), 2);
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_EQ(hw_getSampleRate(), 96000.0);
    EXPECT_GE(elapsedSince(start), 300u);
    EXPECT_EQ(countWrites("nsrt"), 2u);
    EXPECT_EQ(sim::rate(gInAudioObjectID.load()), 96000.0);
}

TEST_F(SampleRateTest, AnUnreadableInputRateGivesZeroAfterTheRetry)
{
    devices(48000, 48000);
    sim::failProperty({sim::AudioOp::get, gInAudioObjectID.load(), kAudioDevicePropertyNominalSampleRate});
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_EQ(hw_getSampleRate(), 0.0);
    EXPECT_GE(elapsedSince(start), 300u);
    EXPECT_EQ(countWrites("nsrt"), 2u);
}

TEST_F(SampleRateTest, AnUnreadableOutputRateGivesZeroWithoutWriting)
{
    devices(48000, 44100);
    sim::failProperty({sim::AudioOp::get, gOutAudioObjectID.load(), kAudioDevicePropertyNominalSampleRate});
    EXPECT_EQ(hw_getSampleRate(), 0.0);
    EXPECT_TRUE(writes().empty());
}

TEST_F(SampleRateTest, WithoutDevicesTheRateIsZeroAtOnce)
{
    const auto start = juce::Time::getMillisecondCounter();
    EXPECT_EQ(hw_getSampleRate(), 0.0);
    EXPECT_LT(elapsedSince(start), 300u);
    EXPECT_TRUE(writes().empty());
}

TEST_F(SampleRateTest, SettingARateWritesThe24BitFormatToBothDevicesInTheirScopes)
{
    devices(48000, 48000);
    hw_setSampleRateEx(96000);
    for (auto [device, direction] : {std::pair{gInAudioObjectID.load(), sim::Direction::input},
                                     std::pair{gOutAudioObjectID.load(), sim::Direction::output}})
    {
        const auto format = sim::physicalFormat(device, direction);
        EXPECT_EQ(format.mSampleRate, 96000.0);
        EXPECT_EQ(format.mFormatID, kAudioFormatLinearPCM);
        EXPECT_EQ(format.mFormatFlags, 0xCu);
        EXPECT_EQ(format.mBytesPerPacket, 12u);
        EXPECT_EQ(format.mFramesPerPacket, 1u);
        EXPECT_EQ(format.mBytesPerFrame, 12u);
        EXPECT_EQ(format.mChannelsPerFrame, 4u);
        EXPECT_EQ(format.mBitsPerChannel, 24u);
        EXPECT_EQ(sim::rate(device), 96000.0);
    }
    EXPECT_EQ(countWrites("pft "), 2u);
}

TEST_F(SampleRateTest, ADeviceServingBothDirectionsGetsTheFormatOncePerScope)
{
    const AudioObjectID device = sim::addAudioDevice({"both", "PELK", "Orvalis", 1, 1, 48000});
    gInAudioObjectID = device;
    gOutAudioObjectID = device;
    hw_setSampleRateEx(44100);
    EXPECT_EQ(countWrites("pft "), 2u);
    EXPECT_EQ(countWrites("inpt"), 1u);
    EXPECT_EQ(countWrites("outp"), 1u);
}

TEST_F(SampleRateTest, ARateThatIsNotAPositiveFiniteNumberIsNeverWritten)
{
    devices(48000, 48000);
    for (double rate :
         {0.0, -44100.0, std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity()})
        hw_setSampleRateEx(rate);
    EXPECT_TRUE(writes().empty());
}

// An output rate that is not a positive finite number is never brought to the input.
class SampleRateUnusableOutput : public SampleRateTest, public ::testing::WithParamInterface<double>
{
};

INSTANTIATE_TEST_SUITE_P(Rates, SampleRateUnusableOutput,
                         ::testing::Values(0.0, -48000.0, std::numeric_limits<double>::quiet_NaN()),
                         [](const ::testing::TestParamInfo<double>& row) {
                             return std::string(row.index == 0   ? "Zero"
                                                : row.index == 1 ? "Negative"
                                                                 : "NaN");
                         });

TEST_P(SampleRateUnusableOutput, IsNeverWritten)
{
    devices(48000, 44100);
    sim::setRateUnchecked(gOutAudioObjectID.load(), GetParam());
    EXPECT_EQ(hw_getSampleRate(), 0.0);
    EXPECT_TRUE(writes().empty());
    EXPECT_EQ(sim::rate(gInAudioObjectID.load()), 48000.0);
}

// When the last reads agree, their rate is the answer, even if it is not the output's first rate.
TEST_F(SampleRateTest, TheResultIsTheRateTheLastReadsAgreedOn)
{
    devices(48000, 96000);
    sim::setAcceptedRates(gInAudioObjectID.load(), {44100, 48000}); // the input refuses 96000
    const pid_t reader = pelktest::currentThreadId();
    std::thread elsewhere(
        [&]
        {
            // Inside the wait between the reads: the output took the new rate, and the reader sleeps.
            EXPECT_TRUE(pelktest::waitUntil(
                [&] {
                    return sim::rate(gOutAudioObjectID.load()) == 96000.0 && pelktest::blockedInSleep(reader);
                },
                10000));
            sim::setRate(gInAudioObjectID.load(), 44100);
            sim::setRate(gOutAudioObjectID.load(), 44100);
        });
    const double result = hw_getSampleRate();
    elsewhere.join();
    EXPECT_EQ(result, 44100.0);
}
