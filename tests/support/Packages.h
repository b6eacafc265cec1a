// Debian packages that a test unpacks into a folder of its own, never installed for the machine:
// scripts/deps keeps their package files in the build's package cache (PELK_DEB_CACHE).
#pragma once

#include <juce_core/juce_core.h>

namespace pelktest
{
// Unpacks the kept package file of `package` (dpkg-deb -x) into `folder`; false, with a note on standard
// error, when there is no such file or dpkg-deb fails.
bool unpackDebianPackage(const juce::String& package, const juce::File& folder);
} // namespace pelktest
