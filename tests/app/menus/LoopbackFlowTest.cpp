// The loopback choice between the dialog, the panel, the settings and the interface: "Loopback", "Reset",
// clicks in the dialog, and refused commands.

#include "MenuTestSupport.h"

#include <ostream>

namespace
{
using namespace menutest;
using Bytes = std::vector<int>;

constexpr int loopbackId = 8197;
constexpr int resetId = 9218;

bool loopbackTicked(MainComponent& p)
{
    return tickedItems(p.getMenuForIndex(2, "PatchGRID")) == std::vector<std::string>{"Loopback"};
}

struct FlowCase
{
    const char* name;
    int stored;
    bool plugged;
    bool resetFirst; // "Reset" before the first opening, else after the second
    // After ("Reset" if first and) the first opening:
    Bytes bytesFirst;
    int stateFirst;
    bool tickFirst;
    // After the second opening (and "Reset" if after):
    Bytes bytesEnd;
    int stateEnd;
    bool tickEnd;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const FlowCase& c, std::ostream* os)
{
    *os << c.name;
}

class LoopbackFlow : public MenuTest, public ::testing::WithParamInterface<FlowCase>
{
};

TEST_P(LoopbackFlow, CommandsStateStoredValueAndTick)
{
    const auto& c = GetParam();
    storeSettings({{"loopback", juce::String(c.stored)}});
    if (c.plugged)
        sim::plug();
    auto& p = makePanelAndSettle();
    showInWindow();
    const auto mark = commandMark();

    // Right after the start nothing is selected, so nothing is ticked whatever is stored.
    EXPECT_FALSE(loopbackTicked(p));
    EXPECT_EQ(p.loopbackState, c.stored);

    if (c.resetFirst)
    {
        p.menuItemSelected(resetId, 2);
        settle();
        EXPECT_FALSE(p.loopbackDialogWindow->isVisible()); // "Reset" does not show the dialog
    }
    p.menuItemSelected(loopbackId, 2);
    settle();

    EXPECT_TRUE(p.loopbackDialogWindow->isVisible());
    EXPECT_EQ(commandsSince(mark), c.bytesFirst);
    EXPECT_EQ(p.loopbackState, c.stateFirst);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("loopback"), juce::String(c.stateFirst));
    EXPECT_EQ(loopbackTicked(p), c.tickFirst);

    const auto second = commandMark();
    p.menuItemSelected(loopbackId, 2);
    settle();
    EXPECT_EQ(commandsSince(second), Bytes{}) << "a second opening sends nothing";
    if (!c.resetFirst)
    {
        p.menuItemSelected(resetId, 2);
        settle();
    }

    EXPECT_EQ(commandsSince(second), c.bytesEnd);
    EXPECT_EQ(p.loopbackState, c.stateEnd);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("loopback"), juce::String(c.stateEnd));
    EXPECT_EQ(loopbackTicked(p), c.tickEnd);
    if (c.plugged)
    {
        EXPECT_EQ(sim::interfaceState().loopback, c.stateEnd == 1 ? sim::Tri::on : sim::Tri::off);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LoopbackFlow,
    ::testing::Values(
        // stored, plugged, reset first | first: bytes, state, tick | end: bytes, state, tick
        FlowCase{"On_Present_ResetAfter", 1, true, false, {9}, 1, true, {8}, 0, false},
        FlowCase{"Off_Present_ResetAfter", 0, true, false, {8}, 0, false, {}, 0, false},
        FlowCase{"On_Present_ResetFirst", 1, true, true, {8}, 0, false, {}, 0, false},
        FlowCase{"Off_Present_ResetFirst", 0, true, true, {8}, 0, false, {}, 0, false},
        // Without the interface every command is refused: the state and the stored value stay, while
        // the dialog (and so the tick) shows the choice.
        FlowCase{"On_Absent_ResetAfter", 1, false, false, {}, 1, true, {}, 1, false},
        FlowCase{"Off_Absent_ResetAfter", 0, false, false, {}, 0, false, {}, 0, false},
        FlowCase{"On_Absent_ResetFirst", 1, false, true, {}, 1, true, {}, 1, true},
        FlowCase{"Off_Absent_ResetFirst", 0, false, true, {}, 0, false, {}, 0, false}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MenuTest, AChoiceInTheDialogWithoutTheInterfaceKeepsTheStateButShowsTheTick)
{
    storeSettings({{"loopback", "0"}});
    auto& p = makePanelAndSettle();
    p.menuItemSelected(loopbackId, 2);
    settle();

    p.loopbackDialog->loopbackOnButton.triggerClick();
    settle();

    EXPECT_EQ(p.loopbackDialog->getLoopbackState(), 1);
    EXPECT_EQ(p.loopbackState, 0);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("loopback"), "0");
    EXPECT_TRUE(loopbackTicked(p));
    EXPECT_TRUE(commands().empty());
}

class RefusedLoopback : public MenuTest, public ::testing::WithParamInterface<int>
{
};

TEST_P(RefusedLoopback, KeepsStateAndStoredValueAndTheNextOpeningSendsAgain)
{
    storeSettings({{"loopback", "0"}});
    sim::plug();
    auto& p = makePanelAndSettle();
    p.menuItemSelected(loopbackId, 2);
    settle();
    ASSERT_EQ(p.loopbackState, 0);
    ASSERT_EQ(sim::interfaceState().loopback, sim::Tri::off);

    // The user picks "on"; the request number GetParam() of the command fails.
    ASSERT_EQ(sim::command("usbfail nth=" + std::to_string(GetParam())), "ok");
    const auto mark = commandMark();
    p.loopbackDialog->loopbackOnButton.triggerClick();
    settle();

    EXPECT_EQ(commandsSince(mark), Bytes{});
    EXPECT_EQ(p.loopbackState, 0);
    EXPECT_EQ(p.appProperties.getUserSettings()->getValue("loopback"), "0");
    EXPECT_TRUE(loopbackTicked(p)); // the dialog shows the choice that was made
    EXPECT_EQ(sim::interfaceState().loopback, sim::Tri::off);

    // The failed request closed the device; once the interface is back, "Loopback" pushes the accepted
    // state into the dialog, which differs from its selection, and so sends it again.
    unplugAndSettle();
    plugAndSettle();
    ASSERT_TRUE(pumpUntil([&] { return !p.hasPendingRestore(); }));
    const auto again = commandMark();
    p.menuItemSelected(loopbackId, 2);
    settle();

    EXPECT_EQ(commandsSince(again), Bytes{8});
    EXPECT_EQ(p.loopbackState, 0);
    EXPECT_FALSE(loopbackTicked(p));
}

INSTANTIATE_TEST_SUITE_P(Requests, RefusedLoopback, ::testing::Values(1, 2, 3));

struct PlacementCase
{
    int panelX;
    int expectedDialogX;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const PlacementCase& c, std::ostream* os)
{
    *os << "px " << c.panelX;
}

class LoopbackPlacement : public MenuTest, public ::testing::WithParamInterface<PlacementCase>
{
};

TEST_P(LoopbackPlacement, TheDialogContentSitsBesideThePanelLevelWithItsTop)
{
    auto& p = makePanelAndSettle();
    auto& w = showInWindow(GetParam().panelX, 140);
    ASSERT_EQ(p.getParentMonitorArea().getWidth(), 1280); // the test display
    const auto mainBounds = w.getBounds();

    p.menuItemSelected(loopbackId, 2);
    settle();

    auto& dialogWindow = *p.loopbackDialogWindow;
    const auto content = p.loopbackDialog->getScreenBounds();
    EXPECT_TRUE(dialogWindow.isVisible());
    EXPECT_EQ(content, juce::Rectangle<int>(GetParam().expectedDialogX, 140, 314, 322));
    EXPECT_FALSE(dialogWindow.isAlwaysOnTop()); // the flag it had before
    EXPECT_EQ(w.getBounds(), mainBounds);
}

// Display 1280 wide, panel 316, dialog content 314.
INSTANTIATE_TEST_SUITE_P(Sides, LoopbackPlacement,
                         ::testing::Values(PlacementCase{200, 516},     // right 764, left -114: right
                                           PlacementCase{900, 586},     // right 64, left 586: left
                                           PlacementCase{1100, 1416})); // overhang: right 1144, left -494
} // namespace
