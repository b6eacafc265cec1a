// Conversions between platform strings and JUCE strings.
#pragma once

#include "PlatformCF.h"

#include <juce_core/juce_core.h>

namespace platform
{
juce::String toJuceString(CFStringRef string); // empty for null or a non-string
}
