#pragma once

#include <juce_core/juce_core.h>

// The command-line switches the program knows. Each is compared with the whole command line (the
// arguments joined by single blanks), ignoring case: "/init x" is no switch.
namespace pelk::program
{
enum class CommandLineSwitch
{
    none,
    shutdown, // "/shutdown"
    defaults, // "/default" or "/defaults"
    init      // "/init"
};

CommandLineSwitch matchCommandLine(const juce::String& commandLine);

// "/default", "/defaults" or "/init": the start-up forgets the window state and asks for the factory
// settings.
bool isResetCommandLine(const juce::String& commandLine);
} // namespace pelk::program
