#include "PopupMenuLookAndFeel.h"

void PopupMenuLookandFeel::drawMenuBarBackground(juce::Graphics& g, int width, int height, bool,
                                                 juce::MenuBarComponent&)
{
    g.setColour(juce::Colours::lightgrey);
    g.fillRect(0, 0, width, height);
}

int PopupMenuLookandFeel::getMenuBarItemWidth(juce::MenuBarComponent& bar, int itemIndex,
                                              const juce::String& itemText)
{
    return getMenuBarFont(bar, itemIndex, itemText).getStringWidth(itemText) + 10;
}

void PopupMenuLookandFeel::drawMenuBarItem(juce::Graphics& g, int width, int height, int,
                                           const juce::String& itemText, bool, bool, bool,
                                           juce::MenuBarComponent&)
{
    g.setColour(juce::Colours::black);
    g.drawText(itemText, juce::Rectangle<float>(0.0f, 0.0f, (float) width, (float) height),
               juce::Justification::centred, false);
}
