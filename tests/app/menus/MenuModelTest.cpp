// The four menus as the panel builds them, and the commands that do not involve the loopback dialog or
// the factory settings.

#include "MenuTestSupport.h"

#include <ostream>

#include <cstdlib>

namespace
{
using namespace menutest;
using Lines = std::vector<std::string>;

struct MenusCase
{
    const char* name;
    bool plugged;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const MenusCase& c, std::ostream* os)
{
    *os << c.name;
}

class MenuModel : public MenuTest, public ::testing::WithParamInterface<MenusCase>
{
};

TEST_P(MenuModel, EveryItemWithItsIdTextEnablingAndTick)
{
    if (GetParam().plugged)
        sim::plug();
    auto& p = makePanelAndSettle();

    EXPECT_EQ(p.getMenuBarNames(), juce::StringArray({"File", "Config", "PatchGRID", "Help"}));

    // A fresh panel without a window: nothing is on top, no loopback choice is selected yet, and a rate is
    // ticked only while the interface's devices report 48000 Hz (the simulator's default).
    const std::string rateTick = GetParam().plugged ? "x" : "-";
    const Lines expected[4] = {
        {"8192 'Always on top' on -", "---", "8193 'macOS Audio Settings' on -", "---", "8194 'Close' on -"},
        {"8195 'Factory Defaults' on -", "---", "> 'Sample rate' on", "  8448 '44100  Hz' on -",
         "  8449 '48000  Hz' on " + rateTick, "  8450 '88200  Hz' on -", "  8451 '96000  Hz' on -",
         "  8452 '176400 Hz' on -", "  8453 '192000 Hz' on -"},
        {"8197 'Loopback' on -", "9218 'Reset' on -"},
        {"8198 'About' on -"}};
    for (int index = 0; index < 4; ++index)
        EXPECT_EQ(describe(p.getMenuForIndex(index, p.getMenuBarNames()[index])), expected[index]) << index;
}

INSTANTIATE_TEST_SUITE_P(Interface, MenuModel,
                         ::testing::Values(MenusCase{"Present", true}, MenusCase{"Absent", false}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MenuTest, AnyIndexSetsThePopupColoursAndOnlyZeroToThreeHaveItems)
{
    auto& p = makePanelAndSettle();
    for (const int index : {4, -1, 0, 3})
    {
        p.popupMenuLookAndFeel->setColour(juce::PopupMenu::textColourId, juce::Colours::red);
        p.popupMenuLookAndFeel->setColour(juce::PopupMenu::backgroundColourId, juce::Colours::blue);

        const auto menu = p.getMenuForIndex(index, "ignored");

        EXPECT_EQ(menu.getNumItems() == 0, index < 0 || index > 3) << index;
        EXPECT_EQ(p.popupMenuLookAndFeel->findColour(juce::PopupMenu::textColourId),
                  juce::Colour(0xff000000));
        EXPECT_EQ(p.popupMenuLookAndFeel->findColour(juce::PopupMenu::backgroundColourId),
                  juce::Colour(0xffd3d3d3));
    }
}

TEST_F(MenuTest, LoopbackAndResetAreOfferedOnlyWhileThePanelIsEnabled)
{
    auto& p = makePanelAndSettle();
    showInWindow();

    window->setEnabled(false); // a disabled parent disables the panel too
    EXPECT_EQ(describe(p.getMenuForIndex(2, "PatchGRID")),
              Lines({"8197 'Loopback' off -", "9218 'Reset' off -"}));
    // The other menus do not depend on it.
    EXPECT_EQ(describe(p.getMenuForIndex(3, "Help")), Lines({"8198 'About' on -"}));

    window->setEnabled(true);
    EXPECT_EQ(describe(p.getMenuForIndex(2, "PatchGRID")),
              Lines({"8197 'Loopback' on -", "9218 'Reset' on -"}));
}

struct RateTickCase
{
    const char* name;
    double deviceRate;  // 0: the interface is absent
    const char* ticked; // nullptr: none
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const RateTickCase& c, std::ostream* os)
{
    *os << c.name;
}

class RateTick : public MenuTest, public ::testing::WithParamInterface<RateTickCase>
{
};

TEST_P(RateTick, TicksTheItemThatEqualsTheRateReadExactly)
{
    const auto& c = GetParam();
    if (c.deviceRate > 0)
    {
        sim::plug();
        for (const auto direction : {sim::Direction::input, sim::Direction::output})
            sim::setRate(sim::interfaceAudioDevice(direction), c.deviceRate);
    }
    auto& p = makePanelAndSettle();

    const auto ticked = tickedItems(p.getMenuForIndex(1, "Config"));

    EXPECT_EQ(p.currentSampleRate, c.deviceRate);
    EXPECT_EQ(ticked, c.ticked != nullptr ? Lines{c.ticked} : Lines{});
}

INSTANTIATE_TEST_SUITE_P(Rates, RateTick,
                         ::testing::Values(RateTickCase{"R48000", 48000.0, "48000  Hz"},
                                           RateTickCase{"R192000", 192000.0, "192000 Hz"},
                                           RateTickCase{"NoInterface", 0.0, nullptr},
                                           RateTickCase{"Unlisted32000", 32000.0, nullptr},
                                           RateTickCase{"NearlyListed", 44100.5, nullptr}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

class RateCommand : public MenuTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(RateCommand, ReachesBothAudioDevicesAndTicksAtTheNextBuild)
{
    const double rates[] = {44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0};
    const int row = GetParam();
    sim::plug();
    for (const auto direction : {sim::Direction::input, sim::Direction::output})
        sim::setRate(sim::interfaceAudioDevice(direction), row == 1 ? 44100.0 : 48000.0);
    auto& p = makePanelAndSettle();
    const auto commandsBefore = commands();

    p.menuItemSelected(8448 + row, 1);

    EXPECT_EQ(sim::rate(inputDevice()), rates[row]);
    EXPECT_EQ(sim::rate(outputDevice()), rates[row]);
    EXPECT_EQ(sim::physicalFormat(inputDevice(), sim::Direction::input).mSampleRate, rates[row]);
    EXPECT_EQ(sim::physicalFormat(outputDevice(), sim::Direction::output).mSampleRate, rates[row]);
    EXPECT_EQ(commands(), commandsBefore); // nothing goes to the interface itself
    const auto ticked = tickedItems(p.getMenuForIndex(1, "Config"));
    ASSERT_EQ(ticked.size(), 1u);
    EXPECT_EQ(juce::String(ticked[0]).getDoubleValue(), rates[row]);
}

INSTANTIATE_TEST_SUITE_P(SixRates, RateCommand, ::testing::Range(0, 6));

TEST_F(MenuTest, ARateChosenWithoutTheInterfaceChangesNothing)
{
    auto& p = makePanelAndSettle();
    p.menuItemSelected(8453, 1);
    EXPECT_TRUE(tickedItems(p.getMenuForIndex(1, "Config")).empty());
    for (const auto& line : sim::journal())
        EXPECT_FALSE(juce::String(line).startsWith("audio-set")) << line;
}

TEST_F(MenuTest, EveryIdSendsTheChangeMessageAndAsksForARebuildUnknownOnesNothingElse)
{
    sim::plug();
    storeSettings({{"loopback", "1"}});
    auto& p = makePanelAndSettle();
    NotificationCounter counter;
    p.addChangeListener(&counter);
    p.addListener(&counter);
    const auto commandsBefore = commands();
    const auto rateBefore = sim::rate(outputDevice());

    const int unknown[] = {0, -1, 8196, 8199, 8447, 8454, 9217, 9219};
    for (const int id : unknown)
    {
        const auto changes = counter.changes;
        const auto rebuilds = counter.rebuilds;
        p.menuItemSelected(id, 0);
        settlePanel();
        EXPECT_EQ(counter.changes, changes + 1) << id;
        EXPECT_EQ(counter.rebuilds, rebuilds + 1) << id;
    }

    EXPECT_EQ(commands(), commandsBefore);
    EXPECT_EQ(sim::rate(outputDevice()), rateBefore);
    EXPECT_EQ(p.loopbackState, 1);
    EXPECT_EQ(p.loopbackDialog->getLoopbackState(), -1);
    EXPECT_FALSE(p.loopbackDialogWindow->isVisible());
    p.removeChangeListener(&counter);
    p.removeListener(&counter);
}

TEST_F(MenuTest, AnActionMessageOtherThanTheLoopbackUpdateOnlyRebuildsTheMenus)
{
    sim::plug();
    storeSettings({{"loopback", "1"}});
    auto& p = makePanelAndSettle();
    p.loopbackDialog->loopbackOffButton.setToggleState(true, juce::dontSendNotification);
    NotificationCounter counter;
    p.addListener(&counter);
    const auto commandsBefore = commands();

    for (const char* message : {"", "x", "loopback_update ", "Loopback_update", "loopback"})
        p.actionListenerCallback(message);
    settlePanel();

    EXPECT_GE(counter.rebuilds, 1);
    EXPECT_EQ(commands(), commandsBefore);
    EXPECT_EQ(p.loopbackState, 1);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("loopback"), "1");
    p.removeListener(&counter);
}

TEST_F(MenuTest, AlwaysOnTopTogglesTheMainWindowInPlaceTheTickAndTheDialogsFollow)
{
    auto& p = makePanelAndSettle();

    // Without a window the command does nothing and nothing is ticked.
    p.menuItemSelected(8192, 0);
    EXPECT_EQ(tickedItems(p.getMenuForIndex(0, "File")), Lines{});

    auto& w = showInWindow(300, 120);
    const auto bounds = w.getBounds();
    const auto panelOnScreen = p.getScreenBounds();
    p.menuItemSelected(8197, 2); // the loopback window open beside the panel, the About box hidden
    settlePanel();
    auto& loopback = *p.loopbackDialogWindow;
    const auto loopbackBounds = loopback.getBounds();

    for (const bool expectOnTop : {true, false, true, false})
    {
        p.menuItemSelected(8192, 0);
        settlePanel();
        EXPECT_EQ(w.isAlwaysOnTop(), expectOnTop);
        EXPECT_EQ(tickedItems(p.getMenuForIndex(0, "File")), expectOnTop ? Lines{"Always on top"} : Lines{});
        // The window is recreated on each toggle; it stays where it was.
        EXPECT_EQ(w.getBounds(), bounds);
        EXPECT_EQ(p.getScreenBounds(), panelOnScreen);
        EXPECT_TRUE(w.isOnDesktop());
        EXPECT_TRUE(w.isVisible());
        // Both dialogs take the main window's state; the open one stays open in its place.
        EXPECT_EQ(loopback.isAlwaysOnTop(), expectOnTop);
        EXPECT_TRUE(loopback.isOnDesktop());
        EXPECT_TRUE(loopback.isVisible());
        EXPECT_EQ(loopback.getBounds(), loopbackBounds);
        EXPECT_EQ(p.aboutDialogWindow->isAlwaysOnTop(), expectOnTop);
        EXPECT_FALSE(p.aboutDialogWindow->isVisible());
    }
}

struct AudioSettingsCase
{
    const char* name;
    const char* command; // "<recorder>" is replaced by a recording stand-in script
    const char* line;
    bool recorded;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const AudioSettingsCase& c, std::ostream* os)
{
    *os << c.name;
}

class AudioSettingsCommand : public MenuTest, public ::testing::WithParamInterface<AudioSettingsCase>
{
};

TEST_P(AudioSettingsCommand, StartsTheToolAndReportsTheOutcome)
{
    const auto& c = GetParam();
    auto& p = makePanelAndSettle();
    const auto record = home.getFile().getChildFile("tool-record.txt");
    const auto script = home.getFile().getChildFile("tool");
    script.replaceWithText("#!/bin/sh\necho \"$# $1\" > '" + record.getFullPathName() + "'\n", false, false,
                           "\n");
    script.setExecutePermission(true);
    const auto command = juce::String(c.command).replace("<recorder>", script.getFullPathName());
    ::setenv("PELK_AUDIO_SETTINGS_COMMAND", command.toRawUTF8(), 1);

    StderrCapture capture;
    p.menuItemSelected(8193, 0);
    capture.restore();
    ::unsetenv("PELK_AUDIO_SETTINGS_COMMAND");

    EXPECT_EQ(capture.text(), c.line);
    if (c.recorded)
    {
        EXPECT_TRUE(pumpUntil([&] { return record.loadFileAsString().isNotEmpty(); }));
        EXPECT_EQ(record.loadFileAsString(), "1 audio settings\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Commands, AudioSettingsCommand,
    ::testing::Values(
        AudioSettingsCase{"StandIn", "<recorder> \"audio settings\"", "Call Audio MIDI Setup: OK\n", true},
        AudioSettingsCase{"ExitsAtOnce", "true", "Call Audio MIDI Setup: OK\n", false},
        AudioSettingsCase{"Missing", "/nonexistent/tool", "Call Audio MIDI Setup: not OK\n", false},
        AudioSettingsCase{"Directory", "/", "Call Audio MIDI Setup: not OK\n", false},
        AudioSettingsCase{"Empty", "", "Call Audio MIDI Setup: not OK\n", false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });
} // namespace
