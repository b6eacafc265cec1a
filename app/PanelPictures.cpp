#include "PanelPictures.h"

#include "BinaryData.h"

#include <juce_graphics/juce_graphics.h>

void preloadPanelPictures()
{
    const std::pair<const unsigned char*, int> pictures[] = {
        {ORVBIN::temp_binary_data_10, ORVBIN::temp_binary_data_10Size},
        {ORVBIN::temp_binary_data_11, ORVBIN::temp_binary_data_11Size},
        {ORVBIN::temp_binary_data_4, ORVBIN::temp_binary_data_4Size},
        {ORVBIN::temp_binary_data_6, ORVBIN::temp_binary_data_6Size},
        {ORVBIN::temp_binary_data_7, ORVBIN::temp_binary_data_7Size},
        {ORVBIN::temp_binary_data_17, ORVBIN::temp_binary_data_17Size},
        {ORVBIN::temp_binary_data_12, ORVBIN::temp_binary_data_12Size},
        {ORVBIN::temp_binary_data_13, ORVBIN::temp_binary_data_13Size},
        {ORVBIN::temp_binary_data_14, ORVBIN::temp_binary_data_14Size},
        {ORVBIN::temp_binary_data_15, ORVBIN::temp_binary_data_15Size},
    };

    for (const auto& [data, size] : pictures)
        juce::ImageCache::getFromMemory(data, size);
}
