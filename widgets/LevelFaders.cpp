#include "LevelFaders.h"

#include "BinaryData.h"

namespace levelfaders
{
void loadThumbs(OrvSliderLookAndFeel2& look)
{
    const auto picture = [](const unsigned char* data, int size)
    { return juce::ImageCache::getFromMemory(data, size); };
    const auto normal1x = picture(ORVBIN::temp_binary_data_12, ORVBIN::temp_binary_data_12Size);
    const auto linked1x = picture(ORVBIN::temp_binary_data_13, ORVBIN::temp_binary_data_13Size);
    const auto normal2x = picture(ORVBIN::temp_binary_data_14, ORVBIN::temp_binary_data_14Size);
    const auto linked2x = picture(ORVBIN::temp_binary_data_15, ORVBIN::temp_binary_data_15Size);
    const juce::Image normal[3] = {normal1x, normal2x, normal2x};
    const juce::Image linked[3] = {linked1x, linked2x, linked2x};

    for (int resolution = 0; resolution < 3; ++resolution)
    {
        look.thumbSources[0][resolution] = normal[resolution];
        look.thumbSources[1][resolution] = normal[resolution];
        look.thumbSources[2][resolution] = linked[resolution];
    }

    look.resizeKnobImages(22, 33);
}

void setUp(juce::Slider& fader, juce::LookAndFeel& look)
{
    fader.setSliderStyle(juce::Slider::LinearVertical);
    fader.setTextBoxStyle(juce::Slider::NoTextBox, true, 0, 0);
    fader.setRange(-60.0, 0.0, 0.5);
    fader.setLookAndFeel(&look);
    fader.setScrollWheelEnabled(true);
    fader.setSliderSnapsToMousePosition(false);
}

std::unique_ptr<SliderStereoGroup2> makePair(const juce::String& name, juce::Slider& left,
                                             juce::Slider& right, OrvSliderLookAndFeel2& look)
{
    return std::make_unique<SliderStereoGroup2>(name, &left, &right, rightSliderX, sliderWidth, knobWidth,
                                                knobHeight, &look);
}
} // namespace levelfaders
