// Writes pictures of the running program for a person to look at: each menu open over the panel, the
// loopback window and the About box. Not a test: it checks nothing, and so runs only when asked for
// (scripts/screenshots). The program runs on a private display, as in the end-to-end tests.
//
//   program_screenshots [folder]     default: screenshots/ in the current folder

#include "support/ProgramHarness.h"

#include <csignal>
#include <iostream>

using namespace pelk::e2e;

namespace
{
// A settled shot of the whole display that differs from an earlier one (what a click started has shown).
bool changedShot(const Harness& h, const juce::File& png, const juce::File& changedFrom)
{
    return waitUntil(
        [&]
        {
            if (!h.settledScreenshotRoot(png))
                return false;
            const auto changed = h.difference(changedFrom, png);
            return changed && *changed > 0.0;
        });
}

bool fail(const std::string& what)
{
    std::cerr << "program_screenshots: " << what << "\n";
    return false;
}

bool writeScreenshots(const juce::File& folder)
{
    Harness h({false, "plugged"});
    h.writeSettings({{"WindowPosition", "40 30 318 538"}});
    auto& app = h.launch();
    if (!app.waitForStderr("POS: Korr: ") || !h.waitForWindow())
        return fail("the program did not start: " + app.stderrText());
    if (!h.waitForJournal("command 7\n") || !h.waitForMark())
        return fail("the panel did not settle: " + h.journal());

    const auto panel = h.file("panel.png");
    if (!h.settledScreenshotRoot(panel))
        return fail("no picture of the display");

    const int barY = 30 + 27 + 12;
    // Title centres in the bar, from the window's left edge.
    for (const auto& [menu, x] : std::vector<std::pair<std::string, int>>{
             {"file", 18}, {"config", 63}, {"patchgrid", 136}, {"help", 201}})
    {
        h.click(40 + x, barY);
        if (!changedShot(h, folder.getChildFile("menu-" + menu + ".png"), panel))
            return fail("the " + menu + " menu did not open");
        h.xdo({"key", "Escape"});
        if (!waitUntil(
                [&] {
                    return h.screenshotRoot(h.file("now.png")) &&
                           h.difference(panel, h.file("now.png")) == 0.0;
                }))
            return fail("the " + menu + " menu did not close");
    }

    h.click(40 + 136, barY);
    if (!changedShot(h, h.file("menu.png"), panel))
        return fail("the PatchGRID menu did not open");
    h.xdo({"key", "Down", "Return"});
    const auto loopback = h.waitForWindow("Loopback");
    if (!loopback || !changedShot(h, folder.getChildFile("loopback.png"), panel))
        return fail("the loopback window did not show");
    h.xdo({"key", "--window", std::to_string(*loopback), "Escape"});

    const auto beforeAbout = h.file("before-about.png");
    if (!h.settledScreenshotRoot(beforeAbout))
        return fail("no picture of the display");
    h.click(40 + 201, barY);
    if (!changedShot(h, h.file("menu.png"), beforeAbout))
        return fail("the Help menu did not open");
    h.xdo({"key", "Down", "Return"});
    if (!h.waitForWindow("About Pelk VOD") || !changedShot(h, folder.getChildFile("about.png"), beforeAbout))
        return fail("the About box did not show");

    app.terminate(SIGTERM);
    if (app.waitExit() != 0)
        return fail("the program did not end cleanly: " + app.stderrText());
    return true;
}
} // namespace

int main(int argc, char** argv)
{
    const auto folder =
        juce::File::getCurrentWorkingDirectory().getChildFile(argc > 1 ? argv[1] : "screenshots");
    if (!folder.createDirectory())
        return fail("cannot create " + folder.getFullPathName().toStdString()) ? 0 : 1;
    if (!writeScreenshots(folder))
        return 1;
    std::cout << "written to " << folder.getFullPathName() << "\n";
    return 0;
}
