// Pictures in tests: the embedded art, comparisons of pixels, and renders written as PNG files into the
// test target's PELK_RENDER_DIR for a person to look at.
#pragma once

#include <juce_graphics/juce_graphics.h>

namespace pelktest
{
inline juce::Image embeddedPicture(const unsigned char* data, int size)
{
    return juce::ImageCache::getFromMemory(data, size);
}

// True when every pixel of `part` equals the pixel of `whole` at `offset`.
inline bool samePixels(const juce::Image& whole, juce::Point<int> offset, const juce::Image& part)
{
    for (int y = 0; y < part.getHeight(); ++y)
        for (int x = 0; x < part.getWidth(); ++x)
            if (whole.getPixelAt(offset.x + x, offset.y + y) != part.getPixelAt(x, y))
                return false;

    return true;
}

#ifdef PELK_RENDER_DIR
// Writes an image into the build folder's renders/ directory, over a checkerboard (so transparency shows)
// and scaled up without smoothing, so that single pixels can be seen.
inline void saveRender(const juce::Image& image, const juce::String& name, int zoom = 4)
{
    const juce::File dir(PELK_RENDER_DIR);
    dir.createDirectory();

    juce::Image big(juce::Image::ARGB, juce::jmax(1, image.getWidth() * zoom),
                    juce::jmax(1, image.getHeight() * zoom), true);
    {
        juce::Graphics g(big);
        g.fillCheckerBoard(big.getBounds().toFloat(), 8.0f, 8.0f, juce::Colour(0xffe0e0e0),
                           juce::Colour(0xffc8c8c8));
        g.setImageResamplingQuality(juce::Graphics::lowResamplingQuality);
        g.drawImageTransformed(image, juce::AffineTransform::scale((float) zoom));
    }

    const auto file = dir.getChildFile(name + ".png");
    file.deleteFile();
    juce::FileOutputStream out(file);
    juce::PNGImageFormat().writeImageToStream(big, out);
}
#endif
} // namespace pelktest
