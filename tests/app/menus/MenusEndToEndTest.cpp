// The real program end to end: the command-line factory settings at start and from a later launch, every
// menu command chosen with the pointer and the keyboard, the About box closed by each route, the dialogs
// above an always-on-top main window, and the desktop audio-settings tool replaced by a recording stand-in.

#include "PopupMenuLookAndFeel.h"
#include "support/ProgramHarness.h"

#include <csignal>
#include <functional>
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>
#include <ostream>

using namespace pelk::e2e;

namespace
{
using Bytes = std::vector<int>;
const std::string title = "Pelk VOD Panel v1.5.0.0";

// The interface command bytes in the journal, in order.
Bytes journalCommands(const Harness& h)
{
    Bytes bytes;
    for (const auto& line : juce::StringArray::fromLines(juce::String(h.journal())))
        if (line.startsWith("command "))
            bytes.push_back(line.fromFirstOccurrenceOf(" ", false, false).getIntValue());
    return bytes;
}

bool waitForCommands(const Harness& h, const Bytes& expected)
{
    return waitUntil([&] { return journalCommands(h) == expected; });
}

juce::File screenshotFile(const juce::String& name)
{
    const juce::File dir(PELK_SCREENSHOT_DIR);
    dir.createDirectory();
    return dir.getChildFile(name);
}

// Stored monitoring states that all differ from the factory ones, the loopback on.
const std::map<juce::String, juce::String> nonFactoryStates{
    {"MonitoringHP", "1"}, {"MonitoringRecord", "0"}, {"MonitoringVol", "-20"}, {"loopback", "1"}};

// The running program's main window, its menus reached with xdotool: a click on a title opens the menu,
// the arrow keys move to an item, Return chooses it.
class MenuDriver
{
public:
    MenuDriver(Harness& harness, unsigned long mainWindow) : h(harness), window(mainWindow)
    {
        // The titles' widths as the menu bar's look measures them, left to right from the content's edge.
        PopupMenuLookandFeel look;
        juce::MenuBarComponent bar;
        bar.setSize(316, 24);
        int x = 0;
        for (const auto* name : {"File", "Config", "PatchGRID", "Help"})
        {
            const int w = look.getMenuBarItemWidth(bar, 0, name);
            titleCentres.push_back(x + w / 2);
            x += w;
        }
    }

    void setWindow(unsigned long mainWindow) { window = mainWindow; }

    bool waitForMenus(size_t n) const { return h.waitForMenus(n); }

    // Opens menu index (0 File .. 3 Help), once the menu chosen before has closed.
    void open(int index)
    {
        const auto g = h.geometry(window);
        ASSERT_TRUE(g.has_value());
        ASSERT_TRUE(waitForMenus(0)) << "a menu is still open";
        h.xdo({"windowfocus", "--sync", std::to_string(window)});
        h.click(g->x + Harness::borderLeft + titleCentres[(size_t) index], g->y + 1 + 26 + 12);
        ASSERT_TRUE(waitForMenus(1)) << "menu " << index << " did not open";
    }

    // Chooses the item reached with downs presses of Down (then, for a submenu, Right and subDowns
    // presses of Down) and Return.
    void choose(int index, int downs, int subDowns = -1)
    {
        open(index);
        std::vector<std::string> keys{"key", "--delay", "60"};
        for (int i = 0; i < downs; ++i)
            keys.push_back("Down");
        if (subDowns >= 0)
        {
            keys.push_back("Right");
            for (int i = 0; i < subDowns; ++i)
                keys.push_back("Down");
        }
        keys.push_back("Return");
        h.xdo(keys);
    }

private:
    Harness& h;
    unsigned long window;
    std::vector<int> titleCentres;
};

// The content of a dialog window whose content has the given size: its edges are equal on the left, the
// right and the bottom, the title bar adds to the top.
std::optional<WindowGeometry> dialogContent(const Harness& h, unsigned long window, int width, int height)
{
    auto g = h.geometry(window);
    if (!g)
        return g;
    const int edge = (g->width - width) / 2;
    g->x += edge;
    g->y += g->height - height - edge;
    g->width = width;
    g->height = height;
    return g;
}

// Pixels that differ between two shots of the main window in the panel's monitoring section (its lowest
// sixth: the record switch, the knob and the headphone switch).
int monitorSectionDifference(const juce::File& a, const juce::File& b)
{
    const auto imageA = juce::ImageFileFormat::loadFrom(a);
    const auto imageB = juce::ImageFileFormat::loadFrom(b);
    if (!imageA.isValid() || imageA.getBounds() != imageB.getBounds())
        return -1;
    const int top = Harness::borderTop + 486 * 5 / 6;
    int differing = 0;
    for (int y = top; y < imageA.getHeight() - Harness::borderBottom; ++y)
        for (int x = 0; x < imageA.getWidth(); ++x)
            if (imageA.getPixelAt(x, y) != imageB.getPixelAt(x, y))
                ++differing;
    return differing;
}

// Waits for the window of that title to show with (onTop) or without the always-on-top state; the program
// makes a window anew when its state changes, so the window found may have a new id.
std::optional<unsigned long> waitForAlwaysOnTop(Harness& h, const std::string& windowTitle, bool onTop)
{
    std::optional<unsigned long> found;
    waitUntil(
        [&]
        {
            const auto now = h.waitForWindow(windowTitle, Milliseconds(500));
            if (!now)
                return false;
            const auto props =
                runTool({"xprop", "-id", std::to_string(*now), "_NET_WM_STATE"}, h.environment());
            if (!props || (props->find("_NET_WM_STATE_ABOVE") != std::string::npos) != onTop)
                return false;
            found = now;
            return true;
        });
    return found;
}

// Whether the window manager stacks window upper above window lower (both among its clients).
bool stackedAbove(const Harness& h, unsigned long upper, unsigned long lower)
{
    // "_NET_CLIENT_LIST_STACKING(WINDOW): window id # 0x400007, 0x600007", from the bottom to the top.
    const auto out = runTool({"xprop", "-root", "_NET_CLIENT_LIST_STACKING"}, h.environment());
    if (!out)
        return false;
    const auto ids =
        juce::StringArray::fromTokens(juce::String(*out).fromFirstOccurrenceOf("#", false, false), ",", "");
    int upperIndex = -1, lowerIndex = -1;
    for (int i = 0; i < ids.size(); ++i)
    {
        const auto id = std::stoul(ids[i].trim().toStdString(), nullptr, 16);
        if (id == upper)
            upperIndex = i;
        if (id == lower)
            lowerIndex = i;
    }
    return upperIndex >= 0 && lowerIndex >= 0 && upperIndex > lowerIndex;
}

// A recording stand-in for the desktop's audio settings tool.
juce::File makeRecorder(Harness& h)
{
    const auto script = h.file("audio-settings-tool");
    script.replaceWithText("#!/bin/sh\necho \"$#:$1\" >> '" + h.file("tool-record").getFullPathName() + "'\n",
                           false, false, "\n");
    script.setExecutePermission(true);
    return script;
}
} // namespace

TEST(MenusEndToEnd, EveryMenuCommandChosenOnceWithThePointerAndKeys)
{
    // With a window manager, which keeps the always-on-top state on the window.
    Harness h({true, "plugged"});
    h.writeSettings(nonFactoryStates);
    const auto recorder = makeRecorder(h);
    auto& app = h.launch({}, {{"PELK_AUDIO_SETTINGS_COMMAND",
                               "\"" + recorder.getFullPathName().toStdString() + "\" \"audio settings\""}});
    ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(waitForCommands(h, {36, 4, 6}));
    const auto panel = h.panelGeometry(*window);
    ASSERT_TRUE(panel.has_value());
    MenuDriver menus(h, *window);

    // The four menus as they open, for a person to look at.
    const char* names[] = {"file", "config", "patchgrid", "help"};
    for (int index = 0; index < 4; ++index)
    {
        menus.open(index);
        if (index == 1)
        {
            h.xdo({"key", "--delay", "60", "Down", "Down", "Right"}); // the rates too
            EXPECT_TRUE(menus.waitForMenus(2)) << "the rates did not open";
        }
        EXPECT_TRUE(h.settledScreenshotRoot(screenshotFile(juce::String("menu-") + names[index] + ".png")));
        h.xdo({"key", "--delay", "60", "Escape", "Escape"});
        EXPECT_TRUE(menus.waitForMenus(0));
    }

    // File > Always on top, twice: the window is made again each time, in the same place.
    for (const bool onTop : {true, false})
    {
        menus.choose(0, 1);
        window = waitForAlwaysOnTop(h, title, onTop);
        ASSERT_TRUE(window.has_value());
        menus.setWindow(*window);
        const auto after = h.panelGeometry(*window);
        ASSERT_TRUE(after.has_value());
        EXPECT_EQ(after->x, panel->x);
        EXPECT_EQ(after->y, panel->y);
        EXPECT_EQ(after->width, panel->width);
    }

    // File > macOS Audio Settings: the stand-in runs with its arguments.
    menus.choose(0, 2);
    EXPECT_TRUE(app.waitForStderr("Call Audio MIDI Setup: OK\n")) << app.stderrText();
    EXPECT_TRUE(waitUntil([&] { return h.file("tool-record").loadFileAsString() == "1:audio settings\n"; }));

    // PatchGRID > Loopback: the stored "on" goes to the interface, the dialog beside the panel.
    menus.choose(2, 1);
    EXPECT_TRUE(waitForCommands(h, {36, 4, 6, 9}));
    const auto loopbackWindow = h.waitForWindow("Loopback");
    ASSERT_TRUE(loopbackWindow.has_value());
    const auto dialog = dialogContent(h, *loopbackWindow, 314, 322);
    EXPECT_TRUE(h.settledScreenshotRoot(screenshotFile("loopback-beside-panel.png")));
    ASSERT_TRUE(dialog.has_value());

    // PatchGRID > Reset: loopback off.
    menus.choose(2, 2);
    EXPECT_TRUE(waitForCommands(h, {36, 4, 6, 9, 8}));

    // Config > Factory Defaults: record on, headphones off; loopback is off already.
    menus.choose(1, 1);
    EXPECT_TRUE(waitForCommands(h, {36, 4, 6, 9, 8, 7, 5}));

    // Config > Sample rate > each rate: both audio devices get the new format.
    const char* rates[] = {"44100", "48000", "88200", "96000", "176400", "192000"};
    for (int row = 0; row < 6; ++row)
    {
        const auto pattern = juce::String(" pft ");
        const auto count = [&]
        {
            int n = 0;
            for (const auto& line : juce::StringArray::fromLines(juce::String(h.journal())))
                if (line.contains(pattern) &&
                    line.fromLastOccurrenceOf(" ", false, false).startsWith(juce::String(rates[row]) + "/"))
                    ++n;
            return n;
        };
        const int before = count();
        menus.choose(1, 2, row);
        EXPECT_TRUE(waitUntil([&] { return count() >= before + 2; })) << rates[row];
    }

    // File > Close: the program ends as a window close does, keeping its window state.
    menus.choose(0, 3);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
    EXPECT_TRUE(h.setting("WindowPosition").isNotEmpty());
    EXPECT_EQ(h.setting("loopback"), "0");
    EXPECT_EQ(h.setting("MonitoringHP"), "1");
    EXPECT_EQ(journalCommands(h), Bytes({36, 4, 6, 9, 8, 7, 5}));

    // The loopback content sat beside the panel, level with its top (checked last, after the program ended,
    // so a failure here does not leave it running).
    EXPECT_EQ(dialog->y, panel->y);
    EXPECT_EQ(dialog->width, 314);
    EXPECT_TRUE(dialog->x == panel->x + panel->width || dialog->x + dialog->width == panel->x) << dialog->x;
}

TEST(MenusEndToEnd, WithTheMainWindowAlwaysOnTopTheDialogsShowAboveItAndTakeClicks)
{
    Harness h({true, "plugged"});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(waitForCommands(h, {5, 7}));
    MenuDriver menus(h, *window);

    // The loopback window open beside the panel (the stored "off" goes out).
    menus.choose(2, 1);
    EXPECT_TRUE(waitForCommands(h, {5, 7, 8}));
    auto loopback = h.waitForWindow("Loopback");
    ASSERT_TRUE(loopback.has_value());
    const auto loopbackBefore = dialogContent(h, *loopback, 314, 322);
    ASSERT_TRUE(loopbackBefore.has_value());

    // File > Always on top: the main window and the open loopback window take the new state, and the
    // dialog is stacked above the panel.
    const auto switchAlwaysOnTop = [&](bool onTop)
    {
        menus.choose(0, 1);
        window = waitForAlwaysOnTop(h, title, onTop);
        ASSERT_TRUE(window.has_value());
        menus.setWindow(*window);
        EXPECT_TRUE(waitForAlwaysOnTop(h, "Loopback", onTop).has_value())
            << "the loopback window kept its state";
        loopback = h.waitForWindow("Loopback");
        ASSERT_TRUE(loopback.has_value());
        EXPECT_TRUE(waitUntil([&] { return stackedAbove(h, *loopback, *window); }));
    };
    switchAlwaysOnTop(true);
    ASSERT_FALSE(HasFatalFailure());
    const auto content = dialogContent(h, *loopback, 314, 322); // in its place
    ASSERT_TRUE(content.has_value());
    EXPECT_EQ(content->x, loopbackBefore->x);
    EXPECT_EQ(content->y, loopbackBefore->y);

    // The panel moved over the dialog's "on" button: a click there still reaches the dialog.
    const int onX = content->x + 15 + 21, onY = content->y + 206 + 21;
    ASSERT_TRUE(
        h.xdo({"windowmove", std::to_string(*window), std::to_string(onX - 200), std::to_string(onY - 300)}));
    ASSERT_TRUE(waitUntil(
        [&]
        {
            const auto g = h.geometry(*window);
            return g && g->x < onX && onX < g->x + g->width && g->y < onY && onY < g->y + g->height;
        }));
    h.click(onX, onY);
    EXPECT_TRUE(waitForCommands(h, {5, 7, 8, 9})) << "the click did not reach the loopback window";
    EXPECT_TRUE(h.settledScreenshotRoot(screenshotFile("loopback-always-on-top.png")));

    // Help > About: the box opens above the panel, at its place, and its close area takes the click.
    menus.choose(3, 1);
    const auto about = h.waitForWindow("About Pelk VOD");
    ASSERT_TRUE(about.has_value());
    const auto panel = h.panelGeometry(*window);
    const auto box = dialogContent(h, *about, 534, 212);
    ASSERT_TRUE(panel.has_value() && box.has_value());
    EXPECT_EQ(box->x, panel->x);
    EXPECT_EQ(box->y, panel->y + 50);
    EXPECT_TRUE(waitUntil([&] { return stackedAbove(h, *about, *window); })) << "the About box is behind";
    EXPECT_TRUE(h.settledScreenshotRoot(screenshotFile("about-always-on-top.png")));
    h.click(box->x + 109 + 20, box->y + 166 + 11);
    EXPECT_TRUE(waitUntil(
        [&]
        {
            const auto boxes = h.findWindows("About Pelk VOD");
            return (boxes && boxes->empty()) || !h.geometry(*about).value_or(WindowGeometry{}).viewable;
        }))
        << "the close area did not close the box";

    // File > Always on top again: both windows leave the state, the dialog still above the panel.
    switchAlwaysOnTop(false);
    ASSERT_FALSE(HasFatalFailure());

    menus.choose(0, 3);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
}

//==============================================================================
struct AboutRoute
{
    const char* name;
    std::function<void(Harness&, unsigned long aboutWindow)> close;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const AboutRoute& c, std::ostream* os)
{
    *os << c.name;
}

class AboutClosed : public ::testing::TestWithParam<AboutRoute>
{
};

TEST_P(AboutClosed, ByEveryRouteAndTheProgramGoesOn)
{
    Harness h({false, "plugged"});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(waitForCommands(h, {5, 7}));
    const auto panel = h.panelGeometry(*window);
    MenuDriver menus(h, *window);

    menus.choose(3, 1);
    const auto about = h.waitForWindow("About Pelk VOD");
    ASSERT_TRUE(about.has_value());
    const auto box = dialogContent(h, *about, 534, 212);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->x, panel->x);
    EXPECT_EQ(box->y, panel->y + 50);
    if (std::string(GetParam().name) == "CloseArea")
    {
        EXPECT_TRUE(h.settledScreenshotRoot(screenshotFile("about.png")));
    }

    GetParam().close(h, *about);
    EXPECT_TRUE(waitUntil(
        [&]
        {
            const auto boxes = h.findWindows("About Pelk VOD");
            return (boxes && boxes->empty()) || !h.geometry(*about).value_or(WindowGeometry{}).viewable;
        }));

    // The command has returned: the next one runs ("Reset" sends loopback off, unless the interface left).
    menus.choose(2, 2);
    if (std::string(GetParam().name) != "InterfaceGone")
    {
        EXPECT_TRUE(waitForCommands(h, {5, 7, 8}));
    }
    menus.choose(0, 3);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
}

INSTANTIATE_TEST_SUITE_P(
    Routes, AboutClosed,
    ::testing::Values(AboutRoute{"CloseArea",
                                 [](Harness& h, unsigned long about)
                                 {
                                     const auto box = dialogContent(h, about, 534, 212);
                                     h.click(box->x + 109 + 20, box->y + 166 + 11);
                                 }},
                      AboutRoute{"Escape",
                                 [](Harness& h, unsigned long about)
                                 {
                                     h.xdo({"windowfocus", "--sync", std::to_string(about)});
                                     h.xdo({"key", "Escape"});
                                 }},
                      AboutRoute{"TitleBarClose",
                                 [](Harness& h, unsigned long about)
                                 {
                                     const auto g = h.geometry(about);
                                     h.click(g->x + g->width - 12, g->y + 1 + 13);
                                 }},
                      AboutRoute{"InterfaceGone", [](Harness& h, unsigned long) { h.control("unplug"); }}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

//==============================================================================
struct StartSwitch
{
    const char* name;
    const char* argument;
    bool ends; // "/init": the program ends before its event loop runs
    Bytes commands;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const StartSwitch& c, std::ostream* os)
{
    *os << c.name;
}

class FactoryStart : public ::testing::TestWithParam<StartSwitch>
{
};

TEST_P(FactoryStart, TheFactorySettingsAreTheFinalStateAndTheKeysStay)
{
    const auto& c = GetParam();
    Harness h({false, "plugged"});
    h.writeSettings(nonFactoryStates);
    const auto setup = h.file("setup");
    setup.replaceWithText("set loopback on\n", false, false, "\n");
    auto& app = h.launch({c.argument}, {{"PELK_SIM_SETUP", setup.getFullPathName().toStdString()}});

    if (c.ends)
    {
        EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
    }
    else
    {
        const auto window = h.waitForWindow();
        ASSERT_TRUE(window.has_value());
        EXPECT_TRUE(waitForCommands(h, c.commands)) << h.journal();
        EXPECT_TRUE(h.waitForMark()); // nothing follows
        const auto shot = screenshotFile(juce::String("start-") + c.name + ".png");
        EXPECT_TRUE(h.settledScreenshot(*window, shot));
        app.terminate(SIGTERM);
        EXPECT_EQ(app.waitExit(), 0) << app.stderrText();

        // The panel looks exactly as after an ordinary start with the factory monitoring states stored:
        // record monitoring on, headphone monitoring off and so the knob hidden, the faders at 0 dB.
        Harness reference({false, "plugged"});
        reference.writeSettings({{"MonitoringHP", "0"}, {"MonitoringRecord", "1"}, {"MonitoringVol", "-20"}});
        auto& plain = reference.launch();
        const auto plainWindow = reference.waitForWindow();
        ASSERT_TRUE(plainWindow.has_value());
        EXPECT_TRUE(waitForCommands(reference, {36, 5, 7}));
        EXPECT_TRUE(reference.waitForMark());
        const auto plainShot = screenshotFile(juce::String("start-") + c.name + "-reference.png");
        EXPECT_TRUE(reference.settledScreenshot(*plainWindow, plainShot));
        EXPECT_EQ(monitorSectionDifference(shot, plainShot), 0);
        plain.terminate(SIGTERM);
        EXPECT_EQ(plain.waitExit(), 0);
    }

    EXPECT_EQ(journalCommands(h), c.commands) << h.journal();
    EXPECT_EQ(app.stderrText().find("POS:"), std::string::npos);
    // The monitoring keys keep what was stored; "loopback" follows what the interface accepted.
    EXPECT_EQ(h.setting("MonitoringHP"), "1");
    EXPECT_EQ(h.setting("MonitoringRecord"), "0");
    EXPECT_EQ(h.setting("MonitoringVol").getDoubleValue(), -20.0);
    EXPECT_EQ(h.setting("loopback"), c.ends ? "1" : "0");
}

INSTANTIATE_TEST_SUITE_P(
    Switches, FactoryStart,
    ::testing::Values(
        // The restore of the stored states (knob 36, headphones on 4, record off 6) comes first, then the
        // factory settings (record on 7, headphones off 5), then loopback off (8) from the event loop.
        StartSwitch{"Default", "/default", false, {36, 4, 6, 7, 5, 8}},
        StartSwitch{"Defaults", "/DEFAULTS", false, {36, 4, 6, 7, 5, 8}},
        // "/init" drops everything queued for the event loop, the restore included.
        StartSwitch{"Init", "/init", true, {7, 5}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

struct LaterSwitch
{
    const char* name;
    const char* argument;
    bool firstEnds;
    Bytes commands;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const LaterSwitch& c, std::ostream* os)
{
    *os << c.name;
}

class FactoryLaterLaunch : public ::testing::TestWithParam<LaterSwitch>
{
};

TEST_P(FactoryLaterLaunch, AppliesTheFactorySettingsInTheRunningInstanceOnlyForDefaults)
{
    const auto& c = GetParam();
    Harness h({false, "plugged"});
    h.writeSettings(nonFactoryStates);
    auto& first = h.launch();
    ASSERT_TRUE(first.waitForStderr("POS: Korr: "));
    ASSERT_TRUE(waitForCommands(h, {36, 4, 6}));

    auto& second = h.launch({c.argument});
    EXPECT_EQ(second.waitExit(), 0) << second.stderrText();

    if (c.firstEnds)
    {
        EXPECT_EQ(first.waitExit(), 0) << first.stderrText();
    }
    else
    {
        EXPECT_TRUE(waitForCommands(h, c.commands)) << h.journal();
        EXPECT_TRUE(h.waitForMark()); // nothing follows (an instance that ended sends nothing more)
    }
    EXPECT_EQ(journalCommands(h), c.commands);
    if (!c.firstEnds)
    {
        EXPECT_TRUE(first.running());
        first.terminate(SIGTERM);
        EXPECT_EQ(first.waitExit(), 0);
    }
    EXPECT_EQ(h.setting("MonitoringHP"), "1");
    EXPECT_EQ(h.setting("MonitoringRecord"), "0");
}

INSTANTIATE_TEST_SUITE_P(Switches, FactoryLaterLaunch,
                         ::testing::Values(LaterSwitch{"Defaults", "/defaults", false, {36, 4, 6, 7, 5, 8}},
                                           LaterSwitch{"Init", "/init", true, {36, 4, 6}}),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });
