#include "SliderStereoGroup2.h"

SliderStereoGroup2::SliderStereoGroup2(juce::String name, juce::Slider* left, juce::Slider* right,
                                       float rightSliderXFraction, float sliderWidthFraction,
                                       float knobWidthFraction, float knobHeightFraction,
                                       OrvSliderLookAndFeel2* look)
    : juce::Component(name), leftSlider(left), rightSlider(right), sliderLook(look),
      rightSliderX(rightSliderXFraction), sliderWidth(sliderWidthFraction), knobWidth(knobWidthFraction),
      knobHeight(knobHeightFraction)
{
    jassert(leftSlider != nullptr && rightSlider != nullptr);

    addAndMakeVisible(leftSlider);
    addAndMakeVisible(rightSlider);

    // The group hears every mouse event of each fader, after the fader has handled it.
    leftSlider->addMouseListener(this, false);
    rightSlider->addMouseListener(this, false);
}

SliderStereoGroup2::~SliderStereoGroup2()
{
    leftSlider->setLookAndFeel(nullptr);
    rightSlider->setLookAndFeel(nullptr);

    // The faders may outlive the group; they must not call back into it.
    leftSlider->removeMouseListener(this);
    rightSlider->removeMouseListener(this);
}

void SliderStereoGroup2::resized()
{
    const float W = (float) getWidth();
    const float H = (float) getHeight();

    if (sliderLook != nullptr)
        sliderLook->resizeKnobImages((int) (knobWidth * W), (int) (knobHeight * H));

    leftSlider->setBounds(0, 0, (int) (sliderWidth * W), (int) H);
    rightSlider->setBounds((int) (rightSliderX * W), 0, (int) (W * sliderWidth), (int) H);

    const auto leftBounds = leftSlider->getBounds();
    linkStrip = {leftBounds.getRight(), leftBounds.getY(), rightSlider->getX() - leftBounds.getRight(),
                 leftBounds.getHeight()};
}

void SliderStereoGroup2::showThumb(bool linkedThumb)
{
    if (sliderLook != nullptr)
        sliderLook->currentThumb = linkedThumb ? sliderLook->linkedThumb : sliderLook->unlinkedThumb;

    leftSlider->lookAndFeelChanged();
    rightSlider->lookAndFeelChanged();
}

void SliderStereoGroup2::mouseMove(const juce::MouseEvent& e)
{
    if (!isEnabled())
        return;

    showThumb(isInLinkStrip(e));
}

void SliderStereoGroup2::mouseDown(const juce::MouseEvent& e)
{
    if (isInLinkStrip(e))
    {
        dragStartedInLinkStrip = true;
        rightSlider->mouseDown(e);
        leftSlider->mouseDown(e);
    }
    else
    {
        dragStartedInLinkStrip = false;
    }
}

void SliderStereoGroup2::mouseDrag(const juce::MouseEvent& e)
{
    if (!isEnabled() || !dragStartedInLinkStrip)
        return;

    // Each fader moves by the dragged distance from its own value at the press; then both join.
    leftSlider->mouseDrag(e);
    rightSlider->mouseDrag(e);
    setSlidersLinked(true);
}

void SliderStereoGroup2::mouseUp(const juce::MouseEvent& e)
{
    dragStartedInLinkStrip = false;

    if (isInLinkStrip(e))
    {
        leftSlider->mouseUp(e);
        rightSlider->mouseUp(e);
    }
}

void SliderStereoGroup2::mouseWheelMove(const juce::MouseEvent& e, const juce::MouseWheelDetails& wheel)
{
    if (!isEnabled())
        return;

    const bool inStrip = isInLinkStrip(e);

    if (inStrip)
    {
        leftSlider->mouseWheelMove(e, wheel);
        rightSlider->mouseWheelMove(e, wheel);
    }

    setSlidersLinked(inStrip);
}

void SliderStereoGroup2::setSlidersLinked(bool link)
{
    linked = link;

    if (link)
    {
        const double lower = juce::jmin((double) leftSlider->getValue(), (double) rightSlider->getValue());
        rightSlider->setValue(lower, juce::sendNotification);
        leftSlider->setValue(lower, juce::sendNotification);
    }

    if (isEnabled())
        showThumb(link);
}
