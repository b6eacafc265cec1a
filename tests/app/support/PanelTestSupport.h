// The shared fixture of the panel tests: every test gets a fresh simulated machine (JUCE main loop,
// virtual clock for the plug handler's pauses), its own HOME and XDG_CONFIG_HOME, and builds the real
// MainComponent against them.
#pragma once

#include "AboutWindow.h"
#include "MainComponent.h"
#include "PatchGridLoopbackDialog.h"
#include "Scratch.h"
#include "SettingsFile.h"
#include "SimControl.h"
#include "Wait.h"

#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace paneltest
{
namespace sim = platform::sim;

using pelktest::pumpUntil;

// The text values of the settings file as stored on disk (read afresh, not through a panel).
juce::String storedSetting(const juce::String& key, const juce::String& fallback = "<absent>");
// Writes values into the settings file before a panel reads it.
void storeSettings(const std::vector<std::pair<juce::String, juce::String>>& values);
juce::File settingsFile();

// The fifteen device-dependent widgets, in the order the panel switches them.
std::vector<juce::Component*> deviceWidgets(MainComponent& panel);

class PanelTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // The machine's set-up for this test; override to change the topology or coalescing.
    virtual sim::Config simConfig() const;

    // Builds the real panel (device ready is handled inside when the interface is plugged in). Panel
    // may be a subclass of MainComponent with the same constructor.
    template <typename Panel = MainComponent> Panel& makePanel()
    {
        auto made = std::make_unique<Panel>();
        auto& ref = *made;
        panel = std::move(made);
        return ref;
    }

    // Builds the panel and runs the message loop until the restore that device ready left is done.
    MainComponent& makePanelAndSettle();

    // Destroys the panel (on the message thread, as the main window does).
    void destroyPanel() { panel.reset(); }

    // Command bytes the interface applied since the test began (or since mark).
    static std::vector<int> commands();
    static std::vector<int> commandsSince(size_t mark);
    static size_t commandMark() { return commands().size(); }

    static AudioObjectID inputDevice() { return sim::interfaceAudioDevice(sim::Direction::input); }
    static AudioObjectID outputDevice() { return sim::interfaceAudioDevice(sim::Direction::output); }

    // Runs the message loop until the simulator's deliveries have run and so has what they posted.
    static void settle();
    // settle(), then until the panel (if there is one) has no restore waiting and its read-back timer has
    // stopped, then settle() again: nothing the panel queued or timed is left to come.
    void settlePanel();
    // The interface's plug and unplug, delivered through the main loop, then settle().
    static void plugAndSettle();
    static void unplugAndSettle();

    std::unique_ptr<MainComponent> panel;
    juce::TemporaryFile home;
    // HOME and XDG_CONFIG_HOME point into home for the test and get their values back after it.
    pelktest::ScopedEnvironment scopedEnvironment;
};
} // namespace paneltest
