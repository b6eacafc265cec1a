// The level meter: the logarithmic mapping, the fall of two steps a tick, the lit part's split, and a
// tick without a source doing nothing.

#include "LevelMeter2.h"
#include "WidgetTestSupport.h"

#include <gtest/gtest.h>

namespace
{
struct Meter : ::testing::Test
{
    LevelMeter2 meter;
    std::int8_t raw = 0;

    void SetUp() override { meter.levelSource = &raw; }
    void TearDown() override { meter.levelSource = nullptr; }

    int tick(int rawLevel)
    {
        raw = (std::int8_t) rawLevel;
        meter.timerCallback();
        return meter.displayLevel;
    }

    std::vector<int> fallFrom(int shown, int rawLevel)
    {
        meter.displayLevel = shown;
        std::vector<int> levels;
        while (meter.displayLevel > 0 && levels.size() < 200)
            levels.push_back(tick(rawLevel));
        return levels;
    }
};

// Counts the repaint requests that reach a component, without a window.
struct RepaintCounter : juce::CachedComponentImage
{
    int count = 0;
    void paint(juce::Graphics&) override {}
    bool invalidateAll() override { return ++count, true; }
    bool invalidate(const juce::Rectangle<int>&) override { return ++count, true; }
    void releaseResources() override {}
};

juce::Image solid(int w, int h, juce::Colour colour)
{
    juce::Image image(juce::Image::RGB, w, h, false);
    image.clear(image.getBounds(), colour);
    return image;
}
} // namespace

TEST_F(Meter, StartsSmallAndTicksEvery60ms)
{
    LevelMeter2 fresh;
    EXPECT_EQ(fresh.getWidth(), 10);
    EXPECT_EQ(fresh.getHeight(), 10);
    EXPECT_TRUE(fresh.isTimerRunning());
    EXPECT_EQ(fresh.getTimerInterval(), 60);
    EXPECT_EQ(fresh.displayLevel, 0);
    EXPECT_EQ((int) fresh.maxLevel, 123);
    EXPECT_EQ(fresh.levelSource, nullptr);
}

TEST_F(Meter, MapsTheRawLevelOnALogarithmicCurveAndRisesAtOnce)
{
    const std::pair<int, int> cases[] = {{0, 0},  {1, 18},    {2, 28},    {10, 63},  {5, 47},
                                         {6, 51}, {123, 126}, {124, 126}, {127, 126}};

    for (const auto& [rawLevel, shown] : cases)
    {
        meter.displayLevel = 0;
        EXPECT_EQ(tick(rawLevel), shown) << "raw " << rawLevel;
    }
}

TEST_F(Meter, FallsTwoStepsATickThenOneFromTwoToZero)
{
    std::vector<int> expected;
    for (int level = 124; level >= 2; level -= 2)
        expected.push_back(level);
    expected.push_back(1);
    expected.push_back(0);

    const auto levels = fallFrom(126, 0);
    EXPECT_EQ(levels, expected);
    EXPECT_EQ(levels.size(), 64u);
}

TEST_F(Meter, AFallOvershootsATargetOneBelowAndComesBack)
{
    // Raw 5 maps to 47: from 48 the meter drops by 2 to 46, then rises to 47.
    meter.displayLevel = 48;
    EXPECT_EQ(tick(5), 46);
    EXPECT_EQ(tick(5), 47);
    EXPECT_EQ(tick(5), 47);
}

TEST_F(Meter, NegativeRawLevelsFallExactlyAsZeroDoes)
{
    const auto reference = fallFrom(126, 0);

    for (int rawLevel : {-1, -2, -100, -128})
    {
        EXPECT_EQ(fallFrom(126, rawLevel), reference) << rawLevel;
        EXPECT_EQ(fallFrom(1, rawLevel), std::vector<int>{0}) << rawLevel;
        meter.displayLevel = 0;
        EXPECT_EQ(tick(rawLevel), 0) << rawLevel;
    }
}

TEST_F(Meter, TickWithoutASourceDoesNothingNotEvenARepaint)
{
    auto* counter = new RepaintCounter();
    meter.setCachedComponentImage(counter);
    meter.setVisible(true);
    meter.displayLevel = 40;

    meter.levelSource = nullptr;
    const int before = counter->count;
    meter.timerCallback();
    EXPECT_EQ(counter->count, before);
    EXPECT_EQ(meter.displayLevel, 40);

    meter.levelSource = &raw;
    raw = 0;
    meter.timerCallback();
    EXPECT_EQ(counter->count, before + 1);
    EXPECT_EQ(meter.displayLevel, 38);
    meter.setCachedComponentImage(nullptr);
}

TEST_F(Meter, ShowsTheLitPictureFromTheSplitDown)
{
    const auto lit = juce::Colour(0xff20c040), unlit = juce::Colour(0xff303030);
    meter.meterOnSource = solid(10, 144, lit);
    meter.meterOffSource = solid(10, 144, unlit);

    struct Case
    {
        int height, level, splitY;
    };
    const Case cases[] = {{288, 64, 144}, {287, 126, 5}, {287, 0, 287}, {288, 1, 286}, {20, 127, 1}};

    for (const auto& c : cases)
    {
        meter.setSize(20, c.height);
        meter.displayLevel = c.level;
        const auto image = meter.createComponentSnapshot(meter.getLocalBounds(), true, 1.0f);
        EXPECT_EQ(meter.splitY, c.splitY) << c.height << " at " << c.level;

        for (int y = 0; y < c.height; ++y)
            ASSERT_EQ(image.getPixelAt(10, y), y < c.splitY ? unlit : lit)
                << c.height << " at " << c.level << " row " << y;

        if (c.level == 64)
            pelktest::saveRender(image, "level-meter-20x288-at-64", 2);
    }
}

TEST_F(Meter, WithoutPicturesDrawsNothing)
{
    meter.setSize(20, 287);
    meter.displayLevel = 100;
    const auto image = meter.createComponentSnapshot(meter.getLocalBounds(), true, 1.0f);

    for (int y = 0; y < image.getHeight(); ++y)
        for (int x = 0; x < image.getWidth(); ++x)
            ASSERT_EQ(image.getPixelAt(x, y).getAlpha(), 0) << x << "," << y;

    EXPECT_FALSE(meter.meterOnScaled.isValid());
    EXPECT_FALSE(meter.meterOffScaled.isValid());
}
