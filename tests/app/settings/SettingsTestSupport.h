#pragma once

// Helpers for the settings tests: a private HOME and XDG_CONFIG_HOME per test, a counter of the writes
// that land on the settings file (seen through inotify, so a burst is counted, not timed), and pumping
// the message loop so the save timer can fire.

#include "Scratch.h"
#include "SettingsFile.h"

#include <gtest/gtest.h>
#include <juce_events/juce_events.h>

#include <sys/inotify.h>
#include <unistd.h>

namespace settingstest
{
inline void pump(int milliseconds)
{
    juce::MessageManager::getInstance()->runDispatchLoopUntil(milliseconds);
}

// Counts completed writes of one file in one folder: a rename onto the file's name (the framework's
// temporary file and rename) or a close after writing it in place. The folder must exist.
class WriteCounter
{
public:
    WriteCounter(const juce::File& folder, const juce::String& fileName)
        : name(fileName), fd(inotify_init1(IN_NONBLOCK | IN_CLOEXEC))
    {
        if (fd >= 0)
            watch = inotify_add_watch(fd, folder.getFullPathName().toRawUTF8(), IN_MOVED_TO | IN_CLOSE_WRITE);
    }

    ~WriteCounter()
    {
        if (fd >= 0)
            close(fd);
    }

    bool isWatching() const { return fd >= 0 && watch >= 0; }

    // Writes seen so far.
    int count()
    {
        alignas(inotify_event) char buffer[16384];

        for (;;)
        {
            const auto got = read(fd, buffer, sizeof(buffer));
            if (got <= 0)
                break;

            for (ssize_t at = 0; at < got;)
            {
                const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
                if (event->len > 0 && name == juce::String::fromUTF8(event->name))
                    ++writes;
                at += (ssize_t) (sizeof(inotify_event) + event->len);
            }
        }

        return writes;
    }

private:
    juce::String name;
    int fd = -1;
    int watch = -1;
    int writes = 0;
};

// Gives the test its own HOME and XDG_CONFIG_HOME in a scratch folder, both removed (and the variables put
// back) at its end.
struct SettingsFolders : ::testing::Test
{
    pelktest::ScratchFolder scratch{"pelk-settings-test"};
    pelktest::ScopedEnvironment environment;
    juce::File root = scratch.path();
    juce::File home = root.getChildFile("home");
    juce::File config = root.getChildFile("config");

    void SetUp() override
    {
        ASSERT_TRUE(home.createDirectory());
        ASSERT_TRUE(config.createDirectory());
        environment.set("HOME", home.getFullPathName().toStdString());
        environment.set("XDG_CONFIG_HOME", config.getFullPathName().toStdString());
    }

    juce::File folder() const { return config.getChildFile("Pelk VOD Panel"); }
    juce::File settingsFile() const { return folder().getChildFile("Pelk VOD Panel.settings"); }

    // Writes the settings file with the given bytes, creating its folder.
    void plant(const juce::MemoryBlock& bytes) const
    {
        ASSERT_TRUE(folder().createDirectory());
        ASSERT_TRUE(settingsFile().replaceWithData(bytes.getData(), bytes.getSize()));
    }

    void plant(const juce::String& text) const
    {
        plant(juce::MemoryBlock(text.toRawUTF8(), text.getNumBytesAsUTF8()));
    }

    // The settings file parsed as XML; null when it is missing or not XML.
    std::unique_ptr<juce::XmlElement> storedXml() const { return juce::parseXML(settingsFile()); }

    // The values the file on disk holds, as a fresh load of it reads them.
    juce::StringPairArray storedValues() const
    {
        juce::PropertiesFile reread(settingsFile(), makeSettingsOptions());
        return reread.getAllProperties();
    }
};

// A settings document with the given (key, value) pairs, in the framework's XML properties form.
inline juce::String settingsDocument(std::initializer_list<std::pair<const char*, const char*>> values)
{
    juce::XmlElement root("PROPERTIES");
    for (const auto& [key, value] : values)
    {
        auto* e = root.createNewChildElement("VALUE");
        e->setAttribute("name", key);
        e->setAttribute("val", value);
    }
    return root.toString();
}
} // namespace settingstest
