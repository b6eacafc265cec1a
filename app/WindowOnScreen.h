// Keeps a top-level window whole on a screen.
#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <vector>

// The window's bounds moved, and shrunk where needed, to lie wholly in the user area of the display that
// holds most of it, or of the main display (mainArea, an index into userAreas) when none holds any of it.
// The content (the window less its border) shrinks within the constrainer's limits and at its ratio, never
// below the minimum size; a window that is still too large then keeps its top-left corner in the area. A
// window that already lies wholly in that area is returned unchanged, as is any window when there are no
// displays.
juce::Rectangle<int> wholeOnScreen(juce::Rectangle<int> window,
                                   const std::vector<juce::Rectangle<int>>& userAreas, size_t mainArea,
                                   juce::BorderSize<int> border,
                                   const juce::ComponentBoundsConstrainer& limits);

// Moves (and shrinks) a window on the desktop as wholeOnScreen gives, with the desktop's displays, the
// window's content border and its constrainer (a window without one keeps its size).
void keepWholeOnScreen(juce::ResizableWindow& window);
