#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Drawing style of the level faders: a vertical fader is drawn as nothing but a thumb picture (the track
// is part of the panel's background art). The look keeps its thumb pictures rescaled to the size the
// fader pair asks for. One instance is shared by all faders, so they all show thumbs of one size, and
// currentThumb is one image that the fader pair switches between the linked and the unlinked thumb.
class OrvSliderLookAndFeel2 : public juce::LookAndFeel_V4
{
public:
    OrvSliderLookAndFeel2() = default;
    ~OrvSliderLookAndFeel2() override = default;

    void drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                          float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style,
                          juce::Slider& slider) override;

    void drawLinearSliderThumb(juce::Graphics& g, int x, int y, int width, int height, float sliderPos,
                               float minSliderPos, float maxSliderPos, juce::Slider::SliderStyle style,
                               juce::Slider& slider) override;

    int getSliderThumbRadius(juce::Slider& slider) override;

    // Rescales the three thumbs to width x height from the source resolution that suits the width, and
    // resets currentThumb to the normal thumb. A size that truncates below one pixel keeps the previous
    // thumbs.
    void resizeKnobImages(double width, double height);

    // The linked thumb at the current size, with the red centre line.
    juce::Image linkedThumb;
    // What a fader draws when it is neither under the pointer nor dragged; shares its pixels with one
    // of the other two thumbs.
    juce::Image currentThumb;
    // The unlinked thumb at the current size.
    juce::Image unlinkedThumb;

    // Source pictures, indexed [role][resolution]: role 0 normal, 1 unlinked, 2 linked; resolution 0 is
    // the smallest. Filled by the owner before the first resizeKnobImages.
    juce::Image thumbSources[3][3];

    // Draw the red centre line on the linked thumb.
    bool centreMark = true;
};
