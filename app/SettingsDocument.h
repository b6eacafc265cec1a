#pragma once

// The settings file's text: the framework's XML properties document (a PROPERTIES element holding VALUE
// elements with "name" and "val" attributes), read by one streaming parser (expat) with every limit
// checked while it parses, and written byte for byte as the framework's own writer writes it. Nothing here
// uses the framework, so the reader and the writer build on their own (the fuzz target does).

#include "SettingsKeys.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

// The keys and values of a settings document in file order; a key is unique (a later duplicate in a file
// replaces the value in place, as the framework's property set does).
using SettingsValues = std::vector<std::pair<std::string, std::string>>;

// Bounds for a settings document, far above what the program writes (under 1 KB, two levels, a handful of
// keys) and far below what slows the start. What the reader accepts, the writer writes back within them:
// the keys and the decoded text of their names and values are bounded, not only the raw bytes, and the
// program's own keys (writtenSettingsKeys) are bounded apart, so the values it sets never push a file over.
struct SettingsLimits
{
    std::size_t maxBytes = 512 * 1024;      // the raw file
    int maxDepth = 16;                      // elements inside elements, the root counted
    int maxElements = 4096;                 // all elements of the document
    int maxKeys = 1000;                     // keys other than the program's own
    std::size_t maxValueBytes = 16 * 1024;  // the decoded name or value of one such key
    std::size_t maxTextBytes = 64 * 1024;   // their names and values together
    std::size_t maxWrittenValueBytes = 256; // the value of one of the program's own keys
};

// The largest document writeSettingsDocument() makes from values within the limits: every byte escaped
// at its widest ("&quot;" for '"'), every key's "val" wrapped onto a line of its own.
constexpr std::size_t settingsDocumentBound(const SettingsLimits& limits)
{
    constexpr std::size_t widestEscape = 6;
    constexpr std::size_t fixedBytes = 42 + 14 + 15; // header and blank line, "<PROPERTIES>\r\n", closing tag
    constexpr std::size_t perKeyBytes = 37; // indent, "<VALUE", " name=\"\"", wrap and indent, " val=\"\"/>"
    std::size_t written = 0;
    for (const char* key : writtenSettingsKeys)
        written += std::char_traits<char>::length(key) + limits.maxWrittenValueBytes;
    const auto keys = (std::size_t) limits.maxKeys + std::size(writtenSettingsKeys);
    return fixedBytes + keys * perKeyBytes + widestEscape * (limits.maxTextBytes + written);
}

static_assert(settingsDocumentBound(SettingsLimits{}) <= SettingsLimits{}.maxBytes,
              "a file the writer makes from accepted values must be accepted again");

struct SettingsReadResult
{
    std::string fault; // why the bytes are unusable, a short phrase ("nested deeper than 16 levels"); empty
                       // when usable
    SettingsValues values;
};

// Reads the bytes of a settings file: UTF-8 without NUL bytes, no document type declaration (so no
// entities but the five predefined ones), the root element PROPERTIES, within the limits. A VALUE with a
// non-empty name gives a key; its value is the "val" attribute, or, when the VALUE holds content (files
// of older versions stored markup values as elements), the text of its first child as the framework
// shows it: an element's markup on one line, or a text's escaped characters.
SettingsReadResult readSettingsDocument(const void* data, std::size_t size,
                                        const SettingsLimits& limits = {});

// The document for the values, as the framework's writer writes a properties file: each value escaped
// as text in its "val" attribute, never taken as markup.
std::string writeSettingsDocument(const SettingsValues& values);
