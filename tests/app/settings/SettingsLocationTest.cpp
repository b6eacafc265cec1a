// Where the settings file lives and how it is configured: the folder by the XDG rule, the file name,
// the storage options, and a first run that reads every default and writes nothing.

#include "SettingsTestSupport.h"

using namespace settingstest;

namespace
{
enum class Xdg
{
    absolute,
    unset,
    empty,
    relative,
    tilde,
};

struct LocationCase
{
    const char* label;
    Xdg xdg;
};

void PrintTo(const LocationCase& c, std::ostream* os)
{
    *os << c.label;
}

struct SettingsLocation : SettingsFolders, ::testing::WithParamInterface<LocationCase>
{
};

// A window state text as the shell stores it, to have something to write.
constexpr const char* someWindowState = "fs 10 20 316 486";
} // namespace

TEST_P(SettingsLocation, FolderFollowsXdgConfigHomeOnlyWhenItIsAbsolute)
{
    const auto fallback = home.getChildFile(".config").getChildFile("Pelk VOD Panel");
    auto expectedFolder = fallback;

    switch (GetParam().xdg)
    {
        case Xdg::absolute:
            expectedFolder = folder();
            break;
        case Xdg::unset:
            unsetenv("XDG_CONFIG_HOME");
            break;
        case Xdg::empty:
            setenv("XDG_CONFIG_HOME", "", 1);
            break;
        case Xdg::relative:
            setenv("XDG_CONFIG_HOME", "relative/config", 1);
            break;
        case Xdg::tilde:
            setenv("XDG_CONFIG_HOME", "~/elsewhere", 1);
            break;
    }

    const auto options = makeSettingsOptions();
    EXPECT_EQ(options.folderName, expectedFolder.getFullPathName());
    EXPECT_EQ(settingsFolder(), expectedFolder);

    const auto expectedFile = expectedFolder.getChildFile("Pelk VOD Panel.settings");
    EXPECT_EQ(options.getDefaultFile(), expectedFile);

    // A real write through the application-properties object the panel uses lands there, creating the
    // folder.
    {
        juce::ApplicationProperties properties;
        properties.setStorageParameters(options);
        auto* settings = properties.getUserSettings();
        ASSERT_NE(settings, nullptr);
        EXPECT_EQ(settings->getFile(), expectedFile);
        settings->setValue(SettingsKeys::windowPosition, someWindowState);
    }

    EXPECT_TRUE(expectedFile.existsAsFile());
    juce::PropertiesFile reread(expectedFile, options);
    EXPECT_EQ(reread.getValue(SettingsKeys::windowPosition), someWindowState);

    if (GetParam().xdg != Xdg::absolute)
    {
        EXPECT_FALSE(folder().exists()) << "nothing is written under an ignored XDG_CONFIG_HOME";
    }
}

INSTANTIATE_TEST_SUITE_P(Xdg, SettingsLocation,
                         ::testing::Values(LocationCase{"absolute", Xdg::absolute},
                                           LocationCase{"unset", Xdg::unset},
                                           LocationCase{"empty", Xdg::empty},
                                           LocationCase{"relative", Xdg::relative},
                                           LocationCase{"tilde", Xdg::tilde}),
                         [](const auto& c) { return std::string(c.param.label); });

TEST_F(SettingsFolders, OptionsAreTheSettingsTable)
{
    const auto options = makeSettingsOptions();
    EXPECT_EQ(options.applicationName, "Pelk VOD Panel");
    EXPECT_EQ(options.filenameSuffix, ".settings");
    EXPECT_EQ(options.osxLibrarySubFolder, "Application Support");
    EXPECT_FALSE(options.commonToAllUsers);
    EXPECT_FALSE(options.ignoreCaseOfKeyNames);
    EXPECT_FALSE(options.doNotSave);
    EXPECT_EQ(options.millisecondsBeforeSaving, 3000);
    EXPECT_EQ(options.storageFormat, juce::PropertiesFile::storeAsXML);
    EXPECT_EQ(options.processLock, nullptr);
}

TEST_F(SettingsFolders, FirstRunReadsTheDefaultsAndWritesNothing)
{
    {
        juce::ApplicationProperties properties;
        properties.setStorageParameters(makeSettingsOptions());
        auto& settings = *properties.getUserSettings();

        EXPECT_EQ(settings.getValue(SettingsKeys::windowPosition, SettingsDefaults::windowPosition), "");
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringVol, SettingsDefaults::monitoringVol), "0.0");
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringHP, SettingsDefaults::monitoringHP), "0");
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringRecord, SettingsDefaults::monitoringRecord), "1");
        EXPECT_EQ(readLoopbackState(settings), 0);
        EXPECT_EQ(settings.getValue(SettingsKeys::lastPGSettingsFilePath), "");

        EXPECT_FALSE(settings.needsToBeSaved());
        EXPECT_EQ(settings.getAllProperties().size(), 0);
    }

    EXPECT_FALSE(folder().exists()) << "closing unchanged settings creates neither folder nor file";
}
