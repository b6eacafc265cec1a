#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Keeps a top-level window within size limits and at a fixed aspect ratio that apply to the area inside
// the window's frame. The framework hands the constrainer the outer rectangle, frame included; the frame
// is taken off before the base class applies its rules and put back afterwards. The proposed top-left
// corner is always kept, even where the base class would move the window to hold the ratio.
class BorderBoundsConstrainer : public juce::ComponentBoundsConstrainer
{
public:
    BorderBoundsConstrainer() = default;
    ~BorderBoundsConstrainer() override = default;

    void checkBounds(juce::Rectangle<int>& bounds, const juce::Rectangle<int>& previousBounds,
                     const juce::Rectangle<int>& limits, bool isStretchingTop, bool isStretchingLeft,
                     bool isStretchingBottom, bool isStretchingRight) override;

    void resizeStart() override {}

    // Thickness of the window frame on each side; set by the owner.
    juce::BorderSize<int> frameBorder;

    // A further height at the top that is left out of the constrained area.
    int extraTopHeight = 0;

    // True when an inner size lies within the limits and holds the fixed ratio to the rounding of one side
    // from the other: such a size comes back unchanged.
    bool holdsRatioWithinLimits(int width, int height) const;
};
