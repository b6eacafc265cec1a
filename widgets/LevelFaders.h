#pragma once

#include "SliderLookAndFeel2.h"
#include "SliderStereoGroup2.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// The panel's level faders: the shared thumb look filled from the embedded pictures, each fader's style
// and range, and a pair's layout fractions. The panel builds its faders with these, and so do the widget
// tests, so a test's fader is the panel's fader.
namespace levelfaders
{
// A pair's fractions: x of the right fader and width of each fader, of the pair's width; the thumb's
// width of the pair's width and its height of the pair's height.
constexpr float rightSliderX = 17.0f / 28.0f;
constexpr float sliderWidth = 11.0f / 28.0f;
constexpr float knobWidth = 11.0f / 28.0f;
constexpr float knobHeight = 33.0f / 328.0f;

// Fills the look's thumb table (normal and unlinked: the plain thumb; linked: the linked thumb; the 1x
// pictures at resolution 0, the 2x pictures at 1 and 2), then sizes the thumbs to 22 x 33.
void loadThumbs(OrvSliderLookAndFeel2& look);

// Vertical, without a text box, -60 to 0 dB in 0.5 dB steps, drawn by `look`, moved by the wheel, and
// not snapping to the pointer (a drag moves the value from where it was).
void setUp(juce::Slider& fader, juce::LookAndFeel& look);

// A pair over two faders set up as above, with the fractions above.
std::unique_ptr<SliderStereoGroup2> makePair(const juce::String& name, juce::Slider& left,
                                             juce::Slider& right, OrvSliderLookAndFeel2& look);
} // namespace levelfaders
