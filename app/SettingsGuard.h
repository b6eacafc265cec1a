#pragma once

// Keeps the settings file from harming the program. The file is opened once, without waiting (a path that
// is not a regular file is never opened), read once up to the size limit and parsed once from those bytes
// (SettingsDocument.h); the settings in memory are built from that parse. A file that is too large, nested
// too deep, too full, not UTF-8 text or not the framework's properties document is renamed aside, so the
// defaults apply and the next save starts a fresh file. Saves go through a temporary file in the same
// folder that takes the file's permission bits, is synced and renamed onto the file, in the framework's
// byte format; a failed save is reported with its reason, and a temporary file a killed save left is
// removed at the next start.

#include "SettingsDocument.h"

#include <juce_data_structures/juce_data_structures.h>

#include <cstddef>
#include <functional>
#include <memory>

// What lies at a settings path, and the values of a usable file, found without opening anything that is
// not a regular file.
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
    SettingsValues values;
};

SettingsFileVerdict readSettingsFile(const juce::File& file, const SettingsLimits& limits = {});

// Where an unusable settings file is kept: next to it, its name followed by ".unusable".
juce::File unusableSettingsFileFor(const juce::File& file);

// The panel's settings, used as the framework's application properties are (one user file; its common
// settings would be the same file here and serve as the fallback of the user settings). The first
// getUserSettings() reads the file, or keeps an unusable one aside; the framework never loads it itself.
// Changes are saved with the options' delay as before, and when the store is destroyed.
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
