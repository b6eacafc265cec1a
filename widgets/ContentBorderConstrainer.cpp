#include "ContentBorderConstrainer.h"

void ContentBorderConstrainer::checkBounds(juce::Rectangle<int>& bounds,
                                           const juce::Rectangle<int>& previousBounds,
                                           const juce::Rectangle<int>& limits, bool isStretchingTop,
                                           bool isStretchingLeft, bool isStretchingBottom,
                                           bool isStretchingRight)
{
    frameBorder = window.getContentComponentBorder();
    BorderBoundsConstrainer::checkBounds(bounds, previousBounds, limits, isStretchingTop, isStretchingLeft,
                                         isStretchingBottom, isStretchingRight);
}

juce::Rectangle<int> ContentBorderConstrainer::boundsForContentSize(int width, int height)
{
    frameBorder = window.getContentComponentBorder();
    return {window.getX(), window.getY(), width + frameBorder.getLeftAndRight(),
            height + extraTopHeight + frameBorder.getTopAndBottom()};
}
