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

    const auto proposedSize = inner;
    juce::ComponentBoundsConstrainer::checkBounds(inner, previousBounds, limits, isStretchingTop,
                                                  isStretchingLeft, isStretchingBottom, isStretchingRight);

    // A size within the limits that already holds the ratio, as either side rounds from the other, is kept.
    // The base derives one side from the other by a choice that depends on the previous bounds, so a size
    // it gave once (316 x 486 from the height) could come back a pixel taller (316 x 487 from the width)
    // each time the window is sized to it again, as on a restore.
    if (holdsRatioWithinLimits(proposedSize.getWidth(), proposedSize.getHeight()))
        inner.setSize(proposedSize.getWidth(), proposedSize.getHeight());

    // Whatever position the base class chose is dropped: only the size is constrained.
    bounds = {proposedPosition.x, proposedPosition.y, inner.getWidth() + frameBorder.getLeftAndRight(),
              inner.getHeight() + extraTopHeight + frameBorder.getTopAndBottom()};
}

bool BorderBoundsConstrainer::holdsRatioWithinLimits(int width, int height) const
{
    const double ratio = getFixedAspectRatio();
    if (ratio <= 0.0 || width < getMinimumWidth() || width > getMaximumWidth() ||
        height < getMinimumHeight() || height > getMaximumHeight())
        return false;
    return width == juce::roundToInt(height * ratio) || height == juce::roundToInt(width / ratio);
}
