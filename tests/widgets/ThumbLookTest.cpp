// The fader thumb look: source resolution by width, the red centre line, the thumb radius, where and
// which thumb a fader draws, and sizes that truncate to nothing.

#include "SliderLookAndFeel2.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

namespace
{
juce::Image solid(int w, int h, juce::Colour colour)
{
    juce::Image image(juce::Image::RGB, w, h, false);
    image.clear(image.getBounds(), colour);
    return image;
}

// Sources whose colour tells the resolution they came from (normal and unlinked alike, as in the
// panel), with linked sources of a colour of their own.
struct ColouredSources : ::testing::Test
{
    const juce::Colour byResolution[3] = {juce::Colour(0xff200000), juce::Colour(0xff002000),
                                          juce::Colour(0xff000020)};
    const juce::Colour linkedColour{0xff808080};
    OrvSliderLookAndFeel2 look;

    void SetUp() override
    {
        for (int r = 0; r < 3; ++r)
        {
            const int w = r == 0 ? 11 : 22;
            const int h = r == 0 ? 17 : 33;
            look.thumbSources[0][r] = look.thumbSources[1][r] = solid(w, h, byResolution[r]);
            look.thumbSources[2][r] = solid(w, h, linkedColour);
        }
    }

    int resolutionOf(const juce::Image& thumb) const
    {
        const auto c = thumb.getPixelAt(thumb.getWidth() / 2, 2);
        for (int r = 0; r < 3; ++r)
            if (c == byResolution[r])
                return r;
        return -1;
    }

    static bool isTinted(const juce::Image& thumb, int x, int y)
    {
        const auto c = thumb.getPixelAt(x, y);
        return c.getRed() > c.getGreen() + 8;
    }
};
} // namespace

TEST_F(ColouredSources, PicksTheSourceResolutionByWidth)
{
    struct Case
    {
        double width;
        int resolution;
        int pixelWidth;
    };
    // Reference width 22: below 12.1 the smallest pictures, below 14.3 the middle ones.
    const Case cases[] = {{11, 0, 11},    {12, 0, 12}, {12.09, 0, 12}, {12.11, 1, 12},
                          {12.9, 1, 12},  {13, 1, 13}, {14, 1, 14},    {14.29, 1, 14},
                          {14.31, 2, 14}, {15, 2, 15}, {22, 2, 22},    {40.7, 2, 40}};

    for (const auto& c : cases)
    {
        look.resizeKnobImages(c.width, 17.9);
        EXPECT_EQ(resolutionOf(look.currentThumb), c.resolution) << c.width;
        EXPECT_EQ(resolutionOf(look.unlinkedThumb), c.resolution) << c.width;
        EXPECT_EQ(look.currentThumb.getWidth(), c.pixelWidth) << c.width;
        EXPECT_EQ(look.currentThumb.getHeight(), 17) << c.width;
        EXPECT_EQ(look.linkedThumb.getBounds(), look.currentThumb.getBounds()) << c.width;
    }
}

TEST_F(ColouredSources, DrawsTheRedCentreLineOnTheLinkedThumbOnly)
{
    struct Case
    {
        int height;
        std::vector<int> tintedRows;
    };
    // A 0.5-thick line at y 16 touches rows 15 and 16; at y 16.5 only row 16.
    const Case cases[] = {{32, {15, 16}}, {33, {16}}, {17, {8}}};

    for (const auto& c : cases)
    {
        look.resizeKnobImages(22, c.height);
        const auto& thumb = look.linkedThumb;

        for (int y = 0; y < c.height; ++y)
        {
            const bool onLine = std::find(c.tintedRows.begin(), c.tintedRows.end(), y) != c.tintedRows.end();
            EXPECT_EQ(isTinted(thumb, 11, y), onLine) << c.height << " row " << y;
            // The line runs from x 1 to x 21: columns 0 and 21 stay clean.
            EXPECT_FALSE(isTinted(thumb, 0, y)) << c.height << " row " << y;
            EXPECT_FALSE(isTinted(thumb, 21, y)) << c.height << " row " << y;
            if (onLine)
            {
                EXPECT_TRUE(isTinted(thumb, 1, y));
                EXPECT_TRUE(isTinted(thumb, 20, y));
            }
        }

        EXPECT_FALSE(isTinted(look.currentThumb, 11, c.tintedRows.front()));
        EXPECT_FALSE(isTinted(look.unlinkedThumb, 11, c.tintedRows.front()));
    }
}

TEST_F(ColouredSources, LeavesTheSourcePictureUnmarkedAtItsOwnSize)
{
    // 22 x 33 is the source's own size, where rescaling hands back the source itself.
    look.resizeKnobImages(22, 33);
    const auto firstLine = look.linkedThumb.getPixelAt(11, 16);
    look.resizeKnobImages(22, 33);

    EXPECT_EQ(look.thumbSources[2][2].getPixelAt(11, 16), linkedColour);
    EXPECT_EQ(look.linkedThumb.getPixelAt(11, 16), firstLine) << "the line must not build up";
    EXPECT_TRUE(isTinted(look.linkedThumb, 11, 16));
}

TEST_F(ColouredSources, ThumbRadiusIsHalfTheCurrentHeightRoundedUp)
{
    const std::pair<int, int> cases[] = {{33, 17}, {32, 16}, {17, 9}, {16, 8}, {1, 1}};
    juce::Slider slider;

    for (const auto& [height, radius] : cases)
    {
        look.currentThumb = solid(22, height, juce::Colours::grey);
        EXPECT_EQ(look.getSliderThumbRadius(slider), radius) << height;
    }

    look.currentThumb = {};
    EXPECT_EQ(look.getSliderThumbRadius(slider), 0);
}

TEST_F(ColouredSources, ASizeBelowOnePixelKeepsThePreviousThumbs)
{
    look.resizeKnobImages(22, 32);
    look.currentThumb = look.linkedThumb;
    const auto linked = look.linkedThumb;
    const auto unlinked = look.unlinkedThumb;

    for (const auto& size : {std::pair{0.0, 32.0}, {22.0, 0.0}, {0.5, 0.9}, {0.0, 0.0}})
    {
        look.resizeKnobImages(size.first, size.second);
        EXPECT_TRUE(look.linkedThumb == linked);
        EXPECT_TRUE(look.unlinkedThumb == unlinked);
        EXPECT_TRUE(look.currentThumb == linked) << "the shared thumb stays as the pair set it";
    }
}

TEST_F(ColouredSources, EveryResizeResetsTheSharedThumbToTheNormalOne)
{
    look.resizeKnobImages(22, 32);
    look.currentThumb = look.linkedThumb;
    look.resizeKnobImages(22, 33);

    EXPECT_EQ(resolutionOf(look.currentThumb), 2);
    EXPECT_FALSE(look.currentThumb == look.linkedThumb);
}

namespace
{
struct PanelFader : ::testing::Test
{
    OrvSliderLookAndFeel2 look;
    juce::Slider fader;

    void SetUp() override
    {
        levelfaders::loadThumbs(look);
        levelfaders::setUp(fader, look);
    }

    void TearDown() override { fader.setLookAndFeel(nullptr); }

    juce::Image render() { return fader.createComponentSnapshot(fader.getLocalBounds(), true, 1.0f); }

    static int firstOpaqueRow(const juce::Image& image, int x)
    {
        for (int y = 0; y < image.getHeight(); ++y)
            if (image.getPixelAt(x, y).getAlpha() != 0)
                return y;
        return -1;
    }
};
} // namespace

TEST_F(PanelFader, DrawsTheSharedThumbHalfItsHeightRoundedDownAboveTheCentre)
{
    struct Case
    {
        int thumbHeight;
        int radius;
        double value;
    };
    // 22 x 32 is the thumb at the panel's largest size, 22 x 33 the one after construction.
    const Case cases[] = {{32, 16, 0.0}, {32, 16, -60.0}, {32, 16, -23.5},
                          {33, 17, 0.0}, {33, 17, -60.0}, {33, 17, -23.5}};

    for (const auto& c : cases)
    {
        look.resizeKnobImages(22, c.thumbHeight);
        fader.setBounds(0, 0, 22, 320);
        fader.lookAndFeelChanged();
        fader.setValue(c.value, juce::dontSendNotification);

        // The travel is inset by the radius at both ends.
        EXPECT_FLOAT_EQ(fader.getPositionOfValue(0.0), (float) c.radius);
        EXPECT_FLOAT_EQ(fader.getPositionOfValue(-60.0), (float) (320 - c.radius));

        const float centre = fader.getPositionOfValue(c.value);
        const int expectedTop = (int) (centre - 16.0f);
        const auto image = render();

        EXPECT_EQ(firstOpaqueRow(image, 11), expectedTop) << c.thumbHeight << " at " << c.value;
        EXPECT_TRUE(pelktest::samePixels(image, {0, expectedTop}, look.currentThumb))
            << c.thumbHeight << " at " << c.value;

        if (c.thumbHeight == 33 && c.value == -23.5)
            pelktest::saveRender(image, "fader-22x320-thumb-22x33");
    }
}

TEST_F(PanelFader, ShowsWhicheverThumbThePairMadeCurrent)
{
    look.resizeKnobImages(22, 32);
    fader.setBounds(0, 0, 22, 320);
    fader.setValue(-30.0, juce::dontSendNotification);
    const int top = (int) (fader.getPositionOfValue(-30.0) - 16.0f);

    look.currentThumb = look.linkedThumb;
    EXPECT_TRUE(pelktest::samePixels(render(), {0, top}, look.linkedThumb));

    look.currentThumb = look.unlinkedThumb;
    EXPECT_TRUE(pelktest::samePixels(render(), {0, top}, look.unlinkedThumb));
}

TEST_F(PanelFader, HorizontalFaderShowsNoThumbAndOtherStylesTheFrameworkThumb)
{
    const auto opaquePixels = [](const juce::Image& image)
    {
        int n = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                n += image.getPixelAt(x, y).getAlpha() != 0 ? 1 : 0;
        return n;
    };

    fader.setSliderStyle(juce::Slider::LinearHorizontal);
    fader.setBounds(0, 0, 200, 30);
    EXPECT_EQ(opaquePixels(render()), 0);

    fader.setSliderStyle(juce::Slider::TwoValueVertical);
    fader.setBounds(0, 0, 30, 200);
    fader.setMinAndMaxValues(-40.0, -10.0, juce::dontSendNotification);
    EXPECT_GT(opaquePixels(render()), 0);
}

TEST_F(PanelFader, RendersThePanelThumbsForInspection)
{
    for (const auto& size : {std::pair{22, 32}, {22, 33}, {11, 15}, {13, 20}})
    {
        look.resizeKnobImages(size.first, size.second);
        const juce::String suffix = juce::String(size.first) + "x" + juce::String(size.second);
        pelktest::saveRender(look.unlinkedThumb, "thumb-normal-" + suffix, 8);
        pelktest::saveRender(look.linkedThumb, "thumb-linked-" + suffix, 8);
        EXPECT_EQ(look.linkedThumb.getWidth(), size.first);
        EXPECT_EQ(look.linkedThumb.getHeight(), size.second);
    }
}
