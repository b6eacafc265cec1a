#pragma once

#include <juce_core/juce_core.h>

#include <optional>

// The framework reads every font file in its font folders the first time any text is measured or drawn,
// and the menu bar measures its titles before the window shows, so the start-up time grew with the
// number of installed fonts. The program only draws with the framework's default sans-serif typeface,
// which the framework picks by family name, first found of: Verdana, Bitstream Vera Sans, Luxi Sans,
// Liberation Sans, DejaVu Sans. Narrowing the framework's folders (JUCE_FONT_PATH) to the folders of the
// first of those families installed where Debian puts it keeps that pick and reads a handful of files.
namespace pelk::program
{
// The value for JUCE_FONT_PATH: the folders, under `root` ("/" on the machine), of the first preferred
// sans-serif family that is installed, joined by ';'. Nothing when the variable is already set (the
// user's choice stands) or when no such family is installed (the framework's own folders stand).
std::optional<juce::String> narrowedFontPath(const char* currentValue, const juce::File& root);

// Sets JUCE_FONT_PATH from narrowedFontPath() for this process. Call before any font is used, while
// the process has one thread.
void narrowFontFolders();
} // namespace pelk::program
