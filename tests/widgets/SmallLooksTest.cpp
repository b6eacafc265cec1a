// The knob's dot, the read-out font fit and the menu-bar look.

#include "ORVLabel.h"
#include "PopupMenuLookAndFeel.h"
#include "SliderLookAndFeel.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>

namespace
{
const float startAngle = 1.25f * juce::MathConstants<float>::pi;
const float endAngle = 2.75f * juce::MathConstants<float>::pi;

struct Blob
{
    double area = 0, cx = 0, cy = 0;
    double farthest = 0; // from the centroid, of any touched pixel's centre
};

Blob findBlob(const juce::Image& image)
{
    Blob b;
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
        {
            const double a = image.getPixelAt(x, y).getFloatAlpha();
            b.area += a;
            b.cx += a * (x + 0.5);
            b.cy += a * (y + 0.5);
        }
    if (b.area > 0)
    {
        b.cx /= b.area;
        b.cy /= b.area;
    }
    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            if (image.getPixelAt(x, y).getAlpha() != 0)
                b.farthest = std::max(b.farthest, std::hypot(x + 0.5 - b.cx, y + 0.5 - b.cy));
    return b;
}

struct Knob : ::testing::Test
{
    OrvRotarySliderLookAndFeel look;
    juce::Slider knob;

    void SetUp() override
    {
        knob.setSliderStyle(juce::Slider::RotaryHorizontalVerticalDrag);
        knob.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
        knob.setRange(-110.0, 0.0, 1.0);
        knob.setRotaryParameters(startAngle, endAngle, true);
        knob.setLookAndFeel(&look);
    }

    void TearDown() override { knob.setLookAndFeel(nullptr); }
};
} // namespace

TEST_F(Knob, DrawsOneDotOnTheCircleAtTheValuesAngle)
{
    struct Case
    {
        int w, h;
        float pos;
    };
    const Case cases[] = {{84, 84, 0.0f}, {84, 84, 0.5f}, {84, 84, 1.0f}, {84, 84, 0.25f},
                          {84, 60, 0.5f}, {84, 60, 0.0f}, {42, 42, 1.0f}};

    for (const auto& c : cases)
    {
        juce::Image image(juce::Image::ARGB, c.w, c.h, true);
        {
            juce::Graphics g(image);
            look.drawRotarySlider(g, 0, 0, c.w, c.h, c.pos, startAngle, endAngle, knob);
        }

        const double R = std::min(c.w, c.h) / 2.5;
        const double pathRadius = 0.96 * R, diameter = 0.3 * R;
        const double a = startAngle + c.pos * (endAngle - startAngle) - juce::MathConstants<double>::halfPi;
        const double ex = c.w / 2.0 + pathRadius * std::cos(a), ey = c.h / 2.0 + pathRadius * std::sin(a);

        const auto blob = findBlob(image);
        const juce::String what = juce::String(c.w) + "x" + juce::String(c.h) + " at " + juce::String(c.pos);
        EXPECT_NEAR(blob.cx, ex, 0.05) << what;
        EXPECT_NEAR(blob.cy, ey, 0.05) << what;
        EXPECT_NEAR(blob.area, juce::MathConstants<double>::pi * diameter * diameter / 4.0, 0.03 * blob.area)
            << what;
        EXPECT_LT(blob.farthest, diameter / 2.0 + 1.0) << "nothing but the dot is drawn: " << what;
    }

    // With the panel's angles: the dot starts at the lower left, passes straight over the centre, ends
    // at the lower right; at 84 x 84 it runs on radius 32.256 with a diameter of 10.08.
    juce::Image image(juce::Image::ARGB, 84, 84, true);
    {
        juce::Graphics g(image);
        look.drawRotarySlider(g, 0, 0, 84, 84, 0.5f, startAngle, endAngle, knob);
    }
    const auto top = findBlob(image);
    EXPECT_NEAR(top.cx, 42.0, 0.05);
    EXPECT_NEAR(top.cy, 42.0 - 32.256, 0.05);
}

TEST_F(Knob, DotTakesTheKnobsThumbColourAndFollowsTheValue)
{
    knob.setBounds(0, 0, 84, 84);
    knob.setValue(-55.0, juce::dontSendNotification);

    const auto colourAtDot = [this]
    {
        const auto image = knob.createComponentSnapshot(knob.getLocalBounds(), true, 1.0f);
        const auto b = findBlob(image);
        return std::make_pair(image.getPixelAt((int) b.cx, (int) b.cy), b);
    };

    auto [before, blob] = colourAtDot();
    EXPECT_EQ(before, look.findColour(juce::Slider::thumbColourId));
    EXPECT_NEAR(blob.cx, 42.0, 0.05);
    EXPECT_NEAR(blob.cy, 42.0 - 32.256, 0.05);

    knob.setColour(juce::Slider::thumbColourId, juce::Colour(0xff30649e));
    knob.setValue(0.0, juce::dontSendNotification);
    auto [after, end] = colourAtDot();
    EXPECT_EQ(after, juce::Colour(0xff30649e));
    EXPECT_NEAR(end.cx, 42.0 + 32.256 * std::sqrt(0.5), 0.05);
    EXPECT_NEAR(end.cy, 42.0 + 32.256 * std::sqrt(0.5), 0.05);

    auto shot = knob.createComponentSnapshot(knob.getLocalBounds(), true, 1.0f);
    pelktest::saveRender(shot, "knob-84x84-at-0dB");
}

namespace
{
float widthAt(int height, const juce::String& text = "-63.5 dB")
{
    return juce::Font((float) height).getStringWidthFloat(text);
}

int fitFromAStoppingThread(ORVdBLabelLookAndFeel& look, juce::Label& label)
{
    struct Stopping : juce::Thread
    {
        Stopping(ORVdBLabelLookAndFeel& l, juce::Label& lab) : juce::Thread("stopping"), look(l), label(lab)
        {
        }
        void run() override
        {
            signalThreadShouldExit();
            height = (int) look.getLabelFont(label).getHeight();
        }
        ORVdBLabelLookAndFeel& look;
        juce::Label& label;
        int height = -1;
    } thread(look, label);

    thread.startThread();
    thread.waitForThreadToExit(5000);
    return thread.height;
}
} // namespace

TEST(ReadoutFont, IsTheLargestWholeHeightUpTo20AtWhichTheReferenceFits)
{
    ORVdBLabelLookAndFeel look;
    juce::Label label;
    const int exactAt20 = (int) std::ceil(widthAt(20));
    const int widths[] = {0, 1, 3, 10, 30, 40, 60, 80, 81, 500, exactAt20, exactAt20 - 1};

    for (int w : widths)
    {
        label.setSize(w, 31);
        const int h = (int) look.getLabelFont(label).getHeight();
        EXPECT_GE(h, 1) << w;
        EXPECT_LE(h, 20) << w;
        if (h < 20)
        {
            EXPECT_GT(widthAt(h + 1), (float) w) << "a larger height would fit at width " << w;
        }
        if (h > 1)
        {
            EXPECT_LE(widthAt(h), (float) w) << "the text must fit at width " << w;
        }
        EXPECT_EQ((int) look.labelFont.getHeight(), h) << "the working font keeps the fitted height";
    }

    label.setSize(exactAt20, 31);
    EXPECT_EQ(look.getLabelFont(label).getHeight(), 20.0f) << "a text exactly as wide as the label fits";

    // A label too narrow for any height (width 0 before the first layout) ends the search at 1.
    label.setSize(0, 0);
    EXPECT_EQ(look.getLabelFont(label).getHeight(), 1.0f);

    label.setSize(exactAt20 - 1, 31);
    EXPECT_LT(look.getLabelFont(label).getHeight(), 20.0f);
}

TEST(ReadoutFont, AThreadBeingStoppedGetsTheStoredFont)
{
    ORVdBLabelLookAndFeel look;
    juce::Label label;
    label.setSize(40, 15);

    EXPECT_EQ(fitFromAStoppingThread(look, label), 8) << "before any fit";

    const int fitted = (int) look.getLabelFont(label).getHeight();
    label.setSize(500, 31);
    EXPECT_EQ(fitFromAStoppingThread(look, label), fitted) << "the last fitted height, not a new fit";
}

TEST(ReadoutFont, RendersTheReadoutsAtBothPanelSizes)
{
    ORVdBLabelLookAndFeel look;
    const std::pair<int, int> sizes[] = {{81, 31}, {40, 15}};

    for (const auto& [w, h] : sizes)
    {
        juce::Component box;
        juce::Label label;
        box.setSize(w, h);
        box.addAndMakeVisible(label);
        label.setBounds(box.getLocalBounds());
        label.setLookAndFeel(&look);
        label.setJustificationType(juce::Justification::centredRight);
        label.setText("-63.5 dB", juce::dontSendNotification);

        juce::Image image(juce::Image::ARGB, w, h, true);
        {
            juce::Graphics g(image);
            g.fillAll(juce::Colour(0xff262626)); // the art's dark read-out box
            box.paintEntireComponent(g, false);
        }
        pelktest::saveRender(image, "readout-" + juce::String(w) + "x" + juce::String(h));

        // White text, right-aligned inside the label's border, not clipped at the left.
        int leftmost = w, rightmost = -1;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                if (image.getPixelAt(x, y).getBrightness() > 0.6f)
                {
                    leftmost = std::min(leftmost, x);
                    rightmost = std::max(rightmost, x);
                }
        EXPECT_GT(rightmost, w - 10) << w;
        EXPECT_LE(rightmost, w - 1) << w;
        EXPECT_GT(leftmost, 0) << w;
        label.setLookAndFeel(nullptr);
    }
}

namespace
{
struct Menus : juce::MenuBarModel
{
    juce::StringArray getMenuBarNames() override { return {"File", "Config", "PatchGRID", "Help"}; }
    juce::PopupMenu getMenuForIndex(int, const juce::String&) override { return {}; }
    void menuItemSelected(int, int) override {}
};
} // namespace

TEST(MenuBarLook, LightGreyBarWithBlackCentredTitles)
{
    PopupMenuLookandFeel look;
    Menus model;
    juce::MenuBarComponent bar(&model);
    bar.setLookAndFeel(&look);
    bar.setSize(300, 24);

    EXPECT_EQ(look.getMenuBarItemWidth(bar, 0, ""), 10);
    EXPECT_EQ(look.getMenuBarItemWidth(bar, 2, "PatchGRID"),
              look.getMenuBarFont(bar, 2, "PatchGRID").getStringWidth("PatchGRID") + 10);

    const auto image = bar.createComponentSnapshot(bar.getLocalBounds(), true, 1.0f);
    pelktest::saveRender(image, "menu-bar-300x24", 3);
    EXPECT_EQ(image.getPixelAt(299, 23), juce::Colours::lightgrey);
    EXPECT_EQ(image.getPixelAt(0, 0), juce::Colours::lightgrey);

    // The first title is centred in its item: its ink sits in the middle of the item's width.
    const int itemWidth = look.getMenuBarItemWidth(bar, 0, "File");
    int inkLeft = itemWidth, inkRight = -1, darkest = 255;
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < itemWidth; ++x)
        {
            const auto c = image.getPixelAt(x, y);
            darkest = std::min(darkest, (int) c.getGreen());
            if (c != juce::Colours::lightgrey)
            {
                inkLeft = std::min(inkLeft, x);
                inkRight = std::max(inkRight, x);
            }
        }
    EXPECT_LT(darkest, 40) << "black text";
    EXPECT_NEAR((inkLeft + inkRight + 1) / 2.0, itemWidth / 2.0, 1.5);
    bar.setLookAndFeel(nullptr);
}

TEST(MenuBarLook, HoveredAndOpenTitlesLookLikeRestingOnes)
{
    PopupMenuLookandFeel look;
    Menus model;
    juce::MenuBarComponent bar(&model);

    const auto drawItem = [&](bool over, bool open, bool overBar)
    {
        juce::Image image(juce::Image::ARGB, 60, 24, true);
        juce::Graphics g(image);
        look.drawMenuBarItem(g, 60, 24, 1, "Config", over, open, overBar, bar);
        return image;
    };

    const auto resting = drawItem(false, false, false);
    for (const auto& flags : {std::array{true, false, true}, {false, true, true}, {true, true, true}})
        EXPECT_TRUE(pelktest::samePixels(drawItem(flags[0], flags[1], flags[2]), {}, resting));
}
