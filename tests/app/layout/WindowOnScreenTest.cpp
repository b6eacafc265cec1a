// Bringing a window whole onto a screen: the display that holds most of it, else the main one; shrunk at
// the panel's ratio down to its minimum; a window that fits stays exactly.

#include "WindowOnScreen.h"

#include <gtest/gtest.h>

namespace
{
using Rect = juce::Rectangle<int>;

struct Case
{
    const char* what;
    Rect window;
    std::vector<Rect> userAreas;
    size_t mainArea;
    Rect expected;
};

TEST(WindowOnScreen, LiesWhollyOnTheDisplayHoldingMostOfIt)
{
    // The main window's border: edges of 1, the title bar and the menu bar (51) at the top.
    const juce::BorderSize<int> border{51, 1, 1, 1};
    juce::ComponentBoundsConstrainer limits;
    limits.setFixedAspectRatio(226.0 / 348.0);
    limits.setSizeLimits(226, 348, 452, 696);

    const Rect left{0, 0, 1920, 1080}, right{1920, 0, 800, 600}, lowered{0, 30, 640, 450};
    const Case cases[] = {
        {"fits: stays exactly", {100, 100, 318, 538}, {left, right}, 0, {100, 100, 318, 538}},
        {"mostly on the right display: moved in there",
         {2500, 100, 318, 538},
         {left, right},
         0,
         {2720 - 318, 62, 318, 538}},
        {"across both, more on the left: onto the left",
         {1700, 100, 318, 538},
         {left, right},
         0,
         {1920 - 318, 100, 318, 538}},
        {"on no display: onto the main one, the second",
         {-3000, -3000, 318, 538},
         {left, right},
         1,
         {1920, 0, 318, 538}},
        {"too tall: shrunk to the height at the ratio, the corner kept",
         {2000, 0, 454, 748},
         {left, right},
         0,
         {2000, 0, 358, 600}},
        {"too tall and over the edge: shrunk and moved in",
         {2500, 200, 454, 748},
         {left, right},
         0,
         {2720 - 358, 0, 358, 600}},
        {"a panel bar takes the top: below it", {10, 0, 318, 538}, {lowered}, 0, {10, 30, 260, 450}},
        {"smaller than the minimum screen: minimum size at the top-left corner",
         {50, 50, 318, 538},
         {{0, 0, 200, 300}},
         0,
         {0, 0, 228, 400}},
        {"no displays: unchanged", {-500, -500, 318, 538}, {}, 0, {-500, -500, 318, 538}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wholeOnScreen(c.window, c.userAreas, c.mainArea, border, limits).toString(),
                  c.expected.toString())
            << c.what;
}
} // namespace
