#include "CommandLine.h"

namespace pelk::program
{
CommandLineSwitch matchCommandLine(const juce::String& commandLine)
{
    if (commandLine.equalsIgnoreCase("/shutdown"))
        return CommandLineSwitch::shutdown;
    if (commandLine.equalsIgnoreCase("/default") || commandLine.equalsIgnoreCase("/defaults"))
        return CommandLineSwitch::defaults;
    if (commandLine.equalsIgnoreCase("/init"))
        return CommandLineSwitch::init;
    return CommandLineSwitch::none;
}

bool isResetCommandLine(const juce::String& commandLine)
{
    const auto s = matchCommandLine(commandLine);
    return s == CommandLineSwitch::defaults || s == CommandLineSwitch::init;
}
} // namespace pelk::program
