// What a test makes outside itself goes at its end, pass or fail: hold these as fixture members (or locals
// of the test body), never clean up after the last assertion.
#pragma once

#include <juce_core/juce_core.h>

#include <map>
#include <optional>
#include <string>

namespace pelktest
{
// A fresh folder under the temporary folder, removed with everything in it when the object goes.
class ScratchFolder
{
public:
    explicit ScratchFolder(const juce::String& prefix = "pelk-test");
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    const juce::File& path() const { return folder; }
    juce::File child(const juce::String& name) const { return folder.getChildFile(name); }

private:
    juce::File folder;
};

// Sets and unsets environment variables; when the object goes, each one it touched gets back the value it
// had before (or is unset again).
class ScopedEnvironment
{
public:
    ScopedEnvironment() = default;
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

    void set(const std::string& name, const std::string& value);
    void unset(const std::string& name);

private:
    void remember(const std::string& name);

    std::map<std::string, std::optional<std::string>> saved;
};
} // namespace pelktest
