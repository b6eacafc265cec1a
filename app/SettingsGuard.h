#pragma once

// Keeps the settings file from harming the program. Before the framework reads the file, it is vetted by
// a linear scan: a path that is not a regular file is never opened, and a file that is too large, nested
// too deep, too full of elements, not UTF-8 text or not the framework's properties document is renamed
// aside, so the defaults apply and the next save starts a fresh file. Saves go through a temporary file in
// the same folder that is synced and renamed onto the file, in the framework's byte format; a failed save
// is reported with its reason.

#include <juce_data_structures/juce_data_structures.h>

#include <cstddef>
#include <functional>
#include <memory>

// Bounds for a settings document: far above what the program writes (under 1 KB, two levels, a handful of
// elements) and far below what slows or overflows the framework's XML reader.
struct SettingsLimits
{
    std::size_t maxBytes = 256 * 1024;
    int maxDepth = 16;
    int maxElements = 1000;
};

// Why markup text cannot safely be given to the framework's XML reader, as a short phrase ("nested deeper
// than 16 levels"), or an empty text when it can: a document type declaration (entities), elements nested
// deeper than maxDepth, more than maxElements elements. Markup that is cut short or malformed is left to
// the reader, which rejects it.
juce::String findMarkupFault(const char* text, std::size_t size, const SettingsLimits& limits = {});

// Why the bytes of a settings file cannot be used, or an empty text when they can: larger than maxBytes,
// NUL bytes, not UTF-8, a markup fault (in the document or in a value's text, which the framework reads as
// markup when it saves), or not a document with the root element PROPERTIES.
juce::String findSettingsDocumentFault(const void* data, std::size_t size, const SettingsLimits& limits = {});

// What lies at a settings path, found without opening anything that is not a regular file.
struct SettingsFileVerdict
{
    enum class Kind
    {
        absent, // nothing there, nothing that can be looked at, or an empty file
        usable,
        unusable,
    };

    Kind kind = Kind::absent;
    juce::String fault; // why it is unusable, a short phrase ("a named pipe", "NUL bytes")
};

SettingsFileVerdict vetSettingsFile(const juce::File& file, const SettingsLimits& limits = {});

// Where an unusable settings file is kept: next to it, its name followed by ".unusable".
juce::File unusableSettingsFileFor(const juce::File& file);

// The panel's settings, used as the framework's application properties are (one user file; its common
// settings would be the same file here and serve as the fallback of the user settings). The first
// getUserSettings() vets the file and keeps an unusable one aside before the framework loads it. Changes
// are saved with the options' delay as before, and when the store is destroyed.
class SettingsStore
{
public:
    using Reporter = std::function<void(const juce::String& line)>;

    SettingsStore();
    ~SettingsStore();

    void setStorageParameters(const juce::PropertiesFile::Options& newOptions);
    juce::PropertiesFile* getUserSettings();

    // Where the store's lines go; standard error, each line flushed, unless replaced.
    void setReporter(Reporter newReporter);

private:
    class GuardedFile;

    juce::PropertiesFile::Options options;
    Reporter report;
    juce::PropertySet fallback;
    std::unique_ptr<GuardedFile> file;

    JUCE_DECLARE_NON_COPYABLE(SettingsStore)
};
