// A picture without alpha, rescaled, comes out the same whatever the memory under its new image held
// before: the new image starts cleared, so the nearly covered last row and column blend nothing else in.

#include "Rescale.h"

#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>

namespace
{
struct Size
{
    int width, height;
};

// Rescales after leaving blocks of the new image's size filled with `fill` free, for the allocator to hand
// back to the new image.
juce::Image rescaledOver(unsigned char fill, const juce::Image& source, Size to)
{
    const size_t bytes = (size_t) ((3 * to.width + 3) & ~3) * (size_t) to.height; // the RGB line stride
    void* blocks[8];
    for (auto*& block : blocks)
    {
        block = std::malloc(bytes);
        std::memset(block, fill, bytes);
    }
    for (auto* block : blocks)
        std::free(block);
    return rescaledPicture(source, to.width, to.height);
}

class RescaledPicture : public ::testing::TestWithParam<std::pair<Size, Size>>
{
};

TEST_P(RescaledPicture, AnOpaquePictureComesOutTheSameWhateverTheMemoryHeld)
{
    const auto [from, to] = GetParam();
    juce::Image source(juce::Image::RGB, from.width, from.height, false);
    source.clear(source.getBounds(), juce::Colour(40, 80, 120));

    const auto overZero = rescaledOver(0x00, source, to);
    const auto overFull = rescaledOver(0xff, source, to);
    ASSERT_EQ(overZero.getBounds(), juce::Rectangle<int>(to.width, to.height));
    ASSERT_EQ(overFull.getBounds(), overZero.getBounds());
    for (int y = 0; y < to.height; ++y)
        for (int x = 0; x < to.width; ++x)
            ASSERT_EQ(overZero.getPixelAt(x, y), overFull.getPixelAt(x, y)) << x << ", " << y;
}

// The thumbs' pictures to the sizes the faders ask for at the panel's smallest and largest sizes.
INSTANTIATE_TEST_SUITE_P(Sizes, RescaledPicture,
                         ::testing::Values(std::pair<Size, Size>{{22, 33}, {11, 17}},
                                           std::pair<Size, Size>{{22, 33}, {15, 23}},
                                           std::pair<Size, Size>{{11, 17}, {19, 29}}),
                         [](const auto& test) { return "Case" + std::to_string(test.index); });
} // namespace
