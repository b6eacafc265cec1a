#pragma once

#include "ORVBorderBoundsConstrainer.h"

// A border-aware constrainer whose frame is the window's own content border (a JUCE-drawn title bar, the
// window edge and a menu bar), read each time the constrainer is consulted: the edge changes with the
// resizer style and in full screen, and a menu bar may be added after the constrainer is installed.
// The constrainer owns frameBorder: it is set on every use, so its owner leaves it alone.
// The window must outlive the constrainer's use; it is not owned.
class ContentBorderConstrainer : public BorderBoundsConstrainer
{
public:
    explicit ContentBorderConstrainer(juce::ResizableWindow& windowToWatch) : window(windowToWatch) {}

    void checkBounds(juce::Rectangle<int>& bounds, const juce::Rectangle<int>& previousBounds,
                     const juce::Rectangle<int>& limits, bool isStretchingTop, bool isStretchingLeft,
                     bool isStretchingBottom, bool isStretchingRight) override;

    // The window's bounds for a content area of the given size, its top-left corner kept.
    juce::Rectangle<int> boundsForContentSize(int width, int height);

private:
    juce::ResizableWindow& window;
};
