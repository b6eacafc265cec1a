#pragma once

#include <juce_core/juce_core.h>

#include <optional>

// The framework reads every font file in its font folders the first time any text is measured or drawn,
// and the menu bar measures its titles before the window shows, so the start-up time grew with the
// number of installed fonts. The program only draws with the framework's default sans-serif typeface,
// which the framework picks by family name, first found of: Verdana, Bitstream Vera Sans, Luxi Sans,
// Liberation Sans, DejaVu Sans; among the faces of that family and style it takes the first in its own
// order (monospaced after proportional, then face index, then file path).
//
// Narrowing the framework's folders (JUCE_FONT_PATH) to the folders holding the faces it would take keeps
// that pick and reads a handful of files. Fontconfig's cache says which files in the framework's folders
// carry a preferred family's name without opening any other; those few files are then read as the
// framework reads them (FreeType's family and style names, scalable faces only), so the pick is made from
// the same names the framework compares.
namespace pelk::program
{
// The folders the framework reads when JUCE_FONT_PATH is unset: the <dir> entries of its fonts.conf, "~"
// for HOME and the "xdg" prefix under XDG_DATA_HOME (else ~/.local/share).
juce::Array<juce::File> frameworkFontFolders(const juce::XmlElement& fontsConf);

// The value for JUCE_FONT_PATH: the folders of the faces the framework would take for its default
// sans-serif typeface from the folders of `fontsConf`, joined by ';'. Nothing when the variable is
// already set (the user's choice stands), or when the pick cannot be kept by narrowing (no preferred
// family installed there, fontconfig's folders do not cover the framework's, a folder name holding the
// variable's separators): then the framework's own folders stand.
std::optional<juce::String> narrowedFontPath(const char* currentValue, const juce::File& fontsConf);

// Sets JUCE_FONT_PATH from narrowedFontPath() with the fonts.conf the framework reads, for this process.
// Call before any font is used, while the process has one thread.
void narrowFontFolders();
} // namespace pelk::program
