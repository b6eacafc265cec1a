// The framework's font folders are narrowed to the preferred sans-serif family's folders only when the
// user has not chosen them and such a family is installed.

#include "FontFolders.h"

#include <gtest/gtest.h>

namespace
{
const char* const dejaVu = "usr/share/fonts/truetype/dejavu/DejaVuSans.ttf";
const char* const dejaVuMono = "usr/share/fonts/truetype/dejavu/DejaVuSansMono.ttf";
const char* const liberation = "usr/share/fonts/truetype/liberation/LiberationSans-Regular.ttf";
const char* const liberation2 = "usr/share/fonts/truetype/liberation2/LiberationSans-Regular.ttf";
const char* const verdana = "usr/share/fonts/truetype/msttcorefonts/Verdana.ttf";

struct Case
{
    const char* name;
    const char* currentValue;           // JUCE_FONT_PATH, null when unset
    std::vector<const char*> installed; // font files under the fake root
    std::vector<const char*> expected;  // folders of the narrowed value, empty for untouched
};

class FontFolders : public ::testing::TestWithParam<Case>
{
protected:
    void SetUp() override { root.createDirectory(); }
    void TearDown() override { root.deleteRecursively(); }

    juce::File root = juce::File::createTempFile("pelk-fonts");
};

TEST_P(FontFolders, NarrowsOnlyAnUnsetPathToAnInstalledPreferredFamily)
{
    const auto& c = GetParam();
    for (const auto* file : c.installed)
    {
        root.getChildFile(file).getParentDirectory().createDirectory();
        ASSERT_TRUE(root.getChildFile(file).replaceWithText("font"));
    }

    const auto value = pelk::program::narrowedFontPath(c.currentValue, root);
    if (c.expected.empty())
    {
        EXPECT_FALSE(value.has_value()) << value.value_or("");
        return;
    }
    juce::StringArray folders;
    for (const auto* file : c.expected)
        folders.add(root.getChildFile(file).getParentDirectory().getFullPathName());
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(*value, folders.joinIntoString(";"));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FontFolders,
    ::testing::Values(Case{"SetStands", "/opt/fonts", {dejaVu}, {}}, Case{"SetEmptyStands", "", {dejaVu}, {}},
                      Case{"DejaVu", nullptr, {dejaVu, dejaVuMono}, {dejaVu}},
                      Case{"LiberationBeforeDejaVu", nullptr, {dejaVu, liberation2}, {liberation2}},
                      Case{"LiberationInBothPackages",
                           nullptr,
                           {liberation2, liberation, dejaVu},
                           {liberation, liberation2}},
                      Case{"VerdanaFirst", nullptr, {dejaVu, liberation, verdana}, {verdana}},
                      Case{"OnlyTheMonospacedFace", nullptr, {dejaVuMono}, {}},
                      Case{"NoneInstalled", nullptr, {}, {}}),
    [](const auto& test) { return std::string(test.param.name); });
} // namespace
