#pragma once

#include "ContentBorderConstrainer.h"
#include "QuitSignals.h"
#include "SingleInstance.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <memory>
#include <thread>

class MainComponent;

// The program: one instance per user, the main window with the panel inside, the command-line switches,
// a later launch's command line, and the ways the program ends.
class PelkVODApplication : public juce::JUCEApplication
{
public:
    // The main window: a JUCE-drawn title bar (so the corner resizer and the maximise button go through
    // the constrainer), the panel as content and as the menu-bar model.
    class MainWindow : public juce::DocumentWindow
    {
    public:
        static constexpr int menuBarHeight = 24;

        explicit MainWindow(const juce::String& name);
        ~MainWindow() override;

        void closeButtonPressed() override;
        // Zooms to the constrainer's largest size at the same top-left corner, and back. The framework's
        // full screen would ignore the ratio and the limits.
        void maximiseButtonPressed() override;

        MainComponent* getPanel() const;
        // The panel's menus in the window, drawn with the panel's menu-bar look.
        void installMenuBar();
        void installConstrainer();
        // Restores a stored window state; a full-screen state opens zoomed instead. False when the text
        // cannot be applied.
        bool restoreState(const juce::String& state);
        void centreContent(int width, int height);
        bool isZoomed() const;

    private:
        void zoom();

        std::unique_ptr<ContentBorderConstrainer> constrainer;
        juce::Rectangle<int> boundsBeforeZoom;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(MainWindow)
    };

    PelkVODApplication();
    ~PelkVODApplication() override;

    const juce::String getApplicationName() override { return "Pelk VOD Panel"; }
    const juce::String getApplicationVersion() override { return "1.5.0.0"; }
    bool moreThanOneInstanceAllowed() override;
    void initialise(const juce::String& commandLine) override;
    void shutdown() override;
    void anotherInstanceStarted(const juce::String& commandLine) override;
    void systemRequestedQuit() override;

    MainWindow* getMainWindow() const { return mainWindow.get(); }

private:
    void requestStop();
    void bringForward();

    std::unique_ptr<MainWindow> mainWindow;
    std::unique_ptr<pelk::program::SingleInstance> instance;
    std::unique_ptr<pelk::program::QuitSignals> quitSignals;
    // Scans the system fonts while the window and the pictures are prepared; joined before the panel,
    // whose menu bar is the first to measure text.
    std::thread fontScan;
    bool simulatorStarted = false;
};
