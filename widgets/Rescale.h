#pragma once

#include <juce_graphics/juce_graphics.h>

// A picture rescaled to width x height with high resampling quality, or the picture itself at its own size.
// Unlike juce::Image::rescaled, the new image starts cleared for a picture without alpha too: the scaled
// drawing covers its last row and column only nearly fully, so they would blend in whatever the memory
// held, and the same picture came out a shade different from run to run. Safe on any thread, as each call
// draws into an image of its own.
juce::Image rescaledPicture(const juce::Image& source, int width, int height);
