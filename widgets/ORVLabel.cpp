#include "ORVLabel.h"

juce::Font ORVdBLabelLookAndFeel::getLabelFont(juce::Label& label)
{
    // Serialises the fit with the message thread; a framework thread that is being stopped gives up
    // and gets the last fitted font.
    const juce::MessageManagerLock lock(juce::Thread::getCurrentThread());

    if (!lock.lockWasGained())
        return labelFont;

    constexpr int largestHeight = 20;
    // A label narrower than the text at any height (one of width 0 before the first layout, say)
    // would never fit: the search ends at height 1.
    constexpr int smallestHeight = 1;

    int height = largestHeight;
    labelFont.setHeight((float) height);
    float textWidth = labelFont.getStringWidthFloat(referenceText);
    const float labelWidth = (float) label.getWidth();

    while (textWidth > labelWidth && height > smallestHeight)
    {
        --height;
        labelFont.setHeight((float) height);
        textWidth = labelFont.getStringWidthFloat(referenceText);
    }

    return juce::Font((float) height);
}
