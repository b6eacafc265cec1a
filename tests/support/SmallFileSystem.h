#pragma once

// A folder on a small file system of its own (a 64 KiB tmpfs, which only root may mount; CI runs as root),
// for tests of writes that fail: filled to the last byte or made read-only, and unmounted at the end.

#include <juce_core/juce_core.h>

namespace pelktest
{
class SmallFileSystem
{
public:
    // Creates the folder and, when the process runs as root, mounts the file system on it.
    explicit SmallFileSystem(const juce::File& folder);
    ~SmallFileSystem();

    bool mounted() const { return isMounted; }
    // Why the mount failed or was not tried, when it is not mounted.
    juce::String mountFault() const { return fault; }

    // Writes the file "filler" into the folder until no byte more fits; returns the reason a write then
    // fails with ("No space left on device").
    juce::String fill() const;
    bool removeFiller() const;

    // Remounts the file system read-only or read-write; whether that worked.
    bool setReadOnly(bool readOnly) const;

private:
    juce::File folder;
    bool isMounted = false;
    juce::String fault;

    JUCE_DECLARE_NON_COPYABLE(SmallFileSystem)
};
} // namespace pelktest
