#pragma once

#include "SettingsKeys.h"

#include <juce_data_structures/juce_data_structures.h>

// The panel's per-user settings file: where it lives, how it is saved, and its keys with their defaults.
// Every value is stored as text in the framework's XML properties form (SettingsDocument.h).

// The text each key reads as when it is absent.
namespace SettingsDefaults
{
inline constexpr const char* windowPosition = "";
inline constexpr const char* monitoringVol = "0.0";
inline constexpr const char* monitoringHP = "0";
inline constexpr const char* monitoringRecord = "1";
inline constexpr int loopback = 0;
} // namespace SettingsDefaults

// The name of the application, of its settings folder and of the settings file (with ".settings").
inline constexpr const char* settingsApplicationName = "Pelk VOD Panel";

// The storage options of the settings file: "Pelk VOD Panel.settings" in the folder "Pelk VOD Panel"
// directly inside the user's configuration folder, saved as XML 3000 ms after the last change, keys
// case-sensitive, no inter-process lock. The configuration folder is $XDG_CONFIG_HOME when that holds an
// absolute path, else the framework's user application-data folder (~/.config).
juce::PropertiesFile::Options makeSettingsOptions();

// The folder makeSettingsOptions() names, as a File.
juce::File settingsFolder();

// Reads "loopback" as the stored loopback mode, 0 or 1. A stored integer other than 0 or 1 (negative ones
// and numbers too large for an int included) is replaced by 0, and 0 is written back; a text that does not
// start with a number reads as 0 and is left as it is.
int readLoopbackState(juce::PropertiesFile& settings);
