#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

// Style of an in-window menu bar: a light grey bar with black, centred titles and no highlight for
// hovered or open titles. Popup colours are left to the owner.
class PopupMenuLookandFeel : public juce::LookAndFeel_V4
{
public:
    PopupMenuLookandFeel() = default;
    ~PopupMenuLookandFeel() override = default;

    void drawMenuBarBackground(juce::Graphics& g, int width, int height, bool isMouseOverBar,
                               juce::MenuBarComponent& bar) override;

    int getMenuBarItemWidth(juce::MenuBarComponent& bar, int itemIndex,
                            const juce::String& itemText) override;

    void drawMenuBarItem(juce::Graphics& g, int width, int height, int itemIndex,
                         const juce::String& itemText, bool isMouseOverItem, bool isMenuOpen,
                         bool isMouseOverBar, juce::MenuBarComponent& bar) override;
};
