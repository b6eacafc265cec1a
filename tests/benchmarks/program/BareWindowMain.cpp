// The comparison program for the program benchmarks: a bare JUCE DocumentWindow with the main window's
// title bar, buttons, resizer and size (a 316 x 486 content area) and nothing inside.

#include <juce_gui_basics/juce_gui_basics.h>

class BareWindowApplication : public juce::JUCEApplication
{
public:
    const juce::String getApplicationName() override { return "Bare Window"; }
    const juce::String getApplicationVersion() override { return "1.0"; }
    bool moreThanOneInstanceAllowed() override { return true; }

    void initialise(const juce::String&) override
    {
        window = std::make_unique<Window>();
        window->setUsingNativeTitleBar(false);
        window->setResizable(true, true);
        auto* content = new juce::Component();
        content->setSize(316, 486);
        window->setContentOwned(content, true);
        window->centreWithSize(window->getWidth(), window->getHeight());
        window->setVisible(true);
    }

    void shutdown() override { window.reset(); }

private:
    struct Window : juce::DocumentWindow
    {
        Window()
            : juce::DocumentWindow("Bare Window", juce::Colours::lightgrey, juce::DocumentWindow::allButtons)
        {
        }
        void closeButtonPressed() override { juce::JUCEApplication::quit(); }
    };

    std::unique_ptr<Window> window;
};

START_JUCE_APPLICATION(BareWindowApplication)
