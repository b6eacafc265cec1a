#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Drawing style of the dB read-outs: the font height is the largest whole number from 20 down at which
// the reference text "-63.5 dB" fits the label's width, so that all read-outs share one text size that
// follows the window's size.
class ORVdBLabelLookAndFeel : public juce::LookAndFeel_V4
{
public:
    ORVdBLabelLookAndFeel() = default;
    ~ORVdBLabelLookAndFeel() override = default;

    juce::Font getLabelFont(juce::Label& label) override;

    // Working font of the fit; keeps the height of the last fit.
    juce::Font labelFont{8.0f};
    // The text that must fit the label's width.
    juce::String referenceText{"-63.5 dB"};
};
