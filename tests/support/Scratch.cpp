#include "Scratch.h"

#include <cstdlib>
#include <filesystem>
#include <unistd.h>

namespace pelktest
{
ScratchFolder::ScratchFolder(const juce::String& prefix)
{
    // Named after the process too: test cases run in parallel, each in its own process.
    folder = juce::File::getSpecialLocation(juce::File::tempDirectory)
                 .getNonexistentChildFile(prefix + "-" + juce::String((int) getpid()), {}, false);
    folder.createDirectory();
}

ScratchFolder::~ScratchFolder()
{
    // Everything, sockets and pipes included (which the framework's recursive delete passes over).
    std::error_code ignored;
    std::filesystem::remove_all(folder.getFullPathName().toStdString(), ignored);
}

ScopedEnvironment::~ScopedEnvironment()
{
    for (const auto& [name, value] : saved)
    {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
}

void ScopedEnvironment::remember(const std::string& name)
{
    if (saved.count(name) != 0)
        return;
    const char* value = std::getenv(name.c_str());
    saved[name] = value != nullptr ? std::optional<std::string>(value) : std::nullopt;
}

void ScopedEnvironment::set(const std::string& name, const std::string& value)
{
    remember(name);
    setenv(name.c_str(), value.c_str(), 1);
}

void ScopedEnvironment::unset(const std::string& name)
{
    remember(name);
    unsetenv(name.c_str());
}
} // namespace pelktest
