#include "SliderLookAndFeel.h"

void OrvRotarySliderLookAndFeel::drawRotarySlider(juce::Graphics& g, int x, int y, int width, int height,
                                                  float sliderPos, float rotaryStartAngle,
                                                  float rotaryEndAngle, juce::Slider& slider)
{
    const float outerRadius = (float) juce::jmin(width, height) / 2.5f;
    const float dotDiameter = 1.5f * (0.2f * outerRadius);
    const float pathRadius = outerRadius - 0.2f * (0.2f * outerRadius);

    // Slider angles run clockwise from twelve o'clock; cos/sin count from three o'clock.
    const float angle = rotaryStartAngle + sliderPos * (rotaryEndAngle - rotaryStartAngle) -
                        juce::MathConstants<float>::halfPi;

    const float centreX = (float) x + 0.5f * (float) width;
    const float centreY = (float) y + 0.5f * (float) height;

    g.setColour(slider.findColour(juce::Slider::thumbColourId));
    g.fillEllipse(centreX + pathRadius * std::cos(angle) - dotDiameter / 2.0f,
                  centreY + pathRadius * std::sin(angle) - dotDiameter / 2.0f, dotDiameter, dotDiameter);
}
