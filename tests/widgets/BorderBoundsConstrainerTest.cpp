// The size constrainer: limits and aspect ratio apply inside the frame, and the proposed top-left
// corner is kept.

#include "ORVBorderBoundsConstrainer.h"

#include <gtest/gtest.h>

namespace
{
using Rect = juce::Rectangle<int>;

enum Edge
{
    top = 1,
    left = 2,
    bottom = 4,
    right = 8
};

struct Window
{
    double ratio;
    int minW, minH, maxW, maxH;
    juce::BorderSize<int> frame;
    int extraTop = 0;
};

const Window mainWindow{226.0 / 348.0, 226, 348, 452, 696, {28, 0, 0, 0}};
// The loopback window's ratio is 157 / 161 taken in single precision.
const Window loopbackWindow{(double) (157.0f / 161.0f), 214, 229, 314, 322, {}};

Rect constrain(const Window& w, Rect proposed, Rect previous, int edges)
{
    BorderBoundsConstrainer c;
    c.frameBorder = w.frame;
    c.extraTopHeight = w.extraTop;
    c.setFixedAspectRatio(w.ratio);
    c.setSizeLimits(w.minW, w.minH, w.maxW, w.maxH);
    c.checkBounds(proposed, previous, {0, 0, 4000, 4000}, (edges & top) != 0, (edges & left) != 0,
                  (edges & bottom) != 0, (edges & right) != 0);
    return proposed;
}
} // namespace

TEST(BorderBoundsConstrainer, StartsWithTheFrameworkDefaults)
{
    BorderBoundsConstrainer c;
    EXPECT_EQ(c.frameBorder, juce::BorderSize<int>());
    EXPECT_EQ(c.extraTopHeight, 0);
    EXPECT_EQ(c.getMinimumWidth(), 0);
    EXPECT_EQ(c.getMaximumWidth(), 0x3fffffff);
    EXPECT_EQ(c.getMaximumHeight(), 0x3fffffff);
    EXPECT_EQ(c.getFixedAspectRatio(), 0.0);
}

TEST(BorderBoundsConstrainer, ConstrainsTheInnerAreaAndKeepsTheTopLeftCorner)
{
    struct Case
    {
        const char* what;
        Window window;
        Rect proposed, previous;
        int edges;
        Rect expected;
    };

    Window mainNoFrame = mainWindow;
    mainNoFrame.frame = {};
    Window mainWithExtraTop = mainWindow;
    mainWithExtraTop.extraTop = 24;
    Window extraTopOnly = mainWindow;
    extraTopOnly.frame = {};
    extraTopOnly.extraTop = 30;
    Window extraTopAndFullFrame = mainWindow;
    extraTopAndFullFrame.frame = {10, 3, 5, 3};
    extraTopAndFullFrame.extraTop = 40;

    const Case cases[] = {
        // Inner 400 x 572 becomes 400 x 616 (400 / ratio rounded); the base would re-centre vertically.
        {"main, right edge to 400 x 600",
         mainWindow,
         {100, 50, 400, 600},
         {100, 50, 316, 514},
         right,
         {100, 50, 400, 644}},
        {"main, wider than the maximum",
         mainWindow,
         {100, 50, 700, 800},
         {100, 50, 316, 514},
         right | bottom,
         {100, 50, 452, 724}},
        {"main, smaller than the minimum",
         mainWindow,
         {100, 50, 100, 100},
         {100, 50, 316, 514},
         right | bottom,
         {100, 50, 226, 376}},
        // The base would pin the right edge when the left edge is dragged; the corner stays instead.
        {"main, left edge dragged",
         mainWindow,
         {60, 50, 356, 514},
         {100, 50, 316, 514},
         left,
         {60, 50, 356, 576}},
        {"main, extra top height left out",
         mainWithExtraTop,
         {10, 20, 400, 600},
         {10, 20, 316, 538},
         right,
         {10, 20, 400, 668}},
        // Dragging the bottom edge makes the height decide the width, so the height taken off at the top
        // (frame top and extra height, which differ here) shows in the result.
        {"main, extra top height, bottom edge dragged",
         mainWithExtraTop,
         {10, 20, 316, 700},
         {10, 20, 316, 538},
         bottom,
         {10, 20, 421, 700}},
        {"extra top height without frame, bottom edge dragged",
         extraTopOnly,
         {0, 0, 300, 500},
         {0, 0, 226, 378},
         bottom,
         {0, 0, 305, 500}},
        {"extra top height and a frame on every side, bottom edge dragged",
         extraTopAndFullFrame,
         {0, 0, 300, 500},
         {0, 0, 232, 396},
         bottom,
         {0, 0, 295, 500}},
        {"extra top height taller than the window",
         extraTopOnly,
         {0, 0, 300, 20},
         {0, 0, 226, 378},
         bottom,
         {0, 0, 226, 378}},
        // The minimum width 214 is never reached: 229 high at the ratio is 223 wide.
        {"loopback, smallest",
         loopbackWindow,
         {5, 5, 100, 100},
         {5, 5, 314, 322},
         right | bottom,
         {5, 5, 223, 229}},
        {"loopback, largest",
         loopbackWindow,
         {5, 5, 500, 500},
         {5, 5, 314, 322},
         right | bottom,
         {5, 5, 314, 322}},
        // Sized to what it already is (a restore): 316 x 486 holds the ratio as the height rounds to the
        // width,
        // so it stays; the base would derive 487 from the width.
        {"main, a size at the ratio is kept",
         mainWindow,
         {100, 50, 316, 514},
         {0, 0, 454, 724},
         0,
         {100, 50, 316, 514}},
        {"main, the other rounding at the ratio is kept",
         mainWindow,
         {100, 50, 316, 515},
         {0, 0, 228, 400},
         0,
         {100, 50, 316, 515}},
        {"main without frame, top edge dragged",
         mainNoFrame,
         {100, 10, 316, 530},
         {100, 30, 316, 486},
         top,
         {100, 10, 344, 530}},
    };

    for (const auto& c : cases)
        EXPECT_EQ(constrain(c.window, c.proposed, c.previous, c.edges), c.expected) << c.what;
}

TEST(BorderBoundsConstrainer, WithoutFrameGivesTheFrameworkSizeButNeverMoves)
{
    const Rect previous{200, 100, 316, 486};
    const Rect proposals[] = {
        {150, 100, 366, 486}, {200, 60, 316, 526}, {150, 60, 366, 526}, {200, 100, 500, 900}};
    const int edgeSets[] = {left, top, top | left, right | bottom};

    for (int i = 0; i < 4; ++i)
    {
        juce::ComponentBoundsConstrainer plain;
        plain.setFixedAspectRatio(226.0 / 348.0);
        plain.setSizeLimits(226, 348, 452, 696);
        Rect expected = proposals[i];
        const int e = edgeSets[i];
        plain.checkBounds(expected, previous, {0, 0, 4000, 4000}, (e & top) != 0, (e & left) != 0,
                          (e & bottom) != 0, (e & right) != 0);

        Window w = mainWindow;
        w.frame = {};
        const auto got = constrain(w, proposals[i], previous, e);
        EXPECT_EQ(got.getWidth(), expected.getWidth()) << i;
        EXPECT_EQ(got.getHeight(), expected.getHeight()) << i;
        EXPECT_EQ(got.getPosition(), proposals[i].getPosition()) << i;
    }
}

TEST(BorderBoundsConstrainer, SizesAWindowThroughTheFramework)
{
    // setBoundsConstrained hands the constrainer the component's bounds (no native frame for a plain
    // component); the frame of our own is taken off before the ratio is applied.
    juce::Component window;
    BorderBoundsConstrainer c;
    c.frameBorder = {27, 1, 1, 1};
    c.setFixedAspectRatio(226.0 / 348.0);
    c.setSizeLimits(226, 348, 452, 696);
    c.setBoundsForComponent(&window, {40, 30, 402, 400}, false, false, false, true);

    EXPECT_EQ(window.getBounds(), Rect(40, 30, 402, 644));
}
