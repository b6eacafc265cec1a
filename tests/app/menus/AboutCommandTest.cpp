// "About": the box opens modally below the panel's top, above an always-on-top main window, and the
// command returns once it is closed, by whichever route.

#include "MenuTestSupport.h"

#include <ostream>

#include <functional>

namespace
{
using namespace menutest;

constexpr int aboutId = 8198;

// Runs "About"; while the box is open, look is called once it shows and close then ends it. A guard ends
// the modal loop after five seconds so a route that fails cannot hang the test.
struct AboutRun
{
    bool sawOpen = false;
    bool returned = false;
    bool guardFired = false;
    juce::Rectangle<int> contentOnScreen;
    bool resizable = true;
    bool modal = false;
    bool onTop = false;
};

// Calls tick every 10 ms while it lives; stopped when it goes, so nothing fires after the run.
struct Ticker : juce::Timer
{
    explicit Ticker(std::function<void()> f) : tick(std::move(f)) { startTimer(10); }
    ~Ticker() override { stopTimer(); }
    void timerCallback() override { tick(); }
    std::function<void()> tick;
};

AboutRun runAbout(MainComponent& p, const std::function<void(MainComponent&)>& close)
{
    AboutRun run;
    auto* window = p.aboutDialogWindow.get();
    const auto start = juce::Time::getMillisecondCounter();
    bool closing = false;
    Ticker ticker(
        [&]
        {
            if (!run.sawOpen && window->isShowing())
            {
                run.sawOpen = true;
                run.contentOnScreen = p.aboutWindow->getScreenBounds();
                run.resizable = window->isResizable();
                run.modal = window->isCurrentlyModal();
                run.onTop = window->isAlwaysOnTop();
            }
            if (run.sawOpen && !closing)
            {
                closing = true;
                close(p);
            }
            if (juce::Time::getMillisecondCounter() - start > 5000 && window->isCurrentlyModal())
            {
                run.guardFired = true;
                window->exitModalState(0);
            }
        });

    p.menuItemSelected(aboutId, 3);
    run.returned = true;
    return run;
}

struct RouteCase
{
    const char* name;
    std::function<void(MainComponent&)> close;
};

// Test names in the test list show the case, not its bytes.
[[maybe_unused]] void PrintTo(const RouteCase& c, std::ostream* os)
{
    *os << c.name;
}

class AboutRoute : public MenuTest, public ::testing::WithParamInterface<RouteCase>
{
};

TEST_P(AboutRoute, OpensBelowThePanelAndTheCommandReturnsWhenClosed)
{
    sim::plug();
    auto& p = makePanelAndSettle();
    showInWindow(250, 150);

    const auto run = runAbout(p, GetParam().close);

    EXPECT_TRUE(run.sawOpen);
    EXPECT_FALSE(run.guardFired) << "the route did not end the modal loop";
    EXPECT_TRUE(run.modal);
    EXPECT_FALSE(run.resizable);
    EXPECT_EQ(run.contentOnScreen.getPosition(), juce::Point<int>(250, 200));
    EXPECT_EQ(run.contentOnScreen.getWidth(), p.aboutWindow->getWidth());
    EXPECT_FALSE(p.aboutDialogWindow->isVisible());
    EXPECT_FALSE(p.aboutDialogWindow->isCurrentlyModal());
}

INSTANTIATE_TEST_SUITE_P(
    Routes, AboutRoute,
    ::testing::Values(RouteCase{"CloseArea",
                                [](MainComponent& p)
                                {
                                    if (auto* button = dynamic_cast<juce::Button*>(
                                            p.aboutWindow->getComponentAt(120, 170)))
                                        button->triggerClick();
                                }},
                      RouteCase{"Escape",
                                [](MainComponent& p)
                                {
                                    auto* peer = p.aboutDialogWindow->getPeer();
                                    p.aboutDialogWindow->toFront(true);
                                    p.aboutDialogWindow->grabKeyboardFocus();
                                    if (peer != nullptr)
                                        peer->handleKeyPress(juce::KeyPress(juce::KeyPress::escapeKey));
                                }},
                      RouteCase{"TitleBarClose",
                                [](MainComponent& p)
                                {
                                    // A window's title-bar buttons take clicks only while it is the active
                                    // window.
                                    auto* window = p.aboutDialogWindow.get();
                                    window->toFront(true);
                                    pumpUntil([window] { return window->getCloseButton()->isEnabled(); });
                                    window->getCloseButton()->triggerClick();
                                }},
                      RouteCase{"InterfaceGone", [](MainComponent&) { sim::unplug(); }}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MenuTest, AboutAgainOpensAtThePanelsCurrentPosition)
{
    auto& p = makePanelAndSettle();
    auto& w = showInWindow(100, 80);
    const auto escape = [](MainComponent& shown) { shown.aboutDialogWindow->setVisible(false); };

    const auto first = runAbout(p, escape);
    w.setTopLeftPosition(w.getX() + 300, w.getY() + 40);
    settlePanel();
    const auto second = runAbout(p, escape);

    EXPECT_EQ(first.contentOnScreen.getPosition(), juce::Point<int>(100, 130));
    EXPECT_EQ(second.contentOnScreen.getPosition(), juce::Point<int>(400, 170));
}
TEST_F(MenuTest, AboutIsAlwaysOnTopExactlyWhileTheMainWindowIs)
{
    auto& p = makePanelAndSettle();
    auto& w = showInWindow(100, 80);
    const auto escape = [](MainComponent& shown) { shown.aboutDialogWindow->setVisible(false); };

    // Set on the main window directly, not through the menu: the box still follows.
    for (const bool onTop : {true, false, true})
    {
        w.setAlwaysOnTop(onTop);
        settlePanel();
        const auto run = runAbout(p, escape);
        EXPECT_TRUE(run.sawOpen);
        EXPECT_TRUE(run.modal);
        EXPECT_EQ(run.onTop, onTop);
        EXPECT_EQ(run.contentOnScreen.getPosition(), juce::Point<int>(100, 130));
    }
}
} // namespace
