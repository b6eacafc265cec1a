#include "FontFolders.h"

#include <cstdlib>

namespace pelk::program
{
namespace
{
// A preferred family's regular face in each Debian package that installs it, in the framework's order of
// preference (Luxi Sans, which Debian no longer ships, is left out). A family found in more than one
// package gives every folder it is in, so the framework still picks among the same files.
struct Family
{
    const char* regularFaces[2];
};

const Family preferredFamilies[] = {
    {{"usr/share/fonts/truetype/msttcorefonts/Verdana.ttf", nullptr}},
    {{"usr/share/fonts/truetype/ttf-bitstream-vera/Vera.ttf", nullptr}},
    {{"usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf",
      "usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf"}},
    {{"usr/share/fonts/truetype/dejavu/DejaVuSans.ttf", nullptr}},
};
} // namespace

std::optional<juce::String> narrowedFontPath(const char* currentValue, const juce::File& root)
{
    if (currentValue != nullptr)
        return std::nullopt;

    for (const auto& family : preferredFamilies)
    {
        juce::StringArray folders;
        for (const auto* face : family.regularFaces)
        {
            if (face == nullptr)
                continue;
            const auto file = root.getChildFile(face);
            if (file.existsAsFile())
                folders.add(file.getParentDirectory().getFullPathName());
        }
        if (!folders.isEmpty())
            return folders.joinIntoString(";");
    }
    return std::nullopt;
}

void narrowFontFolders()
{
    if (const auto path = narrowedFontPath(std::getenv("JUCE_FONT_PATH"), juce::File("/")))
        ::setenv("JUCE_FONT_PATH", path->toRawUTF8(), 0);
}
} // namespace pelk::program
