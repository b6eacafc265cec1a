// Temporary: the settings file, the About box and the loopback dialog are being written beside the panel.
// Until each lands, a minimal stand-in with the agreed interface keeps the panel building.
#pragma once

#include <juce_data_structures/juce_data_structures.h>
#include <juce_gui_basics/juce_gui_basics.h>

#if __has_include("SettingsFile.h")
#include "SettingsFile.h"
#else
inline juce::PropertiesFile::Options makeSettingsOptions()
{
    juce::PropertiesFile::Options options;
    options.applicationName = "Pelk VOD Panel";
    options.filenameSuffix = ".settings";
    options.folderName = juce::File::getSpecialLocation(juce::File::userApplicationDataDirectory)
                             .getChildFile("Pelk VOD Panel")
                             .getFullPathName();
    options.osxLibrarySubFolder = "Application Support";
    options.millisecondsBeforeSaving = 3000;
    options.storageFormat = juce::PropertiesFile::storeAsXML;
    return options;
}

inline int readLoopbackState(juce::PropertiesFile& settings)
{
    const int value = settings.getIntValue("loopback");
    if (value == 0 || value == 1)
        return value;
    settings.setValue("loopback", juce::var(0));
    return 0;
}
#endif

#if __has_include("AboutWindow.h")
#include "AboutWindow.h"
#else
class AboutWindow : public juce::Component
{
public:
    explicit AboutWindow(juce::String text) : versionText(text) { setSize(534, 212); }
    juce::String versionText;
};
#endif

#if __has_include("PatchGridLoopbackDialog.h")
#include "PatchGridLoopbackDialog.h"
#else
class PatchGridLoopbackDialog : public juce::Component, public juce::ActionBroadcaster
{
public:
    PatchGridLoopbackDialog() { setSize(314, 322); }
    void initConnectionPaths() { pathsInitialised = true; }
    int getLoopbackState() const
    {
        return loopbackOnButton.getToggleState() ? 1 : (loopbackOffButton.getToggleState() ? 0 : -1);
    }
    bool pathsInitialised = false;
    juce::ImageButton loopbackOffButton, loopbackOnButton;
};
#endif
