#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Drawing style of the monitoring-volume knob: a single dot on a circle, in the knob's thumb colour. The
// knob's body, scale and markings are part of the panel's background art.
class OrvRotarySliderLookAndFeel : public juce::LookAndFeel_V4
{
public:
    OrvRotarySliderLookAndFeel() = default;
    ~OrvRotarySliderLookAndFeel() override = default;

    void drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                          float rotaryStartAngle, float rotaryEndAngle, juce::Slider& slider) override;
};
