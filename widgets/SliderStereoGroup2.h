#pragma once

#include "SliderLookAndFeel2.h"

#include <juce_gui_basics/juce_gui_basics.h>

// Two vertical level faders (left and right channel) side by side with a narrow link strip between
// them. Pressing and dragging in the strip, or turning the wheel over it, moves both faders and makes
// them equal at the lower of the two values; operating a fader directly moves that fader alone. The
// group also switches the thumb that all faders share, so that both show the linked thumb while the
// pointer is over the strip.
//
// The faders are owned by the caller, as is the shared look; both must outlive the group.
class SliderStereoGroup2 : public juce::Component, public juce::Slider::Listener
{
public:
    SliderStereoGroup2(juce::String name, juce::Slider* left, juce::Slider* right, float rightSliderX,
                       float sliderWidth, float knobWidth, float knobHeight, OrvSliderLookAndFeel2* look);
    ~SliderStereoGroup2() override;

    void mouseMove(const juce::MouseEvent& e) override;
    void mouseEnter(const juce::MouseEvent&) override {}
    void mouseExit(const juce::MouseEvent&) override {}
    void mouseDown(const juce::MouseEvent& e) override;
    void mouseDrag(const juce::MouseEvent& e) override;
    void mouseUp(const juce::MouseEvent& e) override;
    void mouseDoubleClick(const juce::MouseEvent&) override {}
    void mouseWheelMove(const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel) override;

    // The group draws nothing: the panel's background shows through the strip.
    void paint(juce::Graphics&) override {}
    void resized() override;

    // The group listens to no slider; these stay empty.
    void sliderValueChanged(juce::Slider*) override {}
    void sliderDragStarted(juce::Slider*) override {}

    // Links or unlinks the pair; linking sets both faders to the lower of their two values.
    void setSlidersLinked(bool link);

    juce::Slider* leftSlider;
    juce::Slider* rightSlider;
    bool linked = true;
    bool dragStartedInLinkStrip = false;
    juce::Rectangle<int> linkStrip;
    OrvSliderLookAndFeel2* sliderLook;

    // Layout fractions: x of the right fader and width of each fader of the group's width, thumb width
    // of the group's width and thumb height of the group's height.
    float rightSliderX;
    float sliderWidth;
    float knobWidth;
    float knobHeight;

private:
    // Positions are taken as the event carries them, in the coordinates of the component that got it.
    bool isInLinkStrip(const juce::MouseEvent& e) const { return linkStrip.contains(e.x, e.y); }
    void showThumb(bool linkedThumb);

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(SliderStereoGroup2)
};
