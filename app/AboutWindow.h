#pragma once

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>

// The content of the panel's about dialog: the about picture with the version text written into it, an
// invisible button over the close button the picture shows, and an invisible link over the web address
// the picture shows. The box takes the picture's size, 534 x 212, and has a fixed layout.
//
// The close area ends the modal state of the first DialogWindow above the box; in a box that is not
// inside a dialog window it does nothing. The link opens the maker's product page in the default browser.
class AboutWindow : public juce::Component, public juce::Button::Listener
{
public:
    explicit AboutWindow(const juce::String& text);
    ~AboutWindow() override;

    void paint(juce::Graphics& g) override;
    void resized() override;
    void buttonClicked(juce::Button* button) override;

    // The address the product link opens.
    static const char* const productPageAddress;

    juce::String versionText;
    juce::Point<int> textPosition;
    juce::Image backgroundImage;
    std::unique_ptr<juce::ImageButton> closeButton;
    std::unique_ptr<juce::HyperlinkButton> productLink;

private:
    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(AboutWindow)
};
