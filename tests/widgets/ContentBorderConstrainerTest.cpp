// The window constrainer that reads its frame from the window's content border each time it is
// consulted: a JUCE-drawn title bar, the edge and a menu bar added after installation all count.

#include "ContentBorderConstrainer.h"

#include <gtest/gtest.h>

namespace
{
struct Menus : juce::MenuBarModel
{
    juce::StringArray getMenuBarNames() override { return {"File"}; }
    juce::PopupMenu getMenuForIndex(int, const juce::String&) override { return {}; }
    void menuItemSelected(int, int) override {}
};

struct Fixture
{
    Fixture()
    {
        window.setUsingNativeTitleBar(false);
        window.setResizable(true, true);
        content.setSize(316, 486);
        window.setContentNonOwned(&content, true);
        constrainer.setFixedAspectRatio(226.0 / 348.0);
        constrainer.setSizeLimits(226, 348, 452, 696);
        window.setConstrainer(&constrainer);
    }
    // The bar refers to its model: it goes before the model does.
    ~Fixture()
    {
        window.setMenuBar(nullptr);
        window.setConstrainer(nullptr);
    }

    juce::Rectangle<int> constrain(juce::Rectangle<int> proposed)
    {
        constrainer.checkBounds(proposed, window.getBounds(), {0, 0, 4000, 4000}, false, false, true, true);
        return proposed;
    }

    juce::DocumentWindow window{"w", juce::Colours::lightgrey, juce::DocumentWindow::allButtons, false};
    juce::Component content;
    ContentBorderConstrainer constrainer{window};
    Menus menus;
};

TEST(ContentBorderConstrainer, HoldsTheContentAreaWhateverTheFrameBecomes)
{
    Fixture f;
    for (bool withMenuBar : {false, true})
    {
        f.window.setMenuBar(withMenuBar ? &f.menus : nullptr, 24);
        const auto border = f.window.getContentComponentBorder();
        EXPECT_EQ(border.getTop(), 1 + 26 + (withMenuBar ? 24 : 0));

        const auto r = f.constrain({10, 20, 400 + border.getLeftAndRight(), 500 + border.getTopAndBottom()});
        const int innerW = r.getWidth() - border.getLeftAndRight();
        const int innerH = r.getHeight() - border.getTopAndBottom();
        EXPECT_EQ(r.getPosition(), juce::Point<int>(10, 20));
        EXPECT_TRUE(innerW == 400 || innerH == 500) << "one side stays as proposed";
        EXPECT_NEAR((double) innerW / innerH, 226.0 / 348.0, 0.005) << "menu bar " << withMenuBar;

        const auto big = f.constrain({0, 0, 3000, 3000});
        EXPECT_EQ(big.getWidth() - border.getLeftAndRight(), 452);
        EXPECT_EQ(big.getHeight() - border.getTopAndBottom(), 696);
    }
}

TEST(ContentBorderConstrainer, GivesTheWindowBoundsForAContentSize)
{
    Fixture f;
    f.window.setMenuBar(&f.menus, 24);
    f.window.setTopLeftPosition(30, 40);
    const auto r = f.constrainer.boundsForContentSize(452, 696);
    EXPECT_EQ(r, juce::Rectangle<int>(30, 40, 452 + 2, 696 + 2 + 26 + 24));
}
} // namespace
