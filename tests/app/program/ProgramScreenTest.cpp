// The main window on screens of any size: whatever the placement or a place stored on a larger screen,
// the whole window (its own title bar included) ends up on the screen; the place it was closed at comes
// back to the pixel; and without a display the program says so and ends cleanly.

#include "support/ProgramHarness.h"

#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

using namespace pelk::e2e;

namespace
{
constexpr double ratio = 226.0 / 348.0;

// The program without the interface, on a private screen of this size, with no window manager.
Options onScreen(int width, int height)
{
    return {false, "absent", width, height};
}

struct ScreenCase
{
    const char* name;
    int screenWidth, screenHeight;
    const char* stored;                 // the stored place, or null for a first start
    std::vector<std::string> arguments; // the command line
    int x, y, width, height;            // where the window must end up
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const ScreenCase& c, std::ostream* os)
{
    *os << c.name;
}

class SmallScreen : public ::testing::TestWithParam<ScreenCase>
{
};

TEST_P(SmallScreen, TheWholeWindowIsOnTheScreen)
{
    const auto& c = GetParam();
    Harness h(onScreen(c.screenWidth, c.screenHeight));
    if (c.stored != nullptr)
        h.writeSettings({{"WindowPosition", c.stored}});
    auto& app = h.launch(c.arguments);
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value()) << app.stderrText();

    std::optional<WindowGeometry> g;
    const bool placed = waitUntil(
        [&]
        {
            g = h.geometry(*window);
            return g && g->x == c.x && g->y == c.y && g->width == c.width && g->height == c.height;
        });
    ASSERT_TRUE(g.has_value()) << "the window's geometry could not be read";
    EXPECT_TRUE(placed) << "window at " << g->x << "," << g->y << " " << g->width << " x " << g->height;
    EXPECT_GE(g->x, 0);
    EXPECT_GE(g->y, 0) << "the title bar is above the screen";
    EXPECT_LE(g->x + g->width, c.screenWidth);
    EXPECT_LE(g->y + g->height, c.screenHeight);

    const auto panel = h.panelGeometry(*window);
    ASSERT_TRUE(panel.has_value());
    EXPECT_GE(panel->width, 226);
    EXPECT_GE(panel->height, 348);
    EXPECT_NEAR(panel->width, panel->height * ratio, 1.0) << panel->width << " x " << panel->height;
    EXPECT_TRUE(h.settledScreenshotRoot(
        juce::File(PELK_SCREENSHOT_DIR).getChildFile(juce::String("screen-") + c.name + ".png")));
}

// Stored places as a larger screen leaves them. On 800 x 600 a window that fits keeps its place exactly;
// one too tall shrinks to the screen's height (content 356 x 548), one too wide or high on 640 x 480 to
// content 278 x 428.
INSTANTIATE_TEST_SUITE_P(
    Places, SmallScreen,
    ::testing::Values(ScreenCase{"FirstStart640", 640, 480, nullptr, {}, 161, 0, 280, 480},
                      ScreenCase{"FirstStart800", 800, 600, nullptr, {}, 241, 31, 318, 538},
                      ScreenCase{"Default640", 640, 480, "10 10 454 748", {"/default"}, 161, 0, 280, 480},
                      ScreenCase{"LargeAtTheRight800", 800, 600, "700 200 454 748", {}, 442, 0, 358, 600},
                      ScreenCase{"LargeAtTheRight640", 640, 480, "700 200 454 748", {}, 186, 0, 280, 480},
                      ScreenCase{"AboveTheTop800", 800, 600, "100 -500 318 538", {}, 100, 0, 318, 538},
                      ScreenCase{"AboveTheTop640", 640, 480, "100 -500 318 538", {}, 100, 0, 280, 480},
                      ScreenCase{"LeftOfTheScreen800", 800, 600, "-300 100 318 538", {}, 0, 62, 318, 538},
                      ScreenCase{"LeftOfTheScreen640", 640, 480, "-300 100 318 538", {}, 0, 0, 280, 480},
                      ScreenCase{"Huge800", 800, 600, "0 0 3000 3000", {}, 0, 0, 358, 600},
                      ScreenCase{"Huge640", 640, 480, "0 0 3000 3000", {}, 0, 0, 280, 480}),
    [](const auto& test) { return std::string(test.param.name); });

TEST(SmallScreen, ThePositionLinesReportWhereTheRestorePutThePanel)
{
    Harness h(onScreen(800, 600));
    h.writeSettings({{"WindowPosition", "-6 -51 318 538"}});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    EXPECT_NE(app.stderrText().find("POS: -5 0\nPOS: Korr: 0 30\n"), std::string::npos) << app.stderrText();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    EXPECT_TRUE(waitUntil(
        [&]
        {
            const auto g = h.geometry(*window);
            return g && g->x == 0 && g->y == 0;
        }))
        << "moved onto the screen after the lines";
}

//==============================================================================
TEST(ClosedSize, QuitAndStartAgainKeepTheStoredTextExactly)
{
    Harness h(onScreen(1280, 1024));
    std::vector<juce::String> stored;
    for (int start = 0; start < 4; ++start)
    {
        auto& app = h.launch();
        ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
        ASSERT_TRUE(h.waitForWindow().has_value());
        app.terminate(SIGTERM);
        ASSERT_EQ(app.waitExit(), 0) << app.stderrText();
        stored.push_back(h.setting("WindowPosition"));
    }
    // The first start is centred at the default size; each later one restores what the one before stored.
    EXPECT_TRUE(stored[0].startsWith("481 243 318 538")) << stored[0];
    for (size_t i = 1; i < stored.size(); ++i)
        EXPECT_EQ(stored[i], stored[0]) << "after start " << i + 1;
}

//==============================================================================
struct NoDisplayCase
{
    const char* name;
    bool empty; // DISPLAY empty, or naming no server
};

class NoDisplay : public ::testing::TestWithParam<NoDisplayCase>
{
};

TEST_P(NoDisplay, SaysSoEndsWithStatusOneAndLeavesNothingBehind)
{
    Harness h(onScreen(1280, 1024));
    const auto display = GetParam().empty ? std::string() : Harness::displayWithNoServer();
    ASSERT_TRUE(GetParam().empty || !display.empty());

    auto& app = h.launch({}, {{"DISPLAY", display}});
    EXPECT_EQ(app.waitExit(), 1) << "no exit status 1 (a signal reads as -1)\n" << app.stderrText();
    const auto text = app.stderrText();
    const auto expected = GetParam().empty ? std::string("DISPLAY is empty or not set")
                                           : "cannot open the display \"" + display + "\"";
    EXPECT_NE(text.find(expected), std::string::npos) << text;
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
    EXPECT_FALSE(h.file("config/Pelk VOD Panel/Pelk VOD Panel.settings").exists()) << "nothing was stored";

    // The lock file, the socket and the folder this start made are gone: the runtime folder is as before.
    juce::StringArray left;
    for (const auto& entry :
         std::filesystem::directory_iterator(h.file("runtime").getFullPathName().toStdString()))
        left.add(juce::String(entry.path().filename().string()));
    EXPECT_EQ(left.joinIntoString(" "), "");

    // With the display back, the program starts as usual.
    auto& again = h.launch();
    EXPECT_TRUE(again.waitForStderr("POS: Korr: ")) << again.stderrText();
    EXPECT_TRUE(h.waitForWindow().has_value());
    again.terminate(SIGTERM);
    EXPECT_EQ(again.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Displays, NoDisplay,
                         ::testing::Values(NoDisplayCase{"Empty", true}, NoDisplayCase{"NoServer", false}),
                         [](const auto& test) { return std::string(test.param.name); });
} // namespace
