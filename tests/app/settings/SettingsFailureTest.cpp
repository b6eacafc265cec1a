// Writes that cannot happen, and writes cut short. When the panel's settings cannot be written (the
// configuration folder is a regular file, the settings folder is a regular file, the settings path is a
// folder), nothing crashes, each failure has its line, and the changes stay pending until a later write
// succeeds, none of them lost. A writer
// killed mid-way, or a stale temporary file, never leaves a partial settings file behind.

#include "SettingsGuard.h"
#include "SettingsTestSupport.h"
#include "Wait.h"

#include <csignal>
#include <sys/wait.h>

using namespace settingstest;

namespace
{
enum class Blocker
{
    configIsAFile,
    folderIsAFile,
    settingsPathIsAFolder,
};

enum class Retry
{
    furtherChange,
    closing,
};

struct FailureCase
{
    const char* label;
    Blocker blocker;
    Retry retry;
};

void PrintTo(const FailureCase& c, std::ostream* os)
{
    *os << c.label;
}

struct SettingsWriteFailure : SettingsFolders, ::testing::WithParamInterface<FailureCase>
{
    void block() const
    {
        switch (GetParam().blocker)
        {
            case Blocker::configIsAFile:
                ASSERT_TRUE(config.deleteRecursively());
                ASSERT_TRUE(config.replaceWithText("not a folder"));
                break;
            case Blocker::folderIsAFile:
                ASSERT_TRUE(folder().replaceWithText("not a folder"));
                break;
            case Blocker::settingsPathIsAFolder:
                ASSERT_TRUE(settingsFile().getChildFile("inside").createDirectory());
                break;
        }
    }

    void unblock() const
    {
        switch (GetParam().blocker)
        {
            case Blocker::configIsAFile:
                ASSERT_TRUE(config.deleteFile());
                break;
            case Blocker::folderIsAFile:
                ASSERT_TRUE(folder().deleteFile());
                break;
            case Blocker::settingsPathIsAFolder:
                ASSERT_TRUE(settingsFile().deleteRecursively());
                break;
        }
    }
};
} // namespace

TEST_P(SettingsWriteFailure, ChangesStayPendingUntilAWriteSucceeds)
{
    auto properties = std::make_unique<SettingsStore>();
    properties->setStorageParameters(makeSettingsOptions());
    juce::StringArray lines;
    properties->setReporter([&lines](const juce::String& line) { lines.add(line); });
    auto* settings = properties->getUserSettings();
    ASSERT_NE(settings, nullptr);
    block();

    // Nothing readable there: every key reads its default.
    EXPECT_EQ(settings->getValue(SettingsKeys::monitoringRecord, SettingsDefaults::monitoringRecord), "1");
    EXPECT_EQ(readLoopbackState(*settings), 0);

    settings->setValue(SettingsKeys::monitoringVol, -20.0);
    settings->setValue(SettingsKeys::monitoringHP, true);

    // The timed write fails with its line and the changes stay pending.
    ASSERT_TRUE(pelktest::pumpUntil([&] { return lines.size() == 1; }));
    EXPECT_TRUE(settings->needsToBeSaved());
    EXPECT_FALSE(settingsFile().existsAsFile());
    EXPECT_EQ(settings->getValue(SettingsKeys::monitoringVol), "-20.0");

    unblock();

    if (GetParam().retry == Retry::furtherChange)
    {
        settings->setValue(SettingsKeys::loopback, 1);
        ASSERT_TRUE(pelktest::pumpUntil([&] { return !settings->needsToBeSaved(); }));
    }
    else
    {
        properties.reset();
    }
    EXPECT_EQ(lines.size(), 1);

    ASSERT_TRUE(settingsFile().existsAsFile());
    const auto stored = storedValues();
    EXPECT_EQ(stored[SettingsKeys::monitoringVol], "-20.0");
    EXPECT_EQ(stored[SettingsKeys::monitoringHP], "1");
    EXPECT_EQ(stored[SettingsKeys::loopback], GetParam().retry == Retry::furtherChange ? "1" : "");
}

INSTANTIATE_TEST_SUITE_P(
    Blockers, SettingsWriteFailure,
    ::testing::Values(FailureCase{"ConfigIsAFileThenChange", Blocker::configIsAFile, Retry::furtherChange},
                      FailureCase{"ConfigIsAFileThenClose", Blocker::configIsAFile, Retry::closing},
                      FailureCase{"FolderIsAFileThenChange", Blocker::folderIsAFile, Retry::furtherChange},
                      FailureCase{"FolderIsAFileThenClose", Blocker::folderIsAFile, Retry::closing},
                      FailureCase{"PathIsAFolderThenChange", Blocker::settingsPathIsAFolder,
                                  Retry::furtherChange},
                      FailureCase{"PathIsAFolderThenClose", Blocker::settingsPathIsAFolder, Retry::closing}),
    [](const auto& c) { return std::string(c.param.label); });

TEST_F(SettingsFolders, AStaleTemporaryFileIsIgnoredAndTheWriteIsWhole)
{
    plant(settingsDocument({{SettingsKeys::monitoringHP, "1"}, {SettingsKeys::loopback, "1"}}));

    // What a writer killed before its rename leaves behind: a half-written temporary file next to the
    // settings file, named as the framework names it.
    const auto stale = folder().getChildFile("Pelk VOD Panel_temp5eadbeef.settings");
    ASSERT_TRUE(stale.replaceWithText("<?xml version=\"1.0\"?><PROPERTIES><VALUE name=\"loopback\" va"));

    {
        juce::ApplicationProperties properties;
        properties.setStorageParameters(makeSettingsOptions());
        auto& settings = *properties.getUserSettings();
        EXPECT_EQ(settings.getValue(SettingsKeys::monitoringHP), "1");
        EXPECT_EQ(readLoopbackState(settings), 1);
        settings.setValue(SettingsKeys::monitoringRecord, false);
    }

    const auto stored = storedValues();
    EXPECT_EQ(stored.size(), 3);
    EXPECT_EQ(stored[SettingsKeys::monitoringHP], "1");
    EXPECT_EQ(stored[SettingsKeys::loopback], "1");
    EXPECT_EQ(stored[SettingsKeys::monitoringRecord], "0");
}

// A child process saves the settings over and over, each time with a new generation number and a large
// value, and is killed at a varying moment. After every kill the file is whole: it parses, and holds
// the old generation or one the child wrote, with its value complete.
TEST_F(SettingsFolders, AWriterKilledMidWayLeavesTheOldOrTheNewFileWhole)
{
    const int payloadLength = 2 * 1024 * 1024;
    const auto payloadFor = [payloadLength](int generation)
    { return juce::String::repeatedString(juce::String(generation % 10), payloadLength); };

    plant(settingsDocument({{"generation", "0"}}));
    ASSERT_TRUE(storedXml() != nullptr);

    auto options = makeSettingsOptions();
    options.millisecondsBeforeSaving = -1; // the child saves by hand and starts no timer

    int lastGeneration = 0;

    for (int round = 0; round < 12; ++round)
    {
        const int firstGeneration = lastGeneration + 1;
        const pid_t child = fork();
        ASSERT_GE(child, 0);

        if (child == 0)
        {
            juce::PropertiesFile writer(settingsFile(), options);
            for (int generation = firstGeneration;; ++generation)
            {
                writer.setValue("generation", generation);
                writer.setValue("payload", payloadFor(generation));
                writer.save();
            }
        }

        juce::Thread::sleep(5 + round * 7);
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);

        juce::PropertiesFile reread(settingsFile(), options);
        const auto generation = reread.getIntValue("generation", -1);
        ASSERT_TRUE(reread.getValue("generation").isNotEmpty()) << "round " << round << ": file not whole";
        ASSERT_GE(generation, lastGeneration) << "round " << round;

        if (generation > 0)
        {
            EXPECT_EQ(reread.getValue("payload"), payloadFor(generation)) << "round " << round;
        }

        lastGeneration = generation;
    }

    // Whatever temporary files the kills left behind, the next save still lands whole.
    {
        juce::PropertiesFile settings(settingsFile(), makeSettingsOptions());
        settings.setValue("generation", lastGeneration + 1);
        settings.removeValue("payload");
    }

    EXPECT_EQ(storedValues()["generation"], juce::String(lastGeneration + 1));
}
