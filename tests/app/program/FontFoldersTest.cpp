// The framework's font folders are narrowed, when the user has not chosen them, to the folders of the
// faces its own search would take for the default sans-serif typeface, wherever in its folders the
// preferred families are: real font files in a scratch fonts.conf's folders (a system folder, ~/.fonts
// under HOME, fonts under XDG_DATA_HOME), with fontconfig's cache in the scratch folder too.

#include "FontFolders.h"
#include "Packages.h"
#include "Scratch.h"

#include <gtest/gtest.h>

namespace
{
// Where a test's font comes from: DejaVu from the machine (fonts-dejavu-core), Liberation from the
// package file that scripts/deps keeps (fonts-liberation2), unpacked in the scratch folder.
const char* const dejaVu = "dejavu/DejaVuSans.ttf";
const char* const dejaVuBold = "dejavu/DejaVuSans-Bold.ttf";
const char* const dejaVuMono = "dejavu/DejaVuSansMono.ttf";
const char* const liberation = "liberation2/LiberationSans-Regular.ttf";
const char* const liberationBold = "liberation2/LiberationSans-Bold.ttf";

struct Font
{
    const char* source;      // one of the above, or "=" and a destination above it to link to
    const char* destination; // under the scratch folder
};

struct Case
{
    const char* name;
    const char* currentValue;          // JUCE_FONT_PATH, null when unset
    std::vector<Font> installed;       // fonts in the scratch folder
    std::vector<const char*> expected; // the narrowed folders under the scratch folder, empty for untouched
};

class FontFolders : public ::testing::TestWithParam<Case>
{
protected:
    void SetUp() override
    {
        env.set("HOME", scratch.child("home").getFullPathName().toStdString());
        env.set("XDG_DATA_HOME", scratch.child("data").getFullPathName().toStdString());
        fontsConf.replaceWithText("<?xml version=\"1.0\"?>\n"
                                  "<!DOCTYPE fontconfig SYSTEM \"urn:fontconfig:fonts.dtd\">\n"
                                  "<fontconfig>\n"
                                  "  <dir>" +
                                  scratch.child("system").getFullPathName() +
                                  "</dir>\n"
                                  "  <dir prefix=\"xdg\">fonts</dir>\n"
                                  "  <dir>~/.fonts</dir>\n"
                                  "  <cachedir>" +
                                  scratch.child("cache").getFullPathName() +
                                  "</cachedir>\n"
                                  "</fontconfig>\n");
    }

    juce::File source(const char* name)
    {
        if (juce::String(name).startsWith("dejavu/"))
            return juce::File("/usr/share/fonts/truetype").getChildFile(name);
        const auto unpacked = scratch.child("package");
        if (!unpacked.isDirectory())
        {
            EXPECT_TRUE(pelktest::unpackDebianPackage("fonts-liberation2", unpacked));
        }
        return unpacked.getChildFile("usr/share/fonts/truetype").getChildFile(name);
    }

    pelktest::ScratchFolder scratch{"pelk-fonts"};
    pelktest::ScopedEnvironment env;
    juce::File fontsConf = scratch.child("fonts.conf");
};

juce::StringArray sortedFolders(const juce::String& path)
{
    auto folders = juce::StringArray::fromTokens(path, ";", "");
    folders.sort(false);
    return folders;
}

TEST_P(FontFolders, NarrowToTheFoldersOfTheFacesTheFrameworkTakes)
{
    const auto& c = GetParam();
    for (const auto& font : c.installed)
    {
        const bool link = font.source[0] == '=';
        const auto from = link ? scratch.child(font.source + 1) : source(font.source);
        const auto to = scratch.child(font.destination);
        ASSERT_TRUE(from.existsAsFile()) << from.getFullPathName();
        to.getParentDirectory().createDirectory();
        ASSERT_TRUE(link ? from.createSymbolicLink(to, false) : from.copyFileTo(to)) << to.getFullPathName();
    }

    const auto value = pelk::program::narrowedFontPath(c.currentValue, fontsConf);
    if (c.expected.empty())
    {
        EXPECT_FALSE(value.has_value()) << value.value_or("");
        return;
    }
    juce::StringArray folders;
    for (const auto* folder : c.expected)
        folders.add(scratch.child(folder).getFullPathName());
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(sortedFolders(*value), sortedFolders(folders.joinIntoString(";")));
}

// The machine's own fonts.conf (with what it includes), and Liberation Sans in the private HOME's ~/.fonts:
// the folder it is in is the narrowed value, whatever the machine has installed besides.
TEST_F(FontFolders, TheMachinesFontsConfFindsAFamilyInHomeFonts)
{
    env.set("XDG_CACHE_HOME", scratch.child("cache").getFullPathName().toStdString());
    for (const auto* earlier : {"Verdana", "Bitstream Vera Sans", "Luxi Sans"})
    {
        juce::ChildProcess list;
        ASSERT_TRUE(list.start(juce::StringArray{"fc-list", "-q", earlier}, 0));
        list.waitForProcessToFinish(10000);
        if (list.getExitCode() == 0)
            GTEST_SKIP() << "the machine has " << earlier << ", which the framework prefers";
    }
    const auto font = scratch.child("home/.fonts/liberation/LiberationSans-Regular.ttf");
    font.getParentDirectory().createDirectory();
    ASSERT_TRUE(source(liberation).copyFileTo(font));

    const auto value = pelk::program::narrowedFontPath(nullptr, juce::File("/etc/fonts/fonts.conf"));
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, font.getParentDirectory().getFullPathName());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FontFolders,
    ::testing::Values(
        Case{"SetStands", "/opt/fonts", {{dejaVu, "system/dejavu/DejaVuSans.ttf"}}, {}},
        Case{"SetEmptyStands", "", {{dejaVu, "system/dejavu/DejaVuSans.ttf"}}, {}},
        Case{"DejaVuInTheSystemFolder",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {dejaVuBold, "system/dejavu/DejaVuSans-Bold.ttf"},
              {dejaVuMono, "system/mono/DejaVuSansMono.ttf"}},
             {"system/dejavu"}},
        // The framework prefers Liberation Sans to DejaVu Sans wherever it is.
        Case{"LiberationInHomeFonts",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {liberation, "home/.fonts/LiberationSans-Regular.ttf"}},
             {"home/.fonts"}},
        Case{"LiberationInXdgDataFonts",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {liberation, "data/fonts/liberation/LiberationSans-Regular.ttf"}},
             {"data/fonts/liberation"}},
        // An upper-case extension is read, one the framework does not read is not.
        Case{"UpperCaseExtension",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"}, {liberation, "home/.fonts/LIBERATIONSANS.TTF"}},
             {"home/.fonts"}},
        Case{"ExtensionTheFrameworkSkips",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {liberation, "home/.fonts/LiberationSans-Regular.font"}},
             {"system/dejavu"}},
        // Of two copies of a style the framework takes the one first by path ("home" before "system");
        // a style found in one folder only comes from there.
        Case{"FirstCopyOfEachStyle",
             nullptr,
             {{liberation, "system/liberation/LiberationSans-Regular.ttf"},
              {liberationBold, "system/liberation/LiberationSans-Bold.ttf"},
              {liberation, "home/.fonts/copy/LiberationSans-Regular.ttf"}},
             {"home/.fonts/copy", "system/liberation"}},
        // Links to a font folder's files: the framework's first face ("home" first) is a link, and the
        // folder of the file itself gives the same face of the same file. Not so where the file is outside
        // the framework's folders, or where its folder holds another copy that comes first ("A" before "D").
        Case{"LinkedCopies",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {dejaVuMono, "system/dejavu/DejaVuSansMono.ttf"},
              {"=system/dejavu/DejaVuSans.ttf", "home/.fonts/copy/DejaVuSans.ttf"},
              {"=system/dejavu/DejaVuSansMono.ttf", "home/.fonts/copy/DejaVuSansMono.ttf"}},
             {"system/dejavu"}},
        Case{"LinkToAFileOutside",
             nullptr,
             {{dejaVu, "outside/DejaVuSans.ttf"},
              {dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {"=outside/DejaVuSans.ttf", "home/.fonts/copy/DejaVuSans.ttf"}},
             {"home/.fonts/copy"}},
        Case{"LinkTargetFolderHoldsAnEarlierCopy",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {dejaVu, "system/dejavu/A/DejaVuSans.ttf"},
              {"=system/dejavu/DejaVuSans.ttf", "home/.fonts/copy/DejaVuSans.ttf"}},
             {"home/.fonts/copy"}},
        // The family's name must be the whole name: the monospaced face alone leaves the pick to the
        // framework.
        Case{"OnlyTheMonospacedFace", nullptr, {{dejaVuMono, "system/dejavu/DejaVuSansMono.ttf"}}, {}},
        // JUCE_FONT_PATH separates folders by ';' and ','.
        Case{"FolderNameWithASeparator",
             nullptr,
             {{dejaVu, "system/dejavu/DejaVuSans.ttf"},
              {liberation, "home/.fonts/a,b/LiberationSans-Regular.ttf"}},
             {}},
        Case{"NoneInstalled", nullptr, {}, {}}),
    [](const auto& test) { return std::string(test.param.name); });
} // namespace
