#include "PanelTestSupport.h"

#include "IgnoreXErrors.h"

#include <cstdlib>

namespace paneltest
{
juce::File settingsFile()
{
    const auto options = makeSettingsOptions();
    return options.getDefaultFile();
}

juce::String storedSetting(const juce::String& key, const juce::String& fallback)
{
    juce::PropertiesFile file(makeSettingsOptions());
    return file.getValue(key, fallback);
}

void storeSettings(const std::vector<std::pair<juce::String, juce::String>>& values)
{
    juce::PropertiesFile file(makeSettingsOptions());
    for (const auto& [key, value] : values)
        file.setValue(key, value);
    ASSERT_TRUE(file.save());
}

std::vector<juce::Component*> deviceWidgets(MainComponent& p)
{
    return {p.buttonMuteOut.get(),
            p.buttonMuteIn.get(),
            p.buttonTriggerMonitoringHP.get(),
            p.buttonTriggerMonitoringRecord.get(),
            p.sliderVolMon.get(),
            p.labelInL.get(),
            p.labelInR.get(),
            p.labelOutL.get(),
            p.labelOutR.get(),
            p.sliderInGroup.get(),
            p.sliderOutGroup.get(),
            p.levelMeter3.get(),
            p.levelMeter4.get(),
            p.levelMeter1.get(),
            p.levelMeter2.get()};
}

void PanelTest::SetUp()
{
    ignoreXErrors();
    home.getFile().createDirectory();
    const auto config = home.getFile().getChildFile(".config");
    config.createDirectory();
    scopedEnvironment.set("HOME", home.getFile().getFullPathName().toStdString());
    scopedEnvironment.set("XDG_CONFIG_HOME", config.getFullPathName().toStdString());
    sim::reset(simConfig());
}

void PanelTest::TearDown()
{
    panel.reset();
    // Whatever the panel left in the queue runs against a panel that is gone.
    settle();
    const auto violations = sim::violations();
    EXPECT_TRUE(violations.empty()) << (violations.empty() ? std::string() : violations.front());
    home.getFile().deleteRecursively();
}

sim::Config PanelTest::simConfig() const
{
    sim::Config config;
    config.clock = sim::Clock::virtualTime;
    config.mainLoop = sim::MainLoop::juce;
    return config;
}

MainComponent& PanelTest::makePanelAndSettle()
{
    auto& made = makePanel();
    EXPECT_TRUE(pumpUntil([&] { return !made.hasPendingRestore(); }));
    EXPECT_TRUE(pumpUntil([&] { return !made.isTimerRunning(MainComponent::readBackTimerId); }));
    return made;
}

std::vector<int> PanelTest::commands()
{
    return sim::interfaceState().commands;
}

std::vector<int> PanelTest::commandsSince(size_t mark)
{
    const auto all = commands();
    return {all.begin() + (std::ptrdiff_t) std::min(mark, all.size()), all.end()};
}

void PanelTest::settle()
{
    // A delivery may queue another; the loop is settled when a drain leaves none waiting.
    for (int round = 0; round < 100; ++round)
    {
        EXPECT_TRUE(pumpUntil([] { return sim::pendingMain() == 0; }));
        EXPECT_TRUE(pelktest::drainMessageLoop());
        if (sim::pendingMain() == 0)
            return;
    }
    ADD_FAILURE() << "the simulator's deliveries never stopped";
}

void PanelTest::settlePanel()
{
    settle();
    if (panel == nullptr)
        return;
    auto& p = *panel;
    EXPECT_TRUE(pumpUntil(
        [&] { return !p.hasPendingRestore() && !p.isTimerRunning(MainComponent::readBackTimerId); }));
    settle();
}

void PanelTest::plugAndSettle()
{
    sim::plug();
    settle();
}

void PanelTest::unplugAndSettle()
{
    sim::unplug();
    settle();
}
} // namespace paneltest
