#pragma once

// The keys of the panel's settings file, free of the framework so that the file's reader and writer can
// be built on their own.
namespace SettingsKeys
{
// The main window's state in the framework's window-state text form; empty means none.
inline constexpr const char* windowPosition = "WindowPosition";
// The monitoring knob's value in dB, a double.
inline constexpr const char* monitoringVol = "MonitoringVol";
// The headphone-monitoring switch, "1" or "0".
inline constexpr const char* monitoringHP = "MonitoringHP";
// The record-monitoring switch, "1" or "0".
inline constexpr const char* monitoringRecord = "MonitoringRecord";
// The loopback mode last accepted by the interface, 0 off or 1 on.
inline constexpr const char* loopback = "loopback";
// Read only by routing-preset commands; never written.
inline constexpr const char* lastPGSettingsFilePath = "LastPGSettingsFilePath";
} // namespace SettingsKeys

// The keys the panel writes itself, each with a short value (a window state or a number).
inline constexpr const char* writtenSettingsKeys[] = {SettingsKeys::windowPosition,
                                                      SettingsKeys::monitoringVol, SettingsKeys::monitoringHP,
                                                      SettingsKeys::monitoringRecord, SettingsKeys::loopback};
