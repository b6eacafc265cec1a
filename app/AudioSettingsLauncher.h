// Starts the desktop's audio settings tool for the "macOS Audio Settings" menu command.
#pragma once

#include <string>
#include <vector>

namespace AudioSettingsLauncher
{
// The environment variable that names the tool's command line; when it is set (even to nothing), it is
// the only command tried.
constexpr const char* commandVariable = "PELK_AUDIO_SETTINGS_COMMAND";

// Splits a command line into arguments at blanks and tabs; a double-quoted part keeps its blanks and
// loses its quotes ("a b"c is one argument, a bc). No shell expansion of any kind.
std::vector<std::string> splitCommandLine(const std::string& line);

// The full path of an executable regular file called name, found in the colon-separated directories of
// path (an empty entry means the current directory); a name holding a slash is taken as it is. Empty
// when there is none.
std::string findExecutable(const std::string& name, const std::string& path);

// The arguments of the tool to start: the split value of PELK_AUDIO_SETTINGS_COMMAND when it is set,
// else the first of "pavucontrol" and "gnome-control-center sound" whose program is on PATH. Empty
// when there is nothing to start.
std::vector<std::string> chooseCommand();

// Starts the arguments as a child process (no shell) that inherits standard input, output and error but
// none of the caller's other descriptors. The child is reaped in the background; nothing waits for it.
// True when the program was started, false when there is none, it was not found or could not be run.
bool start(const std::vector<std::string>& arguments);

// chooseCommand, then start.
bool launch();
} // namespace AudioSettingsLauncher
