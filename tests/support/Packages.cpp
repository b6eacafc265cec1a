#include "Packages.h"

#include <cstdio>

#ifndef PELK_DEB_CACHE
#error "PELK_DEB_CACHE must name the folder of the kept package files"
#endif

namespace pelktest
{
bool unpackDebianPackage(const juce::String& package, const juce::File& folder)
{
    const auto files =
        juce::File(PELK_DEB_CACHE).findChildFiles(juce::File::findFiles, false, package + "_*.deb");
    if (files.isEmpty())
    {
        std::fprintf(stderr, "no package file of %s in %s (scripts/deps keeps it)\n", package.toRawUTF8(),
                     PELK_DEB_CACHE);
        return false;
    }
    juce::ChildProcess dpkg;
    if (!dpkg.start(
            juce::StringArray{"dpkg-deb", "-x", files.getFirst().getFullPathName(), folder.getFullPathName()},
            0) ||
        !dpkg.waitForProcessToFinish(60000) || dpkg.getExitCode() != 0)
    {
        std::fprintf(stderr, "dpkg-deb -x %s failed\n", files.getFirst().getFullPathName().toRawUTF8());
        return false;
    }
    return true;
}
} // namespace pelktest
