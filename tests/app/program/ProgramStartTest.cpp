// The real program end to end: start with and without the interface, the command-line switches, a later
// launch handing its command line over, and the system's quit signals keeping the settings.

#include "support/ProgramHarness.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <gtest/gtest.h>
#include <thread>

using namespace pelk::e2e;

namespace
{
const std::string title = "Pelk VOD Panel v1.5.0.0";

// Clicks the close button drawn at the right end of the window's title bar.
void clickClose(Harness& h, unsigned long window)
{
    const auto g = h.geometry(window);
    ASSERT_TRUE(g.has_value());
    h.click(g->x + g->width - 12, g->y + 1 + 13);
}

int countOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (auto pos = text.find(what); pos != std::string::npos; pos = text.find(what, pos + 1))
        ++n;
    return n;
}

class ProgramStart : public ::testing::TestWithParam<bool>
{
};

TEST_P(ProgramStart, ShowsThePanelReportsItsPositionAndKeepsTheStateOnClose)
{
    const bool plugged = GetParam();
    Harness h({false, plugged ? "plugged" : "absent"});
    auto& app = h.launch();

    ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());

    // No stored position: a 316 x 486 panel centred on the 1280 x 1024 screen, reported as it is.
    const auto panel = h.panelGeometry(*window);
    ASSERT_TRUE(panel.has_value());
    EXPECT_EQ(panel->width, 316);
    EXPECT_EQ(panel->height, 486);
    const int windowX = (1280 - 318) / 2, windowY = (1024 - (486 + Harness::borderTop + 1)) / 2;
    EXPECT_EQ(panel->x, windowX + 1);
    EXPECT_EQ(panel->y, windowY + Harness::borderTop);
    const auto pos = std::to_string(panel->x) + " " + std::to_string(panel->y);
    EXPECT_NE(app.stderrText().find("POS: " + pos + "\nPOS: Korr: " + pos + "\n"), std::string::npos)
        << app.stderrText();

    if (plugged)
    {
        // Device ready restores both stored monitoring switches (defaults: headphones off, record on).
        EXPECT_TRUE(h.waitForJournal("command 7\n"));
        const auto journal = h.journal();
        const std::string restore =
            "usb 55 0\nusb aa 0\nusb 05 0\ncommand 5\nusb 55 0\nusb aa 0\nusb 07 0\ncommand 7\n";
        ASSERT_GE(journal.size(), restore.size());
        EXPECT_EQ(journal.substr(journal.size() - restore.size()), restore) << journal;
    }
    else
    {
        EXPECT_EQ(h.journal().find("usb "), std::string::npos) << h.journal();
    }

    clickClose(h, *window);
    EXPECT_EQ(app.waitExit(), 0);
    const auto stored = h.setting("WindowPosition");
    EXPECT_TRUE(stored.startsWith(juce::String(windowX) + " " + juce::String(windowY) + " 318 ")) << stored;
}

INSTANTIATE_TEST_SUITE_P(WithAndWithoutInterface, ProgramStart, ::testing::Values(true, false),
                         [](const auto& test) { return test.param ? "Plugged" : "Absent"; });

TEST(ProgramClose, TheCloseMenuItemKeepsTheWindowState)
{
    Harness h;
    h.writeSettings({{"WindowPosition", "300 200 318 538"}});
    auto& app = h.launch();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(h.xdo({"windowmove", std::to_string(*window), "320", "210"}));
    ASSERT_TRUE(h.waitForGeometry(*window, [&](const WindowGeometry& g) { return g.x == 320; }));

    // "File" is the bar's first title; "Close" its last item.
    // The menu opens after the program has taken the move, which came before the click.
    h.click(320 + 20, 210 + 27 + 12);
    ASSERT_TRUE(h.waitForMenus(1));
    h.xdo({"key", "Up", "Return"});
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
    EXPECT_TRUE(h.setting("WindowPosition").startsWith("320 210 318 ")) << h.setting("WindowPosition");
}

TEST(ProgramCommandLine, ShutdownWithNoInstanceEndsAtOnceTouchingNothing)
{
    Harness h;
    h.writeSettings({{"WindowPosition", "10 10 318 538"}, {"loopback", "1"}});
    const auto before = h.settingsFile().loadFileAsString();

    // Without a display: a window that the program began to make would end it with status 1 and a line
    // saying that there is no display, so a clean end shows that it made none.
    const auto noDisplay = Harness::displayWithNoServer();
    ASSERT_FALSE(noDisplay.empty());
    auto& app = h.launch({"/SHUTDOWN"}, {{"DISPLAY", noDisplay}});
    EXPECT_EQ(app.waitExit(), 0);
    EXPECT_EQ(app.stderrText(), "");
    EXPECT_EQ(h.settingsFile().loadFileAsString(), before);
    EXPECT_FALSE(h.file("journal").exists()) << "the simulated interface was never started";
}

TEST(ProgramCommandLine, AFirstStartWithDefaultForgetsTheStateAndReportsNoPosition)
{
    Harness h;
    h.writeSettings({{"WindowPosition", "10 10 454 750"}});
    auto& app = h.launch({"/default"});
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());

    const auto panel = h.panelGeometry(*window);
    EXPECT_EQ(panel->width, 316) << "centred at the default size, not at the stored one";
    // The forgotten state reaches the file by the settings file's own delay.
    EXPECT_TRUE(
        waitUntil([&] { return h.hasSetting("WindowPosition") && h.setting("WindowPosition").isEmpty(); }));
    EXPECT_EQ(app.stderrText().find("POS:"), std::string::npos) << app.stderrText();
}

// Ordinary starts: the switch must be the whole command line.
class OrdinaryStart : public ::testing::TestWithParam<std::vector<std::string>>
{
};

TEST_P(OrdinaryStart, ShowsThePositionLines)
{
    Harness h;
    auto& app = h.launch(GetParam());
    EXPECT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    EXPECT_TRUE(h.waitForWindow().has_value());
}

INSTANTIATE_TEST_SUITE_P(CommandLines, OrdinaryStart,
                         ::testing::Values(std::vector<std::string>{"/init", "x"},
                                           std::vector<std::string>(1000, std::string(100, 'a'))),
                         [](const auto& test)
                         { return test.index == 0 ? "InitAndAWord" : "HundredKilobytes"; });

//==============================================================================
struct LaterLaunch
{
    const char* name;
    const char* commandLine;
    bool runningInstanceEnds;
    bool stateForgotten;
};

class SecondLaunch : public ::testing::TestWithParam<LaterLaunch>
{
};

TEST_P(SecondLaunch, HandsOverAndEndsAtOnce)
{
    const auto& c = GetParam();
    Harness h({true, "plugged"});
    h.writeSettings({{"WindowPosition", "100 80 318 538"}});
    auto& first = h.launch();
    ASSERT_TRUE(first.waitForStderr("POS: Korr: "));
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    // The window manager may still be taking the new window on when the first request arrives, and a busy
    // machine can time the tool out: ask again until the window is down.
    const auto hidden = [&]
    {
        const auto g = h.geometry(*window);
        return g.has_value() && !g->viewable;
    };
    ASSERT_TRUE(waitUntil(
        [&]
        {
            h.xdo({"windowminimize", std::to_string(*window)});
            return waitUntil(hidden, std::chrono::milliseconds(1000));
        },
        std::chrono::milliseconds(20000)));

    // The later launch gets its own pipe and journal: it must open neither.
    std::vector<std::string> args;
    if (*c.commandLine != 0)
        args.push_back(c.commandLine);
    auto& second = h.launch(args, {{"PELK_SIM_CONTROL", h.file("control2").getFullPathName().toStdString()},
                                   {"PELK_SIM_JOURNAL", h.file("journal2").getFullPathName().toStdString()}});
    EXPECT_EQ(second.waitExit(std::chrono::milliseconds(5000)), 0) << second.stderrText();
    EXPECT_EQ(second.stderrText(), "");
    EXPECT_FALSE(h.file("control2").exists());
    EXPECT_FALSE(h.file("journal2").exists());

    if (c.runningInstanceEnds)
    {
        EXPECT_EQ(first.waitExit(), 0) << first.stderrText();
        EXPECT_TRUE(h.setting("WindowPosition").startsWith("100 80 318 ")) << h.setting("WindowPosition");
        return;
    }

    // Brought forward: shown again, and still running.
    EXPECT_TRUE(waitUntil(
        [&]
        {
            const auto g = h.geometry(*window);
            return g.has_value() && g->viewable;
        }));
    EXPECT_TRUE(first.running());
    if (c.stateForgotten)
        EXPECT_TRUE(waitUntil(
            [&] { return h.hasSetting("WindowPosition") && h.setting("WindowPosition").isEmpty(); }));
    else
        EXPECT_EQ(h.setting("WindowPosition"), "100 80 318 538");

    first.terminate(SIGTERM);
    EXPECT_EQ(first.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, SecondLaunch,
                         ::testing::Values(LaterLaunch{"NoArguments", "", false, false},
                                           LaterLaunch{"Defaults", "/defaults", false, true},
                                           LaterLaunch{"Init", "/init", true, false},
                                           LaterLaunch{"Shutdown", "/shutdown", true, false}),
                         [](const auto& test) { return std::string(test.param.name); });

// A later launch while the running instance is still starting: the interface is plugged in but its audio
// devices never appear, so the start-up's plug search holds the main thread for seconds, longer than a
// launch used to wait. The command line is still taken, carried out once the instance is up, and the later
// launch ends quietly.
class LaunchDuringSlowStart : public ::testing::TestWithParam<LaterLaunch>
{
};

TEST_P(LaunchDuringSlowStart, IsTakenAndCarriedOutOnceTheInstanceIsUp)
{
    const auto& c = GetParam();
    Harness h({true, "absent"});
    const auto setup = h.file("setup");
    setup.replaceWithText("plug audio-at=never\n", false, false, "\n");
    auto& first = h.launch({}, {{"PELK_SIM_SETUP", setup.getFullPathName().toStdString()}});
    // The socket is there as soon as the instance holds the lock, long before its start-up is over.
    ASSERT_TRUE(waitUntil([&] { return h.file("runtime/Pelk VOD Panel/Pelk VOD Panel.sock").exists(); }));

    std::vector<std::string> args;
    if (*c.commandLine != 0)
        args.push_back(c.commandLine);
    auto& second = h.launch(args);
    ASSERT_EQ(first.stderrText().find("POS: Korr: "), std::string::npos) << "the start-up was over already";

    EXPECT_EQ(second.waitExit(), 0) << second.stderrText();
    EXPECT_EQ(second.stderrText(), "");
    EXPECT_NE(first.stderrText().find("POS: Korr: "), std::string::npos)
        << "ended before the instance was up";

    if (c.runningInstanceEnds)
    {
        EXPECT_EQ(first.waitExit(), 0) << first.stderrText();
        EXPECT_EQ(countOf(first.stderrText(), "POS: Korr: "), 1);
        return;
    }

    // Brought forward: shown, active, and still running.
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    EXPECT_TRUE(h.waitForGeometry(*window, [&](const WindowGeometry& g) { return g.viewable; }));
    EXPECT_TRUE(waitUntil(
        [&]
        {
            const auto active = runTool({"xdotool", "getactivewindow"}, h.environment());
            return active.has_value() && std::strtoul(active->c_str(), nullptr, 10) == *window;
        }));
    EXPECT_TRUE(first.running());
    first.terminate(SIGTERM);
    EXPECT_EQ(first.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(CommandLines, LaunchDuringSlowStart,
                         ::testing::Values(LaterLaunch{"NoArguments", "", false, false},
                                           LaterLaunch{"Shutdown", "/shutdown", true, false}),
                         [](const auto& test) { return std::string(test.param.name); });

// A crowd of launches while the instance is still starting (a desktop's burst, a script): every one is
// taken and carried out once the instance is up, each ends quietly, and the instance runs on.
TEST(ProgramSecondLaunch, ACrowdOfLaunchesDuringASlowStartIsCarriedOutWhole)
{
    constexpr int crowd = 32;
    Harness h({true, "absent"});
    const auto setup = h.file("setup");
    setup.replaceWithText("plug audio-at=never\n", false, false, "\n");
    auto& first = h.launch({}, {{"PELK_SIM_SETUP", setup.getFullPathName().toStdString()}});
    ASSERT_TRUE(waitUntil([&] { return h.file("runtime/Pelk VOD Panel/Pelk VOD Panel.sock").exists(); }));

    std::vector<Process*> launches;
    for (int i = 0; i < crowd; ++i)
        launches.push_back(&h.launch({"/defaults"}));
    ASSERT_EQ(first.stderrText().find("POS: Korr: "), std::string::npos) << "the start-up was over already";

    for (auto* launch : launches)
    {
        EXPECT_EQ(launch->waitExit(), 0) << launch->stderrText();
        EXPECT_EQ(launch->stderrText(), "");
    }

    // Each "/defaults" sends the factory monitoring states to the interface once: headphone monitoring
    // off (command 7) and record monitoring on (command 5). The start-up itself sends neither.
    const auto carriedOut = [&]
    { return std::min(countOf(h.journal(), "command 5\n"), countOf(h.journal(), "command 7\n")); };
    EXPECT_TRUE(waitUntil([&] { return carriedOut() >= crowd; })) << h.journal();
    ASSERT_TRUE(h.waitForMark());
    EXPECT_EQ(countOf(h.journal(), "command 5\n"), crowd) << h.journal();
    EXPECT_EQ(countOf(h.journal(), "command 7\n"), crowd) << h.journal();
    EXPECT_TRUE(first.running());
    EXPECT_TRUE(h.waitForWindow().has_value());
    first.terminate(SIGTERM);
    EXPECT_EQ(first.waitExit(), 0);
}

TEST(ProgramSecondLaunch, TwoLaunchesAtTheSameMomentShowOneWindow)
{
    Harness h;
    auto& a = h.launch();
    auto& b = h.launch();
    ASSERT_TRUE(h.waitForWindow().has_value());
    EXPECT_TRUE(waitUntil([&] { return !a.running() || !b.running(); }));
    const auto windows = h.findWindows(title);
    ASSERT_TRUE(windows.has_value());
    EXPECT_EQ(windows->size(), 1u);
    EXPECT_EQ(countOf(a.stderrText() + b.stderrText(), "POS: Korr: "), 1);
}

//==============================================================================
class QuitSignal : public ::testing::TestWithParam<int>
{
};

TEST_P(QuitSignal, KeepsTheWindowStateAndARecentChange)
{
    Harness h({false, "plugged"});
    h.writeSettings({{"WindowPosition", "200 100 318 538"}});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(h.waitForJournal("command 7\n")) << h.journal(); // the restore is over

    // Moved just before the signal: only the quit path stores the new position.
    ASSERT_TRUE(h.xdo({"windowmove", std::to_string(*window), "260", "140"}));
    ASSERT_TRUE(h.waitForGeometry(*window, [&](const WindowGeometry& g) { return g.x == 260; }));
    // The program learns of the move from the display server's events, in order: a click after the move
    // that the journal shows (headphone monitoring on, "TO OUTPUT" at x 0.78, y 0.92 of the panel) tells
    // that the move has reached it, so the signal tests the quit path, not the race.
    const auto panelQuery = h.panelGeometry(*window);
    ASSERT_TRUE(panelQuery.has_value());
    const auto panel = *panelQuery;
    ASSERT_TRUE(h.click(panel.x + (int) (panel.width * 0.78), panel.y + (int) (panel.height * 0.92)));
    ASSERT_TRUE(h.waitForJournal("command 4\n")) << h.journal();

    app.terminate(GetParam());
    EXPECT_EQ(app.waitExit(), 0);
    EXPECT_TRUE(h.setting("WindowPosition").startsWith("260 140 318 ")) << h.setting("WindowPosition");
}

INSTANTIATE_TEST_SUITE_P(TermAndHangUp, QuitSignal, ::testing::Values(SIGTERM, SIGHUP),
                         [](const auto& test) { return test.param == SIGTERM ? "Term" : "HangUp"; });

//==============================================================================
class UnusableRuntimeFolder : public ::testing::TestWithParam<const char*>
{
};

TEST_P(UnusableRuntimeFolder, StillStartsAndGuardsOneInstanceInTheSettingsFolder)
{
    Harness h;
    const std::string kind = GetParam();
    std::map<std::string, std::string> env;
    if (kind == "unset")
        env["XDG_RUNTIME_DIR"] = "";
    else if (kind == "not a folder")
    {
        h.file("runtime-file").replaceWithText("x");
        env["XDG_RUNTIME_DIR"] = h.file("runtime-file").getFullPathName().toStdString();
    }
    else
        env["XDG_RUNTIME_DIR"] = "relative/path";

    auto& first = h.launch({}, env);
    ASSERT_TRUE(first.waitForStderr("POS: Korr: ")) << first.stderrText();
    EXPECT_TRUE(h.file("config/Pelk VOD Panel/Pelk VOD Panel.lock").exists());

    auto& second = h.launch({"/shutdown"}, env);
    EXPECT_EQ(second.waitExit(), 0);
    EXPECT_EQ(first.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Kinds, UnusableRuntimeFolder, ::testing::Values("unset", "not a folder", "relative"),
                         [](const auto& test)
                         {
                             std::string n;
                             for (const char* c = test.param; *c != 0; ++c)
                                 if (std::isalnum((unsigned char) *c))
                                     n += *c;
                             return n;
                         });
} // namespace
