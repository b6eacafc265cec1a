#include "ORVBorderBoundsConstrainer.h"

void BorderBoundsConstrainer::checkBounds(juce::Rectangle<int>& bounds,
                                          const juce::Rectangle<int>& previousBounds,
                                          const juce::Rectangle<int>& limits, bool isStretchingTop,
                                          bool isStretchingLeft, bool isStretchingBottom,
                                          bool isStretchingRight)
{
    const auto proposedPosition = bounds.getPosition();

    auto inner = frameBorder.subtractedFrom(bounds);
    const int extra = juce::jmin(extraTopHeight, inner.getHeight());
    inner.removeFromTop(extra);

    juce::ComponentBoundsConstrainer::checkBounds(inner, previousBounds, limits, isStretchingTop,
                                                  isStretchingLeft, isStretchingBottom, isStretchingRight);

    // Whatever position the base class chose is dropped: only the size is constrained.
    bounds = {proposedPosition.x, proposedPosition.y, inner.getWidth() + frameBorder.getLeftAndRight(),
              inner.getHeight() + extraTopHeight + frameBorder.getTopAndBottom()};
}
