#include "Rescale.h"

juce::Image rescaledPicture(const juce::Image& source, int width, int height)
{
    if (!source.isValid() || (source.getWidth() == width && source.getHeight() == height))
        return source;

    juce::Image image(source.getFormat(), width, height, true, *source.getPixelData()->createType());
    juce::Graphics g(image);
    g.setImageResamplingQuality(juce::Graphics::highResamplingQuality);
    g.drawImageTransformed(source,
                           juce::AffineTransform::scale((float) width / (float) source.getWidth(),
                                                        (float) height / (float) source.getHeight()),
                           false);
    return image;
}
