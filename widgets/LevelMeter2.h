#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <cstdint>

// A vertical bar meter drawn from two pictures of the same size: the unlit picture whole, and the lit
// picture from the current level down to the bottom over it. Every 60 ms it reads one signed byte, maps
// it on a logarithmic curve to a shown level from 0 to 126 (of a scale of 128), rises to a new peak at
// once and falls back by 2 steps a tick.
class LevelMeter2 : public juce::Component, public juce::Timer
{
public:
    LevelMeter2();
    ~LevelMeter2() override = default;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void timerCallback() override;

    // The lit and unlit pictures rescaled to the meter's size, and at their source size (set by the
    // owner; the meter rescales them on every resize).
    juce::Image meterOnScaled;
    juce::Image meterOffScaled;
    juce::Image meterOnSource;
    juce::Image meterOffSource;

    // Where the raw level is read on every tick; null means no source. The meter does not own the value:
    // whoever sets the pointer keeps the byte alive for as long as it is set.
    const std::int8_t* levelSource = nullptr;

    // The shown level, 0 to 126.
    int displayLevel = 0;
    // The row at which the lit part begins, set by each paint.
    int splitY = 0;
    // The raw level is clamped to this.
    std::uint8_t maxLevel = 123;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(LevelMeter2)
};
