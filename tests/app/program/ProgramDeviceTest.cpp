// The program with the simulated interface while it runs: a fader dragged with the mouse reaches the
// audio service, unplugging and plugging in through the control pipe hides and shows the controls, and a
// quit signal just after a change keeps it.
// Also takes the screenshots of the panel at its three sizes, plugged and unplugged, for a person to look
// at (in screenshots/ of this build folder).

#include "support/ProgramHarness.h"

#include <csignal>
#include <gtest/gtest.h>

using namespace pelk::e2e;

namespace
{
const juce::File screenshots(PELK_SCREENSHOT_DIR);

TEST(ProgramDevice, AFaderDraggedWithTheMouseReachesTheAudioService)
{
    Harness h({false, "plugged"});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    const auto panelQuery = h.panelGeometry(*window);
    ASSERT_TRUE(panelQuery.has_value());
    const auto panel = *panelQuery;

    // The input pair's group spans x 0.1969..0.3208 and y 0.1853..0.6450 of the panel; its left fader is
    // the left half. A drag in the fader's track from a quarter down to near the bottom lowers it.
    const int x = panel.x + (int) (panel.width * (0.196903 + 0.123894 * 0.25));
    const int y0 = panel.y + (int) (panel.height * (0.185345 + 0.45977 * 0.25));
    const int y1 = panel.y + (int) (panel.height * (0.185345 + 0.45977 * 0.8));
    ASSERT_TRUE(h.drag(x, y0, x, y1));

    EXPECT_TRUE(h.waitForJournal(" vold inpt 1 ")) << h.journal();
    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0);
}

struct Size
{
    int width, height;
};

class ProgramPlugging : public ::testing::TestWithParam<Size>
{
};

TEST_P(ProgramPlugging, HidesAndShowsTheControls)
{
    const auto size = GetParam();
    Harness h({false, "plugged"});
    h.writeSettings({{"WindowPosition",
                      "40 30 " + juce::String(size.width + Harness::borderLeft + Harness::borderRight) + " " +
                          juce::String(size.height + Harness::borderTop + Harness::borderBottom)}});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    const auto shown = h.panelGeometry(*window);
    ASSERT_TRUE(shown.has_value());
    ASSERT_EQ(shown->width, size.width);

    const auto name = juce::String(size.width) + "x" + juce::String(size.height);
    const auto plugged = screenshots.getChildFile("plugged-" + name + ".png");
    const auto unplugged = screenshots.getChildFile("unplugged-" + name + ".png");
    const auto pluggedAgain = screenshots.getChildFile("plugged-again-" + name + ".png");

    // The picture is final once the restore after device ready has sent its last command (record
    // monitoring on) and the repaints it queued have run.
    ASSERT_TRUE(h.waitForJournal("command 7\n")) << h.journal();
    ASSERT_TRUE(h.waitForMark());
    ASSERT_TRUE(h.screenshot(*window, plugged));

    ASSERT_TRUE(h.control("unplug"));
    EXPECT_TRUE(waitUntil(
        [&]
        {
            h.screenshot(*window, unplugged);
            const auto d = h.difference(plugged, unplugged);
            return d && *d > 0.01;
        }))
        << "the controls did not hide";

    ASSERT_TRUE(h.control("plug"));
    EXPECT_TRUE(waitUntil(
        [&]
        {
            h.screenshot(*window, pluggedAgain);
            const auto d = h.difference(plugged, pluggedAgain);
            return d && *d < 0.005; // the corner resizer may be drawn in another state
        }))
        << "the controls did not come back as they were";

    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0);
}

INSTANTIATE_TEST_SUITE_P(Sizes, ProgramPlugging,
                         ::testing::Values(Size{452, 696}, Size{316, 486}, Size{226, 348}),
                         [](const auto& test) { return "W" + std::to_string(test.param.width); });
} // namespace

namespace
{
class QuitSignalAfterAChange : public ::testing::TestWithParam<int>
{
};

// A logout or `kill` within the settings file's 3 s delay still keeps the change.
TEST_P(QuitSignalAfterAChange, KeepsAKnobChangeMadeJustBefore)
{
    Harness h({false, "plugged"});
    h.writeSettings({{"WindowPosition", "40 30 318 538"}});
    auto& app = h.launch();
    ASSERT_TRUE(app.waitForStderr("POS: Korr: "));
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(h.waitForJournal("command 7\n"));
    const auto panelQuery = h.panelGeometry(*window);
    ASSERT_TRUE(panelQuery.has_value());
    const auto panel = *panelQuery;

    // Headphone monitoring on ("TO OUTPUT": x 0.6438..0.9248, y 0.8980..0.9468 of the panel) shows the
    // knob (x 0.4071..0.5929, y 0.8621..0.9828), which the wheel then turns down.
    h.click(panel.x + (int) (panel.width * 0.78), panel.y + (int) (panel.height * 0.92));
    ASSERT_TRUE(h.waitForJournal("command 4\n"));
    const int x = panel.x + (int) (panel.width * (0.40708 + 0.185841 / 2));
    const int y = panel.y + (int) (panel.height * (0.862069 + 0.12069 / 2));
    ASSERT_TRUE(h.xdo({"mousemove", std::to_string(x), std::to_string(y), "sleep", "0.1", "click", "--repeat",
                       "3", "--delay", "50", "5"}));
    const auto volumeCommandSent = [&]
    {
        for (const auto& line : juce::StringArray::fromLines(h.journal()))
            if (line.startsWith("command ") && line.substring(8).getIntValue() >= 16)
                return true;
        return false;
    };
    ASSERT_TRUE(waitUntil(volumeCommandSent)) << h.journal();
    ASSERT_FALSE(h.hasSetting("MonitoringVol")) << "stored already: the test would prove nothing";

    app.terminate(GetParam());
    EXPECT_EQ(app.waitExit(), 0);
    EXPECT_TRUE(h.hasSetting("MonitoringVol"));
    EXPECT_NE(h.setting("MonitoringVol").getDoubleValue(), 0.0) << h.setting("MonitoringVol");
    EXPECT_EQ(h.setting("MonitoringHP"), "1");
    EXPECT_TRUE(h.setting("WindowPosition").startsWith("40 30 318 ")) << h.setting("WindowPosition");
}

INSTANTIATE_TEST_SUITE_P(TermAndHangUp, QuitSignalAfterAChange, ::testing::Values(SIGTERM, SIGHUP),
                         [](const auto& test) { return test.param == SIGTERM ? "Term" : "HangUp"; });
} // namespace
