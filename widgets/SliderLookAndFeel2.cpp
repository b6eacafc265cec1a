#include "SliderLookAndFeel2.h"

#include "Rescale.h"

namespace
{
constexpr int normalRole = 0;
constexpr int unlinkedRole = 1;
constexpr int linkedRole = 2;
} // namespace

void OrvSliderLookAndFeel2::resizeKnobImages(double width, double height)
{
    const double referenceWidth = thumbSources[linkedRole][2].getWidth();
    const int resolution = referenceWidth * 0.55 > width ? 0 : (referenceWidth * 0.65 > width ? 1 : 2);

    const int w = (int) width;
    const int h = (int) height;

    // A zero-sized layout (before the first real one, or a collapsed window) has no thumb to show.
    if (w < 1 || h < 1)
        return;

    currentThumb = rescaledPicture(thumbSources[normalRole][resolution], w, h);
    unlinkedThumb = rescaledPicture(thumbSources[unlinkedRole][resolution], w, h);
    linkedThumb = rescaledPicture(thumbSources[linkedRole][resolution], w, h);

    if (centreMark && linkedThumb.isValid())
    {
        // At the source's own size rescaledPicture() hands back the source itself, which must stay unmarked.
        linkedThumb.duplicateIfShared();

        const float W = (float) linkedThumb.getWidth();
        const float lineY = (float) (linkedThumb.getHeight() * 0.5);
        juce::Graphics g(linkedThumb);
        g.setColour(juce::Colour(0xffff0000));
        g.drawLine(1.0f, lineY, W - 1.0f, lineY, 0.5f);
    }
}

void OrvSliderLookAndFeel2::drawLinearSlider(juce::Graphics& g, int x, int y, int width, int height,
                                             float sliderPos, float minSliderPos, float maxSliderPos,
                                             juce::Slider::SliderStyle style, juce::Slider& slider)
{
    drawLinearSliderThumb(g, x, y, width, height, sliderPos, minSliderPos, maxSliderPos, style, slider);
}

void OrvSliderLookAndFeel2::drawLinearSliderThumb(juce::Graphics& g, int x, int y, int width, int height,
                                                  float sliderPos, float minSliderPos, float maxSliderPos,
                                                  juce::Slider::SliderStyle style, juce::Slider& slider)
{
    if (style == juce::Slider::LinearHorizontal)
        return;

    if (style != juce::Slider::LinearVertical)
    {
        juce::LookAndFeel_V2::drawLinearSliderThumb(g, x, y, width, height, sliderPos, minSliderPos,
                                                    maxSliderPos, style, slider);
        return;
    }

    const auto& picture = (slider.isEnabled() && slider.isMouseOverOrDragging()) ? linkedThumb : currentThumb;

    // The offset is half the current thumb's height rounded down, while the thumb radius rounds up.
    const int half = currentThumb.getHeight() / 2;
    const int top = (int) (sliderPos - (float) half);

    if (picture.isValid() && !g.isClipEmpty())
        g.drawImageTransformed(picture, juce::AffineTransform::translation((float) x, (float) top));
}

int OrvSliderLookAndFeel2::getSliderThumbRadius(juce::Slider&)
{
    const int h = currentThumb.getHeight();
    return (h + h % 2) / 2;
}
