// The main window under a window manager: the corner resizer and the maximise button keep the panel's
// ratio and limits at the same top-left corner, the stored state comes back on the next start, and a
// stored state that is broken, too large, off screen or full screen still opens a usable window.

#include "support/ProgramHarness.h"

#include <csignal>
#include <gtest/gtest.h>

using namespace pelk::e2e;

namespace
{
constexpr double ratio = 226.0 / 348.0;

// Title-bar buttons, measured from the window's right edge.
constexpr int maximiseFromRight = 48, closeFromRight = 17, titleBarMiddle = 1 + 13;

void expectWithinLimitsAndRatio(const WindowGeometry& panel)
{
    EXPECT_GE(panel.width, 226);
    EXPECT_LE(panel.width, 452);
    EXPECT_GE(panel.height, 348);
    EXPECT_LE(panel.height, 696);
    EXPECT_NEAR(panel.width, panel.height * ratio, 1.0) << panel.width << " x " << panel.height;
}

struct CornerDrag
{
    const char* name;
    int dx, dy;
    int expectedWidth; // 0: anything within the limits
};

class WindowCornerDrag : public ::testing::TestWithParam<CornerDrag>
{
};

TEST_P(WindowCornerDrag, KeepsRatioLimitsAndTopLeftAndIsRestoredNextTime)
{
    const auto& c = GetParam();
    Harness h({true, "absent"});
    h.writeSettings({{"WindowPosition", "100 60 318 538"}});
    auto& app = h.launch();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    const auto beforeQuery = h.geometry(*window);
    ASSERT_TRUE(beforeQuery.has_value());
    const auto before = *beforeQuery;

    const int cornerX = before.x + before.width - 3, cornerY = before.y + before.height - 3;
    ASSERT_TRUE(h.drag(cornerX, cornerY, cornerX + c.dx, cornerY + c.dy));
    ASSERT_TRUE(h.waitForGeometry(*window, [&](const WindowGeometry& g) { return g.width != before.width; }));
    const auto afterQuery = h.geometry(*window);
    ASSERT_TRUE(afterQuery.has_value());
    const auto after = *afterQuery;
    const auto panelQuery = h.panelGeometry(*window);
    ASSERT_TRUE(panelQuery.has_value());
    const auto panel = *panelQuery;

    EXPECT_EQ(after.x, before.x);
    EXPECT_EQ(after.y, before.y);
    expectWithinLimitsAndRatio(panel);
    if (c.expectedWidth != 0)
    {
        EXPECT_EQ(panel.width, c.expectedWidth);
    }

    app.terminate(SIGTERM);
    ASSERT_EQ(app.waitExit(), 0);

    auto& again = h.launch();
    const auto reopened = h.waitForWindow();
    ASSERT_TRUE(reopened.has_value());
    const auto restoredQuery = h.geometry(*reopened);
    ASSERT_TRUE(restoredQuery.has_value());
    const auto restored = *restoredQuery;
    EXPECT_EQ(restored.x, after.x);
    EXPECT_EQ(restored.y, after.y);
    EXPECT_EQ(restored.width, after.width);
    EXPECT_EQ(restored.height, after.height);
    again.terminate(SIGTERM);
    EXPECT_EQ(again.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Drags, WindowCornerDrag,
                         ::testing::Values(CornerDrag{"Wider", 100, 0, 0},
                                           CornerDrag{"BelowTheMinimum", -200, -300, 226},
                                           CornerDrag{"BeyondTheMaximum", 400, 400, 452}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(WindowMaximise, ZoomsToTheLargestPanelAtTheSameCornerAndBack)
{
    Harness h({true, "absent"});
    h.writeSettings({{"WindowPosition", "120 40 318 538"}});
    auto& app = h.launch();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    const auto beforeQuery = h.geometry(*window);
    ASSERT_TRUE(beforeQuery.has_value());
    const auto before = *beforeQuery;

    for (const bool doubleClickTitle : {false, true})
    {
        if (doubleClickTitle)
            h.xdo({"mousemove", std::to_string(before.x + 60), std::to_string(before.y + titleBarMiddle),
                   "sleep", "0.05", "click", "--repeat", "2", "--delay", "80", "1"});
        else
            h.click(before.x + before.width - maximiseFromRight, before.y + titleBarMiddle);

        ASSERT_TRUE(h.waitForGeometry(
            *window, [&](const WindowGeometry& g) { return g.width == 452; }, true))
            << doubleClickTitle;
        const auto zoomedQuery = h.panelGeometry(*window);
        ASSERT_TRUE(zoomedQuery.has_value());
        const auto zoomed = *zoomedQuery;
        EXPECT_EQ(zoomed.height, 696);
        EXPECT_EQ(zoomed.x, before.x + Harness::borderLeft);
        EXPECT_EQ(zoomed.y, before.y + Harness::borderTop);

        h.click(before.x + 452 + 2 - maximiseFromRight, before.y + titleBarMiddle);
        ASSERT_TRUE(
            h.waitForGeometry(*window, [&](const WindowGeometry& g) { return g.width == before.width; }))
            << doubleClickTitle;
        const auto back = h.geometry(*window);
        ASSERT_TRUE(back.has_value());
        EXPECT_EQ(back->height, before.height);
    }

    // Closed while zoomed: the zoomed size is what comes back.
    h.click(before.x + before.width - maximiseFromRight, before.y + titleBarMiddle);
    ASSERT_TRUE(h.waitForGeometry(
        *window, [&](const WindowGeometry& g) { return g.width == 452; }, true));
    h.click(before.x + 452 + 2 - closeFromRight, before.y + titleBarMiddle);
    ASSERT_EQ(app.waitExit(), 0);
    EXPECT_TRUE(h.setting("WindowPosition").startsWith("120 40 454 748")) << h.setting("WindowPosition");
}

TEST(WindowMaximise, AWindowOpenedAtItsLargestSizeGoesBackToTheDefaultSize)
{
    Harness h({true, "absent"});
    h.writeSettings({{"WindowPosition", "120 40 454 748"}});
    h.launch();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(h.waitForGeometry(
        *window, [&](const WindowGeometry& g) { return g.width == 452; }, true));
    const auto beforeQuery = h.geometry(*window);
    ASSERT_TRUE(beforeQuery.has_value());
    const auto before = *beforeQuery;

    h.click(before.x + before.width - maximiseFromRight, before.y + titleBarMiddle);
    ASSERT_TRUE(h.waitForGeometry(
        *window, [&](const WindowGeometry& g) { return g.width == 316; }, true))
        << "the maximise button did nothing";
    const auto panel = h.panelGeometry(*window);
    ASSERT_TRUE(panel.has_value());
    EXPECT_EQ(panel->height, 486);
    EXPECT_EQ(panel->x, before.x + Harness::borderLeft);
    EXPECT_EQ(panel->y, before.y + Harness::borderTop);
}

//==============================================================================
struct StoredState
{
    const char* name;
    const char* state;
    // Expected panel: position (or -1 for centred) and width.
    int x, y, width;
};

class StoredWindowState : public ::testing::TestWithParam<StoredState>
{
};

TEST_P(StoredWindowState, OpensWithinTheLimits)
{
    const auto& c = GetParam();
    Harness h;
    h.writeSettings({{"WindowPosition", c.state}});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    const auto panelQuery = h.panelGeometry(*window);
    ASSERT_TRUE(panelQuery.has_value());
    const auto panel = *panelQuery;

    expectWithinLimitsAndRatio(panel);
    EXPECT_EQ(panel.width, c.width);
    if (c.x == -1)
    {
        EXPECT_EQ(panel.x, (1280 - 318) / 2 + 1);
    }
    else
    {
        EXPECT_EQ(panel.x, c.x);
        EXPECT_EQ(panel.y, c.y);
    }
    // On screen, whatever was stored.
    EXPECT_GE(panel.x + panel.width, 32);
    EXPECT_LE(panel.x, 1280 - 32);
    EXPECT_LE(panel.y, 1024 - 32);
}

INSTANTIATE_TEST_SUITE_P(
    States, StoredWindowState,
    ::testing::Values(StoredState{"Garbage", "not a window state", -1, 0, 316},
                      StoredState{"Empty", "", -1, 0, 316}, StoredState{"ZeroSize", "10 10 0 0", -1, 0, 316},
                      StoredState{"BeyondTheLimits", "10 20 3000 3000", 11, 20 + 51, 452},
                      StoredState{"BelowTheLimits", "10 20 50 50", 11, 20 + 51, 226},
                      StoredState{"FullScreen", "fs 100 100 318 538", 101, 100 + 51, 452},
                      StoredState{"OffEveryDisplay", "5000 5000 318 538", 1280 - 318 + 1, 1024 - 538 + 51,
                                  316}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(StoredWindowState, APanelCornerAtTheScreenEdgeIsReportedAndCorrected)
{
    Harness h;
    // The panel sits 1 pixel right of and 51 pixels below the window's corner.
    h.writeSettings({{"WindowPosition", "-6 -51 318 538"}});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    EXPECT_NE(app.stderrText().find("POS: -5 0\nPOS: Korr: 0 30\n"), std::string::npos) << app.stderrText();
}
} // namespace
