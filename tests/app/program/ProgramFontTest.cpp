// The real program draws with the typeface of the framework's own full font search: Liberation Sans
// unpacked into the private HOME's ~/.fonts (not installed for the machine), next to the machine's DejaVu
// Sans, gives the same picture as JUCE_FONT_PATH set empty (the framework's own folders).

#include "Packages.h"
#include "support/ProgramHarness.h"

#include <csignal>
#include <gtest/gtest.h>

using namespace pelk::e2e;

namespace
{
// Starts the program with the extra variables, no stored window state and a fresh journal, waits for the
// panel with the interface's start-up restore over, and takes its picture; ends it before returning.
void picture(Harness& h, const std::map<std::string, std::string>& env, const juce::File& png)
{
    h.settingsFile().deleteFile();
    h.file("journal").deleteFile();
    auto& app = h.launch({}, env);
    ASSERT_TRUE(app.waitForStderr("POS: Korr: ")) << app.stderrText();
    const auto window = h.waitForWindow();
    ASSERT_TRUE(window.has_value());
    ASSERT_TRUE(h.waitForJournal("command 7\n")) << h.journal();
    ASSERT_TRUE(h.waitForMark());
    ASSERT_TRUE(h.settledScreenshot(*window, png));
    app.terminate(SIGTERM);
    EXPECT_EQ(app.waitExit(), 0) << app.stderrText();
}

TEST(ProgramFont, APreferredFamilyInHomeFontsIsTheFrameworksOwnPick)
{
    Harness h({false, "plugged"});
    ASSERT_TRUE(pelktest::unpackDebianPackage("fonts-liberation2", h.file("home/.fonts")));

    const auto narrowed = h.file("shots/narrowed.png");
    const auto frameworks = h.file("shots/frameworks-own-search.png");
    const auto dejaVuOnly = h.file("shots/dejavu-folder-only.png");
    ASSERT_NO_FATAL_FAILURE(picture(h, {{"JUCE_FONT_PATH", ""}}, frameworks));
    ASSERT_NO_FATAL_FAILURE(picture(h, {}, narrowed));
    // What the picture would be with the DejaVu folder alone, so the comparison above can see a typeface.
    ASSERT_NO_FATAL_FAILURE(picture(h, {{"JUCE_FONT_PATH", "/usr/share/fonts/truetype/dejavu"}}, dejaVuOnly));

    const juce::File saved(PELK_SCREENSHOT_DIR);
    saved.createDirectory();
    narrowed.copyFileTo(saved.getChildFile("font-narrowed.png"));
    frameworks.copyFileTo(saved.getChildFile("font-frameworks-own-search.png"));
    dejaVuOnly.copyFileTo(saved.getChildFile("font-dejavu-folder-only.png"));

    const auto same = h.difference(narrowed, frameworks);
    ASSERT_TRUE(same.has_value());
    EXPECT_EQ(*same, 0.0);
    const auto other = h.difference(dejaVuOnly, frameworks);
    ASSERT_TRUE(other.has_value());
    EXPECT_GT(*other, 0.0);

    std::printf("differing pixels, DejaVu folder only against the framework's own search: %.0f\n",
                *other * 318 * (486 + Harness::borderTop + 1));
}
} // namespace
