#include "AboutWindow.h"

#include "BinaryData.h"

const char* const AboutWindow::productPageAddress = "https://www.orvalis.example/";

AboutWindow::AboutWindow(const juce::String& text) : versionText(text), textPosition(275, 186)
{
    backgroundImage =
        juce::ImageCache::getFromMemory(ORVBIN::temp_binary_data_17, ORVBIN::temp_binary_data_17Size);
    setSize(backgroundImage.getWidth(), backgroundImage.getHeight());

    // Fully transparent images and overlays: nothing changes under the pointer, the picture's own close
    // button is what the user sees. An alpha threshold of 0 lets the whole rectangle take clicks.
    closeButton = std::make_unique<juce::ImageButton>(juce::String());
    const juce::Image normal(juce::Image::ARGB, 41, 23, true);
    const juce::Image overAndDown(juce::Image::ARGB, 41, 23, true);
    closeButton->setImages(true, true, true, normal, 1.0f, juce::Colours::transparentWhite, overAndDown, 1.0f,
                           juce::Colours::transparentWhite, overAndDown, 1.0f,
                           juce::Colours::transparentBlack, 0.0f);
    closeButton->setTopLeftPosition(109, 166);
    closeButton->addListener(this);
    addAndMakeVisible(*closeButton);

    // Without text the link draws nothing; the picture shows the address under it.
    productLink = std::make_unique<juce::HyperlinkButton>(juce::String(), juce::URL(productPageAddress));
    productLink->setSize(138, 20);
    productLink->setTopLeftPosition(59, 140);
    addAndMakeVisible(*productLink);
}

AboutWindow::~AboutWindow()
{
    closeButton->removeListener(this);
    closeButton.reset();
    productLink.reset();
}

void AboutWindow::paint(juce::Graphics& g)
{
    // The frame shows only when the picture is missing: the picture is opaque and as large as the box.
    g.setColour(juce::Colours::grey);
    g.drawRect(juce::Rectangle<float>(0.0f, 0.0f, (float) getWidth(), (float) getHeight()), 1.0f);

    if (!backgroundImage.isNull())
        g.drawImageAt(backgroundImage, 0, 0);

    g.drawFittedText(versionText, textPosition.x, textPosition.y, 200, 20, juce::Justification::left, 1,
                     0.0f);
}

void AboutWindow::resized() {}

void AboutWindow::buttonClicked(juce::Button* button)
{
    if (button != closeButton.get())
        return;

    if (auto* dialog = findParentComponentOfClass<juce::DialogWindow>())
        dialog->exitModalState(0);
}
