#include "LevelMeter2.h"

#include "Rescale.h"

#include <cmath>

namespace
{
// The shown level that follows `shown` for the raw level v.
int nextDisplayLevel(int shown, int v, int clamp)
{
    if (v > clamp)
        v = clamp;

    // A raw level of -1 or below has no logarithm: it counts as below every shown level.
    int target = -1;

    if (v > -1)
    {
        constexpr float scale = 26.33745f;
        target = (int) (std::log((float) (v + 1)) * scale);
    }

    // Falling: 2 steps a tick, by 1 from 2 to 1 and from 1 to 0, whatever the target.
    if (shown > target)
        target = shown >= 3 ? shown - 2 : shown - 1;

    return target < 1 ? 0 : target;
}
} // namespace

LevelMeter2::LevelMeter2()
{
    setSize(10, 10);
    startTimer(60);
}

void LevelMeter2::timerCallback()
{
    if (levelSource == nullptr)
        return;

    displayLevel = nextDisplayLevel(displayLevel, *levelSource, maxLevel);
    repaint();
}

void LevelMeter2::paint(juce::Graphics& g)
{
    const int H = meterOnScaled.getHeight();
    splitY = H - (displayLevel * H / 128);

    if (meterOffScaled.isValid())
        g.drawImageAt(meterOffScaled, 0, 0);

    if (meterOnScaled.isValid())
    {
        const juce::Rectangle<int> lit(0, splitY, meterOnScaled.getWidth(), H - splitY);

        if (g.clipRegionIntersects(lit))
            g.drawImageAt(meterOnScaled.getClippedImage(lit), 0, splitY);
    }
}

void LevelMeter2::resized()
{
    const auto rescaledToMeter = [this](const juce::Image& source)
    {
        if (!source.isValid() || getWidth() < 1 || getHeight() < 1)
            return juce::Image();

        return rescaledPicture(source, getWidth(), getHeight());
    };

    meterOnScaled = rescaledToMeter(meterOnSource);
    meterOffScaled = rescaledToMeter(meterOffSource);
}
