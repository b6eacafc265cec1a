#include "SettingsFile.h"

namespace
{
// The user's configuration folder by the XDG base-directory rule: $XDG_CONFIG_HOME when it holds an
// absolute path; otherwise (unset, empty or relative) the framework's user application-data folder.
// The framework does not read the variable itself, and it would take a path starting with '~' as
// absolute, so only a leading '/' counts here.
juce::File userConfigFolder()
{
    const auto xdg = juce::SystemStats::getEnvironmentVariable("XDG_CONFIG_HOME", {});

    if (xdg.startsWithChar('/'))
        return juce::File(xdg);

    return juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory);
}

enum class StoredInteger
{
    none,  // no digits where the number would start
    zero,  // 0
    one,   // 1
    other, // any other integer, however large
};

// Classifies a text the way the framework reads an integer from it: leading white space, an optional
// minus sign, then the digits up to the first other character. Exact for numbers of any length (the
// framework's own conversion wraps around on long ones, and could turn them into 0 or 1).
StoredInteger classifyStoredInteger(const juce::String& text)
{
    auto p = text.getCharPointer().findEndOfWhitespace();
    const bool negative = *p == '-';

    if (negative)
        ++p;

    if (!juce::CharacterFunctions::isDigit(*p))
        return StoredInteger::none;

    while (*p == '0')
        ++p;

    if (!juce::CharacterFunctions::isDigit(*p))
        return StoredInteger::zero;

    const bool isOne = *p == '1' && !juce::CharacterFunctions::isDigit(p[1]);
    return isOne && !negative ? StoredInteger::one : StoredInteger::other;
}
} // namespace

juce::File settingsFolder()
{
    return userConfigFolder().getChildFile(settingsApplicationName);
}

juce::PropertiesFile::Options makeSettingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = settingsApplicationName;
    options.filenameSuffix = ".settings";
    options.folderName = settingsFolder().getFullPathName();
    options.osxLibrarySubFolder = "Application Support";
    options.commonToAllUsers = false;
    options.ignoreCaseOfKeyNames = false;
    options.doNotSave = false;
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    options.processLock = nullptr;
    return options;
}

int readLoopbackState(juce::PropertiesFile& settings)
{
    switch (classifyStoredInteger(settings.getValue(SettingsKeys::loopback)))
    {
        case StoredInteger::one:
            return 1;

        case StoredInteger::other:
            // As a var: a literal 0 would choose the XmlElement* overload and store an empty text.
            settings.setValue(SettingsKeys::loopback, juce::var(0));
            return 0;

        case StoredInteger::none:
        case StoredInteger::zero:
            break;
    }

    return 0;
}
